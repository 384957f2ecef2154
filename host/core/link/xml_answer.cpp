#include "xml_answer.h"

#include <cctype>
#include <set>

namespace host {

std::string XmlElement::Attribute(const std::string &key) const {
    for (const auto &[attributeName, value] : attributes)
        if (attributeName == key) return value;
    return {};
}

const XmlElement *XmlElement::Child(const std::string &childName) const {
    for (const XmlElement &child : children)
        if (child.name == childName) return &child;
    return nullptr;
}

std::string XmlElement::ChildText(const std::string &childName) const {
    const XmlElement *child = Child(childName);
    return child ? child->text : std::string();
}

std::vector<const XmlElement *> XmlElement::ChildrenNamed(const std::string &childName) const {
    std::vector<const XmlElement *> found;
    for (const XmlElement &child : children)
        if (child.name == childName) found.push_back(&child);
    return found;
}

namespace {

// The elements that hold other elements, and which: every other element of these
// documents holds text only. Text is written as it is, never escaped, so it may hold
// '<', '&', "]]>" and whole tags; only this shape tells markup from text.
const std::map<std::string, std::set<std::string>> &Containers() {
    static const std::map<std::string, std::set<std::string>> containers = {
        {"Contents-listing", {"Content"}},
        {"Content", {"ID", "Title", "Group", "Type", "Version", "StartTime", "Ext"}},
        {"Ext", {"XNam", "XVal"}},
        {"Capability", {"General", "Inbox", "Service"}},
        {"General", {"Manufacturer", "Model", "Language", "Memory", "Ext"}},
        {"Memory", {"MemType", "Location", "Free", "Used", "Ext"}},
        {"Inbox", {"Object"}},
        {"Service", {"Name", "UUID", "Version", "Object", "Access"}},
        {"Object", {"Type", "Name-Ext"}},
        {"Access", {"Protocol", "Target"}},
        {"folder-listing", {"folder", "file"}},
    };
    return containers;
}

bool IsNameEnd(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '>' || c == '/' || c == '='; }

class Reader {
public:
    Reader(const std::string &text, const std::function<void(XmlElement &&)> &eachTopChild)
        : m_text(text), m_eachTopChild(eachTopChild) {}

    // kPhoneRefused naming what is wrong when the text is no answer this reader understands.
    Outcome Document(XmlElement *root) {
        if (Prolog() && Element(root)) {
            SkipSpace();
            if (m_pos >= m_text.size()) return Outcome::Ok();
            Fail("text after the root element");
        }
        return Outcome::Failed(0, m_error, ErrorKind::kPhoneRefused);
    }

private:
    // The declaration, then the DTD text the plug-in splices in after it (kept: the
    // plug-in splices it again after any word of a text holding "?>"), comments.
    bool Prolog() {
        SkipSpace();
        if (Starts("<?")) {
            if (!SkipPast("?>")) return Fail("unterminated processing instruction");
        }
        size_t dtdStart = m_pos;
        for (;;) {
            SkipSpace();
            if (Starts("<!--")) {
                if (!SkipPast("-->")) return Fail("unterminated comment");
            } else if (Starts("<?")) {
                if (!SkipPast("?>")) return Fail("unterminated processing instruction");
            } else if (Starts("<!")) {
                SkipDeclaration();
            } else {
                break;
            }
        }
        size_t dtdEnd = m_pos;
        while (dtdEnd > dtdStart && (m_text[dtdEnd - 1] == '\r' || m_text[dtdEnd - 1] == '\n')) --dtdEnd;
        if (dtdEnd > dtdStart) m_dtd = m_text.substr(dtdStart, dtdEnd - dtdStart);
        if (m_pos >= m_text.size() || m_text[m_pos] != '<') return Fail("no root element");
        return true;
    }

    // The element starting at m_pos, inside the elements of m_open.
    bool Element(XmlElement *element) {
        ++m_pos;
        element->name = Name();
        if (element->name.empty()) return Fail("element without a name");
        bool selfClosing = false;
        if (!Attributes(element, &selfClosing)) return Fail("malformed tag <" + element->name);
        if (selfClosing) return true;
        if (!Containers().count(element->name)) return Text(element);
        m_open.push_back(element->name);
        bool ok = Children(element);
        m_open.pop_back();
        return ok;
    }

    bool Children(XmlElement *element) {
        const std::set<std::string> &allowed = Containers().at(element->name);
        const std::string endTag = "</" + element->name + ">";
        for (;;) {
            SkipSpace();
            if (m_pos >= m_text.size()) return Fail("unclosed element <" + element->name + ">");
            if (Starts(endTag.c_str())) {
                m_pos += endTag.size();
                return true;
            }
            if (m_text[m_pos] != '<') return Fail("text inside <" + element->name + ">");
            std::string childName = NameAt(m_pos + 1);
            if (!allowed.count(childName)) return Fail("unexpected <" + childName + "> in <" + element->name + ">");
            XmlElement child;
            if (!Element(&child)) return false;
            if (m_eachTopChild && m_open.size() == 1)
                m_eachTopChild(std::move(child));
            else
                element->children.push_back(std::move(child));
        }
    }

    // A text element's text runs to the first end tag of its name that is followed by
    // what may follow it: a sibling, or the parent's end tag followed by what may
    // follow that, up to the end of the document.
    bool Text(XmlElement *element) {
        const std::string endTag = "</" + element->name + ">";
        for (size_t end = m_text.find(endTag, m_pos); end != std::string::npos; end = m_text.find(endTag, end + 1)) {
            if (!MayFollow(end + endTag.size(), m_open.size())) continue;
            element->text = TextValue(m_text.substr(m_pos, end - m_pos));
            m_pos = end + endTag.size();
            return true;
        }
        return Fail("unclosed element <" + element->name + ">");
    }

    // Whether what starts at `pos` may follow inside the first `open` elements of m_open.
    bool MayFollow(size_t pos, size_t open) const {
        while (pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[pos]))) ++pos;
        if (open == 0 || pos >= m_text.size()) return pos >= m_text.size();
        const std::string &parent = m_open[open - 1];
        const std::string parentEnd = "</" + parent + ">";
        if (m_text.compare(pos, parentEnd.size(), parentEnd) == 0) return MayFollow(pos + parentEnd.size(), open - 1);
        if (m_text[pos] != '<') return false;
        const std::string name = NameAt(pos + 1);
        if (!Containers().at(parent).count(name)) return false;
        return parent != "Content" || (name != "Group" && name != "Type") || IsFixedWord(pos, name);
    }

    // A listing's Group and Type are the plug-in's own words ("TRG-SCHEDULE",
    // "callhistory/recv"): a text holding "</Title> <Group>x" is no Group.
    bool IsFixedWord(size_t pos, const std::string &name) const {
        const std::string start = "<" + name + ">", end = "</" + name + ">";
        if (m_text.compare(pos, start.size(), start) != 0) return false;
        pos += start.size();
        while (pos < m_text.size() &&
               (std::isalnum(static_cast<unsigned char>(m_text[pos])) || m_text[pos] == '-' || m_text[pos] == '/'))
            ++pos;
        return m_text.compare(pos, end.size(), end) == 0;
    }

    // What the plug-in wrote for a text: the plug-in puts a line end before every word
    // starting with '<' and joins other words with one space; a CDATA section stands
    // on lines of its own. The DTD spliced after a word holding "?>" is taken out.
    std::string TextValue(std::string raw) const {
        const std::string cdataStart = "<![CDATA[", cdataEnd = "]]>";
        size_t first = raw.find_first_not_of("\r\n");
        size_t last = raw.find_last_not_of("\r\n");
        if (first != std::string::npos && first > 0 && last + 1 < raw.size() &&
            raw.compare(first, cdataStart.size(), cdataStart) == 0 && last + 1 >= first + cdataStart.size() + 3 &&
            raw.compare(last + 1 - cdataEnd.size(), cdataEnd.size(), cdataEnd) == 0)
            raw = raw.substr(first + cdataStart.size(), last + 1 - cdataEnd.size() - first - cdataStart.size());
        if (!m_dtd.empty()) {
            for (size_t at = raw.find("?>"); at != std::string::npos; at = raw.find("?>", at + 2))
                if (raw.compare(at + 2, m_dtd.size(), m_dtd) == 0) raw.erase(at + 2, m_dtd.size());
        }
        // Line ends alone: an empty CDATA section, or a text of spaces.
        if (raw.find_first_not_of("\r\n") == std::string::npos) return {};
        std::string value;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
                value += ' ';
                ++i;
            } else {
                value += raw[i];
            }
        }
        return value;
    }

    bool Attributes(XmlElement *element, bool *selfClosing) {
        for (;;) {
            SkipSpace();
            if (m_pos >= m_text.size()) return false;
            if (Starts("/>")) {
                m_pos += 2;
                *selfClosing = true;
                return true;
            }
            if (m_text[m_pos] == '>') {
                ++m_pos;
                return true;
            }
            std::string key = Name();
            if (key.empty()) return false;
            std::string value;
            SkipSpace();
            if (m_pos < m_text.size() && m_text[m_pos] == '=') {
                ++m_pos;
                SkipSpace();
                if (m_pos >= m_text.size() || (m_text[m_pos] != '"' && m_text[m_pos] != '\'')) return false;
                char quote = m_text[m_pos++];
                size_t end = m_text.find(quote, m_pos);
                if (end == std::string::npos) return false;
                value = m_text.substr(m_pos, end - m_pos);
                m_pos = end + 1;
            }
            element->attributes.emplace_back(std::move(key), std::move(value));
        }
    }

    // A declaration such as <!DOCTYPE x [ ... ]> or <!ELEMENT ...>: skips to its end,
    // stepping over an internal subset in brackets.
    void SkipDeclaration() {
        int depth = 0;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos++];
            if (c == '[') ++depth;
            if (c == ']') --depth;
            if (c == '>' && depth <= 0) return;
        }
    }

    std::string NameAt(size_t pos) const {
        size_t end = pos;
        while (end < m_text.size() && !IsNameEnd(m_text[end])) ++end;
        return m_text.substr(pos, end - pos);
    }
    std::string Name() {
        std::string name = NameAt(m_pos);
        m_pos += name.size();
        return name;
    }

    void SkipSpace() {
        while (m_pos < m_text.size() && std::isspace(static_cast<unsigned char>(m_text[m_pos]))) ++m_pos;
    }
    bool Starts(const char *prefix) const {
        return m_text.compare(m_pos, std::char_traits<char>::length(prefix), prefix) == 0;
    }
    bool SkipPast(const char *marker) {
        size_t end = m_text.find(marker, m_pos);
        if (end == std::string::npos) return false;
        m_pos = end + std::char_traits<char>::length(marker);
        return true;
    }
    bool Fail(const std::string &message) {
        m_error = message;
        return false;
    }

    const std::string &m_text;
    const std::function<void(XmlElement &&)> &m_eachTopChild;
    size_t m_pos = 0;
    std::string m_dtd;
    std::vector<std::string> m_open;  // the elements holding elements that are open, outermost first
    std::string m_error;              // what the first failure found
};

}  // namespace

Outcome ParseXmlAnswer(const std::string &text, XmlElement *root,
                       const std::function<void(XmlElement &&)> &eachTopChild) {
    Reader reader(text, eachTopChild);
    return reader.Document(root);
}

}  // namespace host
