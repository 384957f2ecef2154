// Shows a transfer's progress on standard error: one redrawn line (percent, bytes,
// rate, time left) on a terminal or with --progress, NDJSON events with --json.
#ifndef CEBRIDGE_HOST_PROGRESS_H
#define CEBRIDGE_HOST_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace host {

class Progress {
public:
    Progress(std::string label, uint64_t total, bool json, bool force);
    void Add(uint64_t bytes);
    void Finish(bool ok);
    uint64_t Done() const { return m_done; }

private:
    std::string m_label;
    uint64_t m_total;
    uint64_t m_done = 0;
    bool m_json;
    bool m_line;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

}  // namespace host

#endif  // CEBRIDGE_HOST_PROGRESS_H
