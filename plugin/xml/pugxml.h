// pugxml: a small XML tree library. Documents are built in memory through node
// handles and written out as text by a serializer that escapes nothing; a reader
// fills the same tree from text. Stands alone: it includes nothing of the plug-in.
#ifndef CEBRIDGE_PUGXML_H
#define CEBRIDGE_PUGXML_H

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

enum XmlNodeKind : uint32_t {
    node_null = 0,      // blank record, kind of an empty handle
    node_document = 1,  // the tree's root
    node_element = 2,
    node_pcdata = 3,  // text
    node_cdata = 4,
    node_comment = 5,
    node_pi = 6,  // processing instruction
    node_include = 7,
    node_doctype = 8,
    node_dtd_entity = 9,
    node_dtd_attlist = 10,
    node_dtd_element = 11,
    node_dtd_notation = 12,
};

// Texts are zero-ended character arrays. An "in buffer" flag is true while the text
// points into the reader's buffer (or is null) and must not be freed; false when the
// record owns a heap copy.
struct XmlAttributeRecord {
    char *name = nullptr;
    bool nameInBuffer = true;
    char *value = nullptr;
    bool valueInBuffer = true;
};

// One node. The document record's parent is the record itself: that is what marks a
// root. The tree owns every record below the root, every attribute record and every
// text whose in-buffer flag is false.
//
// Capacity: `attributeCapacity` and `childCapacity` follow the library's growth rule
// (initial slots by kind; when full, building adds one slot and the reader adds the
// tree's growth step). The arrays behind them are std::vectors, which grow
// geometrically, so appending n children costs O(n) copies, not O(n^2): the rule is
// kept where it can be seen (these fields) and not where it would cost.
struct XmlNodeRecord {
    XmlNodeRecord *parent = nullptr;
    char *name = nullptr;
    bool nameInBuffer = true;
    XmlNodeKind kind = node_null;
    std::vector<XmlAttributeRecord *> attributes;
    uint32_t attributeCapacity = 0;
    std::vector<XmlNodeRecord *> children;
    uint32_t childCapacity = 0;
    char *value = nullptr;
    bool valueInBuffer = true;
};

// Record-level operations shared by the building handles and the reader.
// A new record of `kind` with the initial capacities of its kind; null when out of memory.
XmlNodeRecord *create_record(XmlNodeKind kind, XmlNodeRecord *parent);
// Frees the record, its owned texts, its attributes and, depth first, its descendants.
void free_record(XmlNodeRecord *record);
// Appends as last child / last attribute, growing the capacity by `step` when full.
// False (and nothing changed) when memory runs out.
bool append_child(XmlNodeRecord *parent, XmlNodeRecord *child, uint32_t step);
bool append_attribute(XmlNodeRecord *node, XmlAttributeRecord *attribute, uint32_t step);

// Stores `text` in `*slot`: over the present text when that is at least as long
// (the flag is kept), else as a fresh heap copy (the old text freed when owned,
// the flag set false). False when an argument is missing or memory runs out.
bool copy_text(char **slot, const char *text, bool *inBuffer);

class XmlAttributeRef {
public:
    XmlAttributeRef();
    explicit XmlAttributeRef(XmlAttributeRecord *record);
    virtual ~XmlAttributeRef();
    XmlAttributeRef(const XmlAttributeRef &other);
    XmlAttributeRef &operator=(const XmlAttributeRef &other);

    bool empty() const;
    const char *name() const;   // null when empty or unnamed
    const char *value() const;  // null when empty or without value
    // Value assignment; each is a no-op on an empty handle or null text.
    XmlAttributeRef &operator=(const char *text);
    XmlAttributeRef &operator=(const std::string &text);
    XmlAttributeRef &operator=(int32_t number);

    XmlAttributeRecord *record() const;

private:
    XmlAttributeRecord *m_record;
};

class XmlNodeRef {
public:
    XmlNodeRef();                                // an empty handle
    explicit XmlNodeRef(XmlNodeRecord *record);  // null gives an empty handle
    virtual ~XmlNodeRef();
    XmlNodeRef(const XmlNodeRef &other);
    XmlNodeRef &operator=(const XmlNodeRef &other);

    bool empty() const;
    XmlNodeKind type() const;
    bool type_document() const;
    bool type_element() const;
    bool type_instruction() const;
    bool type_text() const;
    bool type_cdata() const;
    bool type_comment() const;
    bool type_doctype() const;

    const char *name() const;
    const char *value() const;
    uint32_t children() const;
    XmlNodeRef child(uint32_t index) const;  // empty when out of range
    uint32_t attributes() const;
    XmlAttributeRef attribute_at(uint32_t index) const;  // empty when out of range

    // Building. Each refuses (empty handle or false, nothing changed) on an empty
    // handle, on a node of the wrong kind or on a null text.
    XmlNodeRef add_child(XmlNodeKind kind);  // on a document or element only
    bool set_name(const char *text);         // element or instruction only
    bool set_value(const char *text);        // text, CDATA or comment only
    XmlAttributeRef add_attribute(const char *name, const char *value);
    XmlAttributeRef attribute(const char *name);  // the first match, else added with ""

    void write_xml(std::ostream &stream, char indentCharacter, bool lineBreaks) const;
    // The record the handle refers to: for an empty handle, its own blank record.
    XmlNodeRecord *record() const;

private:
    XmlNodeRecord *target() const;

    XmlNodeRecord *m_record;  // null while the handle is empty
    XmlNodeRecord m_blank;    // own blank record: kind Null, parent itself, no arrays
};

// Indentation state of one write: the indent character (0: none), the current
// indent text and the depth.
class XmlIndent {
public:
    explicit XmlIndent(char character);
    virtual ~XmlIndent();

    void deepen();  // one more indent character
    void undo();    // one less, never below zero
    const std::string &text() const { return m_text; }

private:
    char m_character;
    std::string m_text;
    uint32_t m_depth = 0;
};

// Writes one record and its subtree. Nothing is escaped.
void write_node(std::ostream &stream, XmlIndent &indent, const XmlNodeRecord *record, bool breaks);

// Writes the node: compact when the stream's format flags hold nothing but
// skip-whitespace (or nothing), else with tab indentation and line breaks.
std::ostream &operator<<(std::ostream &stream, XmlNodeRef node);

// Wildcard name comparison: '*', '?', "[a-z]" sets with '!' negation; null matches.
bool match_name(const char *pattern, const char *name);

// Reader options, bits of the tree's option mask. Every builder's mask (0xffff)
// holds them all.
enum XmlParseOption : uint32_t {
    parse_comments = 0x0001,      // keep comments
    parse_instructions = 0x0002,  // keep processing instructions
    parse_cdata = 0x0004,         // keep CDATA and INCLUDE sections
    parse_doctype = 0x0008,       // keep the document type declaration
    parse_dtd_subset = 0x0010,    // split the internal subset into declarations (else one value)
    parse_trim_layout = 0x0020,   // drop the line breaks and indentation the writer adds
};

class XmlTree {
public:
    XmlTree(uint32_t optionMask = 0xffff, bool autoDelete = true, int32_t growthStep = 4);
    // Frees the tree when auto-delete is set (otherwise whoever took the root frees
    // it with free_record), and always the parse buffer: texts the reader left in
    // that buffer go with the holder either way.
    virtual ~XmlTree();
    XmlTree(const XmlTree &) = delete;
    XmlTree &operator=(const XmlTree &) = delete;

    void create();
    XmlNodeRef document() const;
    void clear();

    // The reader: fills the tree from text (or a file read whole). False, with a
    // message in `error` when given, for malformed input; the tree is then empty.
    // Texts are kept verbatim (no entity is expanded), so that writing a document
    // read gives back the text the writer made.
    bool parse(const char *text, size_t length, std::string *error = nullptr);
    bool parse_file(const char *path, std::string *error = nullptr);

private:
    XmlNodeRecord *m_root = nullptr;
    int32_t m_growthStep;
    bool m_autoDelete;
    char *m_parseBuffer = nullptr;
    size_t m_parsePosition = 0;
    uint32_t m_optionMask;
};

#endif  // CEBRIDGE_PUGXML_H
