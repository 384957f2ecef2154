// The registry's .reg text: "[KEY\PATH]" sections, each followed by its
// "NAME"=DATA lines ('@' the key's default value), ';' comments. The PC's registry
// file, where the plug-in looks for its settings, and an emulated phone's
// registry.reg are both in this form. Names and quoted strings escape '\' and '"'
// with a '\'.
#ifndef CEBRIDGE_HOST_REG_TEXT_H
#define CEBRIDGE_HOST_REG_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace host {

struct RegLine {
    enum class Kind { kBlank, kComment, kSection, kValue, kOther };
    Kind kind = Kind::kOther;
    std::string key;   // kSection: the key path between the brackets ("-" first: the key is deleted)
    std::string name;  // kValue: the value's name, unescaped; "" for '@'
    std::string data;  // kValue: what follows '=', trimmed ("\"text\"", dword:..., hex:..., hex(N):...)
};

// One line, trimmed (a hex value continued on the next lines is one line: ReadRegText).
RegLine ReadRegLine(const std::string &line);
// Every line of the text, the continuations of a hex value ("...,\" then the rest on
// the next line) joined into it.
std::vector<RegLine> ReadRegText(const std::string &text);
// A value's DATA: "text" (kRegString, its bytes the text as written), dword:8 hex
// digits (kRegDword, 4 bytes little-endian), hex:bytes (kRegBinary) or hex(TYPE):bytes
// (TYPE), bytes as two hex digits each between commas. False when DATA is none of them.
constexpr uint32_t kRegString = 1, kRegBinary = 3, kRegDword = 4;
struct RegData {
    uint32_t type = kRegString;
    std::string bytes;
};
bool ReadRegData(const std::string &data, RegData *value);

// "NAME"="VALUE", escaped.
std::string RegStringLine(const std::string &name, const std::string &value);
// `regText` with the string `name` of HKEY_LOCAL_MACHINE\`keyPath` set to `value`: its
// line replaced where the key holds it, else added before the blank line or key that
// ends the key's first lines, and the key added at the end where the text lacks it. Every other line stays as it was
// (a CR before a line's end is dropped); lines end in LF.
std::string SetRegString(const std::string &regText, const std::string &keyPath, const std::string &name,
                         const std::string &value);

}  // namespace host

#endif  // CEBRIDGE_HOST_REG_TEXT_H
