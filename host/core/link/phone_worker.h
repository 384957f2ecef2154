// One thread in front of one phone session: the plug-in serves one session at a time,
// so the callers of one process (the web server's request threads) hand their
// operations to the worker, which runs them one at a time in the order they came.
// What the job in flight reports goes to every subscriber, whoever submitted it.
#ifndef CEBRIDGE_HOST_PHONE_WORKER_H
#define CEBRIDGE_HOST_PHONE_WORKER_H

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "phone_session.h"
#include "progress_sink.h"

namespace host {

// Where a job reports its progress: the worker forwards it to every subscriber.
struct JobSinks {
    TransferSink &transfer;
    ItemSink &items;
};

class PhoneWorker {
public:
    using Job = std::function<Outcome(PhoneSession &, const JobSinks &)>;

    // `cancel` is the flag `session` was made with: the worker sets it to cancel the
    // job in flight and clears it as each job starts.
    PhoneWorker(PhoneSession &session, std::atomic<bool> &cancel);
    ~PhoneWorker() { Stop(); }
    PhoneWorker(const PhoneWorker &) = delete;
    PhoneWorker &operator=(const PhoneWorker &) = delete;

    // Queues `job`, named `operation` when its caller may cancel it by name. The
    // future holds its outcome (or what it threw), or kInterrupted when the worker
    // stopped or it was cancelled before it ran. What the job refers to must last
    // until then.
    std::future<Outcome> Submit(Job job, std::string operation = {});
    // Submits `job` and waits for its outcome.
    Outcome Run(Job job, std::string operation = {}) { return Submit(std::move(job), std::move(operation)).get(); }

    // Cancels the job in flight, not the queued ones; false when none runs.
    bool CancelCurrent();
    // Cancels the job named `operation`: in flight, or waiting (then it never runs).
    // The others go on: one caller cannot cancel what another one asked for. False
    // when no such job is in flight or waiting.
    bool Cancel(const std::string &operation);
    // Cancels the job in flight, refuses the queued ones and later submissions, and
    // waits for the thread to end.
    void Stop();

    // The progress of every job from now on, on the worker's thread, until
    // Unsubscribe (which waits for a call in progress). Either may be null.
    void Subscribe(TransferSink *transfer, ItemSink *items);
    void Unsubscribe(TransferSink *transfer, ItemSink *items);

private:
    struct Pending {
        Job job;
        std::promise<Outcome> done;
        std::string operation;
    };
    // Hands every call on to the subscribers.
    class Broadcast : public TransferSink, public ItemSink {
    public:
        void Begin(uint64_t totalBytes, uint64_t files) override;
        void StartFile(const std::string &shown) override;
        void Add(uint64_t bytes) override;
        void Finish(bool ok) override;
        void Warning(const std::string &text) override;
        void Begin(const std::string &label, size_t total) override;
        void Step() override;
        void End() override;

        void Join(TransferSink *transfer, ItemSink *items);
        void Leave(TransferSink *transfer, ItemSink *items);

    private:
        using Subscriber = std::pair<TransferSink *, ItemSink *>;
        // `call` on each subscriber's sink of this kind.
        template <class Sink, class Call>
        void Each(Call call);

        std::mutex m_mutex;
        std::vector<Subscriber> m_subscribers;
    };

    void Serve();
    static Outcome Refused();
    static Outcome Cancelled();

    PhoneSession &m_session;
    std::atomic<bool> &m_cancel;
    Broadcast m_broadcast;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Pending> m_queue;
    bool m_running = false;  // a job is in flight
    std::string m_runningOperation;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts when the rest is ready
};

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_WORKER_H
