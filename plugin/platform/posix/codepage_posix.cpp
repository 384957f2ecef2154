// The PC's ANSI code page on POSIX, through iconv: CP949 unless CEBRIDGE_CODEPAGE
// names another. iconv leaves the process's locale alone, which the agent owns.
#include "platform/platform.h"

#include "platform/ansi_encoder.h"

#include <iconv.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
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

bool IsAscii(char character) { return static_cast<unsigned char>(character) < 0x80; }

// One conversion descriptor; an unknown code page name falls back to the default
// rather than leaving the plug-in without text, and says so once in the log.
class Converter {
public:
    Converter(bool toWide, const std::string &ansi) : m_toWide(toWide) {
        m_descriptor = Open(toWide, ansi.c_str());
        if (!IsOpen() && ansi != kDefaultCodePage) {
            static std::atomic<bool> logged{false};
            if (!logged.exchange(true))
                LogLine(LOG_FAULT, "CEBRIDGE_CODEPAGE[%s] is no code page: using %s", ansi.c_str(), kDefaultCodePage);
            m_descriptor = Open(toWide, kDefaultCodePage);
        }
        m_asciiAsItself = IsOpen() && EveryAsciiCharacterIsItself();
    }
    ~Converter() {
        if (IsOpen()) iconv_close(m_descriptor);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;

    bool IsOpen() const { return m_descriptor != reinterpret_cast<iconv_t>(-1); }
    // True when each ASCII character (but zero) converts alone to itself: one byte
    // for one unit of the same value. Such characters may then be copied without
    // iconv and give the same result; a code page that gives anything else for one
    // of them (EBCDIC, UTF-16, a shifting one) is always converted.
    bool AsciiAsItself() const { return m_asciiAsItself; }
    // Back to the initial shift state, as a descriptor just opened.
    void Reset() { iconv(m_descriptor, nullptr, nullptr, nullptr, nullptr); }
    // One iconv step: moves the pointers on; 0 when all input was taken, else the error
    // (E2BIG: output full; EILSEQ/EINVAL: no convertible unit at the input).
    int Step(const char **input, size_t *inLeft, char **output, size_t *outLeft) {
        if (iconv(m_descriptor, const_cast<char **>(input), inLeft, output, outLeft) != static_cast<size_t>(-1))
            return 0;
        int error = errno;
        if (error != E2BIG) Reset();
        return error;
    }

private:
    static iconv_t Open(bool toWide, const char *ansi) {
        return toWide ? iconv_open(kWideEncoding, ansi) : iconv_open(ansi, kWideEncoding);
    }
    // Converts `text` from the initial state: true when it gives the same characters.
    bool ConvertsToItself(const std::string &text) {
        WideString units(text.begin(), text.end());
        const char *input = m_toWide ? text.data() : reinterpret_cast<const char *>(units.data());
        size_t inLeft = m_toWide ? text.size() : units.size() * sizeof(WCHAR);
        std::string output(2 * inLeft + 16, '\0');
        char *at = output.data();
        size_t outLeft = output.size();
        Reset();
        const bool whole = Step(&input, &inLeft, &at, &outLeft) == 0 && inLeft == 0;
        Reset();
        output.resize(output.size() - outLeft);
        const std::string expected =
            m_toWide ? std::string(reinterpret_cast<const char *>(units.data()), units.size() * sizeof(WCHAR)) : text;
        return whole && output == expected;
    }
    // Each character alone, then all of them in one run.
    bool EveryAsciiCharacterIsItself() {
        std::string all;
        for (int value = 1; value < 0x80; ++value) {
            const char character = static_cast<char>(value);
            if (!ConvertsToItself(std::string(1, character))) return false;
            all += character;
        }
        return ConvertsToItself(all);
    }

    bool m_toWide;
    iconv_t m_descriptor;
    bool m_asciiAsItself = false;
};

// The descriptors of one thread, kept open from its first conversion until it ends:
// opening one makes glibc load the code page's module, which costs far more than
// converting a file name. Opened again when CEBRIDGE_CODEPAGE names another code page.
class ThreadConverters {
public:
    // The converter for the code page named now, in its initial state.
    Converter &Get(bool toWide) {
        const std::string ansi = AnsiCodePageName();
        if (ansi != m_codePage) {
            m_toWide.reset();
            m_fromWide.reset();
            m_codePage = ansi;
        }
        std::unique_ptr<Converter> &slot = toWide ? m_toWide : m_fromWide;
        if (!slot) slot = std::make_unique<Converter>(toWide, ansi);
        if (slot->IsOpen()) slot->Reset();
        return *slot;
    }

private:
    std::string m_codePage;
    std::unique_ptr<Converter> m_toWide;
    std::unique_ptr<Converter> m_fromWide;
};

Converter &ThreadConverter(bool toWide) {
    thread_local ThreadConverters converters;
    return converters.Get(toWide);
}

}  // namespace

namespace detail {

AnsiEncoder::AnsiEncoder() : m_converter(&ThreadConverter(false)) {}

AnsiEncoder::~AnsiEncoder() = default;

bool AnsiEncoder::AsciiAsItself() const { return static_cast<Converter *>(m_converter)->AsciiAsItself(); }

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
    Converter &converter = ThreadConverter(true);
    if (text == nullptr || !converter.IsOpen()) return result;
    const size_t length = std::strlen(text);
    result.reserve(length);
    size_t at = 0;
    // A leading ASCII run starts at a character boundary and stays on them; past the
    // first other byte an ASCII value may be the second byte of a character.
    if (converter.AsciiAsItself()) {
        while (at < length && IsAscii(text[at])) result.push_back(static_cast<unsigned char>(text[at++]));
    }
    // Whole runs convert in one call; a byte that starts no character becomes U+FFFD.
    while (at < length) {
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
