// The response envelope: the text the agent reads for a document, with and without
// its DTD file, checked byte for byte against golden files.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "pim/pim.h"
#include "support/phone_copy.h"
#include "unit/xml/golden.h"
#include "xml/xml.h"

namespace {

// Reads the DTD file `name` from `directory` the way every answer does.
std::function<std::string()> DtdFrom(const std::string &directory, const char *name) {
    return [directory, name] {
        std::string text;
        AppendDtdFile(text, directory, name);
        return text;
    };
}

XmlNodeRef StartDocument(XmlTree &tree, const char *rootName) {
    tree.create();
    XmlNodeRef declaration = tree.document().add_child(node_pi);
    declaration.set_name("xml");
    declaration.add_attribute("version", "1.0");
    return AddElement(tree.document(), rootName);
}

TEST(Envelope, CallListingWithAndWithoutItsDtdFile) {
    XmlTree tree;
    tree.create();
    XmlNodeRef root = StartContentsListing(tree);
    CallRecord call{};
    std::snprintf(call.ID, sizeof call.ID, "%s", "1f0a");
    std::snprintf(call.name, sizeof call.name, "%s", "Kim Minsu");
    std::snprintf(call.number, sizeof call.number, "%s", "01012345678");
    std::snprintf(call.startTime, sizeof call.startTime, "%s", "20100305T090703Z");
    std::snprintf(call.callType, sizeof call.callType, "%s", "2054");
    AppendContentElement(root, &call, KIND_CALLS);

    EXPECT_TRUE(
        golden::MatchesGolden(ComposeAgentXml(tree.document(), DtdFrom(DtdSource().string(), DTD_CONTENTS_LISTING)),
                              "envelope_call_listing.txt"));

    TempDir empty;
    const std::string withoutDtd = ComposeAgentXml(tree.document(), DtdFrom(empty.str(), DTD_CONTENTS_LISTING));
    EXPECT_EQ(withoutDtd.rfind("<?xml version=\"1.0\"?>\r\n<Contents-listing Version=\"1.0\">\r\n<Content>", 0), 0u);
    EXPECT_TRUE(golden::MatchesGolden(withoutDtd, "envelope_call_listing_no_dtd.txt"));
}

TEST(Envelope, DtdLinesArriveInPiecesOfAtMost254Characters) {
    TempDir dir;
    const std::string line300 = "<!ENTITY long \"" + std::string(283, 'x') + "\">";
    const std::string line254 = "<!ENTITY edge \"" + std::string(237, 'y') + "\">";
    ASSERT_EQ(line300.size(), 300u);
    ASSERT_EQ(line254.size(), 254u);
    // CR LF line ends, a 254-character line, an empty line and a last line without end.
    WriteFileText(dir.path() / "pieces.dtd",
                  "<!DOCTYPE Root [\r\n" + line300 + "\r\n" + line254 + "\n\n<!ELEMENT Root EMPTY>\n]>");

    XmlTree tree;
    StartDocument(tree, "Root");
    const std::string text = ComposeAgentXml(tree.document(), DtdFrom(dir.str(), "pieces.dtd"));
    EXPECT_NE(text.find("\r\n" + line300.substr(0, 254) + "\r\n" + line300.substr(254) + "\r\n"), std::string::npos);
    EXPECT_TRUE(golden::MatchesGolden(text, "envelope_dtd_pieces.txt"));
}

TEST(Envelope, LongTokensAndLongDtdsArriveWhole) {
    TempDir dir;
    std::string dtd;
    for (int i = 0; i < 40; ++i) dtd += "<!ELEMENT Element" + std::to_string(i) + " (#PCDATA)> <!-- filler text -->\n";
    ASSERT_GT(dtd.size(), 2047u);
    WriteFileText(dir.path() / "long.dtd", dtd);

    XmlTree tree;
    const std::string longWord(5000, 'w');
    AddTextElement(StartDocument(tree, "Root"), "Word", longWord.c_str());
    const std::string text = ComposeAgentXml(tree.document(), DtdFrom(dir.str(), "long.dtd"));

    std::string expectedDtd;
    for (size_t start = 0; start < dtd.size();) {
        const size_t end = dtd.find('\n', start);
        expectedDtd += "\r\n" + dtd.substr(start, end - start);
        start = end + 1;
    }
    EXPECT_EQ(text, "<?xml version=\"1.0\"?>" + expectedDtd + "\r\n<Root>\r\n<Word>" + longWord + "</Word>\r\n</Root>");
}

TEST(Envelope, ValuesAreReflowedWordByWord) {
    XmlTree tree;
    XmlNodeRef note = StartDocument(tree, "Note");
    AddTextElement(note, "Spaces", "two  spaces\tand\na line break");
    AddTextElement(note, "Marker", "before ?> after");  // the DTD text follows "?>" again
    AddTextElement(note, "Angle", "a <b c");
    AddElement(note, "Message").add_child(node_cdata).set_value("Hello   there\r\nmy friend");
    const auto dtd = [] { return std::string("\r\n<!-- DTD -->"); };
    EXPECT_TRUE(golden::MatchesGolden(ComposeAgentXml(tree.document(), dtd), "envelope_values.txt"));
}

TEST(Envelope, MissingDtdFileLeavesTheTextUnchanged) {
    TempDir dir;
    std::string text = "kept";
    EXPECT_FALSE(AppendDtdFile(text, dir.str(), "absent.dtd"));
    EXPECT_EQ(text, "kept");
    WriteFileText(dir.path() / "zero.dtd", std::string("ab\0cd\nef", 8));
    EXPECT_TRUE(AppendDtdFile(text, dir.str(), "zero.dtd"));
    EXPECT_EQ(text, "kept\r\nab\r\nef");  // a piece ends at a zero byte
}

}  // namespace
