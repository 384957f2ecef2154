#include "serve_events.h"

#include <algorithm>

#include "server.h"

namespace host::serve {

void EventHub::Publish(const nlohmann::json &event) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
    if (m_events.size() > kKept) m_events.pop_front();
    ++m_published;
    m_changed.notify_all();
}

std::vector<std::string> EventHub::After(uint64_t *seen, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, wait, [&] { return m_closed || m_published > *seen; });
    std::vector<std::string> events;
    const uint64_t first = m_published - m_events.size();
    for (uint64_t n = std::max(*seen, first); n < m_published; ++n) events.push_back(m_events[n - first]);
    *seen = m_published;
    return events;
}

uint64_t EventHub::Published() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_published;
}

bool EventHub::Closed() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_closed;
}

void EventHub::Close() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

void EventHub::Stream(httplib::Response &response) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_openStreams >= kMostStreams)
            return web::SendError(response, 503, "too many pages of this server are open: close some and reload");
        ++m_openStreams;
    }
    uint64_t seen = Published();
    response.set_header("Cache-Control", "no-store");
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](size_t, httplib::DataSink &sink) mutable {
            std::string text;
            for (const std::string &event : After(&seen, std::chrono::seconds(15))) text += "data: " + event + "\n\n";
            if (Closed()) {
                sink.done();
                return true;
            }
            if (text.empty()) text = ": still here\n\n";
            return sink.write(text.data(), text.size());
        },
        [this](bool) {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_openStreams;
        });
}

void PageProgress::Begin(uint64_t totalBytes, uint64_t files) {
    m_copy.emplace(true, false, [this](const nlohmann::json &event) { m_events.Publish(event); });
    m_copy->Begin(totalBytes, files);
}

void PageProgress::StartFile(const std::string &shown) {
    if (m_copy) m_copy->StartFile(shown);
}

void PageProgress::Add(uint64_t bytes) {
    if (m_copy) m_copy->Add(bytes);
}

void PageProgress::Finish(bool ok) {
    if (m_copy) m_copy->Finish(ok);
    m_copy.reset();
}

void ItemEvents::Begin(const std::string &label, size_t total) {
    m_label = label;
    m_total = total;
    m_done = 0;
    Publish();
}

void ItemEvents::Step() {
    ++m_done;
    const auto now = std::chrono::steady_clock::now();
    if (m_done < m_total && now - m_published < std::chrono::milliseconds(100)) return;
    Publish();
}

void ItemEvents::Publish() {
    m_published = std::chrono::steady_clock::now();
    m_events.Publish({{"event", "items"}, {"pair", m_pair}, {"label", m_label}, {"done", m_done}, {"total", m_total}});
}

}  // namespace host::serve
