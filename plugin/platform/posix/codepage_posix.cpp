// The PC's ANSI code page on POSIX, through iconv: CP949 unless CEBRIDGE_CODEPAGE
// names another. iconv leaves the process's locale alone, which the agent owns.
#include "platform/platform.h"

#include <iconv.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

constexpr const char *kDefaultCodePage = "CP949";
constexpr const char *kWideEncoding = "UTF-16LE";
constexpr char kUnmappable = '?';            // what Windows puts for a character the code page lacks
constexpr WCHAR kReplacementCharacter = 0xFFFD;  // what it puts for bytes that are no character

const char *AnsiCodePageName() {
    const char *name = std::getenv("CEBRIDGE_CODEPAGE");
    return name != nullptr && *name != '\0' ? name : kDefaultCodePage;
}

// One conversion descriptor for the duration of one call; an unknown code page name
// falls back to the default rather than leaving the plug-in without text.
class Converter {
public:
    explicit Converter(bool toWide) {
        const char *ansi = AnsiCodePageName();
        m_descriptor = Open(toWide, ansi);
        if (!IsOpen() && std::strcmp(ansi, kDefaultCodePage) != 0) m_descriptor = Open(toWide, kDefaultCodePage);
    }
    ~Converter() {
        if (IsOpen()) iconv_close(m_descriptor);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool IsOpen() const { return m_descriptor != reinterpret_cast<iconv_t>(-1); }
    // One iconv step: moves the pointers on; 0 when all input was taken, else the error
    // (E2BIG: output full; EILSEQ/EINVAL: no convertible unit at the input).
    int Step(const char **input, size_t *inLeft, char **output, size_t *outLeft) {
        if (iconv(m_descriptor, const_cast<char **>(input), inLeft, output, outLeft) != static_cast<size_t>(-1))
            return 0;
        int error = errno;
        if (error != E2BIG) iconv(m_descriptor, nullptr, nullptr, nullptr, nullptr);
        return error;
    }

private:
    static iconv_t Open(bool toWide, const char *ansi) {
        return toWide ? iconv_open(kWideEncoding, ansi) : iconv_open(ansi, kWideEncoding);
    }
    iconv_t m_descriptor;
};

bool IsHighSurrogate(WCHAR unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(WCHAR unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string WideToAnsiBounded(const WCHAR *text, size_t maxBytes) {
    std::string result;
    Converter converter(false);
    if (text == nullptr || !converter.IsOpen()) return result;
    // One character at a time, so the result can stop after the last whole one.
    for (size_t at = 0; text[at] != 0;) {
        size_t units = IsHighSurrogate(text[at]) && IsLowSurrogate(text[at + 1]) ? 2 : 1;
        char bytes[16];
        const char *input = reinterpret_cast<const char *>(text + at);
        size_t inLeft = units * sizeof(WCHAR);
        char *output = bytes;
        size_t outLeft = sizeof bytes;
        size_t written = 1;
        if (converter.Step(&input, &inLeft, &output, &outLeft) == 0)
            written = sizeof bytes - outLeft;
        else
            bytes[0] = kUnmappable;
        if (result.size() + written > maxBytes) break;
        result.append(bytes, written);
        at += units;
    }
    return result;
}

std::string WideToAnsi(const WCHAR *text) { return WideToAnsiBounded(text, static_cast<size_t>(-1)); }

WideString AnsiToWide(const char *text) {
    WideString result;
    Converter converter(true);
    if (text == nullptr || !converter.IsOpen()) return result;
    const size_t length = std::strlen(text);
    result.reserve(length);
    // Whole runs convert in one call; a byte that starts no character becomes U+FFFD.
    for (size_t at = 0; at < length;) {
        WCHAR units[256];
        const char *input = text + at;
        size_t inLeft = length - at;
        char *output = reinterpret_cast<char *>(units);
        size_t outLeft = sizeof units;
        int error = converter.Step(&input, &inLeft, &output, &outLeft);
        result.append(units, (sizeof units - outLeft) / sizeof(WCHAR));
        at = length - inLeft;
        if (error != 0 && error != E2BIG) {
            result.push_back(kReplacementCharacter);
            ++at;
        }
    }
    return result;
}

}  // namespace platform
