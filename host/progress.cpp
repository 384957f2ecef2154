#include "progress.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "text.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace host {

Progress::Progress(std::string label, uint64_t total, bool json, bool force)
    : m_label(std::move(label)), m_total(total), m_json(json), m_line(!json && (force || isatty(fileno(stderr)))) {}

Progress::Progress(std::string label, uint64_t total, uint64_t files, bool json, bool force)
    : Progress(std::move(label), total, json, force) {
    m_files = files;
}

void Progress::StartFile(std::string name) {
    m_label = std::move(name);
    ++m_fileNumber;
}

void Progress::Event(const char *name) const {
    nlohmann::json event = {{"event", name}, {"file", m_label}, {"bytes", m_done}, {"total", m_total}};
    if (m_files) event["files"] = {{"current", m_fileNumber}, {"total", m_files}};
    std::fprintf(stderr, "%s\n", event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
}

void Progress::Add(uint64_t bytes) {
    m_done += bytes;
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    double rate = seconds > 0 ? double(m_done) / seconds : 0;
    if (m_json) return Event("progress");
    if (!m_line) return;
    int percent = m_total ? int(100.0 * double(m_done) / double(m_total)) : 100;
    double left = rate > 0 && m_total > m_done ? double(m_total - m_done) / rate : 0;
    std::string files = m_files ? "[" + std::to_string(m_fileNumber) + "/" + std::to_string(m_files) + "] " : "";
    std::fprintf(stderr, "\r%s%s  %3d%%  %s / %s  %s/s  %02d:%02d left ", files.c_str(), m_label.c_str(), percent,
                 HumanSize(m_done).c_str(), HumanSize(m_total).c_str(), HumanSize(uint64_t(rate)).c_str(),
                 int(left) / 60, int(left) % 60);
    std::fflush(stderr);
}

void Progress::Finish(bool ok) {
    if (m_json) {
        Event(ok ? "done" : "failed");
    } else if (m_line) {
        std::fprintf(stderr, "\n");
    }
}

}  // namespace host
