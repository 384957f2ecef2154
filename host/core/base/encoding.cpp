#include "encoding.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>
#include <map>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace host {
namespace {

#if defined(_WIN32)
std::wstring ToWide(const std::string &text, UINT from) {
    int length = MultiByteToWideChar(from, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(from, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string FromWide(const std::wstring &wide, UINT to) {
    int length = WideCharToMultiByte(to, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(to, 0, wide.data(), int(wide.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::string Recode(const std::string &text, UINT from, UINT to) { return FromWide(ToWide(text, from), to); }

// As WideCharToMultiByte to the ANSI code page, with no look-alike letters: what the
// code page cannot say becomes `lost`.
std::string AnsiMarkingLost(const std::wstring &wide, char lost) {
    if (GetACP() == CP_UTF8) return FromWide(wide, CP_ACP);
    const char lostText[2] = {lost, '\0'};
    int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, lostText, nullptr);
    std::string out(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), out.data(), length, lostText,
                        nullptr);
    return out;
}
#else
// CEBRIDGE_CODEPAGE as iconv names it, read as the plug-in reads it: a Windows
// code-page number (949, 1252, 65001) or an iconv name.
std::string DeviceCodePage() {
    const char *value = std::getenv("CEBRIDGE_CODEPAGE");
    if (!value || !*value) return "CP949";
    std::string name = value;
    if (name.find_first_not_of("0123456789") != std::string::npos) return name;
    return name == "65001" ? "UTF-8" : "CP" + name;
}

// The bytes of the character at the start of UTF-8 text (1 for a stray byte).
size_t Utf8CharLength(const char *text, size_t left) {
    size_t length = 1;
    while (length < left && length < 4 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) ++length;
    return length;
}

// The converters of this thread, kept open: glibc loads a converter's module on
// each open and unloads it on close, and a listing converts every name.
class Converters {
public:
    Converters() = default;
    Converters(const Converters &) = delete;
    Converters &operator=(const Converters &) = delete;
    ~Converters() {
        for (auto &[names, converter] : m_open)
            if (converter != kNone) iconv_close(converter);
    }
    inline static const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    // The converter from `from` to `to` in its initial state, or kNone.
    iconv_t Get(const std::string &from, const std::string &to) {
        auto found = m_open.find({from, to});
        if (found == m_open.end())
            found = m_open.emplace(std::make_pair(from, to), iconv_open(to.c_str(), from.c_str())).first;
        if (found->second != kNone) iconv(found->second, nullptr, nullptr, nullptr, nullptr);
        return found->second;
    }

private:
    std::map<std::pair<std::string, std::string>, iconv_t> m_open;
};

thread_local Converters t_converters;

// Character sets that spell ASCII as ASCII, so that ASCII text needs no converting.
bool KeepsAscii(const std::string &charset) {
    static const char *const kSets[] = {
        "UTF-8",      "US-ASCII",   "ASCII",       "CP874",        "CP932",       "CP936",     "CP949",  "CP950",
        "EUC-KR",     "EUC-JP",     "GBK",         "GB2312",       "BIG5",        "SHIFT_JIS", "KOI8-R", "CP1250",
        "CP1251",     "CP1252",     "CP1253",      "CP1254",       "CP1255",      "CP1256",    "CP1257", "CP1258",
        "ISO-8859-1", "ISO-8859-2", "ISO-8859-15", "WINDOWS-1251", "WINDOWS-1252"};
    std::string name = charset;
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return std::find(std::begin(kSets), std::end(kSets), name) != std::end(kSets);
}

bool IsAscii(const std::string &text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Converts with iconv; a character that cannot be converted becomes one `lost` ('?' by
// default, so that text from the phone is always shown).
std::string Recode(const std::string &text, const std::string &from, const std::string &to, char lost = '?') {
    if (text.empty()) return text;
    if (IsAscii(text) && KeepsAscii(from) && KeepsAscii(to)) return text;
    iconv_t converter = t_converters.Get(from, to);
    if (converter == Converters::kNone) return text;
    std::string out;
    char buffer[1024];
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    while (inLeft > 0) {
        char *outPtr = buffer;
        size_t outLeft = sizeof buffer;
        size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, size_t(outPtr - buffer));
        if (result == size_t(-1) && errno != E2BIG) {
            out += lost;
            size_t skip = from == "UTF-8" ? Utf8CharLength(in, inLeft) : 1;
            in += skip;
            inLeft -= skip;
        }
    }
    char *outPtr = buffer;  // the shift sequence that ends stateful output
    size_t outLeft = sizeof buffer;
    iconv(converter, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer, size_t(outPtr - buffer));
    return out;
}
#endif

}  // namespace

#if defined(_WIN32)
Outcome CheckCodePage() { return Outcome::Ok(); }  // the system's ANSI code page
#else
Outcome CheckCodePage() {
    if (t_converters.Get(DeviceCodePage(), "UTF-8") != Converters::kNone) return Outcome::Ok();
    return BadInput("CEBRIDGE_CODEPAGE '" + std::string(std::getenv("CEBRIDGE_CODEPAGE")) +
                    "' is no code page: give a Windows code-page number (949, 1252, 65001) or an iconv name (CP949, "
                    "EUC-KR, UTF-8)");
}
#endif

#if defined(_WIN32)
std::wstring WideFromUtf8(const std::string &utf8) { return ToWide(utf8, CP_UTF8); }
std::string Utf8FromWide(const std::wstring &wide) { return FromWide(wide, CP_UTF8); }
std::string DeviceToTerminal(const std::string &ansi) { return Recode(ansi, CP_ACP, CP_UTF8); }
std::string TerminalToDevice(const std::string &text) { return AnsiMarkingLost(ToWide(text, CP_UTF8), '?'); }
std::string TerminalToDeviceName(const std::string &text) { return AnsiMarkingLost(ToWide(text, CP_UTF8), kUnsayable); }
std::string DeviceCodePageName() { return "CP" + std::to_string(GetACP()); }
std::string CodePageWayOut() {
    return "Windows takes it from the system's language for non-Unicode programs (Region settings, "
           "Administrative); UTF-8 (65001) says every name";
}
std::string CharsetToUtf8(const std::string &text, const std::string &charset) {
    static const std::pair<const char *, UINT> kCodePages[] = {
        {"UTF-8", CP_UTF8},     {"US-ASCII", 20127},  {"ISO-8859-1", 28591},   {"ISO-8859-15", 28605},
        {"WINDOWS-1252", 1252}, {"EUC-KR", 949},      {"KS_C_5601-1987", 949}, {"CP949", 949},
        {"SHIFT_JIS", 932},     {"GB2312", 936},      {"BIG5", 950},           {"WINDOWS-1251", 1251},
        {"KOI8-R", 20866},      {"ISO-8859-2", 28592}};
    std::string name = charset;
    for (char &c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const auto &[known, codePage] : kCodePages)
        if (name == known) return codePage == CP_UTF8 ? text : Recode(text, codePage, CP_UTF8);
    return text;
}
#else
std::string DeviceToTerminal(const std::string &ansi) { return Recode(ansi, DeviceCodePage(), "UTF-8"); }
std::string TerminalToDevice(const std::string &text) { return Recode(text, "UTF-8", DeviceCodePage()); }
std::string TerminalToDeviceName(const std::string &text) {
    return Recode(text, "UTF-8", DeviceCodePage(), kUnsayable);
}
std::string DeviceCodePageName() { return DeviceCodePage(); }
std::string CodePageWayOut() { return "set CEBRIDGE_CODEPAGE to one that can, such as 65001"; }
std::string CharsetToUtf8(const std::string &text, const std::string &charset) {
    return Recode(text, charset, "UTF-8");
}
#endif

std::string ShownUnsayable(const std::string &name) {
    std::string shown = name;
    std::replace(shown.begin(), shown.end(), kUnsayable, '?');
    return DeviceToTerminal(shown);
}

std::string Utf16ToUtf8(const std::string &bytes, bool bigEndian) {
    auto unit = [&](size_t i) {
        unsigned char first = static_cast<unsigned char>(bytes[i]), second = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? uint32_t(first << 8 | second) : uint32_t(second << 8 | first);
    };
    std::string out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        uint32_t code = unit(i);
        bool high = code >= 0xD800 && code < 0xDC00;
        if (high && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (code >= 0xD800 && code < 0xE000) {
            code = 0xFFFD;
        }
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xC0 | code >> 6), out += char(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += char(0xE0 | code >> 12), out += char(0x80 | (code >> 6 & 0x3F)), out += char(0x80 | (code & 0x3F));
        } else {
            out += char(0xF0 | code >> 18), out += char(0x80 | (code >> 12 & 0x3F));
            out += char(0x80 | (code >> 6 & 0x3F)), out += char(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::string TextFileAsUtf8(const std::string &bytes) {
    if (bytes.rfind("\xff\xfe", 0) == 0) return Utf16ToUtf8(bytes.substr(2), false);
    if (bytes.rfind("\xfe\xff", 0) == 0) return Utf16ToUtf8(bytes.substr(2), true);
    return bytes;
}

std::string AsciiUpper(std::string text) {
    for (char &c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

}  // namespace host
