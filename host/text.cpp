#include "text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cwchar>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <iconv.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "console.h"

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

// Converts with iconv; a character that cannot be converted becomes one `lost` ('?' by
// default, so that text from the phone is always shown).
std::string Recode(const std::string &text, const std::string &from, const std::string &to, char lost = '?') {
    if (text.empty()) return text;
    iconv_t converter = iconv_open(to.c_str(), from.c_str());
    if (converter == reinterpret_cast<iconv_t>(-1)) return text;
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
    iconv_close(converter);
    return out;
}
#endif

}  // namespace

#if defined(_WIN32)
std::string CodePageProblem() { return {}; }  // the system's ANSI code page
#else
std::string CodePageProblem() {
    iconv_t converter = iconv_open("UTF-8", DeviceCodePage().c_str());
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(converter);
        return {};
    }
    return "CEBRIDGE_CODEPAGE '" + std::string(std::getenv("CEBRIDGE_CODEPAGE")) +
           "' is no code page: give a Windows code-page number (949, 1252, 65001) or an iconv name (CP949, EUC-KR, "
           "UTF-8)";
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

std::string HumanSize(uint64_t bytes) {
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = double(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

std::string ListingTimeToLocal(const std::string &stamp) {
    if (stamp.size() != 16 || stamp[8] != 'T') return stamp;
    return stamp.substr(0, 4) + "-" + stamp.substr(4, 2) + "-" + stamp.substr(6, 2) + " " + stamp.substr(9, 2) + ":" +
           stamp.substr(11, 2) + ":" + stamp.substr(13, 2);
}

namespace {

struct Character {
    size_t bytes;
    size_t width;
};

// The UTF-8 character that starts at `i`.
Character CharacterAt(const std::string &utf8, size_t i) {
    unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = lead;
    if (length > 1 && i + length <= utf8.size()) {
        code = lead & (0xFF >> (length + 1));
        for (size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    }
    // East Asian wide ranges: Hangul, CJK, full-width forms.
    bool wide = (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
                (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
                (code >= 0xFF00 && code <= 0xFF60) || (code >= 0xFFE0 && code <= 0xFFE6);
    return {std::min(length, utf8.size() - i), wide ? size_t(2) : size_t(1)};
}

}  // namespace

std::string ShownUnsayable(const std::string &name) {
    std::string shown = name;
    std::replace(shown.begin(), shown.end(), kUnsayable, '?');
    return DeviceToTerminal(shown);
}

size_t DisplayWidth(const std::string &utf8) {
    size_t width = 0;
    for (size_t i = 0; i < utf8.size();) {
        Character character = CharacterAt(utf8, i);
        width += character.width;
        i += character.bytes;
    }
    return width;
}

std::string CutToWidth(const std::string &utf8, size_t width) {
    if (DisplayWidth(utf8) <= width) return utf8;
    const std::string mark = "...";
    if (width <= mark.size()) return mark.substr(0, width);
    size_t used = 0, end = 0;
    while (end < utf8.size()) {
        Character character = CharacterAt(utf8, end);
        if (used + character.width > width - mark.size()) break;
        used += character.width;
        end += character.bytes;
    }
    return utf8.substr(0, end) + mark;
}

size_t TerminalColumns(bool standardError) {
    if (const char *columns = std::getenv("COLUMNS")) {
        long value = std::strtol(columns, nullptr, 10);
        if (value > 0) return size_t(value);
    }
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(standardError ? ConsoleErr() : ConsoleOut())));
    if (GetConsoleScreenBufferInfo(console, &info)) return size_t(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    const int output = fileno(standardError ? ConsoleErr() : ConsoleOut());
    if (isatty(output) && ioctl(output, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
#endif
    return 0;
}

std::string Table::Render() const {
    std::vector<size_t> widths(m_headers.size(), 0);
    auto measure = [&](const std::vector<std::string> &row) {
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    };
    measure(m_headers);
    for (const auto &row : m_rows) measure(row);
    // The last column takes what the others leave of the line, but never less
    // than its header or a few characters.
    size_t lastWidth = SIZE_MAX;
    if (m_columns > 0 && !widths.empty()) {
        size_t others = 0;
        for (size_t c = 0; c + 1 < widths.size(); ++c) others += widths[c] + 2;
        constexpr size_t kNarrowest = 10;
        lastWidth = std::max({m_columns > others ? m_columns - others : 0, DisplayWidth(m_headers.back()), kNarrowest});
        widths.back() = std::min(widths.back(), lastWidth);
    }
    auto line = [&](const std::vector<std::string> &row) {
        std::string out;
        for (size_t c = 0; c < widths.size(); ++c) {
            std::string cell = c < row.size() ? row[c] : std::string();
            if (c + 1 == widths.size() && lastWidth != SIZE_MAX) cell = CutToWidth(cell, lastWidth);
            std::string pad(widths[c] - DisplayWidth(cell), ' ');
            bool right = std::find(m_right.begin(), m_right.end(), c) != m_right.end();
            out += right ? pad + cell : cell + (c + 1 < widths.size() ? pad : std::string());
            if (c + 1 < widths.size()) out += "  ";
        }
        return out + "\n";
    };
    std::string out = line(m_headers);
    for (const auto &row : m_rows) out += line(row);
    return out;
}

}  // namespace host
