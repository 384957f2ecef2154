// The PC's ANSI code page on POSIX, through iconv: CP949 unless CEBRIDGE_CODEPAGE
// names another. iconv leaves the process's locale alone, which the agent owns.
#include "platform/platform.h"

#include "platform/ansi_encoder.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/support.h"

namespace platform {

namespace {

constexpr const char *kDefaultCodePage = "CP949";
constexpr const char *kWideEncoding = "UTF-16LE";
constexpr WCHAR kReplacementCharacter = 0xFFFD;  // what Windows puts for bytes that are no character

// Windows gives a look-alike for a Latin-1 letter the code page lacks (its "best
// fit"): the letter without its accent. '.' where it gives none and writes '?'.
constexpr WCHAR kFirstBestFit = 0x00C0;
constexpr char kBestFitFromC0[] = "AAAAAA.CEEEEIIII.NOOOOO..UUUUY..aaaaaa.ceeeeiiii.nooooo..uuuuy.y";

std::string BestFit(WCHAR unit) {
    if (unit < kFirstBestFit || unit >= kFirstBestFit + sizeof kBestFitFromC0 - 1) return std::string();
    const char letter = kBestFitFromC0[unit - kFirstBestFit];
    return letter == '.' ? std::string() : std::string(1, letter);
}

// CEBRIDGE_CODEPAGE as iconv names it: a Windows code-page number (949, 1252,
// 65001) or an iconv name.
std::string AnsiCodePageName() {
    const char *value = std::getenv("CEBRIDGE_CODEPAGE");
    if (value == nullptr || *value == '\0') return kDefaultCodePage;
    const std::string name = value;
    if (name.find_first_not_of("0123456789") != std::string::npos) return name;
    return name == "65001" ? "UTF-8" : "CP" + name;
}

// One conversion descriptor for the duration of one call; an unknown code page name
// falls back to the default rather than leaving the plug-in without text, and says
// so once in the log.
class Converter {
public:
    explicit Converter(bool toWide) {
        const std::string ansi = AnsiCodePageName();
        m_descriptor = Open(toWide, ansi.c_str());
        if (!IsOpen() && ansi != kDefaultCodePage) {
            static std::atomic<bool> logged{false};
            if (!logged.exchange(true))
                LogLine(LOG_FAULT, "CEBRIDGE_CODEPAGE[%s] is no code page: using %s", ansi.c_str(), kDefaultCodePage);
            m_descriptor = Open(toWide, kDefaultCodePage);
        }
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

}  // namespace

namespace detail {

AnsiEncoder::AnsiEncoder() : m_converter(new Converter(false)) {}

AnsiEncoder::~AnsiEncoder() { delete static_cast<Converter *>(m_converter); }

std::string AnsiEncoder::Encode(const WCHAR *units, size_t count) {
    auto *converter = static_cast<Converter *>(m_converter);
    char bytes[16];
    const char *input = reinterpret_cast<const char *>(units);
    size_t inLeft = count * sizeof(WCHAR);
    char *output = bytes;
    size_t outLeft = sizeof bytes;
    if (!converter->IsOpen()) return std::string();
    if (converter->Step(&input, &inLeft, &output, &outLeft) != 0) return count == 1 ? BestFit(units[0]) : std::string();
    return std::string(bytes, sizeof bytes - outLeft);
}

}  // namespace detail

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
