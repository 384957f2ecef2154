// The phone worker in-process, on a real session: the callers of many threads share
// one phone, each gets its own outcome, and cancel and stop reach only what they mean.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "core_fixture.h"
#include "phone_worker.h"

namespace {

constexpr uint64_t kBigFile = 1 << 20;  // many packets: a download long enough to cut

class PhoneWorkerTest : public CoreSessionTest {
protected:
    void SetUp() override {
        std::ofstream(m_phone.fs() / "My Documents" / "big.bin", std::ios::binary) << std::string(kBigFile, 'x');
        ConnectOrFail();
    }
    // Downloads big.bin, telling `sinks`; `atFirstPacket` runs once, at the first packet.
    host::Outcome DownloadBig(host::PhoneSession &session, const host::JobSinks &sinks,
                              std::function<void()> atFirstPacket = {}) {
        host::Outcome entered = session.link.EnterFolder({"My Documents"});
        if (!entered.ok) return entered;
        sinks.transfer.Begin(kBigFile, 1);
        const std::string target = (m_logs.path() / "big.bin").string();
        host::Outcome outcome = session.link.Download("big.bin", target, [&](uint64_t bytes) {
            if (atFirstPacket) std::exchange(atFirstPacket, nullptr)();
            sinks.transfer.Add(bytes);
        });
        sinks.transfer.Finish(outcome.ok);
        return outcome;
    }
    // A download that tells `started` at its first packet and then waits (10 s at
    // most) until the worker cancels it.
    host::PhoneWorker::Job HeldDownload(std::promise<void> &started) {
        return [this, &started](host::PhoneSession &session, const host::JobSinks &sinks) {
            return DownloadBig(session, sinks, [&] {
                started.set_value();
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (!m_interrupted && std::chrono::steady_clock::now() < until)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            });
        };
    }
};

struct CountingSink : host::TransferSink {
    void Begin(uint64_t total, uint64_t) override { expected = total; }
    void Add(uint64_t bytes) override { arrived += bytes; }
    void Finish(bool ok) override { finished = ok; }
    uint64_t expected = 0, arrived = 0;
    bool finished = false;
};

// A job that throws (a file system call, no memory, anything at all) comes back as an
// internal failure to its caller, and the worker goes on with the next job.
TEST_F(PhoneWorkerTest, AThrownExceptionComesBackAsAnInternalFailure) {
    host::PhoneWorker worker(m_session, m_interrupted);
    const std::vector<std::function<void()>> faults = {
        [this] { (void)std::filesystem::file_size(m_logs.path() / "missing"); },
        [] { throw std::bad_alloc(); },
        [] { throw 7; },
    };
    for (const std::function<void()> &fault : faults) {
        const host::Outcome outcome = worker.Run([&](host::PhoneSession &, const host::JobSinks &) {
            fault();
            return host::Outcome::Ok();
        });
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.kind, host::ErrorKind::kInternal) << outcome.message;
        EXPECT_EQ(outcome.message.rfind("internal fault", 0), 0u) << outcome.message;
    }
    EXPECT_TRUE(worker
                    .Run([](host::PhoneSession &session, const host::JobSinks &) {
                        return session.link.EnterFolder({"My Documents"});
                    })
                    .ok);
}

TEST_F(PhoneWorkerTest, CallersOfManyThreadsEachGetTheirOwnOutcomeInSubmissionOrder) {
    host::PhoneWorker worker(m_session, m_interrupted);
    CountingSink watcher;
    worker.Subscribe(&watcher, nullptr);
    std::mutex order;
    std::vector<int> submitted, ran;
    std::atomic<int> inFlight{0};
    bool overlapped = false;
    std::vector<std::thread> callers;
    std::vector<host::Outcome> outcomes(6);
    for (int caller = 0; caller < 6; ++caller) {
        callers.emplace_back([&, caller] {
            std::future<host::Outcome> outcome;
            {
                std::lock_guard<std::mutex> lock(order);
                submitted.push_back(caller);
                outcome = worker.Submit([&, caller](host::PhoneSession &session, const host::JobSinks &sinks) {
                    overlapped |= inFlight.fetch_add(1) != 0;
                    ran.push_back(caller);
                    host::Outcome result = caller == 3
                                               ? DownloadBig(session, sinks)
                                               : session.link.EnterFolder({caller % 2 ? "My Documents" : "none"});
                    --inFlight;
                    return result;
                });
            }
            outcomes[caller] = outcome.get();
        });
    }
    for (std::thread &caller : callers) caller.join();
    worker.Stop();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(ran, submitted);
    for (int caller = 0; caller < 6; ++caller)
        EXPECT_EQ(outcomes[caller].kind, caller % 2 ? host::ErrorKind::kNone : host::ErrorKind::kNotFound) << caller;
    EXPECT_EQ(watcher.arrived, kBigFile);  // a download the watcher did not submit
    EXPECT_TRUE(watcher.finished);
}

TEST_F(PhoneWorkerTest, CancelReachesOnlyTheJobItNames) {
    host::PhoneWorker worker(m_session, m_interrupted);
    EXPECT_FALSE(worker.CancelCurrent());  // nothing in flight: nothing to cancel
    std::promise<void> started;
    std::future<host::Outcome> held = worker.Submit(HeldDownload(started), "held");
    auto download = [this](host::PhoneSession &session, const host::JobSinks &sinks) {
        return DownloadBig(session, sinks);
    };
    std::future<host::Outcome> waiting = worker.Submit(download, "waiting"), next = worker.Submit(download, "next");
    started.get_future().wait();
    EXPECT_FALSE(worker.Cancel("someone else's"));
    EXPECT_FALSE(worker.Cancel(""));  // an unnamed job is cancelled by no name
    EXPECT_TRUE(worker.Cancel("waiting"));
    EXPECT_EQ(waiting.get().kind, host::ErrorKind::kInterrupted);  // at once, while "held" still runs
    EXPECT_TRUE(worker.Cancel("held"));
    host::Outcome cut = held.get();
    EXPECT_EQ(cut.kind, host::ErrorKind::kInterrupted) << cut.message;
    host::Outcome whole = next.get();
    EXPECT_TRUE(whole.ok) << whole.message;
    EXPECT_EQ(std::filesystem::file_size(m_logs.path() / "big.bin"), kBigFile);
    EXPECT_FALSE(worker.Cancel("held"));  // it ended
}

TEST_F(PhoneWorkerTest, StopCancelsTheJobInFlightRefusesTheQueuedAndJoins) {
    std::optional<host::PhoneWorker> worker(std::in_place, m_session, m_interrupted);
    std::promise<void> started;
    std::future<host::Outcome> held = worker->Submit(HeldDownload(started));
    std::atomic<bool> queuedRan{false};
    auto queued = [&](host::PhoneSession &, const host::JobSinks &) {
        queuedRan = true;
        return host::Outcome::Ok();
    };
    std::future<host::Outcome> first = worker->Submit(queued), second = worker->Submit(queued);
    started.get_future().wait();
    worker->Stop();
    EXPECT_EQ(held.get().kind, host::ErrorKind::kInterrupted);
    EXPECT_EQ(first.get().kind, host::ErrorKind::kInterrupted);
    EXPECT_EQ(second.get().kind, host::ErrorKind::kInterrupted);
    EXPECT_EQ(worker->Submit(queued).get().kind, host::ErrorKind::kInterrupted);  // after the stop
    EXPECT_FALSE(queuedRan);
    worker.reset();  // a second stop, from the destructor, is harmless
}

}  // namespace
