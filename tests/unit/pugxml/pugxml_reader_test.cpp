// The reader: what the writer makes reads back to the same text; malformed text is
// refused without reading past the given length.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include "pugxml_test_support.h"

namespace {

// Parses from an exactly sized heap copy, so a read past the end is an ASan fault.
bool ParseExact(XmlTree &tree, const std::string &text, std::string *error = nullptr) {
    std::unique_ptr<char[]> exact(new char[text.size() == 0 ? 1 : text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    return tree.parse(exact.get(), text.size(), error);
}

void BuildContentsListing(XmlNodeRef document) {
    XmlNodeRef declaration = document.add_child(node_pi);
    declaration.set_name("xml");
    declaration.attribute("version") = "1.0";
    XmlNodeRef listing = AddElement(document, "Contents-listing");
    listing.attribute("Version") = "1.0";
    XmlNodeRef content = AddElement(listing, "Content");
    AddElement(content, "ID", "1a");
    AddElement(content, "Name", "Kim & Lee  > Seoul");
    AddElement(content, "Empty");
    AddElement(content, "Blank", "");
    AddElement(content, "Spaces", "  ");
    AddElement(AddElement(listing, "Content"), "XVal").add_child(node_cdata).set_value("two\n lines ]] >");
}

void BuildMixedContent(XmlNodeRef document) {
    XmlNodeRef root = AddElement(document, "Root");
    root.add_attribute("a", "x&y");
    root.add_attribute("a", "again");
    root.add_child(node_pcdata).set_value(" leading and trailing ");
    XmlNodeRef anonymous = root.add_child(node_element);
    anonymous.add_child(node_pcdata).set_value("nameless");
    root.add_child(node_element).add_attribute("id", "1");
    root.add_child(node_comment).set_value(" a comment ");
    root.add_child(node_comment).set_value("");
    root.add_child(node_cdata).set_value("");
    AddElement(AddElement(root, "Deeper"), "Deepest").add_child(node_pcdata).set_value("tab\tinside");
    root.add_child(node_pcdata).set_value("closing text");
}

void BuildDoctype(XmlNodeRef document) {
    XmlNodeRecord *doctype = AddRecord(document.record(), node_doctype);
    AddAttributeRecord(doctype, "folder-listing", nullptr);
    AddAttributeRecord(doctype, "SYSTEM", nullptr);
    AddAttributeRecord(doctype, nullptr, "obex-folder-listing.dtd");
    AddRecord(doctype, node_dtd_element, "folder-listing", "(folder | file)*");
    AddRecord(doctype, node_dtd_attlist, "file", "name CDATA #REQUIRED size CDATA '>'");
    AddRecord(doctype, node_dtd_entity, "%", "param \"<!ELEMENT x ANY>\"");
    AddRecord(doctype, node_dtd_notation, "gif", nullptr);
    AddRecord(doctype, node_dtd_element, "empty-value", "");
    AddElement(document, "folder-listing").add_attribute("version", "1.0");
}

using Builder = std::function<void(XmlNodeRef)>;
const std::vector<Builder> kBuilders = {BuildContentsListing, BuildMixedContent, BuildDoctype};

TEST(PugxmlReader, WhatTheWriterMakesReadsBackToTheSameText) {
    for (size_t i = 0; i < kBuilders.size(); ++i) {
        SCOPED_TRACE("document " + std::to_string(i));
        XmlTree built;
        built.create();
        kBuilders[i](built.document());
        const std::string indented = Indented(built.document());
        const std::string compact = Compact(built.document());

        std::string error;
        XmlTree fromIndented;
        ASSERT_TRUE(ParseExact(fromIndented, indented, &error)) << error;
        EXPECT_EQ(Indented(fromIndented.document()), indented);
        EXPECT_EQ(Compact(fromIndented.document()), compact);

        XmlTree fromCompact;
        ASSERT_TRUE(ParseExact(fromCompact, compact, &error)) << error;
        EXPECT_EQ(Compact(fromCompact.document()), compact);
        EXPECT_EQ(Indented(fromCompact.document()), indented);
    }
}

TEST(PugxmlReader, DoctypeFormsAndBareAttributesReadBack) {
    const struct {
        const char *text;
        const char *written;  // null: the text itself
    } cases[] = {
        {"<!DOCTYPE root><root/>", nullptr},
        {"<!DOCTYPE><root/>", nullptr},
        {"<!DOCTYPE root PUBLIC \"-//x//EN\" \"x.dtd\" [ <!ENTITY a \"b\">]><root/>", nullptr},
        {"<!DOCTYPE root []><root/>", nullptr},
        {"<!DOCTYPE root [ <!ELEMENT root ANY>]><root checked size=\"1\" hidden/>", nullptr},
        {"<root a b=\"\" c/>", nullptr},
        {"<?pi bare?><root/>", nullptr},
        // Parameter entity references have no node; single quotes become double ones.
        {"<!DOCTYPE r [%p; <!ELEMENT r ANY>]><r/>", "<!DOCTYPE r [ <!ELEMENT r ANY>]><r/>"},
        {"<!DOCTYPE r SYSTEM 'r.dtd'><r a = 'x'/>", "<!DOCTYPE r SYSTEM \"r.dtd\"><r a=\"x\"/>"},
    };
    for (const auto &c : cases) {
        XmlTree tree;
        std::string error;
        ASSERT_TRUE(ParseExact(tree, c.text, &error)) << c.text << ": " << error;
        EXPECT_EQ(Compact(tree.document()), c.written != nullptr ? c.written : c.text);
    }
}

TEST(PugxmlReader, FillsTheTreeWithNamesAndValuesInTheBuffer) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r SYSTEM 'r.dtd' [\n\t<!ENTITY e \"v\">\n]>\n"
        "<r b='single' a=\"double\"><!--c--><![CDATA[d]]><x>t</x><![INCLUDE[i]]></r>\n";
    XmlTree tree;
    std::string error;
    ASSERT_TRUE(ParseExact(tree, text, &error)) << error;
    XmlNodeRef document = tree.document();
    ASSERT_TRUE(document.type_document());
    ASSERT_EQ(document.children(), 3u);
    EXPECT_TRUE(document.child(0).type_instruction());
    XmlNodeRef doctype = document.child(1);
    ASSERT_TRUE(doctype.type_doctype());
    ASSERT_EQ(doctype.attributes(), 3u);
    EXPECT_STREQ(doctype.attribute_at(0).name(), "r");
    EXPECT_EQ(doctype.attribute_at(2).name(), nullptr);
    EXPECT_STREQ(doctype.attribute_at(2).value(), "r.dtd");
    ASSERT_EQ(doctype.children(), 1u);
    EXPECT_EQ(doctype.child(0).type(), node_dtd_entity);
    EXPECT_STREQ(doctype.child(0).value(), "\"v\"");

    XmlNodeRef root = document.child(2);
    ASSERT_TRUE(root.type_element());
    EXPECT_STREQ(root.attribute_at(0).name(), "b");
    EXPECT_STREQ(root.attribute_at(0).value(), "single");
    EXPECT_STREQ(root.attribute_at(1).name(), "a");
    const XmlNodeKind kinds[] = {node_comment, node_cdata, node_element, node_include};
    ASSERT_EQ(root.children(), 4u);
    for (uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(root.child(i).type(), kinds[i]);
    }
    EXPECT_STREQ(root.child(2).child(0).value(), "t");

    // Read texts can be replaced by shorter and longer ones.
    XmlNodeRef t = root.child(2).child(0);
    ASSERT_TRUE(t.set_value("T"));
    EXPECT_STREQ(t.value(), "T");
    ASSERT_TRUE(t.set_value("longer"));
    EXPECT_EQ(Compact(root), "<r b=\"single\" a=\"double\"><!--c--><![CDATA[d]]><x>longer</x><![INCLUDE[i]]></r>");
}

TEST(PugxmlReader, OptionsDropKindsAndKeepLayout) {
    const std::string text =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE r [<!ENTITY e \"v\">]>\n"
        "<r>\n\t<!--c-->\n\t<![CDATA[d]]>\n\t<x/>\n</r>\n";
    XmlTree bare(0);
    std::string error;
    ASSERT_TRUE(ParseExact(bare, text, &error)) << error;
    EXPECT_EQ(Compact(bare.document()), "\n\n<r>\n\t\n\t\n\t<x/>\n</r>\n");

    XmlTree wholeSubset(0xffff & ~parse_dtd_subset);
    ASSERT_TRUE(ParseExact(wholeSubset, text, &error)) << error;
    XmlNodeRef doctype = wholeSubset.document().child(1);
    ASSERT_TRUE(doctype.type_doctype());
    EXPECT_EQ(doctype.children(), 0u);
    EXPECT_STREQ(doctype.value(), "<!ENTITY e \"v\">");
}

TEST(PugxmlReader, MalformedTextIsRefusedWithAMessage) {
    const char *const texts[] = {
        "",
        "   \n",
        "just text",
        "<?xml version=\"1.0\"?>",
        "<!-- only a comment -->",
        "<a>",
        "<a><b></b>",
        "<a></b>",
        "<a><b></a></b>",
        "</a>",
        "<a/></a>",
        "<a/><",
        "<a>x < y</a>",
        "< a/>",
        "<1a/>",
        "<a b/>x</a>",
        "<a b=c/>",
        "<a b=\"c/>",
        "<a b=/>",
        "<a =\"c\"/>",
        "<a b=\"1\"c=\"2\"/>",
        "<a b=\"1\" / >",
        "<a><!-- open</a>",
        "<a><![CDATA[open</a>",
        "<a><!DOCTYPE a></a>",
        "<a><!WHATEVER></a>",
        "<!DOCTYPE a [<!ENTITY>]><a/>",
        "<!DOCTYPE a [<!ENTITY e \"v]><a/>",
        "<!DOCTYPE a [junk]><a/>",
        "<!DOCTYPE a [%p]><a/>",
        "<!DOCTYPE a [<!ELEMENT a ANY>]<a/>",
        "<!DOCTYPEa><a/>",
        "<?><a/>",
        "<?pi a=1?><a/>",
        "<>",
    };
    for (const char *text : texts) {
        XmlTree tree;
        std::string error;
        EXPECT_FALSE(ParseExact(tree, text, &error)) << "accepted: " << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_TRUE(tree.document().empty()) << text;
    }
}

TEST(PugxmlReader, MessagesSayWhereAndWhat) {
    XmlTree tree;
    std::string error;
    EXPECT_FALSE(ParseExact(tree, "<a>\n  <b></c>\n</a>", &error));
    EXPECT_EQ(error, "line 2, column 6: end tag </c> does not close <b>");
    EXPECT_FALSE(ParseExact(tree, std::string("<a>\0</a>", 8), &error));
    EXPECT_EQ(error, "line 1, column 4: NUL character in the text");
    EXPECT_FALSE(ParseExact(tree, "<a>", &error));
    EXPECT_EQ(error, "line 1, column 4: unclosed element <a>");
}

TEST(PugxmlReader, EveryTruncationOfAValidDocumentIsRefused) {
    for (size_t i = 0; i < kBuilders.size(); ++i) {
        XmlTree built;
        built.create();
        kBuilders[i](built.document());
        for (const std::string &text : {Indented(built.document()), Compact(built.document())}) {
            const size_t complete = text.rfind('>') + 1;  // the root's end tag ends there
            for (size_t length = 0; length < complete; ++length) {
                XmlTree tree;
                EXPECT_FALSE(ParseExact(tree, text.substr(0, length))) << "accepted: " << text.substr(0, length);
            }
            XmlTree tree;
            EXPECT_TRUE(ParseExact(tree, text.substr(0, complete)));
        }
    }
}

TEST(PugxmlReader, DeepNestingIsRefusedNotOverflowed) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) {
        deep += "<a>";
    }
    XmlTree tree;
    std::string error;
    EXPECT_FALSE(ParseExact(tree, deep, &error));
    EXPECT_NE(error.find("nested too deep"), std::string::npos) << error;

    std::string fine;
    for (int i = 0; i < 500; ++i) {
        fine = "<a>" + fine + "</a>";
    }
    EXPECT_TRUE(ParseExact(tree, fine, &error)) << error;
}

TEST(PugxmlReader, ReadsFilesWhole) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("pugxml_reader_" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".xml");
    {
        std::ofstream file(path, std::ios::binary);
        file << "<?xml version=\"1.0\"?>\n<r>\n\t<x>1</x>\n</r>\n";
    }
    XmlTree tree;
    std::string error;
    EXPECT_TRUE(tree.parse_file(path.string().c_str(), &error)) << error;
    EXPECT_EQ(Compact(tree.document()), "<?xml version=\"1.0\"?><r><x>1</x></r>");
    std::filesystem::remove(path);

    EXPECT_FALSE(tree.parse_file(path.string().c_str(), &error));
    EXPECT_EQ(error, "cannot open " + path.string());
    EXPECT_TRUE(tree.document().empty());
}

}  // namespace
