// pugxml's reader: fills a tree from text.
//
// The text is copied into the tree's parse buffer and read in place: every name and
// value points into that buffer (in-buffer flag true) and is ended by a zero written
// over the delimiter that follows it. Zeros are written only once the whole text has
// been read, so the reader never looks at a character it has overwritten, and every
// read is bounded by the text's length, never by a terminator.
//
// The reader accepts what the writer makes, so that writing a document read gives
// back the same text, in the compact and in the indented form:
// - texts are kept verbatim (no entity is expanded);
// - an element whose whole content is one text gets that text as its only child,
//   even when empty ("<a></a>") or blank; elsewhere, with parse_trim_layout, blank
//   texts are the writer's line breaks and indentation and are dropped, and a text
//   loses the line break and indentation that the writer put around it;
// - "<anonymous ...>" closed by "</>" is the writer's nameless element;
// - a document type declaration holds words (attributes with a name) and quoted
//   texts (attributes with only a value), then an optional internal subset.
// The document must hold at least one element; elements nest at most kMaxDepth deep.
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>

#include "pugxml.h"

namespace {

constexpr size_t kMaxDepth = 1000;

class ParseError : public std::runtime_error {
public:
    ParseError(const std::string &message, size_t position) : std::runtime_error(message), position(position) {}
    size_t position;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

struct RecordDeleter {
    void operator()(XmlNodeRecord *record) const { free_record(record); }
};
using OwnedRecord = std::unique_ptr<XmlNodeRecord, RecordDeleter>;

// A text run read in element or document content, settled when its parent closes.
struct TextRun {
    size_t index;  // in the parent's children
    size_t begin;
    size_t end;
};

// The document and every element not yet closed.
struct OpenNode {
    XmlNodeRecord *node;
    size_t nameLength;
    size_t contentBegin;
    std::vector<TextRun> runs;
};

class Reader {
public:
    Reader(char *text, size_t length, uint32_t options) : m_text(text), m_length(length), m_options(options) {}

    // The document read; throws ParseError for malformed text.
    XmlNodeRecord *Read() {
        OwnedRecord root(create_record(node_document, nullptr));
        CheckMemory(root.get());
        root->parent = root.get();
        m_open.push_back({root.get(), 0, 0, {}});
        while (m_pos < m_length) {
            if (m_text[m_pos] == '<') {
                ReadMarkup();
            } else {
                ReadTextRun();
            }
        }
        if (m_open.size() > 1) {
            Fail("unclosed element <" + NameOf(m_open.back()) + ">");
        }
        SettleTexts(m_open.back());
        if (!HoldsElement(root.get())) {
            Fail("no root element");
        }
        for (size_t end : m_ends) {
            m_text[end] = '\0';
        }
        return root.release();
    }

    size_t position() const { return m_pos; }

private:
    [[noreturn]] void Fail(const std::string &message) const { throw ParseError(message, m_pos); }

    void CheckMemory(const void *allocation) const {
        if (allocation == nullptr) {
            throw std::bad_alloc();
        }
    }

    bool Option(XmlParseOption option) const { return (m_options & option) != 0; }
    bool At(const char *literal) const {
        const size_t size = std::strlen(literal);
        return m_length - m_pos >= size && std::memcmp(m_text + m_pos, literal, size) == 0;
    }
    char Peek() const { return m_pos < m_length ? m_text[m_pos] : '\0'; }
    void Expect(const char *literal, const char *what) {
        if (!At(literal)) {
            Fail(m_pos >= m_length ? std::string("unexpected end of input, expected ") + what
                                   : std::string("expected ") + what);
        }
        m_pos += std::strlen(literal);
    }
    bool SkipSpace() {
        const size_t start = m_pos;
        while (m_pos < m_length && IsSpace(m_text[m_pos])) {
            ++m_pos;
        }
        return m_pos > start;
    }
    // Finds `literal` from the current position; fails with `what` when it is missing.
    size_t Find(const char *literal, const char *what) const {
        const size_t size = std::strlen(literal);
        for (size_t at = m_pos; m_length - at >= size; ++at) {
            if (std::memcmp(m_text + at, literal, size) == 0) {
                return at;
            }
        }
        Fail(std::string("unclosed ") + what);
    }
    size_t ReadName() {
        const size_t start = m_pos;
        if (m_pos < m_length && IsNameStart(m_text[m_pos])) {
            ++m_pos;
            while (m_pos < m_length && IsNameChar(m_text[m_pos])) {
                ++m_pos;
            }
        }
        return m_pos - start;
    }

    // The text [begin, end) as a zero-ended text in the buffer (the zero comes later).
    char *Span(size_t begin, size_t end) {
        m_ends.push_back(end);
        return m_text + begin;
    }
    std::string NameOf(const OpenNode &open) const {
        return open.node->name ? std::string(open.node->name, open.nameLength) : std::string();
    }

    XmlNodeRecord *AddNode(XmlNodeRecord *parent, XmlNodeKind kind) {
        XmlNodeRecord *node = create_record(kind, parent);
        CheckMemory(node);
        if (!append_child(parent, node)) {
            free_record(node);
            throw std::bad_alloc();
        }
        return node;
    }
    // A node the options leave out is still read, into a record outside the tree.
    XmlNodeRecord *AddNodeOrScratch(XmlNodeRecord *parent, XmlNodeKind kind, bool keep, OwnedRecord &scratch) {
        if (keep) {
            return AddNode(parent, kind);
        }
        scratch.reset(create_record(kind, nullptr));
        CheckMemory(scratch.get());
        return scratch.get();
    }
    XmlAttributeRecord *AddAttribute(XmlNodeRecord *node) {
        XmlAttributeRecord *attribute = create_attribute(node);
        if (attribute == nullptr) {
            throw std::bad_alloc();
        }
        append_attribute(node, attribute);
        return attribute;
    }
    XmlNodeRecord *Current() const { return m_open.back().node; }

    // --- content --------------------------------------------------------------------

    void ReadTextRun() {
        const size_t begin = m_pos;
        while (m_pos < m_length && m_text[m_pos] != '<') {
            ++m_pos;
        }
        XmlNodeRecord *text = AddNode(Current(), node_pcdata);
        text->value = m_text + begin;
        m_open.back().runs.push_back({Current()->children.size() - 1, begin, m_pos});
    }

    void ReadMarkup() {
        if (At("<?")) {
            ReadInstruction(Current());
        } else if (At("<!--")) {
            ReadComment(Current());
        } else if (At("<![CDATA[")) {
            ReadSection(Current(), "<![CDATA[", node_cdata, "CDATA section");
        } else if (At("<![INCLUDE[")) {
            ReadSection(Current(), "<![INCLUDE[", node_include, "INCLUDE section");
        } else if (At("<!DOCTYPE")) {
            ReadDoctype();
        } else if (At("</")) {
            ReadEndTag();
        } else {
            ReadStartTag();
        }
    }

    void ReadStartTag() {
        const size_t tagStart = m_pos++;
        const size_t nameBegin = m_pos;
        const size_t nameLength = ReadName();
        if (nameLength == 0) {
            m_pos = tagStart;
            Fail(m_pos + 1 >= m_length ? "unexpected end of input after '<'" : "stray '<'");
        }
        if (m_open.size() > kMaxDepth) {
            Fail("elements nested too deep");
        }
        XmlNodeRecord *element = AddNode(Current(), node_element);
        element->name = Span(nameBegin, m_pos);
        if (ReadAttributes(element, "/>", ">")) {
            m_open.push_back({element, nameLength, m_pos, {}});
        }
    }

    void ReadEndTag() {
        const size_t tagStart = m_pos;
        m_pos += 2;
        const size_t nameBegin = m_pos;
        const size_t nameLength = ReadName();
        SkipSpace();
        Expect(">", "'>' ending the end tag");
        const std::string name(m_text + nameBegin, nameLength);
        if (m_open.size() == 1) {
            m_pos = tagStart;
            Fail("end tag </" + name + "> without a start tag");
        }
        OpenNode &open = m_open.back();
        const std::string openName = NameOf(open);
        const bool anonymous = nameLength == 0 && openName == "anonymous";
        if (name != openName && !anonymous) {
            m_pos = tagStart;
            Fail("end tag </" + name + "> does not close <" + openName + ">");
        }
        if (anonymous) {
            open.node->name = nullptr;  // the writer's nameless element
        }
        if (tagStart == open.contentBegin) {
            // "<a></a>": one text child with an empty value.
            XmlNodeRecord *text = AddNode(open.node, node_pcdata);
            text->value = Span(tagStart, tagStart);
        }
        SettleTexts(open);
        m_open.pop_back();
    }

    // Reads attributes up to one of the closings; true when `open` ended the tag.
    // Bare names are attributes without value. A closing of null is not looked for.
    bool ReadAttributes(XmlNodeRecord *node, const char *empty, const char *open) {
        for (;;) {
            const bool spaced = SkipSpace();
            if (m_pos >= m_length) {
                Fail("unexpected end of input in a tag");
            }
            if (At(empty)) {
                m_pos += std::strlen(empty);
                return false;
            }
            if (open != nullptr && At(open)) {
                m_pos += std::strlen(open);
                return true;
            }
            if (!spaced) {
                Fail("bad attribute syntax: expected whitespace before an attribute");
            }
            ReadAttribute(node);
        }
    }

    void ReadAttribute(XmlNodeRecord *node) {
        const size_t nameBegin = m_pos;
        if (ReadName() == 0) {
            Fail("bad attribute syntax: expected an attribute name");
        }
        XmlAttributeRecord *attribute = AddAttribute(node);
        attribute->name = Span(nameBegin, m_pos);
        const size_t afterName = m_pos;
        SkipSpace();
        if (Peek() != '=') {
            m_pos = afterName;  // a bare attribute
            return;
        }
        ++m_pos;
        SkipSpace();
        const char quote = Peek();
        if (quote != '"' && quote != '\'') {
            Fail("bad attribute syntax: expected a quoted value");
        }
        ++m_pos;
        const size_t valueBegin = m_pos;
        while (m_pos < m_length && m_text[m_pos] != quote) {
            ++m_pos;
        }
        if (m_pos >= m_length) {
            Fail("unclosed attribute value");
        }
        attribute->value = Span(valueBegin, m_pos++);
    }

    void ReadInstruction(XmlNodeRecord *parent) {
        m_pos += 2;
        const size_t nameBegin = m_pos;
        if (ReadName() == 0) {
            Fail("expected a processing instruction name");
        }
        OwnedRecord scratch;
        XmlNodeRecord *instruction = AddNodeOrScratch(parent, node_pi, Option(parse_instructions), scratch);
        instruction->name = Span(nameBegin, m_pos);
        ReadAttributes(instruction, "?>", nullptr);
    }

    // "<!--" value "-->", "<![CDATA[" value "]]>" and the like.
    void ReadDelimited(XmlNodeRecord *parent, const char *opening, const char *closing, XmlNodeKind kind, bool keep,
                       const char *what) {
        m_pos += std::strlen(opening);
        const size_t begin = m_pos;
        const size_t end = Find(closing, what);
        m_pos = end + std::strlen(closing);
        if (keep) {
            AddNode(parent, kind)->value = Span(begin, end);
        }
    }
    void ReadComment(XmlNodeRecord *parent) {
        ReadDelimited(parent, "<!--", "-->", node_comment, Option(parse_comments), "comment");
    }
    void ReadSection(XmlNodeRecord *parent, const char *opening, XmlNodeKind kind, const char *what) {
        ReadDelimited(parent, opening, "]]>", kind, Option(parse_cdata), what);
    }

    // --- document type declaration ---------------------------------------------------

    void ReadDoctype() {
        if (m_open.size() > 1) {
            Fail("document type declaration inside an element");
        }
        m_pos += std::strlen("<!DOCTYPE");
        OwnedRecord scratch;
        XmlNodeRecord *doctype = AddNodeOrScratch(Current(), node_doctype, Option(parse_doctype), scratch);
        for (;;) {
            const bool spaced = SkipSpace();
            const char next = Peek();
            if (m_pos >= m_length) {
                Fail("unexpected end of input in a document type declaration");
            } else if (next == '>') {
                ++m_pos;
                return;
            } else if (next == '[') {
                ReadSubset(doctype);
                SkipSpace();
                Expect(">", "'>' ending the document type declaration");
                return;
            } else if (!spaced) {
                Fail("expected whitespace in a document type declaration");
            } else {
                ReadDoctypeWord(doctype);
            }
        }
    }

    // A word becomes an attribute with a name; a quoted text one with only a value.
    void ReadDoctypeWord(XmlNodeRecord *doctype) {
        XmlAttributeRecord *attribute = AddAttribute(doctype);
        const char quote = Peek();
        if (quote == '"' || quote == '\'') {
            const size_t begin = ++m_pos;
            while (m_pos < m_length && m_text[m_pos] != quote) {
                ++m_pos;
            }
            if (m_pos >= m_length) {
                Fail("unclosed quoted text in a document type declaration");
            }
            attribute->value = Span(begin, m_pos++);
            return;
        }
        const size_t begin = m_pos;
        while (m_pos < m_length && !IsSpace(m_text[m_pos]) && m_text[m_pos] != '>' && m_text[m_pos] != '[' &&
               m_text[m_pos] != '"' && m_text[m_pos] != '\'') {
            ++m_pos;
        }
        attribute->name = Span(begin, m_pos);
    }

    // "[" declarations "]". With parse_dtd_subset the declarations become children;
    // otherwise, or when none is found, the subset is kept whole as the value.
    void ReadSubset(XmlNodeRecord *doctype) {
        const size_t begin = ++m_pos;
        const size_t endsBefore = m_ends.size();
        const size_t childrenBefore = doctype->children.size();
        for (;;) {
            SkipSpace();
            if (m_pos >= m_length) {
                Fail("unclosed internal subset");
            }
            if (Peek() == ']') {
                break;
            }
            ReadSubsetItem(doctype);
        }
        if (!Option(parse_dtd_subset) || doctype->children.size() == childrenBefore) {
            for (size_t i = childrenBefore; i < doctype->children.size(); ++i) {
                free_record(doctype->children[i]);
            }
            doctype->children.resize(childrenBefore);
            m_ends.resize(endsBefore);
            doctype->value = Span(begin, m_pos);
        }
        ++m_pos;
    }

    void ReadSubsetItem(XmlNodeRecord *doctype) {
        static const struct {
            const char *opening;
            XmlNodeKind kind;
        } kDeclarations[] = {{"<!ENTITY", node_dtd_entity},
                             {"<!ATTLIST", node_dtd_attlist},
                             {"<!ELEMENT", node_dtd_element},
                             {"<!NOTATION", node_dtd_notation}};
        for (const auto &declaration : kDeclarations) {
            if (At(declaration.opening)) {
                m_pos += std::strlen(declaration.opening);
                ReadDeclaration(AddNode(doctype, declaration.kind));
                return;
            }
        }
        if (At("<!--")) {
            ReadComment(doctype);
        } else if (At("<?")) {
            ReadInstruction(doctype);
        } else if (At("<![INCLUDE[")) {
            ReadSection(doctype, "<![INCLUDE[", node_include, "INCLUDE section");
        } else if (Peek() == '%') {
            SkipEntityReference();
        } else {
            Fail("unexpected text in the internal subset");
        }
    }

    // After the keyword: whitespace, the name, then either '>' or one separating
    // whitespace character and the value up to the '>' outside quotes.
    void ReadDeclaration(XmlNodeRecord *declaration) {
        if (!SkipSpace()) {
            Fail("expected whitespace after the declaration keyword");
        }
        const size_t nameBegin = m_pos;
        while (m_pos < m_length && !IsSpace(m_text[m_pos]) && m_text[m_pos] != '>') {
            ++m_pos;
        }
        if (m_pos == nameBegin) {
            Fail("expected a declaration name");
        }
        declaration->name = Span(nameBegin, m_pos);
        if (m_pos >= m_length) {
            Fail("unclosed declaration");
        }
        if (m_text[m_pos] == '>') {
            ++m_pos;
            return;
        }
        const size_t valueBegin = ++m_pos;
        char quote = '\0';
        while (m_pos < m_length && (quote != '\0' || m_text[m_pos] != '>')) {
            const char c = m_text[m_pos++];
            if (quote == '\0' && (c == '"' || c == '\'')) {
                quote = c;
            } else if (c == quote) {
                quote = '\0';
            }
        }
        if (m_pos >= m_length) {
            Fail("unclosed declaration");
        }
        declaration->value = Span(valueBegin, m_pos++);
    }

    // "%name;" between declarations has no node of its own: it is passed over.
    void SkipEntityReference() {
        ++m_pos;
        if (ReadName() == 0 || Peek() != ';') {
            Fail("bad parameter entity reference");
        }
        ++m_pos;
    }

    // --- texts -----------------------------------------------------------------------

    // Settles the text runs of a node being closed: one run that is the whole content
    // stays verbatim; otherwise the writer's layout is taken off them and blank runs
    // are dropped (in one pass over the children, so closing stays linear).
    void SettleTexts(OpenNode &open) {
        std::vector<XmlNodeRecord *> &children = open.node->children;
        const bool sole = children.size() == 1 && open.runs.size() == 1;
        bool dropped = false;
        for (const TextRun &run : open.runs) {
            size_t begin = run.begin;
            size_t end = run.end;
            if (!sole && Option(parse_trim_layout)) {
                if (IsBlank(begin, end)) {
                    free_record(children[run.index]);
                    children[run.index] = nullptr;
                    dropped = true;
                    continue;
                }
                TrimLayout(begin, end, m_open.size() - 1);
            }
            children[run.index]->value = Span(begin, end);
        }
        if (dropped) {
            std::erase(children, nullptr);
        }
    }

    bool IsBlank(size_t begin, size_t end) const {
        for (size_t at = begin; at < end; ++at) {
            if (!IsSpace(m_text[at])) {
                return false;
            }
        }
        return true;
    }

    // The writer puts a line break and `depth` tabs before a text among other nodes
    // and a line break after it, followed by the next line's tabs.
    void TrimLayout(size_t &begin, size_t &end, size_t depth) const {
        if (m_text[begin] == '\n') {
            size_t at = begin + 1;
            while (at < end && at - begin - 1 < depth && m_text[at] == '\t') {
                ++at;
            }
            begin = at;
        }
        size_t tail = end;
        while (tail > begin && m_text[tail - 1] == '\t') {
            --tail;
        }
        if (tail > begin && m_text[tail - 1] == '\n') {
            end = tail - 1;
        }
    }

    static bool HoldsElement(const XmlNodeRecord *document) {
        for (const XmlNodeRecord *child : document->children) {
            if (child->kind == node_element) {
                return true;
            }
        }
        return false;
    }

    char *m_text;
    size_t m_length;
    size_t m_pos = 0;
    uint32_t m_options;
    std::vector<OpenNode> m_open;
    std::vector<size_t> m_ends;  // where the zeros go once the text is read
};

std::string Located(const char *text, size_t position, const std::string &message) {
    size_t line = 1;
    size_t column = 1;
    for (size_t at = 0; at < position; ++at) {
        if (text[at] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

void Report(std::string *error, const std::string &message) {
    if (error != nullptr) {
        *error = message;
    }
}

}  // namespace

bool XmlTree::parse(const char *text, size_t length, std::string *error) {
    clear();
    if (text == nullptr && length > 0) {
        Report(error, "no text");
        return false;
    }
    if (length > 0 && std::memchr(text, '\0', length) != nullptr) {
        const size_t at = static_cast<const char *>(std::memchr(text, '\0', length)) - text;
        Report(error, Located(text, at, "NUL character in the text"));
        return false;
    }
    m_parseBuffer = new (std::nothrow) char[length + 1];
    if (m_parseBuffer == nullptr) {
        Report(error, "out of memory");
        return false;
    }
    if (length > 0) {
        std::memcpy(m_parseBuffer, text, length);
    }
    m_parseBuffer[length] = '\0';
    Reader reader(m_parseBuffer, length, m_optionMask);
    try {
        m_root = reader.Read();
        m_parsePosition = reader.position();
        return true;
    } catch (const ParseError &failure) {
        Report(error, Located(text, failure.position, failure.what()));
    } catch (const std::bad_alloc &) {
        Report(error, "out of memory");
    }
    clear();
    return false;
}

bool XmlTree::parse_file(const char *path, std::string *error) {
    clear();
    std::ifstream file(path != nullptr ? path : "", std::ios::binary);
    if (!file) {
        Report(error, std::string("cannot open ") + (path != nullptr ? path : "(null)"));
        return false;
    }
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::bad_alloc &) {
        Report(error, "out of memory");
        return false;
    }
    if (file.bad()) {
        Report(error, std::string("cannot read ") + path);
        return false;
    }
    return parse(text.data(), text.size(), error);
}
