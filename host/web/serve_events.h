// What `cebridge serve` tells every open page while it runs: server-sent events of the
// operation in flight (its progress), of a sync's items and of the connection.
#ifndef CEBRIDGE_HOST_WEB_SERVE_EVENTS_H
#define CEBRIDGE_HOST_WEB_SERVE_EVENTS_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "progress.h"
#include "progress_sink.h"

namespace host::serve {

// The events, kept for pages that read them a little late.
class EventHub {
public:
    void Publish(const nlohmann::json &event);
    // The events after the `seen`th, waiting up to `wait` for one; empty after Close.
    std::vector<std::string> After(uint64_t *seen, std::chrono::milliseconds wait);
    uint64_t Published();
    bool Closed();
    void Close();

    // GET /api/events: the stream of one page. Streams hold the server's connection
    // threads, so past a number of open pages one more is told to close some.
    void Stream(httplib::Response &response);

private:
    static constexpr size_t kKept = 64;
    static constexpr size_t kMostStreams = 48;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_events;
    uint64_t m_published = 0;
    bool m_closed = false;
    size_t m_openStreams = 0;
};

// The progress of the phone worker's jobs, as --json's progress events, to every page.
class PageProgress : public TransferSink {
public:
    explicit PageProgress(EventHub &events) : m_events(events) {}
    void Begin(uint64_t totalBytes, uint64_t files) override;
    void StartFile(const std::string &shown) override;
    void Add(uint64_t bytes) override;
    void Finish(bool ok) override;

private:
    EventHub &m_events;
    std::optional<Progress> m_copy;
};

// A sync's items as events: {"event": "items", "pair": NAME, "label": "contacts sync",
// "done": N, "total": M}, at most ten a second, and the last one.
class ItemEvents : public ItemSink {
public:
    ItemEvents(EventHub &events, const std::string &pair) : m_events(events), m_pair(pair) {}
    void Begin(const std::string &label, size_t total) override;
    void Step() override;

private:
    void Publish();

    EventHub &m_events;
    std::string m_pair, m_label;
    size_t m_total = 0, m_done = 0;
    std::chrono::steady_clock::time_point m_published;
};

}  // namespace host::serve

#endif  // CEBRIDGE_HOST_WEB_SERVE_EVENTS_H
