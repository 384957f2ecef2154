// pugxml: node records, handles, building operations and the serializer.
#include "pugxml.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

bool IsKnownKind(XmlNodeKind kind) { return kind <= node_dtd_notation; }

// Puts `stored` (null when the arena ran out of memory) in `*slot`.
bool TakeStoredText(char **slot, char *stored) {
    if (stored == nullptr) {
        return false;
    }
    *slot = stored;
    return true;
}

bool StoreText(XmlArena *arena, char **slot, const char *text) {
    return arena != nullptr && text != nullptr && TakeStoredText(slot, arena->copy(text));
}

bool StoreName(XmlArena *arena, char **slot, const char *text) {
    return arena != nullptr && text != nullptr && TakeStoredText(slot, arena->name(text));
}

bool StoreAttributeValue(XmlArena *arena, XmlAttributeRecord *attribute, const char *text) {
    return arena != nullptr && text != nullptr &&
           TakeStoredText(&attribute->value, arena->value(attribute->name, text));
}

// Runs the destructors of the record and its descendants; their storage stays in the arena.
void DestroyRecords(XmlNodeRecord *record) {
    for (XmlNodeRecord *child : record->children) {
        if (child != nullptr) {
            DestroyRecords(child);
        }
    }
    record->~XmlNodeRecord();
}

// Blocks start small, so that the many small answers stay small, and double up to
// a size that a listing takes few of.
constexpr size_t kFirstBlockSize = 4 * 1024;
constexpr size_t kLargestBlockSize = 256 * 1024;
// At most this many distinct names are shared (and as many last values remembered);
// past them, names are copied.
constexpr size_t kMaxSharedNames = 64;

}  // namespace

// --- the arena ---------------------------------------------------------------------

XmlArena::~XmlArena() { release(); }

void *XmlArena::allocate(size_t size, size_t alignment) {
    const size_t padding = (alignment - reinterpret_cast<uintptr_t>(m_free) % alignment) % alignment;
    if (m_free == nullptr || padding + size > m_left) {
        // A new block starts at the heap's own alignment, enough for any record.
        m_nextBlockSize = m_nextBlockSize == 0 ? kFirstBlockSize : std::min(2 * m_nextBlockSize, kLargestBlockSize);
        const size_t blockSize = std::max(size, m_nextBlockSize);
        char *block = new (std::nothrow) char[blockSize];
        if (block == nullptr) {
            return nullptr;
        }
        try {
            m_blocks.push_back(block);
        } catch (const std::bad_alloc &) {
            delete[] block;
            return nullptr;
        }
        m_free = block + size;
        m_left = blockSize - size;
        return block;
    }
    char *at = m_free + padding;
    m_free = at + size;
    m_left -= padding + size;
    return at;
}

char *XmlArena::copy(const char *text) {
    const size_t size = std::strlen(text) + 1;
    char *copy = static_cast<char *>(allocate(size, 1));
    if (copy != nullptr) {
        std::memcpy(copy, text, size);
    }
    return copy;
}

char *XmlArena::name(const char *text) {
    for (char *shared : m_names) {
        if (std::strcmp(shared, text) == 0) {
            return shared;
        }
    }
    char *stored = copy(text);
    if (stored != nullptr && m_names.size() < kMaxSharedNames) {
        try {
            m_names.push_back(stored);
        } catch (const std::bad_alloc &) {
            // Shared or not, the copy is good.
        }
    }
    return stored;
}

char *XmlArena::value(const char *storedName, const char *text) {
    auto last = std::find_if(m_lastValues.begin(), m_lastValues.end(),
                             [storedName](const LastValue &entry) { return entry.name == storedName; });
    if (last != m_lastValues.end() && std::strcmp(last->value, text) == 0) {
        return last->value;
    }
    char *stored = copy(text);
    if (stored == nullptr) {
        return nullptr;
    }
    if (last != m_lastValues.end()) {
        last->value = stored;
    } else if (m_lastValues.size() < kMaxSharedNames) {
        try {
            m_lastValues.push_back({storedName, stored});
        } catch (const std::bad_alloc &) {
            // Remembered or not, the copy is good.
        }
    }
    return stored;
}

void XmlArena::release() {
    for (char *block : m_blocks) {
        delete[] block;
    }
    std::vector<char *>().swap(m_blocks);
    std::vector<char *>().swap(m_names);
    std::vector<LastValue>().swap(m_lastValues);
    m_free = nullptr;
    m_left = 0;
    m_nextBlockSize = 0;
}

// --- records ---------------------------------------------------------------------

XmlNodeRecord *create_record(XmlNodeKind kind, XmlNodeRecord *parent) {
    const bool root = parent == nullptr;
    XmlArena *arena = root ? new (std::nothrow) XmlArena : parent->arena;
    XmlNodeRecord *record = arena != nullptr ? arena->make<XmlNodeRecord>() : nullptr;
    if (record == nullptr) {
        if (root) {
            delete arena;
        }
        return nullptr;
    }
    record->arena = arena;
    record->ownsArena = root;
    record->kind = kind;
    record->parent = parent;
    return record;
}

XmlAttributeRecord *create_attribute(XmlNodeRecord *node) {
    XmlArena *arena = node != nullptr ? node->arena : nullptr;
    return arena != nullptr ? arena->make<XmlAttributeRecord>() : nullptr;
}

void free_record(XmlNodeRecord *record) {
    if (record == nullptr) {
        return;
    }
    XmlArena *owned = record->ownsArena ? record->arena : nullptr;
    DestroyRecords(record);
    delete owned;
}

bool append_child(XmlNodeRecord *parent, XmlNodeRecord *child) {
    try {
        parent->children.push_back(child);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void append_attribute(XmlNodeRecord *node, XmlAttributeRecord *attribute) {
    attribute->next = nullptr;
    if (node->lastAttribute != nullptr) {
        node->lastAttribute->next = attribute;
    } else {
        node->firstAttribute = attribute;
    }
    node->lastAttribute = attribute;
    ++node->attributeCount;
}

// --- attribute handles -------------------------------------------------------------

XmlAttributeRef::XmlAttributeRef() : m_record(nullptr) {}
XmlAttributeRef::XmlAttributeRef(XmlAttributeRecord *record) : m_record(record) {}
XmlAttributeRef::XmlAttributeRef(XmlAttributeRecord *record, XmlArena *arena) : m_record(record), m_arena(arena) {}
XmlAttributeRef::~XmlAttributeRef() = default;
XmlAttributeRef::XmlAttributeRef(const XmlAttributeRef &other) = default;
XmlAttributeRef &XmlAttributeRef::operator=(const XmlAttributeRef &other) = default;

bool XmlAttributeRef::empty() const { return m_record == nullptr; }
const char *XmlAttributeRef::name() const { return m_record ? m_record->name : nullptr; }
const char *XmlAttributeRef::value() const { return m_record ? m_record->value : nullptr; }
XmlAttributeRecord *XmlAttributeRef::record() const { return m_record; }

XmlAttributeRef &XmlAttributeRef::operator=(const char *text) {
    if (m_record != nullptr && text != nullptr) {
        StoreAttributeValue(m_arena, m_record, text);
    }
    return *this;
}

XmlAttributeRef &XmlAttributeRef::operator=(const std::string &text) { return *this = text.c_str(); }

XmlAttributeRef &XmlAttributeRef::operator=(int32_t number) { return *this = std::to_string(number); }

// --- node handles ------------------------------------------------------------------

namespace {

void MakeBlank(XmlNodeRecord &blank) { blank.parent = &blank; }

}  // namespace

XmlNodeRef::XmlNodeRef() : m_record(nullptr) { MakeBlank(m_blank); }

XmlNodeRef::XmlNodeRef(XmlNodeRecord *record) : m_record(record) { MakeBlank(m_blank); }

XmlNodeRef::~XmlNodeRef() = default;

XmlNodeRef::XmlNodeRef(const XmlNodeRef &other) : m_record(other.m_record) { MakeBlank(m_blank); }

XmlNodeRef &XmlNodeRef::operator=(const XmlNodeRef &other) {
    m_record = other.m_record;
    return *this;
}

XmlNodeRecord *XmlNodeRef::target() const { return m_record ? m_record : const_cast<XmlNodeRecord *>(&m_blank); }
XmlNodeRecord *XmlNodeRef::record() const { return target(); }

bool XmlNodeRef::empty() const { return m_record == nullptr || m_record->kind == node_null; }
XmlNodeKind XmlNodeRef::type() const { return target()->kind; }
bool XmlNodeRef::type_document() const {
    return !empty() && m_record->kind == node_document && m_record->parent == m_record;
}
bool XmlNodeRef::type_element() const { return type() == node_element; }
bool XmlNodeRef::type_instruction() const { return type() == node_pi; }
bool XmlNodeRef::type_text() const { return type() == node_pcdata; }
bool XmlNodeRef::type_cdata() const { return type() == node_cdata; }
bool XmlNodeRef::type_comment() const { return type() == node_comment; }
bool XmlNodeRef::type_doctype() const { return type() == node_doctype; }

const char *XmlNodeRef::name() const { return target()->name; }
const char *XmlNodeRef::value() const { return target()->value; }
uint32_t XmlNodeRef::children() const { return static_cast<uint32_t>(target()->children.size()); }
uint32_t XmlNodeRef::attributes() const { return target()->attributeCount; }

XmlNodeRef XmlNodeRef::child(uint32_t index) const {
    return index < children() ? XmlNodeRef(target()->children[index]) : XmlNodeRef();
}

XmlAttributeRef XmlNodeRef::attribute_at(uint32_t index) const {
    XmlAttributeRecord *attribute = target()->firstAttribute;
    for (uint32_t at = 0; attribute != nullptr && at < index; ++at) {
        attribute = attribute->next;
    }
    return attribute != nullptr ? XmlAttributeRef(attribute, target()->arena) : XmlAttributeRef();
}

XmlNodeRef XmlNodeRef::add_child(XmlNodeKind kind) {
    if (empty() || (m_record->kind != node_document && m_record->kind != node_element) || !IsKnownKind(kind)) {
        return XmlNodeRef();
    }
    XmlNodeRecord *child = create_record(kind, m_record);
    if (child == nullptr) {
        return XmlNodeRef();
    }
    if (!append_child(m_record, child)) {
        free_record(child);
        return XmlNodeRef();
    }
    return XmlNodeRef(child);
}

bool XmlNodeRef::set_name(const char *text) {
    if (!type_element() && !type_instruction()) {
        return false;
    }
    return StoreName(m_record->arena, &m_record->name, text);
}

bool XmlNodeRef::set_value(const char *text) {
    if (!type_text() && !type_cdata() && !type_comment()) {
        return false;
    }
    return StoreText(m_record->arena, &m_record->value, text);
}

XmlAttributeRef XmlNodeRef::add_attribute(const char *name, const char *value) {
    if (empty() || name == nullptr || value == nullptr) {
        return XmlAttributeRef();
    }
    XmlAttributeRecord *attribute = create_attribute(m_record);
    if (attribute == nullptr) {
        return XmlAttributeRef();
    }
    XmlArena *arena = m_record->arena;
    if (!StoreName(arena, &attribute->name, name) || !StoreAttributeValue(arena, attribute, value)) {
        return XmlAttributeRef();  // the record stays behind in the arena, unused
    }
    append_attribute(m_record, attribute);
    return XmlAttributeRef(attribute, arena);
}

XmlAttributeRef XmlNodeRef::attribute(const char *name) {
    if (empty()) {
        return XmlAttributeRef();
    }
    for (XmlAttributeRecord *attribute = m_record->firstAttribute; attribute != nullptr; attribute = attribute->next) {
        if (match_name(name, attribute->name)) {
            return XmlAttributeRef(attribute, m_record->arena);
        }
    }
    return add_attribute(name, "");
}

// --- names -------------------------------------------------------------------------

namespace {

// Matches one "[...]" set against `c`; `pattern` points after the '['. Returns the
// position after the closing ']' (or the end of the pattern) in `rest`.
bool MatchSet(const char *pattern, char c, const char **rest) {
    bool negated = false;
    if (*pattern == '!') {
        negated = true;
        ++pattern;
    }
    bool found = false;
    bool first = true;
    while (*pattern != '\0' && (*pattern != ']' || first)) {
        first = false;
        char low = *pattern++;
        char high = low;
        if (*pattern == '-' && pattern[1] != '\0' && pattern[1] != ']') {
            high = pattern[1];
            pattern += 2;
        }
        if (c >= low && c <= high) {
            found = true;
        }
    }
    *rest = *pattern == ']' ? pattern + 1 : pattern;
    return found != negated;
}

bool MatchFrom(const char *pattern, const char *name) {
    while (*pattern != '\0') {
        switch (*pattern) {
        case '*':
            while (*pattern == '*') {
                ++pattern;
            }
            if (*pattern == '\0') {
                return true;
            }
            for (const char *tail = name; *tail != '\0'; ++tail) {
                if (MatchFrom(pattern, tail)) {
                    return true;
                }
            }
            return false;
        case '?':
            if (*name == '\0') {
                return false;
            }
            ++pattern;
            ++name;
            break;
        case '[':
            if (*name == '\0' || !MatchSet(pattern + 1, *name, &pattern)) {
                return false;
            }
            ++name;
            break;
        default:
            if (*pattern != *name) {
                return false;
            }
            ++pattern;
            ++name;
        }
    }
    return *name == '\0';
}

}  // namespace

bool match_name(const char *pattern, const char *name) {
    if (pattern == nullptr || name == nullptr) {
        return true;
    }
    return MatchFrom(pattern, name);
}

// --- the serializer ----------------------------------------------------------------

XmlIndent::XmlIndent(char character) : m_character(character) {}
XmlIndent::~XmlIndent() = default;

void XmlIndent::deepen() {
    if (m_character == 0) {
        return;
    }
    m_text.push_back(m_character);
    ++m_depth;
}

void XmlIndent::undo() {
    if (m_character == 0 || m_depth == 0) {
        return;
    }
    m_text.pop_back();
    --m_depth;
}

namespace {

void WriteLineBreak(std::ostream &stream) { stream << std::endl; }

void WriteOpening(std::ostream &stream, const XmlNodeRecord *record) {
    stream << (record->kind == node_pi ? "<?" : "<");
    stream << (record->name != nullptr ? record->name : "anonymous");
    for (const XmlAttributeRecord *attribute = record->firstAttribute; attribute != nullptr;
         attribute = attribute->next) {
        if (attribute->name == nullptr) {
            continue;
        }
        stream << ' ' << attribute->name;
        if (attribute->value != nullptr) {
            stream << "=\"" << attribute->value << '"';
        }
    }
}

void WriteElementOrInstruction(std::ostream &stream, XmlIndent &indent, const XmlNodeRecord *record, bool breaks) {
    WriteOpening(stream, record);
    if (record->kind != node_element || record->children.empty()) {
        stream << (record->kind == node_pi ? "?>" : "/>");
        return;
    }
    stream << '>';
    const XmlNodeRecord *only = record->children.size() == 1 ? record->children[0] : nullptr;
    if (only != nullptr && only->kind == node_pcdata) {
        if (only->value != nullptr) {
            stream << only->value;
        }
    } else {
        if (breaks) {
            WriteLineBreak(stream);
        }
        indent.deepen();
        for (const XmlNodeRecord *child : record->children) {
            write_node(stream, indent, child, breaks);
        }
        indent.undo();
        stream << indent.text();
    }
    stream << "</" << (record->name != nullptr ? record->name : "") << '>';
}

bool IsDeclaration(XmlNodeKind kind) { return kind >= node_dtd_entity && kind <= node_dtd_notation; }

void WriteDoctype(std::ostream &stream, XmlIndent &indent, const XmlNodeRecord *record, bool breaks) {
    stream << "<!DOCTYPE";
    for (const XmlAttributeRecord *attribute = record->firstAttribute; attribute != nullptr;
         attribute = attribute->next) {
        stream << ' ';
        if (attribute->name != nullptr) {
            stream << attribute->name;
        } else if (attribute->value != nullptr) {
            stream << '"' << attribute->value << '"';
        }
    }
    if (!record->children.empty()) {
        const char separator = breaks ? '\n' : ' ';
        stream << separator << '[' << separator;
        indent.deepen();
        for (const XmlNodeRecord *child : record->children) {
            if (child != nullptr && IsDeclaration(child->kind)) {
                write_node(stream, indent, child, breaks);
            }
        }
        indent.undo();
        stream << ']';
    } else if (record->value != nullptr) {
        stream << " [" << record->value << ']';
    }
    stream << '>';
}

void WriteDeclaration(std::ostream &stream, const XmlNodeRecord *record) {
    static const char *const kOpenings[] = {"<!ENTITY ", "<!ATTLIST ", "<!ELEMENT ", "<!NOTATION "};
    if (record->name == nullptr) {
        return;
    }
    stream << kOpenings[record->kind - node_dtd_entity] << record->name;
    if (record->value != nullptr) {
        stream << ' ' << record->value;
    }
    stream << '>';
}

void WriteWrapped(std::ostream &stream, const char *opening, const char *text, const char *closing) {
    if (text != nullptr) {
        stream << opening << text << closing;
    }
}

}  // namespace

void write_node(std::ostream &stream, XmlIndent &indent, const XmlNodeRecord *record, bool breaks) {
    if (record == nullptr || !stream.good()) {
        return;
    }
    stream << indent.text();
    switch (record->kind) {
    case node_element:
    case node_pi: WriteElementOrInstruction(stream, indent, record, breaks); break;
    case node_pcdata: WriteWrapped(stream, "", record->value, ""); break;
    case node_cdata: WriteWrapped(stream, "<![CDATA[", record->value, "]]>"); break;
    case node_comment: WriteWrapped(stream, "<!--", record->value, "-->"); break;
    case node_include: WriteWrapped(stream, "<![INCLUDE[", record->value, "]]>"); break;
    case node_doctype: WriteDoctype(stream, indent, record, breaks); break;
    case node_dtd_entity:
    case node_dtd_attlist:
    case node_dtd_element:
    case node_dtd_notation: WriteDeclaration(stream, record); break;
    default: break;
    }
    if (breaks) {
        WriteLineBreak(stream);
    }
    stream.flush();
}

void XmlNodeRef::write_xml(std::ostream &stream, char indentCharacter, bool lineBreaks) const {
    if (empty()) {
        return;
    }
    XmlIndent indent(indentCharacter);
    if (type_document()) {
        for (const XmlNodeRecord *child : m_record->children) {
            write_node(stream, indent, child, lineBreaks);
        }
    } else {
        write_node(stream, indent, m_record, lineBreaks);
    }
}

std::ostream &operator<<(std::ostream &stream, XmlNodeRef node) {
    if (!stream.good()) {
        return stream;
    }
    if ((stream.flags() & ~std::ios_base::skipws) == 0) {
        node.write_xml(stream, 0, false);
    } else {
        node.write_xml(stream, '\t', true);
    }
    return stream;
}

// --- the tree ----------------------------------------------------------------------

XmlTree::XmlTree(uint32_t optionMask, bool autoDelete) : m_autoDelete(autoDelete), m_optionMask(optionMask) {}

XmlTree::~XmlTree() {
    if (m_autoDelete) {
        free_record(m_root);
    }
    delete[] m_parseBuffer;
}

void XmlTree::create() {
    clear();
    m_root = create_record(node_document, nullptr);
    if (m_root != nullptr) {
        m_root->parent = m_root;
    }
}

XmlNodeRef XmlTree::document() const { return XmlNodeRef(m_root); }

void XmlTree::clear() {
    free_record(m_root);
    m_root = nullptr;
    delete[] m_parseBuffer;
    m_parseBuffer = nullptr;
    m_parsePosition = 0;
}
