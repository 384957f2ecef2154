// Building a tree through handles: kinds, refusals, text storage, attributes.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "pugxml_test_support.h"

namespace {

TEST(PugxmlTree, CreateGivesAnEmptyDocumentAndClearDropsIt) {
    XmlTree tree;
    EXPECT_TRUE(tree.document().empty());
    tree.create();
    XmlNodeRef document = tree.document();
    ASSERT_FALSE(document.empty());
    EXPECT_TRUE(document.type_document());
    EXPECT_EQ(document.record()->parent, document.record());
    EXPECT_EQ(document.children(), 0u);
    tree.clear();
    EXPECT_TRUE(tree.document().empty());
}

TEST(PugxmlTree, EmptyHandlesReferToTheirOwnBlankRecord) {
    XmlNodeRef empty;
    EXPECT_TRUE(empty.empty());
    EXPECT_EQ(empty.type(), node_null);
    EXPECT_EQ(empty.record()->parent, empty.record());
    XmlNodeRef copy(empty);
    EXPECT_TRUE(copy.empty());
    EXPECT_NE(copy.record(), empty.record());
    EXPECT_EQ(copy.record()->parent, copy.record());

    for (bool predicate : {empty.type_document(), empty.type_element(), empty.type_instruction(), empty.type_text(),
                           empty.type_cdata(), empty.type_comment(), empty.type_doctype()}) {
        EXPECT_FALSE(predicate);
    }
    // Filling an empty handle changes nothing.
    EXPECT_TRUE(empty.add_child(node_element).empty());
    EXPECT_FALSE(empty.set_name("x"));
    EXPECT_TRUE(empty.add_attribute("a", "b").empty());
    EXPECT_TRUE(empty.attribute("a").empty());
    EXPECT_EQ(empty.attributes(), 0u);
    EXPECT_TRUE(empty.child(0).empty());
}

TEST(PugxmlTree, ChildrenOnlyUnderDocumentsAndElements) {
    XmlTree tree;
    tree.create();
    XmlNodeRef root = AddElement(tree.document(), "Root");
    XmlNodeRef text = root.add_child(node_pcdata);
    ASSERT_TRUE(text.type_text());
    EXPECT_EQ(text.record()->parent, root.record());

    EXPECT_TRUE(text.add_child(node_element).empty());
    XmlNodeRef instruction = tree.document().add_child(node_pi);
    EXPECT_TRUE(instruction.add_child(node_pcdata).empty());
    EXPECT_TRUE(root.add_child(static_cast<XmlNodeKind>(13)).empty());
    EXPECT_EQ(root.children(), 1u);
    EXPECT_EQ(tree.document().children(), 2u);
    XmlNodeRef doctype = tree.document().add_child(node_doctype);
    EXPECT_TRUE(doctype.add_child(node_dtd_entity).empty());
}

TEST(PugxmlTree, NamesAndValuesOnlyWhereTheKindHasThem) {
    XmlTree tree;
    tree.create();
    XmlNodeRef element = tree.document().add_child(node_element);
    XmlNodeRef instruction = tree.document().add_child(node_pi);
    XmlNodeRef text = element.add_child(node_pcdata);
    XmlNodeRef cdata = element.add_child(node_cdata);
    XmlNodeRef comment = element.add_child(node_comment);

    EXPECT_TRUE(element.set_name("E"));
    EXPECT_TRUE(instruction.set_name("xml"));
    EXPECT_FALSE(text.set_name("T"));
    EXPECT_FALSE(element.set_name(nullptr));
    EXPECT_FALSE(element.set_value("v"));
    EXPECT_FALSE(instruction.set_value("v"));
    EXPECT_TRUE(text.set_value("t"));
    EXPECT_TRUE(cdata.set_value("c"));
    EXPECT_TRUE(comment.set_value("m"));
    EXPECT_FALSE(text.set_value(nullptr));

    EXPECT_STREQ(element.name(), "E");
    EXPECT_EQ(element.value(), nullptr);
    EXPECT_EQ(text.name(), nullptr);
    EXPECT_STREQ(text.value(), "t");
}

TEST(PugxmlTree, ValuesCanShrinkGrowAndEmpty) {
    XmlTree tree;
    tree.create();
    XmlNodeRef text = tree.document().add_child(node_element).add_child(node_pcdata);
    for (const char *value : {"twelve chars", "short", "equal", "twelve chars", ""}) {
        ASSERT_TRUE(text.set_value(value));
        ASSERT_NE(text.value(), nullptr);
        EXPECT_STREQ(text.value(), value);
    }
}

TEST(PugxmlTree, EqualAttributeValuesStayApartWhenOneIsReassigned) {
    XmlTree tree;
    tree.create();
    XmlNodeRef first = AddElement(tree.document(), "file");
    XmlNodeRef second = AddElement(tree.document(), "file");
    for (XmlNodeRef element : {first, second}) {
        element.add_attribute("size", "1");
        element.add_attribute("created", "1");
    }
    first.attribute("size") = "123456";
    second.attribute("created") = "";
    EXPECT_STREQ(first.attribute_at(0).value(), "123456");
    EXPECT_STREQ(first.attribute_at(1).value(), "1");
    EXPECT_STREQ(second.attribute_at(0).value(), "1");
    EXPECT_STREQ(second.attribute_at(1).value(), "");
}

TEST(PugxmlTree, AttributeFindsTheFirstMatchOrAppendsAnEmptyOne) {
    XmlTree tree;
    tree.create();
    XmlNodeRef element = AddElement(tree.document(), "E");
    XmlAttributeRef first = element.add_attribute("Version", "1.0");
    element.add_attribute("Version", "2.0");
    EXPECT_EQ(element.attribute("Version").record(), first.record());
    EXPECT_TRUE(element.add_attribute(nullptr, "x").empty());
    EXPECT_TRUE(element.add_attribute("x", nullptr).empty());

    XmlAttributeRef added = element.attribute("Type");
    ASSERT_FALSE(added.empty());
    EXPECT_STREQ(added.name(), "Type");
    EXPECT_STREQ(added.value(), "");
    EXPECT_EQ(element.attributes(), 3u);
    EXPECT_EQ(element.attribute_at(2).record(), added.record());
}

// A tree keeps each name once for all the records that bear it: renaming one element
// or giving one attribute another value leaves the others as they were, also once
// the tree is cleared and built again.
TEST(PugxmlTree, RenamingOneElementLeavesTheOthersAlone) {
    XmlTree tree;
    for (int build = 0; build < 2; ++build) {
        tree.create();
        XmlNodeRef first = AddElement(tree.document(), "Content");
        XmlNodeRef second = AddElement(tree.document(), "Content");
        first.add_attribute("name", "one");
        second.add_attribute("name", "two");
        ASSERT_TRUE(first.set_name("C"));
        first.attribute("name") = "a longer value than before";
        EXPECT_STREQ(first.name(), "C");
        EXPECT_STREQ(second.name(), "Content");
        EXPECT_STREQ(first.attribute_at(0).value(), "a longer value than before");
        EXPECT_STREQ(second.attribute_at(0).name(), "name");
        EXPECT_STREQ(second.attribute_at(0).value(), "two");
        tree.clear();
    }
}

TEST(PugxmlTree, AttributeAssignmentFromANumberAndANullText) {
    XmlTree tree;
    tree.create();
    XmlNodeRef element = AddElement(tree.document(), "E");
    XmlAttributeRef attribute = element.attribute("a");
    attribute = static_cast<int32_t>(-42);
    EXPECT_STREQ(attribute.value(), "-42");
    attribute = static_cast<int32_t>(INT32_MIN);
    EXPECT_STREQ(attribute.value(), "-2147483648");
    attribute = static_cast<const char *>(nullptr);
    EXPECT_STREQ(attribute.value(), "-2147483648");

    XmlAttributeRef none;
    none = "ignored";
    none = 7;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.value(), nullptr);
}

TEST(PugxmlTree, MatchNameWildcards) {
    EXPECT_TRUE(match_name("Version", "Version"));
    EXPECT_FALSE(match_name("Version", "Versions"));
    EXPECT_FALSE(match_name("Version", "version"));
    EXPECT_TRUE(match_name("V*n", "Version"));
    EXPECT_TRUE(match_name("*", ""));
    EXPECT_TRUE(match_name("?ersion", "Version"));
    EXPECT_FALSE(match_name("?", ""));
    EXPECT_TRUE(match_name("[A-Z]ersion", "Version"));
    EXPECT_FALSE(match_name("[!A-Z]ersion", "Version"));
    EXPECT_TRUE(match_name("[!a-z]ersion", "Version"));
    EXPECT_TRUE(match_name(nullptr, "x"));
    EXPECT_TRUE(match_name("x", nullptr));
}

}  // namespace
