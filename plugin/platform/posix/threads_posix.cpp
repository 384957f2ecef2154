// Threads, waits, the queue lock, the stop event and the tick counter on POSIX.
#include "platform/platform.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

namespace platform {

namespace {

std::atomic<uint32_t> g_nextThreadId{1};
thread_local uint32_t t_threadId = 0;
thread_local uint32_t t_lastError = 0;

uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

// Waits on `condition` until `ready()` holds or `timeoutMs` has passed (kInfinite: no limit).
template <typename Predicate>
bool WaitFor(std::condition_variable &condition, std::unique_lock<std::mutex> &lock, uint32_t timeoutMs,
             Predicate ready) {
    if (timeoutMs == kInfinite) {
        condition.wait(lock, ready);
        return true;
    }
    return condition.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

// poll() takes an int; the longest finite wait is clamped to what it can express.
int PollTimeout(uint32_t timeoutMs, uint64_t startMs) {
    if (timeoutMs == kInfinite) return -1;
    uint64_t elapsed = MonotonicMs() - startMs;
    if (elapsed >= timeoutMs) return 0;
    uint64_t left = timeoutMs - elapsed;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// poll() that goes on after a signal until the whole time-out has passed; -1 on error.
int PollRestarting(pollfd *fds, nfds_t count, uint32_t timeoutMs) {
    uint64_t start = MonotonicMs();
    for (;;) {
        int result = poll(fds, count, PollTimeout(timeoutMs, start));
        if (result >= 0 || errno != EINTR) return result;
    }
}

}  // namespace

// ---- threads ---------------------------------------------------------------------

struct Thread {
    ThreadRoutine routine;
    void *argument;
    uint32_t id;
    std::thread native;
    std::mutex mutex;
    std::condition_variable endedSignal;
    bool ended = false;
    bool releasedByItself = false;  // CloseThread was called on the thread's own handle
};

namespace {

void RunThread(Thread *thread) {
    t_threadId = thread->id;
    thread->routine(thread->argument);
    bool release;
    {
        std::lock_guard<std::mutex> guard(thread->mutex);
        thread->ended = true;
        release = thread->releasedByItself;
        thread->endedSignal.notify_all();
    }
    if (release) delete thread;
}

}  // namespace

Thread *StartThread(ThreadRoutine routine, void *argument, uint32_t *threadId) {
    auto *thread = new (std::nothrow) Thread{routine, argument, g_nextThreadId.fetch_add(1), {}, {}, {}};
    if (thread == nullptr) return nullptr;
    try {
        // Held while `native` is assigned, so a thread that closes its own handle at
        // once sees it complete.
        std::lock_guard<std::mutex> guard(thread->mutex);
        thread->native = std::thread(RunThread, thread);
    } catch (...) {
        delete thread;
        return nullptr;
    }
    if (threadId != nullptr) *threadId = thread->id;
    return thread;
}

bool WaitThread(Thread *thread, uint32_t timeoutMs) {
    if (thread == nullptr) return true;
    std::unique_lock<std::mutex> lock(thread->mutex);
    return WaitFor(thread->endedSignal, lock, timeoutMs, [thread] { return thread->ended; });
}

void CloseThread(Thread *thread) {
    if (thread == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(thread->mutex);
        if (thread->native.get_id() == std::this_thread::get_id()) {
            // A thread cannot join itself: it frees its own record when its routine returns.
            thread->native.detach();
            thread->releasedByItself = true;
            return;
        }
    }
    if (thread->native.joinable()) thread->native.join();
    delete thread;
}

uint32_t CurrentThreadId() {
    if (t_threadId == 0) t_threadId = g_nextThreadId.fetch_add(1);
    return t_threadId;
}

void SleepMs(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uint32_t TickCountMs() { return static_cast<uint32_t>(MonotonicMs()); }

void SetLastError(uint32_t code) { t_lastError = code; }
uint32_t GetLastError() { return t_lastError; }

// ---- the queue lock ----------------------------------------------------------------
// The "mutex" is a flag under an internal lock, so that a timed wait for it and the
// combined wait for it and one count are single condition waits.

struct QueueLock::State {
    std::mutex guard;
    std::condition_variable changed;
    bool owned = false;
    uint32_t count = 0;
    uint32_t maximumCount = 0;
};

QueueLock::QueueLock(uint32_t maximumCount) : m_state(new State) { m_state->maximumCount = maximumCount; }

QueueLock::~QueueLock() { delete m_state; }

bool QueueLock::LockMutex(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_state->guard);
    if (!WaitFor(m_state->changed, lock, timeoutMs, [this] { return !m_state->owned; })) return false;
    m_state->owned = true;
    return true;
}

void QueueLock::UnlockMutex() {
    {
        std::lock_guard<std::mutex> lock(m_state->guard);
        m_state->owned = false;
    }
    m_state->changed.notify_all();
}

bool QueueLock::RaiseCount() {
    std::lock_guard<std::mutex> lock(m_state->guard);
    if (m_state->count >= m_state->maximumCount) return false;
    ++m_state->count;
    return true;
}

bool QueueLock::LockMutexAndTakeCount(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(m_state->guard);
    auto bothFree = [this] { return !m_state->owned && m_state->count > 0; };
    if (!WaitFor(m_state->changed, lock, timeoutMs, bothFree)) return false;
    m_state->owned = true;
    --m_state->count;
    return true;
}

// ---- the manual-reset event ----------------------------------------------------------
// A pipe holds one byte while the event is set, so its read end can be polled together
// with other descriptors.

struct Event::State {
    std::mutex guard;
    std::atomic<bool> set{false};
    int readEnd = -1;
    int writeEnd = -1;
};

namespace {

bool OpenNonBlockingPipe(int *readEnd, int *writeEnd) {
    int ends[2];
    if (pipe(ends) != 0) return false;
    for (int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    *readEnd = ends[0];
    *writeEnd = ends[1];
    return true;
}

}  // namespace

Event::Event() : m_state(new State) { OpenNonBlockingPipe(&m_state->readEnd, &m_state->writeEnd); }

Event::~Event() {
    if (m_state->readEnd >= 0) close(m_state->readEnd);
    if (m_state->writeEnd >= 0) close(m_state->writeEnd);
    delete m_state;
}

void Event::Set() {
    std::lock_guard<std::mutex> lock(m_state->guard);
    if (m_state->set.load()) return;
    // The flag first: a waiter that wakes on the byte must find it set.
    m_state->set.store(true);
    const char byte = 1;
    while (write(m_state->writeEnd, &byte, 1) < 0 && errno == EINTR) {
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(m_state->guard);
    if (!m_state->set.load()) return;
    m_state->set.store(false);
    char byte;
    while (read(m_state->readEnd, &byte, 1) < 0 && errno == EINTR) {
    }
}

bool Event::IsSet() const { return m_state->set.load(); }

bool Event::Wait(uint32_t timeoutMs) {
    if (IsSet()) return true;
    pollfd watched{m_state->readEnd, POLLIN, 0};
    PollRestarting(&watched, 1, timeoutMs);
    return IsSet();
}

intptr_t Event::NativeHandle() const { return m_state->readEnd; }

// ---- the link wait ---------------------------------------------------------------------

LinkWait WaitForLink(HANDLE linkHandle, const Event &stop, uint32_t timeoutMs) {
    int linkDescriptor = static_cast<int>(reinterpret_cast<intptr_t>(linkHandle));
    if (linkDescriptor < 0) return LinkWait::Failed;
    pollfd watched[2] = {{linkDescriptor, POLLIN, 0}, {static_cast<int>(stop.NativeHandle()), POLLIN, 0}};
    int ready = PollRestarting(watched, 2, timeoutMs);
    if (ready < 0) return LinkWait::Failed;
    // A session that is stopping does not care how the link attempt ended.
    if (stop.IsSet()) return LinkWait::Stopped;
    if (watched[0].revents & (POLLERR | POLLNVAL)) return LinkWait::Failed;
    // A writer that closed its end also ends the attempt (the reader sees end of file).
    if (watched[0].revents & (POLLIN | POLLHUP)) return LinkWait::Signalled;
    return LinkWait::TimedOut;
}

}  // namespace platform
