// The bounded queue and the worker loop around it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "core/session.h"

namespace {

// Records what the worker hands it; can be made to end the loop.
class RecordingWorker : public WorkerThread {
public:
    explicit RecordingWorker(bool startOk = true) : m_startOk(startOk) {}
    ~RecordingWorker() override { Stop(); }

    bool OnStart(uint32_t *queueWait) override {
        started = true;
        return m_startOk;
    }
    bool OnMessage(uint32_t param, uint32_t id, void *payload) override {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(param);
        return param != 0;  // a zero param ends the loop
    }
    std::vector<uint32_t> Seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

    std::atomic<bool> started{false};
    std::mutex mutex;
    std::vector<uint32_t> seen;

private:
    bool m_startOk;
};

bool WaitFor(const std::function<bool()> &condition) {
    for (int i = 0; i < 2000 && !condition(); ++i) platform::SleepMs(1);
    return condition();
}

}  // namespace

TEST(MessageQueue, KeepsArrivalOrderAndRefusesBeyondItsCapacity) {
    MessageQueue queue(3);
    for (uint32_t i = 1; i <= 3; ++i) ASSERT_TRUE(queue.Post(7, i, nullptr, 100));
    platform::SetLastError(0);
    EXPECT_FALSE(queue.Post(7, 4, nullptr, 100));
    EXPECT_EQ(platform::GetLastError(), platform::kErrorDatabaseFull);

    for (uint32_t i = 1; i <= 3; ++i) {
        QueueItem *item = queue.Take(100);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->param, i);
        std::free(item);
    }
    EXPECT_EQ(queue.Take(20), nullptr);
    EXPECT_EQ(platform::GetLastError(), platform::kErrorTimeout);
    // Room again once taken.
    EXPECT_TRUE(queue.Post(7, 5, nullptr, 100));
}

TEST(MessageQueue, FreesPendingRequestsWithTheQueue) {
    // Left for the destructor: a request copy with its body (checked by the leak checker).
    auto queue = std::make_unique<MessageQueue>(2);
    AgentPacket request{};
    uint8_t body[4] = {1, 2, 3, 4};
    request.pBody = body;
    request.nBodyLength = 4;
    ASSERT_TRUE(queue->Post(0, sizeof(AgentPacket), CopyPacketWithBody(&request), 100));
    queue.reset();
}

TEST(WorkerThread, RunsMessagesInOrderAndStopsOnRequest) {
    RecordingWorker worker;
    EXPECT_FALSE(worker.IsRunning());
    worker.Stop();  // never started: nothing to do

    worker.Start();
    ASSERT_TRUE(worker.IsRunning());
    for (uint32_t i = 1; i <= 5; ++i) ASSERT_TRUE(worker.GetQueue()->Post(2, i, nullptr, 100));
    ASSERT_TRUE(WaitFor([&] { return worker.Seen().size() == 5; }));
    EXPECT_EQ(worker.Seen(), (std::vector<uint32_t>{1, 2, 3, 4, 5}));
    worker.Stop();
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_EQ(worker.GetQueue(), nullptr);
}

TEST(WorkerThread, EndsWhenStartOrAMessageSaysSo) {
    RecordingWorker refusing(false);
    refusing.Start();
    ASSERT_TRUE(WaitFor([&] { return refusing.started.load(); }));
    refusing.Stop();  // the thread has already ended: the stop message is simply not taken

    RecordingWorker ending;
    ending.Start();
    ASSERT_TRUE(ending.GetQueue()->Post(2, 0, nullptr, 100));
    ASSERT_TRUE(ending.GetQueue()->Post(2, 9, nullptr, 100));
    ASSERT_TRUE(WaitFor([&] { return ending.Seen().size() == 1; }));
    platform::SleepMs(20);
    EXPECT_EQ(ending.Seen(), (std::vector<uint32_t>{0}));
    ending.Stop();
}
