// The .reg text (see reg_text.h).
#include "reg_text.h"

#include <algorithm>
#include <sstream>

namespace host {
namespace {

std::string Trim(const std::string &text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A quoted text starting at text[pos] ('"'); \\ and \" are escapes. Advances pos past it.
bool ReadQuoted(const std::string &text, size_t &pos, std::string &out) {
    if (pos >= text.size() || text[pos] != '"') return false;
    for (++pos; pos < text.size(); ++pos) {
        if (text[pos] == '\\' && pos + 1 < text.size()) {
            out += text[++pos];
        } else if (text[pos] == '"') {
            ++pos;
            return true;
        } else {
            out += text[pos];
        }
    }
    return false;
}

// 1 to 8 hex digits.
bool HexNumber(const std::string &digits) {
    return !digits.empty() && digits.size() <= 8 &&
           digits.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

// "00,ff, 1a": each byte two hex digits at most; empty items are passed over.
bool ReadHexBytes(const std::string &list, std::string *bytes) {
    std::istringstream in(list);
    for (std::string byte; std::getline(in, byte, ',');) {
        byte = Trim(byte);
        if (byte.empty()) continue;
        if (byte.size() > 2 || !HexNumber(byte)) return false;
        *bytes += static_cast<char>(std::stoul(byte, nullptr, 16));
    }
    return true;
}

std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// Lines with hex continuations ("...,\" + next line) joined, each trimmed.
std::vector<std::string> LogicalLines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    bool continues = false;
    for (std::string line; std::getline(in, line);) {
        line = Trim(line);
        if (continues)
            lines.back() += line;
        else
            lines.push_back(line);
        continues =
            !lines.back().empty() && lines.back().back() == '\\' && lines.back().find("=hex") != std::string::npos;
        if (continues) lines.back().pop_back();
    }
    return lines;
}

}  // namespace

RegLine ReadRegLine(const std::string &text) {
    const std::string line = Trim(text);
    RegLine read;
    if (line.empty()) {
        read.kind = RegLine::Kind::kBlank;
    } else if (line[0] == ';') {
        read.kind = RegLine::Kind::kComment;
    } else if (line.front() == '[' && line.back() == ']') {
        read.kind = RegLine::Kind::kSection;
        read.key = line.substr(1, line.size() - 2);
    } else {
        size_t pos = line[0] == '@' ? 1 : 0;
        if ((pos == 1 || ReadQuoted(line, pos, read.name)) && pos < line.size() && line[pos] == '=') {
            read.kind = RegLine::Kind::kValue;
            read.data = Trim(line.substr(pos + 1));
        }
    }
    return read;
}

std::vector<RegLine> ReadRegText(const std::string &text) {
    std::vector<RegLine> lines;
    for (const std::string &line : LogicalLines(text)) lines.push_back(ReadRegLine(line));
    return lines;
}

bool ReadRegData(const std::string &data, RegData *value) {
    size_t pos = 0;
    *value = {};
    if (ReadQuoted(data, pos, value->bytes)) return pos == data.size();
    if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (!HexNumber(digits)) return false;
        const auto number = static_cast<uint32_t>(std::stoul(digits, nullptr, 16));
        value->type = kRegDword;
        for (int shift = 0; shift < 32; shift += 8) value->bytes += static_cast<char>(number >> shift & 0xFF);
        return true;
    }
    if (data.rfind("hex:", 0) == 0) {
        value->type = kRegBinary;
        return ReadHexBytes(data.substr(4), &value->bytes);
    }
    const size_t close = data.find("):");
    if (data.rfind("hex(", 0) != 0 || close == std::string::npos || !HexNumber(data.substr(4, close - 4))) return false;
    value->type = static_cast<uint32_t>(std::stoul(data.substr(4, close - 4), nullptr, 16));
    return ReadHexBytes(data.substr(close + 2), &value->bytes);
}

std::string RegStringLine(const std::string &name, const std::string &value) {
    return Quoted(name) + "=" + Quoted(value);
}

std::string SetRegString(const std::string &regText, const std::string &keyPath, const std::string &name,
                         const std::string &value) {
    const std::string key = "HKEY_LOCAL_MACHINE\\" + keyPath;
    const std::string valueLine = RegStringLine(name, value);
    std::vector<std::string> lines;
    std::istringstream in(regText);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (lines.empty()) lines = {"Windows Registry Editor Version 5.00"};

    auto isSection = [](const std::string &line) { return ReadRegLine(line).kind == RegLine::Kind::kSection; };
    auto sectionAt = std::find_if(lines.begin(), lines.end(), [&](const std::string &line) {
        const RegLine read = ReadRegLine(line);
        return read.kind == RegLine::Kind::kSection && read.key == key;
    });
    if (sectionAt == lines.end()) {
        if (!lines.back().empty()) lines.push_back("");
        lines.push_back("[" + key + "]");
        lines.push_back(valueLine);
    } else {
        auto at = sectionAt + 1;
        for (; at != lines.end() && !isSection(*at); ++at) {
            const RegLine read = ReadRegLine(*at);
            if (read.kind == RegLine::Kind::kValue && read.name == name) {
                *at = valueLine;
                break;
            }
        }
        if (at == lines.end() || isSection(*at)) {
            auto insertAt = sectionAt + 1;
            while (insertAt != lines.end() && !insertAt->empty() && !isSection(*insertAt)) ++insertAt;
            lines.insert(insertAt, valueLine);
        }
    }
    std::string out;
    for (const std::string &line : lines) out += line + "\n";
    return out;
}

}  // namespace host
