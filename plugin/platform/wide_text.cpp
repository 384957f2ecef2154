// Wide-text helpers shared by both halves of the OS seam.
#include "platform/platform.h"

#include "platform/ansi_encoder.h"

namespace platform {

namespace {

constexpr char kUnmappable = '?';  // what Windows puts for a character the code page lacks

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

size_t WideLength(const WCHAR *text) {
    size_t length = 0;
    if (text != nullptr) {
        while (text[length] != 0) ++length;
    }
    return length;
}

std::string WideToAnsiBounded(const WCHAR *text, size_t maxBytes) {
    std::string result;
    if (text == nullptr) return result;
    detail::AnsiEncoder encoder;
    size_t at = 0;
    if (encoder.AsciiAsItself()) {
        for (; text[at] != 0 && text[at] < 0x80 && result.size() < maxBytes; ++at)
            result += static_cast<char>(text[at]);
    }
    // One character at a time, so the result can stop after the last whole one.
    while (text[at] != 0) {
        const size_t units = IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2 : 1;
        std::string bytes = encoder.Encode(text + at, units);
        if (bytes.empty()) bytes = kUnmappable;
        if (result.size() + bytes.size() > maxBytes) break;
        result += bytes;
        at += units;
    }
    return result;
}

std::string WideToAnsi(const WCHAR *text) { return WideToAnsiBounded(text, static_cast<size_t>(-1)); }

}  // namespace platform
