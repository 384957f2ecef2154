#include "progress.h"

#include <algorithm>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "console.h"
#include "text.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace host {

Progress::Progress(std::string label, uint64_t total, bool json, bool force, Events events)
    : m_label(std::move(label)),
      m_total(total),
      m_json(json),
      m_line(!json && (force || isatty(fileno(ConsoleErr())))),
      m_events(std::move(events)) {}

void Progress::Begin(uint64_t totalBytes, uint64_t files) {
    m_total = totalBytes;
    m_files = files;
}

void Progress::StartFile(const std::string &name) {
    m_label = name;
    ++m_fileNumber;
}

void Progress::Warning(const std::string &text) {
    if (m_line && m_shownWidth) std::fprintf(ConsoleErr(), "\n");
    m_shownWidth = 0;
    PrintWarning(text);
}

void Progress::Event(const char *name) const {
    nlohmann::json event = {{"event", name}, {"file", m_label}, {"bytes", m_done}, {"total", nullptr}};
    if (TotalKnown()) event["total"] = m_total;
    if (m_files) event["files"] = {{"current", m_fileNumber}, {"total", m_files}};
    if (m_events) return m_events(event);
    std::fprintf(ConsoleErr(), "%s\n", event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

std::string Progress::Line(double rate) const {
    std::string files;
    if (m_files) {
        files = '[';
        files += std::to_string(m_fileNumber) + "/" + std::to_string(m_files) + "] ";
    }
    char figures[128];
    if (TotalKnown()) {
        int percent = m_total ? int(100.0 * double(m_done) / double(m_total)) : 100;
        double left = rate > 0 && m_total > m_done ? double(m_total - m_done) / rate : 0;
        std::snprintf(figures, sizeof figures, "  %3d%%  %s / %s  %s/s  %02d:%02d left", percent,
                      HumanSize(m_done).c_str(), HumanSize(m_total).c_str(), HumanSize(uint64_t(rate)).c_str(),
                      int(left) / 60, int(left) % 60);
    } else {
        std::snprintf(figures, sizeof figures, "  %s  %s/s", HumanSize(m_done).c_str(),
                      HumanSize(uint64_t(rate)).c_str());
    }
    // One column short of the width: a line that fills it would wrap, and \r would
    // then redraw only its last row.
    size_t columns = TerminalColumns(true);
    size_t room = (columns ? columns : kAssumedColumns) - 1;
    size_t fixed = DisplayWidth(files) + DisplayWidth(figures);
    std::string line = files + CutToWidth(m_label, room > fixed ? room - fixed : 0) + figures;
    return CutToWidth(line, room);
}

void Progress::Add(uint64_t bytes) {
    m_done += bytes;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    double rate = seconds > 0 ? double(m_done) / seconds : 0;
    if (m_json) return Event("progress");
    if (!m_line) return;
    std::string line = Line(rate);
    size_t width = DisplayWidth(line);
    // Blanks over what a longer line before left.
    if (width < m_shownWidth) line.append(m_shownWidth - width, ' ');
    m_shownWidth = width;
    std::fprintf(ConsoleErr(), "\r%s", line.c_str());
    std::fflush(ConsoleErr());
}

void Progress::Finish(bool ok) {
    if (m_json) {
        Event(ok ? "done" : "failed");
    } else if (m_line) {
        std::fprintf(ConsoleErr(), "\n");
    }
}

ItemProgress::ItemProgress(bool json, bool force) : m_line(!json && (force || isatty(fileno(ConsoleErr())))) {}

void ItemProgress::Begin(const std::string &label, size_t total) {
    m_label = label;
    m_total = total;
    m_done = 0;
    m_start = std::chrono::steady_clock::now();
    m_lastDrawn = {};
}

void ItemProgress::End() {
    if (m_drawn) std::fprintf(ConsoleErr(), "\n");
    m_drawn = false;
}

void ItemProgress::Step() {
    ++m_done;
    auto now = std::chrono::steady_clock::now();
    if (!m_line || (m_done < m_total && now - m_lastDrawn < std::chrono::milliseconds(100))) return;
    m_lastDrawn = now;
    double seconds = std::chrono::duration<double>(now - m_start).count();
    double left = m_done ? seconds / double(m_done) * double(m_total - std::min(m_done, m_total)) : 0;
    char figures[96];
    std::snprintf(figures, sizeof figures, "  %zu/%zu  %3d%%  %02d:%02d left", m_done, m_total,
                  m_total ? int(100.0 * double(m_done) / double(m_total)) : 100, int(left) / 60, int(left) % 60);
    size_t columns = TerminalColumns(true);
    std::string line = CutToWidth(m_label + figures, (columns ? columns : 80) - 1);
    std::fprintf(ConsoleErr(), "\r%s", line.c_str());
    std::fflush(ConsoleErr());
    m_drawn = true;
}

}  // namespace host
