// Shows a transfer's progress on standard error: one redrawn line (percent, bytes,
// rate, time left) on a terminal or with --progress, NDJSON events with --json.
// A copy of many files is one Progress over all their bytes: each file is announced
// with StartFile, and the line also counts files.
#ifndef CEBRIDGE_HOST_PROGRESS_H
#define CEBRIDGE_HOST_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "progress_sink.h"

namespace host {

class Progress : public TransferSink {
public:
    // In JSON mode the events go to `events` when given (cebridge serve's pages),
    // else to standard error.
    using Events = std::function<void(const nlohmann::json &)>;
    Progress(std::string label, uint64_t total, bool json, bool force, Events events = nullptr);
    // A copy whose total and files the engine gives (Begin).
    Progress(bool json, bool force, Events events = nullptr) : Progress("", 0, json, force, std::move(events)) {}
    // A copy of `files` files whose sizes add up to the total.
    void Begin(uint64_t totalBytes, uint64_t files) override;
    // The next file of a many-file copy: its name takes the label's place.
    void StartFile(const std::string &name) override;
    void Add(uint64_t bytes) override;
    void Finish(bool ok) override;
    // "cebridge: warning: TEXT" on standard error, on a line of its own.
    void Warning(const std::string &text) override;

private:
    // The folder listing gives a size modulo 4 GiB: past it, the total is unknown.
    bool TotalKnown() const { return m_done <= m_total; }
    void Event(const char *name) const;
    std::string Line(double rate) const;

    static constexpr size_t kAssumedColumns = 80;  // --progress into no terminal

    std::string m_label;
    uint64_t m_total;
    uint64_t m_done = 0;
    uint64_t m_files = 0;       // 0: a single transfer
    uint64_t m_fileNumber = 0;  // the file being copied, from 1
    bool m_json;
    bool m_line;
    Events m_events;
    size_t m_shownWidth = 0;  // of the line drawn last
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

// Counts the items of a long run (an import's cards or events) on one line of
// standard error, redrawn in place at most ten times a second, on a terminal or with
// --progress; nothing with --json (its documents stay whole). The line ends when
// the run does.
class ItemProgress : public ItemSink {
public:
    ItemProgress(bool json, bool force);
    void Begin(const std::string &label, size_t total) override;
    void Step() override;
    void End() override;

private:
    std::string m_label;
    size_t m_total = 0;
    size_t m_done = 0;
    bool m_line;
    bool m_drawn = false;
    std::chrono::steady_clock::time_point m_start, m_lastDrawn;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_PROGRESS_H
