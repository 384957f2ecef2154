#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/support.h"

namespace {

void *Word(intptr_t value) {
    return reinterpret_cast<void *>(value);
}

TEST(PtrArray, CapacityGrowsByFourThenByAnEighthOfTheSize) {
    PtrArray array;
    EXPECT_EQ(array.GetCapacity(), 0);
    std::vector<int32_t> capacities;
    for (intptr_t i = 0; i < 100; ++i) {
        EXPECT_EQ(array.Add(Word(i + 1)), i);
        if (capacities.empty() || capacities.back() != array.GetCapacity()) capacities.push_back(array.GetCapacity());
    }
    const std::vector<int32_t> expected = {1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57, 64, 72, 81, 91, 102};
    EXPECT_EQ(capacities, expected);
    for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(array.GetAt(i), Word(i + 1));
}

TEST(PtrArray, LargeArraysGrowByAtMost1024) {
    PtrArray array;
    int32_t lastCapacity = 0;
    std::vector<int32_t> stepsAbove8192;
    for (intptr_t i = 0; i < 20000; ++i) {
        array.Add(Word(i));
        if (array.GetCapacity() != lastCapacity && lastCapacity >= 8192)
            stepsAbove8192.push_back(array.GetCapacity() - lastCapacity);
        lastCapacity = array.GetCapacity();
    }
    ASSERT_FALSE(stepsAbove8192.empty());
    for (int32_t step : stepsAbove8192) EXPECT_EQ(step, 1024);

    PtrArray exact;
    exact.SetSize(20000);
    EXPECT_EQ(exact.GetCapacity(), 20000);
    exact.Add(Word(1));
    EXPECT_EQ(exact.GetCapacity(), 21024);
}

TEST(PtrArray, ExplicitGrowStepAndZeroedGrowth) {
    PtrArray array;
    array.SetSize(1, 10);
    array.Add(Word(7));
    EXPECT_EQ(array.GetCapacity(), 11);
    array.SetAtGrow(1, Word(9));
    array.SetSize(1);
    array.SetSize(3);  // within capacity: the reappearing elements are zeroed
    EXPECT_EQ(array.GetAt(1), nullptr);
    EXPECT_EQ(array.GetAt(2), nullptr);

    array.SetAtGrow(15, Word(5));
    EXPECT_EQ(array.GetSize(), 16);
    EXPECT_EQ(array.GetCapacity(), 21);
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
    EXPECT_EQ(array.GetCapacity(), 9);  // removing never shrinks the block
}

}  // namespace
