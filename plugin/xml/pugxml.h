// pugxml: a small XML tree library. Documents are built in memory through node
// handles and written out as text by a serializer that escapes nothing; a reader
// fills the same tree from text. Stands alone: it includes nothing of the plug-in.
#ifndef CEBRIDGE_PUGXML_H
#define CEBRIDGE_PUGXML_H

#include <cstddef>
#include <cstdint>
#include <new>
#include <ostream>
#include <string>
#include <vector>

enum XmlNodeKind : uint8_t {
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

// Storage for the records and texts of one tree: carved from blocks that are all
// given back at once when the tree is freed, instead of one heap block per record
// and per text (a 100,000-entry listing holds over a million). Names, few and
// repeated on every element, are stored once each; an attribute value equal to the
// last one stored under the same name is shared with it (sizes, dates and types
// repeat from entry to entry). Stored texts are therefore never written over.
class XmlArena {
public:
    XmlArena() = default;
    ~XmlArena();
    XmlArena(const XmlArena &) = delete;
    XmlArena &operator=(const XmlArena &) = delete;

    // `size` bytes at a multiple of `alignment` (a power of two); null when out of memory.
    void *allocate(size_t size, size_t alignment);
    // A new T in the arena (whose destructor nobody runs unless its owner does); null
    // when out of memory.
    template <typename T>
    T *make() {
        void *storage = allocate(sizeof(T), alignof(T));
        return storage != nullptr ? new (storage) T : nullptr;
    }
    // A copy of `text`; null when out of memory.
    char *copy(const char *text);
    // The one stored copy of the name `text`, shared by every record that bears it.
    // Null when out of memory.
    char *name(const char *text);
    // A stored copy of the value `text` of an attribute named `storedName` (a text
    // of this arena): the previous value stored under that name when equal. Null when
    // out of memory.
    char *value(const char *storedName, const char *text);
    // Gives back every block; whatever was taken from them is gone.
    void release();

private:
    struct LastValue {
        const char *name;
        char *value;
    };

    std::vector<char *> m_blocks;
    char *m_free = nullptr;
    size_t m_left = 0;
    size_t m_nextBlockSize = 0;
    std::vector<char *> m_names;
    std::vector<LastValue> m_lastValues;
};

// Texts are zero-ended character arrays that no record owns: they lie in the
// reader's buffer or in the arena of the record's tree (or are null).
struct XmlAttributeRecord {
    char *name = nullptr;
    char *value = nullptr;
    XmlAttributeRecord *next = nullptr;  // the node's next attribute
};

// One node. The document record's parent is the record itself: that is what marks a
// root. Every record and attribute record of a tree lives in the arena its root
// created (`arena`, owned by the root: `ownsArena`), and goes when the root is freed.
struct XmlNodeRecord {
    XmlNodeRecord *parent = nullptr;
    char *name = nullptr;
    char *value = nullptr;
    XmlArena *arena = nullptr;
    XmlAttributeRecord *firstAttribute = nullptr;
    XmlAttributeRecord *lastAttribute = nullptr;
    std::vector<XmlNodeRecord *> children;
    uint32_t attributeCount = 0;
    XmlNodeKind kind = node_null;
    bool ownsArena = false;
};

// Record-level operations shared by the building handles and the reader.
// A new record of `kind` in its parent's arena; without a parent, the root of a new
// tree in an arena of its own. Null when out of memory.
XmlNodeRecord *create_record(XmlNodeKind kind, XmlNodeRecord *parent);
// A blank attribute record in the node's arena; null when out of memory. Not yet appended.
XmlAttributeRecord *create_attribute(XmlNodeRecord *node);
// Frees the record and, depth first, its descendants; a root gives back its arena
// (with every record and text in it).
void free_record(XmlNodeRecord *record);
// Appends as last child. False (and nothing changed) when memory runs out.
bool append_child(XmlNodeRecord *parent, XmlNodeRecord *child);
// Appends as last attribute (made by create_attribute for this node).
void append_attribute(XmlNodeRecord *node, XmlAttributeRecord *attribute);

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
    friend class XmlNodeRef;
    XmlAttributeRef(XmlAttributeRecord *record, XmlArena *arena);

    XmlAttributeRecord *m_record;
    XmlArena *m_arena = nullptr;  // where assigned values go; null: assignment does nothing
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
    explicit XmlTree(uint32_t optionMask = 0xffff, bool autoDelete = true);
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
    bool m_autoDelete;
    char *m_parseBuffer = nullptr;
    size_t m_parsePosition = 0;
    uint32_t m_optionMask;
};

#endif  // CEBRIDGE_PUGXML_H
