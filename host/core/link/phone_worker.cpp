#include "phone_worker.h"

#include <algorithm>
#include <exception>
#include <utility>

namespace host {

PhoneWorker::PhoneWorker(PhoneSession &session, std::atomic<bool> &cancel)
    : m_session(session), m_cancel(cancel), m_thread([this] { Serve(); }) {}

Outcome PhoneWorker::Refused() {
    return Outcome::Failed(0, "interrupted: the phone's worker stopped before the operation ran",
                           ErrorKind::kInterrupted);
}

Outcome PhoneWorker::Cancelled() {
    return Outcome::Failed(0, "interrupted: cancelled before it ran", ErrorKind::kInterrupted);
}

std::future<Outcome> PhoneWorker::Submit(Job job, std::string operation) {
    Pending pending{std::move(job), {}, std::move(operation)};
    std::future<Outcome> outcome = pending.done.get_future();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping) {
        pending.done.set_value(Refused());
    } else {
        m_queue.push_back(std::move(pending));
        m_wake.notify_one();
    }
    return outcome;
}

bool PhoneWorker::CancelCurrent() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_running) m_cancel = true;
    return m_running;
}

bool PhoneWorker::Cancel(const std::string &operation) {
    if (operation.empty()) return false;
    Pending cancelled;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_running && m_runningOperation == operation) {
            m_cancel = true;
            return true;
        }
        auto waiting = std::find_if(m_queue.begin(), m_queue.end(),
                                    [&](const Pending &pending) { return pending.operation == operation; });
        if (waiting == m_queue.end()) return false;
        cancelled = std::move(*waiting);
        m_queue.erase(waiting);
    }
    cancelled.done.set_value(Cancelled());
    return true;
}

void PhoneWorker::Stop() {
    std::deque<Pending> refused;
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        if (m_running) m_cancel = true;
        refused.swap(m_queue);
        thread.swap(m_thread);
        m_wake.notify_one();
    }
    for (Pending &pending : refused) pending.done.set_value(Refused());
    refused.clear();  // what the refused jobs held goes now, not after the join
    if (thread.joinable()) thread.join();
}

void PhoneWorker::Serve() {
    const JobSinks sinks{m_broadcast, m_broadcast};
    for (;;) {
        Pending next;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_stopping) return;
            next = std::move(m_queue.front());
            m_queue.pop_front();
            m_running = true;
            m_runningOperation = next.operation;
            m_cancel = false;  // a cancel was meant for the job before
        }
        Outcome outcome = CaughtAsInternal([&] { return next.job(m_session, sinks); });
        next.job = nullptr;  // what it held goes before its caller hears
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running = false;
        }
        next.done.set_value(std::move(outcome));
    }
}

void PhoneWorker::Subscribe(TransferSink *transfer, ItemSink *items) { m_broadcast.Join(transfer, items); }

void PhoneWorker::Unsubscribe(TransferSink *transfer, ItemSink *items) { m_broadcast.Leave(transfer, items); }

void PhoneWorker::Broadcast::Join(TransferSink *transfer, ItemSink *items) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_subscribers.emplace_back(transfer, items);
}

void PhoneWorker::Broadcast::Leave(TransferSink *transfer, ItemSink *items) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const Subscriber subscriber(transfer, items);
    m_subscribers.erase(std::remove(m_subscribers.begin(), m_subscribers.end(), subscriber), m_subscribers.end());
}

template <class Sink, class Call>
void PhoneWorker::Broadcast::Each(Call call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Subscriber &subscriber : m_subscribers)
        if (Sink *sink = std::get<Sink *>(subscriber)) call(*sink);
}

void PhoneWorker::Broadcast::Begin(uint64_t totalBytes, uint64_t files) {
    Each<TransferSink>([&](TransferSink &sink) { sink.Begin(totalBytes, files); });
}
void PhoneWorker::Broadcast::StartFile(const std::string &shown) {
    Each<TransferSink>([&](TransferSink &sink) { sink.StartFile(shown); });
}
void PhoneWorker::Broadcast::Add(uint64_t bytes) {
    Each<TransferSink>([&](TransferSink &sink) { sink.Add(bytes); });
}
void PhoneWorker::Broadcast::Finish(bool ok) {
    Each<TransferSink>([&](TransferSink &sink) { sink.Finish(ok); });
}
void PhoneWorker::Broadcast::Warning(const std::string &text) {
    Each<TransferSink>([&](TransferSink &sink) { sink.Warning(text); });
}
void PhoneWorker::Broadcast::Begin(const std::string &label, size_t total) {
    Each<ItemSink>([&](ItemSink &sink) { sink.Begin(label, total); });
}
void PhoneWorker::Broadcast::Step() {
    Each<ItemSink>([](ItemSink &sink) { sink.Step(); });
}
void PhoneWorker::Broadcast::End() {
    Each<ItemSink>([](ItemSink &sink) { sink.End(); });
}

}  // namespace host
