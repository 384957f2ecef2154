// pugxml: a small XML tree library. Documents are built in memory through node
// handles and written out as text by a serializer that escapes nothing; a reader
// fills the same tree from text. Stands alone: it includes nothing of the plug-in.
#ifndef CEBRIDGE_PUGXML_H
#define CEBRIDGE_PUGXML_H

#include <cstdint>
#include <ostream>
#include <string>

enum XmlNodeKind : uint32_t {
    node_null = 0,          // blank record, kind of an empty handle
    node_document = 1,      // the tree's root
    node_element = 2,
    node_pcdata = 3,        // text
    node_cdata = 4,
    node_comment = 5,
    node_pi = 6,            // processing instruction
    node_include = 7,
    node_doctype = 8,
    node_dtd_entity = 9,
    node_dtd_attlist = 10,
    node_dtd_element = 11,
    node_dtd_notation = 12,
};

struct XmlNodeRecord;
struct XmlAttributeRecord;

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

private:
    XmlAttributeRecord *m_record;
};

class XmlNodeRef {
public:
    XmlNodeRef();  // an empty handle
    explicit XmlNodeRef(XmlNodeRecord *record);
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
    XmlNodeRef child(uint32_t index) const;
    uint32_t attributes() const;
    XmlAttributeRef attribute_at(uint32_t index) const;

    XmlNodeRef add_child(XmlNodeKind kind);
    bool set_name(const char *text);
    bool set_value(const char *text);
    XmlAttributeRef add_attribute(const char *name, const char *value);
    XmlAttributeRef attribute(const char *name);

    void write_xml(std::ostream &stream, char indentCharacter, bool lineBreaks) const;
    XmlNodeRecord *record() const;

private:
    XmlNodeRecord *m_record;
    XmlNodeRecord *m_blank;  // own blank record while the handle is empty
};

// Writes the node: compact when the stream's format flags hold nothing but
// skip-whitespace (or nothing), else with tab indentation and line breaks.
std::ostream &operator<<(std::ostream &stream, XmlNodeRef node);

// Wildcard name comparison: '*', '?', "[a-z]" sets with '!' negation; null matches.
bool match_name(const char *pattern, const char *name);

class XmlTree {
public:
    XmlTree(uint32_t optionMask = 0xffff, bool autoDelete = true, int32_t growthStep = 4);
    virtual ~XmlTree();
    XmlTree(const XmlTree &) = delete;
    XmlTree &operator=(const XmlTree &) = delete;

    void create();
    XmlNodeRef document() const;
    void clear();

    // The reader: fills the tree from text (or a file read whole). False, with a
    // message in `error` when given, for malformed input; the tree is then empty.
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
