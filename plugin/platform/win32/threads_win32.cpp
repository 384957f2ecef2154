// Threads, waits, the queue lock, the stop event and the tick counter on Windows.
#include "platform/platform.h"

#include <mmsystem.h>

#include <new>

namespace platform {

namespace {

bool Signalled(DWORD waitResult, DWORD objectIndex = 0) {
    return waitResult == WAIT_OBJECT_0 + objectIndex || waitResult == WAIT_ABANDONED_0 + objectIndex;
}

}  // namespace

// ---- threads ---------------------------------------------------------------------

struct Thread {
    HANDLE handle;
    DWORD id;
};

namespace {

struct StartRequest {
    ThreadRoutine routine;
    void *argument;
};

// The thread entry point has the system's calling convention; the routine has ours.
DWORD WINAPI RunThread(LPVOID parameter) {
    StartRequest request = *static_cast<StartRequest *>(parameter);
    delete static_cast<StartRequest *>(parameter);
    return request.routine(request.argument);
}

}  // namespace

Thread *StartThread(ThreadRoutine routine, void *argument, uint32_t *threadId) {
    auto *request = new (std::nothrow) StartRequest{routine, argument};
    auto *thread = new (std::nothrow) Thread{nullptr, 0};
    if (request != nullptr && thread != nullptr)
        thread->handle = CreateThread(nullptr, 0, RunThread, request, 0, &thread->id);
    if (thread == nullptr || thread->handle == nullptr) {
        delete request;
        delete thread;
        return nullptr;
    }
    if (threadId != nullptr) *threadId = thread->id;
    return thread;
}

bool WaitThread(Thread *thread, uint32_t timeoutMs) {
    return thread == nullptr || WaitForSingleObject(thread->handle, timeoutMs) == WAIT_OBJECT_0;
}

void CloseThread(Thread *thread) {
    if (thread == nullptr) return;
    // A thread cannot wait for itself; any other caller waits for the end first.
    if (thread->id != GetCurrentThreadId()) WaitForSingleObject(thread->handle, INFINITE);
    CloseHandle(thread->handle);
    delete thread;
}

uint32_t CurrentThreadId() { return GetCurrentThreadId(); }

void SleepMs(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t TickCountMs() { return timeGetTime(); }

void SetLastError(uint32_t code) { ::SetLastError(code); }
uint32_t GetLastError() { return ::GetLastError(); }

// ---- the queue lock: a real mutex and semaphore ----------------------------------------

struct QueueLock::State {
    HANDLE objects[2];  // the mutex, then the semaphore: one wait can take both
};

QueueLock::QueueLock(uint32_t maximumCount) : m_state(new State) {
    m_state->objects[0] = CreateMutexA(nullptr, FALSE, nullptr);
    m_state->objects[1] = CreateSemaphoreA(nullptr, 0, static_cast<LONG>(maximumCount), nullptr);
}

QueueLock::~QueueLock() {
    for (HANDLE object : m_state->objects) {
        if (object != nullptr) CloseHandle(object);
    }
    delete m_state;
}

bool QueueLock::LockMutex(uint32_t timeoutMs) { return Signalled(WaitForSingleObject(m_state->objects[0], timeoutMs)); }

void QueueLock::UnlockMutex() { ReleaseMutex(m_state->objects[0]); }

bool QueueLock::RaiseCount() { return ReleaseSemaphore(m_state->objects[1], 1, nullptr) != FALSE; }

bool QueueLock::LockMutexAndTakeCount(uint32_t timeoutMs) {
    const DWORD result = WaitForMultipleObjects(2, m_state->objects, TRUE, timeoutMs);
    return result == WAIT_OBJECT_0 || result == WAIT_OBJECT_0 + 1 || result == WAIT_ABANDONED_0 ||
           result == WAIT_ABANDONED_0 + 1;
}

// ---- the manual-reset event ---------------------------------------------------------------

struct Event::State {
    HANDLE handle;
};

Event::Event() : m_state(new State{CreateEventA(nullptr, TRUE, FALSE, nullptr)}) {}

Event::~Event() {
    if (m_state->handle != nullptr) CloseHandle(m_state->handle);
    delete m_state;
}

void Event::Set() { SetEvent(m_state->handle); }
void Event::Reset() { ResetEvent(m_state->handle); }
bool Event::IsSet() const { return WaitForSingleObject(m_state->handle, 0) == WAIT_OBJECT_0; }
bool Event::Wait(uint32_t timeoutMs) { return WaitForSingleObject(m_state->handle, timeoutMs) == WAIT_OBJECT_0; }
intptr_t Event::NativeHandle() const { return reinterpret_cast<intptr_t>(m_state->handle); }

// ---- the link wait --------------------------------------------------------------------------

LinkWait WaitForLink(HANDLE linkHandle, const Event &stop, uint32_t timeoutMs) {
    if (linkHandle == nullptr || linkHandle == INVALID_HANDLE_VALUE) return LinkWait::Failed;
    // The stop event comes first: a session that is stopping does not care how the link
    // attempt ended, and the wait reports the lowest signalled object.
    HANDLE objects[2] = {reinterpret_cast<HANDLE>(stop.NativeHandle()), linkHandle};
    const DWORD result = WaitForMultipleObjects(2, objects, FALSE, timeoutMs);
    if (result == WAIT_OBJECT_0) return LinkWait::Stopped;
    if (result == WAIT_OBJECT_0 + 1) return LinkWait::Signalled;
    if (result == WAIT_TIMEOUT) return LinkWait::TimedOut;
    return LinkWait::Failed;
}

}  // namespace platform
