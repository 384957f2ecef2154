// The capability document built from a capability record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

#include "support/phone_copy.h"
#include "unit/xml/golden.h"
#include "xml/xml.h"

namespace {

using golden::Put;

void FillStore(CapabilityInfo &info, int entry, const char *location, const char *memoryType, const char *freeBytes,
               const char *usedBytes) {
    Put(info.location[entry], location);
    Put(info.memoryType[entry], memoryType);
    Put(info.freeBytes[entry], freeBytes);
    Put(info.usedBytes[entry], usedBytes);
    Put(info.blockSize[entry], "1");
    Put(info.usedBlocks[entry], usedBytes);
    Put(info.freeBlocks[entry], freeBytes);
    Put(info.totalBlocks[entry], "1000");
}

std::string CapabilityText(
    const CapabilityInfo &info, const char *phoneNumber,
    const std::function<std::string()> &dtd = [] { return std::string(); }) {
    XmlTree tree;
    tree.create();
    BuildCapabilityDocument(tree.document(), info, phoneNumber);
    return ComposeAgentXml(tree.document(), dtd);
}

size_t Count(const std::string &text, const std::string &part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

TEST(Capability, WholeAnswerForAPhoneWithTwoStores) {
    auto info = std::make_unique<CapabilityInfo>();
    Put(info->model, "Demo  Phone X100");
    FillStore(*info, 0, "0", "Internal", "12345678", "4567890");
    FillStore(*info, 1, "My Storage", "Internal", "104857600", "52428800");
    FillStore(*info, 2, "Storage Card", "External", "", "2048");  // no free figure: "0"
    info->cardsPresent = 1;
    const auto dtd = [] {
        std::string text;
        AppendDtdFile(text, DtdSource().string(), DTD_CAPABILITY);
        return text;
    };
    EXPECT_TRUE(golden::MatchesGolden(CapabilityText(*info, "01012345678", dtd), "capability_two_stores.txt"));
}

TEST(Capability, FurtherStoresOnlyWithCardsAndUpToTheFirstEmptyLocation) {
    CapabilityInfo info{};
    FillStore(info, 0, "0", "Internal", "1", "2");
    FillStore(info, 1, "A", "Internal", "1", "2");
    FillStore(info, 2, "B", "External", "1", "2");
    FillStore(info, 4, "D", "External", "1", "2");  // after the empty entry 3
    EXPECT_EQ(Count(CapabilityText(info, ""), "<Memory>"), 1u);

    info.cardsPresent = 1;
    const std::string three = CapabilityText(info, "");
    EXPECT_EQ(Count(three, "<Memory>"), 3u);
    EXPECT_LT(three.find("<Location>A</Location>"), three.find("<Location>B</Location>"));
    EXPECT_EQ(three.find("<Location>D</Location>"), std::string::npos);

    for (int entry = 1; entry < kCapabilityEntries; ++entry) {
        FillStore(info, entry, ("Store" + std::to_string(entry)).c_str(), "External", "1", "2");
    }
    const std::string all = CapabilityText(info, "");
    EXPECT_EQ(Count(all, "<Memory>"), 16u);
    EXPECT_NE(all.find("<Location>Store15</Location>"), std::string::npos);
}

TEST(Capability, MissingFiguresModelAndNumber) {
    CapabilityInfo info{};  // nothing filled at all
    info.cardsPresent = 1;
    Put(info.location[1], "Card");
    const std::string text = CapabilityText(info, "");
    EXPECT_NE(text.find("<Model>UNKNOWN</Model>"), std::string::npos);
    // The object store: "0" for its figures, its block size taken as it is.
    EXPECT_NE(text.find("<MemType>Internal</MemType>\r\n<Location>0</Location>\r\n<Free>0</Free>\r\n<Used>0</Used>"),
              std::string::npos);
    EXPECT_NE(text.find("<XNam>BlockByte</XNam>\r\n<XVal></XVal>"), std::string::npos);
    // A further store: memory type as it is, every figure "0".
    EXPECT_NE(text.find("<MemType></MemType>\r\n<Location>Card</Location>\r\n<Free>0</Free>"), std::string::npos);
    EXPECT_NE(text.find("<XNam>BlockByte</XNam>\r\n<XVal>0</XVal>"), std::string::npos);
    // Without a phone number General ends with the TermType pair.
    EXPECT_NE(text.find("<XNam>TermType</XNam>\r\n<XVal>UNKNOWN</XVal>\r\n</Ext>\r\n</General>"), std::string::npos);
    EXPECT_EQ(text.find("Term/MIN"), std::string::npos);
    EXPECT_EQ(Count(text, "<Version></Version>"), 1u);

    // Texts filled to the last byte of their field are read no further.
    std::fill(std::begin(info.model), std::end(info.model), 'M');
    std::fill(std::begin(info.location[1]), std::end(info.location[1]), 'L');
    const std::string full = CapabilityText(info, "0101");
    EXPECT_NE(full.find("<Model>" + std::string(128, 'M') + "</Model>"), std::string::npos);
    EXPECT_NE(full.find("<Location>" + std::string(16, 'L') + "</Location>"), std::string::npos);
    EXPECT_NE(full.find("<XNam>Term/MIN</XNam>\r\n<XVal>0101</XVal>\r\n</Ext>\r\n</General>"), std::string::npos);
}

}  // namespace
