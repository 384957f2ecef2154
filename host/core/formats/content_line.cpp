#include "content_line.h"

namespace host {

std::string EscapeText(const std::string &utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        char c = utf8[i];
        if (c == '\\' || c == ';' || c == ',')
            out += '\\', out += c;
        else if (c == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n')
            continue;  // the '\n' follows
        else if (c == '\n' || c == '\r')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string StructuredValue(const std::vector<std::string> &components) {
    std::string out;
    for (size_t i = 0; i < components.size(); ++i) {
        if (i) out += ';';
        out += EscapeText(components[i]);
    }
    return out;
}

std::string ContentLine(const std::string &nameAndParameters, const std::string &value) {
    const std::string line = nameAndParameters + ":" + value;
    std::string out;
    size_t width = 75;  // octets on this line; a continuation line spends one on its space
    size_t start = 0;
    while (line.size() - start > width) {
        size_t cut = start + width;
        while (cut > start && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
        out += line.substr(start, cut - start) + "\r\n ";
        start = cut;
        width = 74;
    }
    return out + line.substr(start) + "\r\n";
}

}  // namespace host
