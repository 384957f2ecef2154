// Text for people at a terminal: sizes, times, tables aligned by display width, the
// terminal's width. The phone's text conversions come with it (encoding.h).
#ifndef CEBRIDGE_HOST_TEXT_H
#define CEBRIDGE_HOST_TEXT_H

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "encoding.h"

namespace host {

// "1.4 MiB", "512 B".
std::string HumanSize(uint64_t bytes);
// "1 file", "2 files".
std::string Counted(size_t count, const char *one, const char *many);

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
    using RowMaker = std::function<std::vector<std::string>(size_t)>;
    // As Render of `count` rows made by `row`, written line by line without keeping
    // the rows: each row is made twice, once to measure the columns, once to print.
    void Print(std::ostream &out, size_t count, const RowMaker &row) const;

private:
    struct Layout {
        std::vector<size_t> widths;
        size_t lastWidth = SIZE_MAX;  // what the last column's cells are cut to
    };
    Layout Measure(size_t count, const RowMaker &row) const;
    std::string Line(const Layout &layout, const std::vector<std::string> &row) const;

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
// "cebridge: warning: TEXT" on a line of the host's standard error.
void PrintWarning(const std::string &text);

}  // namespace host

#endif  // CEBRIDGE_HOST_TEXT_H
