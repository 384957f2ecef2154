#include "xml_answer.h"

#include <cctype>

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

class Reader {
public:
    explicit Reader(const std::string &text) : m_text(text) {}

    bool Document(XmlElement *root, std::string *error) {
        std::vector<XmlElement> stack;
        bool haveRoot = false;
        while (m_pos < m_text.size()) {
            if (m_text[m_pos] != '<') {
                std::string run = TextRun();
                if (!stack.empty()) stack.back().text += run;
                continue;
            }
            if (Starts("<?")) {
                if (!SkipPast("?>")) return Fail(error, "unterminated processing instruction");
            } else if (Starts("<!--")) {
                if (!SkipPast("-->")) return Fail(error, "unterminated comment");
            } else if (Starts("<![CDATA[")) {
                size_t start = m_pos + 9;
                if (!SkipPast("]]>")) return Fail(error, "unterminated CDATA section");
                if (!stack.empty()) stack.back().text += m_text.substr(start, m_pos - 3 - start);
            } else if (Starts("<!")) {
                SkipDeclaration();
            } else if (Starts("</")) {
                m_pos += 2;
                std::string name = Name();
                SkipSpace();
                if (!Expect('>') || stack.empty() || stack.back().name != name)
                    return Fail(error, "mismatched end tag </" + name + ">");
                XmlElement done = std::move(stack.back());
                stack.pop_back();
                if (!Close(std::move(done), &stack, root, &haveRoot)) return Fail(error, "more than one root");
            } else {
                ++m_pos;
                XmlElement element;
                element.name = Name();
                if (element.name.empty()) return Fail(error, "element without a name");
                bool selfClosing = false;
                if (!Attributes(&element, &selfClosing)) return Fail(error, "malformed tag <" + element.name);
                if (!selfClosing) {
                    stack.push_back(std::move(element));
                } else if (!Close(std::move(element), &stack, root, &haveRoot)) {
                    return Fail(error, "more than one root");
                }
            }
        }
        if (!stack.empty()) return Fail(error, "unclosed element <" + stack.back().name + ">");
        if (!haveRoot) return Fail(error, "no root element");
        return true;
    }

private:
    static bool Close(XmlElement element, std::vector<XmlElement> *stack, XmlElement *root, bool *haveRoot) {
        if (!stack->empty()) {
            stack->back().children.push_back(std::move(element));
            return true;
        }
        if (*haveRoot) return false;
        *root = std::move(element);
        *haveRoot = true;
        return true;
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

    // The agent's answers put markup on CR LF separated lines; text runs are trimmed
    // of those line ends.
    std::string TextRun() {
        size_t end = m_text.find('<', m_pos);
        if (end == std::string::npos) end = m_text.size();
        std::string run = m_text.substr(m_pos, end - m_pos);
        m_pos = end;
        size_t first = run.find_first_not_of("\r\n");
        size_t last = run.find_last_not_of("\r\n");
        return first == std::string::npos ? std::string() : run.substr(first, last - first + 1);
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

    std::string Name() {
        size_t start = m_pos;
        while (m_pos < m_text.size()) {
            unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
            if (std::isspace(c) || c == '>' || c == '/' || c == '=') break;
            ++m_pos;
        }
        return m_text.substr(start, m_pos - start);
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
    bool Expect(char c) {
        if (m_pos >= m_text.size() || m_text[m_pos] != c) return false;
        ++m_pos;
        return true;
    }
    static bool Fail(std::string *error, const std::string &message) {
        if (error) *error = message;
        return false;
    }

    const std::string &m_text;
    size_t m_pos = 0;
};

}  // namespace

bool ParseXmlAnswer(const std::string &text, XmlElement *root, std::string *error) {
    Reader reader(text);
    return reader.Document(root, error);
}

}  // namespace host
