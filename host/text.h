// Text at the host's edges: the phone's text travels in the PC's ANSI code page
// (CP949 unless CEBRIDGE_CODEPAGE says otherwise, as the plug-in uses), the terminal
// speaks its own encoding (UTF-8 in practice). Also sizes and times for people.
#ifndef CEBRIDGE_HOST_TEXT_H
#define CEBRIDGE_HOST_TEXT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace host {

// Why CEBRIDGE_CODEPAGE cannot be used, or "" when it can (or is not set).
std::string CodePageProblem();
std::string DeviceToTerminal(const std::string &ansi);
// Text for the phone in its code page: a character it cannot say becomes one '?',
// never a look-alike letter.
std::string TerminalToDevice(const std::string &text);
// A name typed for the phone in its code page; each character the code page cannot
// say becomes kUnsayable (never a look-alike letter: that would name another file).
constexpr char kUnsayable = '\x1A';
std::string TerminalToDeviceName(const std::string &text);
// A name of TerminalToDeviceName for people: '?' where it lost a character.
std::string ShownUnsayable(const std::string &name);
// The phone's code page as messages name it ("CP949").
std::string DeviceCodePageName();
// What the user can do when the code page cannot say a name: which setting chooses it,
// and one that says every name.
std::string CodePageWayOut();
#if defined(_WIN32)
std::wstring WideFromUtf8(const std::string &utf8);
std::string Utf8FromWide(const std::wstring &wide);
#endif
// Text in a named character set (a MIME name: "ISO-8859-1", "EUC-KR", "SHIFT_JIS"...)
// as UTF-8; unchanged when the set is unknown here.
std::string CharsetToUtf8(const std::string &text, const std::string &charset);

// UTF-16 bytes (little- or big-endian) as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::string &bytes, bool bigEndian);

// "1.4 MiB", "512 B".
std::string HumanSize(uint64_t bytes);
// "20100305T090703Z" (already local time) -> "2010-03-05 09:07:03"; other text unchanged.
std::string ListingTimeToLocal(const std::string &stamp);

// A table aligned for a terminal: column widths by display width (wide characters
// such as Hangul count two).
class Table {
public:
    explicit Table(std::vector<std::string> headers) : m_headers(std::move(headers)) {}
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    // Columns listed here are right-aligned (numbers).
    void AlignRight(size_t column) { m_right.push_back(column); }
    // Cuts the last column's cells so that every line fits `columns` (0: no limit).
    void FitTo(size_t columns) { m_columns = columns; }
    std::string Render() const;

private:
    std::vector<std::string> m_headers;
    std::vector<std::vector<std::string>> m_rows;
    std::vector<size_t> m_right;
    size_t m_columns = 0;
};

size_t DisplayWidth(const std::string &utf8);
// The text cut to `width` display columns, ending in "..." when cut.
std::string CutToWidth(const std::string &utf8, size_t width);
// The width of the terminal on standard output (or standard error): $COLUMNS when
// set, else the terminal's own; 0 when the output is no terminal.
size_t TerminalColumns(bool standardError = false);

}  // namespace host

#endif  // CEBRIDGE_HOST_TEXT_H
