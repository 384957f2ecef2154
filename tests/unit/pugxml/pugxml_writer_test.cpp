// The serializer, byte for byte: golden texts in the indented and compact forms.
#include <gtest/gtest.h>

#include "pugxml_test_support.h"

namespace {

class PugxmlWriter : public ::testing::Test {
protected:
    void SetUp() override { tree.create(); }
    XmlNodeRef document() { return tree.document(); }
    XmlTree tree;
};

TEST_F(PugxmlWriter, ElementsWithoutChildrenWithOneTextAndWithAnEmptyText) {
    XmlNodeRef root = AddElement(document(), "Root");
    AddElement(root, "Empty");
    AddElement(root, "Name", "text");
    AddElement(root, "Blank", "");
    EXPECT_EQ(Indented(document()),
              "<Root>\n"
              "\t<Empty/>\n"
              "\t<Name>text</Name>\n"
              "\t<Blank></Blank>\n"
              "</Root>\n");
    EXPECT_EQ(Compact(document()), "<Root><Empty/><Name>text</Name><Blank></Blank></Root>");
}

TEST_F(PugxmlWriter, OnlyASingleTextChildIsInlined) {
    XmlNodeRef root = AddElement(document(), "SMS");
    AddElement(root, "XVal").add_child(node_cdata).set_value("hello  world");
    XmlNodeRef mixed = AddElement(root, "Mixed", "text");
    AddElement(mixed, "B");
    XmlNodeRef twoTexts = AddElement(root, "Two", "a");
    twoTexts.add_child(node_pcdata).set_value("b");
    EXPECT_EQ(Indented(document()),
              "<SMS>\n"
              "\t<XVal>\n"
              "\t\t<![CDATA[hello  world]]>\n"
              "\t</XVal>\n"
              "\t<Mixed>\n"
              "\t\ttext\n"
              "\t\t<B/>\n"
              "\t</Mixed>\n"
              "\t<Two>\n"
              "\t\ta\n"
              "\t\tb\n"
              "\t</Two>\n"
              "</SMS>\n");
    EXPECT_EQ(Compact(document()),
              "<SMS><XVal><![CDATA[hello  world]]></XVal><Mixed>text<B/></Mixed><Two>ab</Two></SMS>");
}

TEST_F(PugxmlWriter, AttributesInOrderBareNamesAndNamelessOnesSkipped) {
    XmlNodeRef element = AddElement(document(), "E");
    element.add_attribute("b", "2");
    element.add_attribute("a", "1");
    AddAttributeRecord(element.record(), "checked", nullptr);
    AddAttributeRecord(element.record(), nullptr, "skipped");
    element.add_attribute("c", "");
    EXPECT_EQ(Compact(document()), "<E b=\"2\" a=\"1\" checked c=\"\"/>");
}

TEST_F(PugxmlWriter, NamelessElementsAreAnonymousWithAnEmptyEndTag) {
    XmlNodeRef root = document().add_child(node_element);
    document().add_child(node_element).add_attribute("id", "1");
    root.add_child(node_element).set_name("B");
    XmlNodeRef text = root.add_child(node_element);
    text.add_child(node_pcdata).set_value("x");
    EXPECT_EQ(Indented(document()),
              "<anonymous>\n"
              "\t<B/>\n"
              "\t<anonymous>x</>\n"
              "</>\n"
              "<anonymous id=\"1\"/>\n");
}

TEST_F(PugxmlWriter, NothingIsEscaped) {
    XmlNodeRef element = AddElement(document(), "V", "a < b & c \"d\"");
    element.add_attribute("a", "x<&y");
    EXPECT_EQ(Compact(document()), "<V a=\"x<&y\">a < b & c \"d\"</V>");
}

TEST_F(PugxmlWriter, OtherKindsAndMissingValues) {
    XmlNodeRef declaration = document().add_child(node_pi);
    declaration.set_name("xml");
    declaration.add_attribute("version", "1.0");
    declaration.add_attribute("encoding", "euc-kr");
    document().add_child(node_pi);
    XmlNodeRef root = AddElement(document(), "R");
    root.add_child(node_comment).set_value(" note ");
    root.add_child(node_comment);  // no value: an empty line
    root.add_child(node_cdata);    // no value: an empty line
    AddRecord(root.record(), node_include, nullptr, "<!ELEMENT x ANY>");
    EXPECT_EQ(Indented(document()),
              "<?xml version=\"1.0\" encoding=\"euc-kr\"?>\n"
              "<?anonymous?>\n"
              "<R>\n"
              "\t<!-- note -->\n"
              "\t\n"
              "\t\n"
              "\t<![INCLUDE[<!ELEMENT x ANY>]]>\n"
              "</R>\n");
}

TEST_F(PugxmlWriter, DocumentWritesOnlyItsChildrenAndEmptyHandlesNothing) {
    XmlNodeRef root = AddElement(document(), "Root");
    AddElement(root, "A", "1");
    EXPECT_EQ(Indented(document()), "<Root>\n\t<A>1</A>\n</Root>\n");
    EXPECT_EQ(Indented(root.child(0)), "<A>1</A>\n");
    EXPECT_EQ(Indented(XmlNodeRef()), "");
    EXPECT_EQ(Compact(XmlNodeRef()), "");
    XmlTree unmade;
    EXPECT_EQ(Indented(unmade.document()), "");
    XmlTree fresh;
    fresh.create();
    EXPECT_EQ(Indented(fresh.document()), "");
}

TEST_F(PugxmlWriter, FormatFlagsChooseTheForm) {
    XmlNodeRef root = AddElement(document(), "R");
    AddElement(root, "A", "1");
    const std::string compact = "<R><A>1</A></R>";
    const std::string indented = "<R>\n\t<A>1</A>\n</R>\n";

    std::ostringstream noFlags;
    noFlags.flags(std::ios_base::fmtflags{});
    noFlags << document();
    EXPECT_EQ(noFlags.str(), compact);

    std::ostringstream hex;
    hex.flags(std::ios_base::skipws | std::ios_base::hex);
    hex << document();
    EXPECT_EQ(hex.str(), indented);

    std::ostringstream failed;
    failed.setstate(std::ios_base::failbit);
    failed << document();
    EXPECT_EQ(failed.str(), "");

    std::ostringstream spaces;
    document().write_xml(spaces, ' ', true);
    EXPECT_EQ(spaces.str(), "<R>\n <A>1</A>\n</R>\n");
}

TEST_F(PugxmlWriter, DocumentTypeDeclarations) {
    XmlNodeRecord *doctype = AddRecord(document().record(), node_doctype);
    AddAttributeRecord(doctype, "folder-listing", nullptr);
    AddAttributeRecord(doctype, "SYSTEM", nullptr);
    AddAttributeRecord(doctype, nullptr, "obex-folder-listing.dtd");
    EXPECT_EQ(Compact(document()), "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\">");

    doctype->value = doctype->arena->copy("<!ENTITY a \"b\">");
    EXPECT_EQ(Compact(document()), "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\" [<!ENTITY a \"b\">]>");

    // Children win over the value; only declarations among them are written.
    AddRecord(doctype, node_dtd_element, "folder-listing", "(folder | file)*");
    AddRecord(doctype, node_comment, nullptr, "skipped");
    AddRecord(doctype, node_dtd_attlist, "file", "name CDATA #REQUIRED");
    AddRecord(doctype, node_dtd_entity, "euro", "\"&#8364;\"");
    AddRecord(doctype, node_dtd_notation, "gif", nullptr);
    AddRecord(doctype, node_dtd_element, nullptr, "nameless: nothing but its line");
    EXPECT_EQ(Indented(document()),
              "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\"\n"
              "[\n"
              "\t<!ELEMENT folder-listing (folder | file)*>\n"
              "\t<!ATTLIST file name CDATA #REQUIRED>\n"
              "\t<!ENTITY euro \"&#8364;\">\n"
              "\t<!NOTATION gif>\n"
              "\t\n"
              "]>\n");
    EXPECT_EQ(Compact(document()),
              "<!DOCTYPE folder-listing SYSTEM \"obex-folder-listing.dtd\" [ "
              "<!ELEMENT folder-listing (folder | file)*><!ATTLIST file name CDATA #REQUIRED>"
              "<!ENTITY euro \"&#8364;\"><!NOTATION gif>]>");
}

}  // namespace
