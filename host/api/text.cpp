#include "text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "console.h"

namespace host {

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

std::string Counted(size_t count, const char *one, const char *many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
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

Table::Layout Table::Measure(size_t count, const RowMaker &row) const {
    Layout layout;
    std::vector<size_t> &widths = layout.widths;
    widths.assign(m_headers.size(), 0);
    auto measure = [&](const std::vector<std::string> &cells) {
        for (size_t c = 0; c < cells.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(cells[c]));
    };
    measure(m_headers);
    for (size_t i = 0; i < count; ++i) measure(row(i));
    // The last column takes what the others leave of the line, but never less
    // than its header or a few characters.
    if (m_columns > 0 && !widths.empty()) {
        size_t others = 0;
        for (size_t c = 0; c + 1 < widths.size(); ++c) others += widths[c] + 2;
        constexpr size_t kNarrowest = 10;
        layout.lastWidth =
            std::max({m_columns > others ? m_columns - others : 0, DisplayWidth(m_headers.back()), kNarrowest});
        widths.back() = std::min(widths.back(), layout.lastWidth);
    }
    return layout;
}

std::string Table::Line(const Layout &layout, const std::vector<std::string> &row) const {
    const std::vector<size_t> &widths = layout.widths;
    std::string out;
    for (size_t c = 0; c < widths.size(); ++c) {
        std::string cell = c < row.size() ? row[c] : std::string();
        if (c + 1 == widths.size() && layout.lastWidth != SIZE_MAX) cell = CutToWidth(cell, layout.lastWidth);
        std::string pad(widths[c] - DisplayWidth(cell), ' ');
        bool right = std::find(m_right.begin(), m_right.end(), c) != m_right.end();
        out += right ? pad + cell : cell + (c + 1 < widths.size() ? pad : std::string());
        if (c + 1 < widths.size()) out += "  ";
    }
    return out + "\n";
}

std::string Table::Render() const {
    std::ostringstream out;
    Print(out, m_rows.size(), [&](size_t i) { return m_rows[i]; });
    return out.str();
}

void Table::Print(std::ostream &out, size_t count, const RowMaker &row) const {
    const Layout layout = Measure(count, row);
    out << Line(layout, m_headers);
    for (size_t i = 0; i < count; ++i) out << Line(layout, row(i));
}

void PrintWarning(const std::string &text) { std::fprintf(ConsoleErr(), "cebridge: warning: %s\n", text.c_str()); }

}  // namespace host
