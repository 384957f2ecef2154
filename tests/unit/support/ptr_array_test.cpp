#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/support.h"

namespace {

void *Word(intptr_t value) { return reinterpret_cast<void *>(value); }

TEST(PtrArray, KeepsEveryElementThroughGrowth) {
    PtrArray array;
    for (intptr_t i = 0; i < 20000; ++i) ASSERT_EQ(array.Add(Word(i + 1)), i);
    for (int32_t i = 0; i < 20000; ++i) ASSERT_EQ(array.GetAt(i), Word(i + 1));
}

TEST(PtrArray, GrowthIsZeroedAndBadSizesAreIgnored) {
    PtrArray array;
    array.SetSize(1, 10);
    array.Add(Word(7));
    array.SetAtGrow(1, Word(9));
    array.SetSize(1);
    array.SetSize(3);  // within capacity: the reappearing elements are zeroed
    EXPECT_EQ(array.GetAt(1), nullptr);
    EXPECT_EQ(array.GetAt(2), nullptr);

    array.SetAtGrow(15, Word(5));
    EXPECT_EQ(array.GetSize(), 16);
    EXPECT_EQ(array.GetAt(14), nullptr);
    EXPECT_EQ(array.GetAt(15), Word(5));

    array.SetAtGrow(-1, Word(1));
    array.SetSize(-4);
    EXPECT_EQ(array.GetSize(), 16);

    array.RemoveAll();
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 0);
}

TEST(PtrArray, GetAtAndRemoveAtEdges) {
    PtrArray array;
    EXPECT_EQ(array.GetAt(0), nullptr);
    array.RemoveAt(0, 1);
    EXPECT_EQ(array.GetSize(), 0);

    for (intptr_t i = 1; i <= 6; ++i) array.Add(Word(i));
    EXPECT_EQ(array.GetAt(-1), nullptr);
    EXPECT_EQ(array.GetAt(6), nullptr);
    EXPECT_EQ(array.GetAt(5), Word(6));

    array.RemoveAt(1, 2);  // 1 4 5 6
    ASSERT_EQ(array.GetSize(), 4);
    EXPECT_EQ(array.GetAt(0), Word(1));
    EXPECT_EQ(array.GetAt(1), Word(4));
    EXPECT_EQ(array.GetAt(3), Word(6));

    array.RemoveAt(3, 2);   // past the end: nothing
    array.RemoveAt(-1, 1);  // negative index: nothing
    array.RemoveAt(0, -1);  // negative count: nothing
    EXPECT_EQ(array.GetSize(), 4);

    array.RemoveAt(3);
    array.RemoveAt(0, 0);
    ASSERT_EQ(array.GetSize(), 3);
    EXPECT_EQ(array.GetAt(2), Word(5));
}

}  // namespace
