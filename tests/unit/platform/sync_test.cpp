// Threads, the queue lock, the stop event and the link wait.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

using platform::kInfinite;

TEST(Threads, StartWaitAndCloseJoinsARunningThread) {
    struct Shared {
        std::atomic<bool> release{false};
        std::atomic<bool> finished{false};
        std::atomic<uint32_t> idInside{0};
    } shared;
    auto routine = [](void *argument) -> uint32_t {
        auto *state = static_cast<Shared *>(argument);
        state->idInside = platform::CurrentThreadId();
        while (!state->release) platform::SleepMs(1);
        platform::SleepMs(50);
        state->finished = true;
        return 0;
    };
    uint32_t id = 0;
    platform::Thread *thread = platform::StartThread(routine, &shared, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(platform::WaitThread(thread, 20));
    shared.release = true;
    platform::CloseThread(thread);  // joins: the routine has finished when this returns
    EXPECT_TRUE(shared.finished);
    EXPECT_EQ(shared.idInside.load(), id);
    EXPECT_NE(id, platform::CurrentThreadId());
}

TEST(Threads, AThreadMayReleaseItsOwnHandle) {
    struct Shared {
        std::atomic<platform::Thread *> self{nullptr};
        std::atomic<bool> released{false};
    } shared;
    auto routine = [](void *argument) -> uint32_t {
        auto *state = static_cast<Shared *>(argument);
        while (state->self == nullptr) platform::SleepMs(1);
        platform::CloseThread(state->self);  // must neither deadlock nor leak
        state->released = true;
        return 0;
    };
    shared.self = platform::StartThread(routine, &shared, nullptr);
    ASSERT_NE(shared.self.load(), nullptr);
    while (!shared.released) platform::SleepMs(1);
    platform::SleepMs(20);  // let the routine return and free the record
}

TEST(Threads, LastErrorBelongsToEachThread) {
    // Only atomics between setting and reading: any system call may overwrite the
    // value on Windows.
    std::atomic<int> step{0};
    uint32_t seenByFirst = 0;
    std::thread first([&] {
        platform::SetLastError(platform::kErrorDatabaseFull);
        step = 1;
        while (step != 2) {
        }
        seenByFirst = platform::GetLastError();
    });
    std::thread second([&] {
        while (step != 1) {
        }
        platform::SetLastError(platform::kErrorTimeout);
        step = 2;
    });
    first.join();
    second.join();
    EXPECT_EQ(seenByFirst, platform::kErrorDatabaseFull);
}

// The Win32 mutex lets its owner in again, so "is it held" is asked from another thread.
template <typename Attempt>
bool SucceedsOnAnotherThread(platform::QueueLock &lock, Attempt attempt) {
    bool succeeded = false;
    std::thread other([&] {
        succeeded = attempt(lock);
        if (succeeded) lock.UnlockMutex();
    });
    other.join();
    return succeeded;
}

bool LockWithin10Ms(platform::QueueLock &lock) { return lock.LockMutex(10); }
bool TakeWithin10Ms(platform::QueueLock &lock) { return lock.LockMutexAndTakeCount(10); }

TEST(QueueLock, MutexAndCountBehaveLikeTheirWin32Pair) {
    platform::QueueLock lock(2);
    EXPECT_FALSE(lock.LockMutexAndTakeCount(10));  // no count yet

    ASSERT_TRUE(lock.LockMutex(kInfinite));
    EXPECT_FALSE(SucceedsOnAnotherThread(lock, LockWithin10Ms));
    EXPECT_TRUE(lock.RaiseCount());
    EXPECT_TRUE(lock.RaiseCount());
    EXPECT_FALSE(lock.RaiseCount());                              // at its maximum
    EXPECT_FALSE(SucceedsOnAnotherThread(lock, TakeWithin10Ms));  // counts there, mutex held
    lock.UnlockMutex();

    ASSERT_TRUE(lock.LockMutexAndTakeCount(0));
    EXPECT_FALSE(SucceedsOnAnotherThread(lock, LockWithin10Ms));  // the combined wait holds the mutex
    lock.UnlockMutex();
    EXPECT_TRUE(SucceedsOnAnotherThread(lock, TakeWithin10Ms));  // the second count
    EXPECT_FALSE(lock.LockMutexAndTakeCount(10));                // none left
}

TEST(QueueLock, BlockedTakeWakesWhenAnotherThreadPosts) {
    platform::QueueLock lock(100);
    std::atomic<bool> taken{false};
    std::thread taker([&] {
        taken = lock.LockMutexAndTakeCount(kInfinite);
        lock.UnlockMutex();
    });
    platform::SleepMs(20);
    ASSERT_TRUE(lock.LockMutex(1000));
    ASSERT_TRUE(lock.RaiseCount());
    lock.UnlockMutex();
    taker.join();
    EXPECT_TRUE(taken);
}

TEST(Event, ManualResetAndWaits) {
    platform::Event event;
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_TRUE(event.Wait(kInfinite));  // stays set until reset
    event.Reset();
    EXPECT_FALSE(event.IsSet());
    EXPECT_FALSE(event.Wait(0));

    std::thread setter([&event] {
        platform::SleepMs(20);
        event.Set();
    });
    EXPECT_TRUE(event.Wait(kInfinite));
    setter.join();
}

#ifndef _WIN32
// On POSIX the provider's link handle is a descriptor that becomes readable.
class LinkWaitTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(pipe(m_pipe), 0); }
    void TearDown() override {
        for (int end : m_pipe) {
            if (end >= 0) close(end);
        }
    }
    HANDLE Link() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(m_pipe[0])); }
    void CloseWriteEnd() {
        close(m_pipe[1]);
        m_pipe[1] = -1;
    }
    int m_pipe[2] = {-1, -1};
    platform::Event m_stop;
};

TEST_F(LinkWaitTest, SignalledStoppedTimedOutAndFailed) {
    EXPECT_EQ(platform::WaitForLink(Link(), m_stop, 20), platform::LinkWait::TimedOut);
    ASSERT_EQ(write(m_pipe[1], "x", 1), 1);
    EXPECT_EQ(platform::WaitForLink(Link(), m_stop, kInfinite), platform::LinkWait::Signalled);
    m_stop.Set();  // a stopping session wins over a link that came up
    EXPECT_EQ(platform::WaitForLink(Link(), m_stop, kInfinite), platform::LinkWait::Stopped);
    EXPECT_EQ(platform::WaitForLink(reinterpret_cast<HANDLE>(intptr_t{-1}), m_stop, 0), platform::LinkWait::Failed);
}

TEST_F(LinkWaitTest, StopFromAnotherThreadAndAClosedProvider) {
    std::thread stopper([this] {
        platform::SleepMs(20);
        m_stop.Set();
    });
    EXPECT_EQ(platform::WaitForLink(Link(), m_stop, kInfinite), platform::LinkWait::Stopped);
    stopper.join();
    m_stop.Reset();
    CloseWriteEnd();  // a provider that gives up by closing its end
    EXPECT_EQ(platform::WaitForLink(Link(), m_stop, kInfinite), platform::LinkWait::Signalled);
}
#endif

}  // namespace
