// The worker thread and its queue: one thread per session takes requests in
// arrival order from a bounded queue guarded by one mutex and a counting semaphore.
#include <cstdlib>

#include "core/session.h"

namespace {

constexpr uint32_t kStopMessage = 1;
constexpr uint32_t kStopWaitMs = 3000;

}  // namespace

void FreeQueueItem(QueueItem *item) {
    if (!item) return;
    if (item->id == 0) FreePacket(static_cast<AgentPacket *>(item->payload));
    std::free(item);
}

// ---- MessageQueue ----------------------------------------------------------------------

MessageQueue::MessageQueue(uint32_t capacity) : m_lock(capacity), m_capacity(capacity) {}

MessageQueue::~MessageQueue() {
    for (int32_t i = 0; i < m_items.GetSize(); ++i) FreeQueueItem(static_cast<QueueItem *>(m_items.GetAt(i)));
    m_items.FreeData();
}

bool MessageQueue::Post(uint32_t id, uint32_t param, void *payload, uint32_t timeoutMs) {
    if (!m_lock.LockMutex(timeoutMs)) {
        platform::SetLastError(platform::kErrorTimeout);
        return false;
    }
    auto *item = static_cast<QueueItem *>(std::malloc(sizeof(QueueItem)));
    if (!item || !m_lock.RaiseCount()) {
        m_lock.UnlockMutex();
        std::free(item);
        platform::SetLastError(platform::kErrorDatabaseFull);
        return false;
    }
    *item = QueueItem{id, param, payload};
    m_items.Add(item);
    m_lock.UnlockMutex();
    return true;
}

QueueItem *MessageQueue::Take(uint32_t timeoutMs) {
    if (!m_lock.LockMutexAndTakeCount(timeoutMs)) {
        platform::SetLastError(platform::kErrorTimeout);
        return nullptr;
    }
    auto *item = static_cast<QueueItem *>(m_items.GetAt(0));
    m_items.RemoveAt(0);
    m_lock.UnlockMutex();
    return item;
}

// ---- WorkerThread ------------------------------------------------------------------------

WorkerThread::WorkerThread() = default;

WorkerThread::~WorkerThread() { Stop(); }

bool WorkerThread::OnIdle(bool) { return true; }

void WorkerThread::Start() {
    if (m_running) return;
    m_queue = new MessageQueue(m_queueCapacity);
    m_thread = platform::StartThread(&WorkerThread::ThreadRoutine, this, &m_threadId);
    if (!m_thread) {
        LogLine(LOG_FAULT, "Worker thread could not be started");
        delete m_queue;
        m_queue = nullptr;
        return;
    }
    m_running = 1;
}

// The worker must never outlive its session: after the bounded wait a worker that
// is still busy is joined all the same (CloseThread joins), rather than left to
// run over freed memory. Long waits inside requests wake on the session's stop
// event, so this join ends soon after the stop was set.
void WorkerThread::Stop() {
    if (m_running) {
        bool posted = m_queue->Post(kStopMessage, 0, nullptr, kStopWaitMs);
        if (!posted) LogLine(LOG_FAULT, "Stop message not posted (%d)", int(platform::GetLastError()));
        // A full queue refused the stop message. The worker drains it, so the message
        // gets in soon; without it the worker would wait for its next request (for an
        // hour) and the join below with it.
        while (!posted && platform::CurrentThreadId() != m_threadId && !platform::WaitThread(m_thread, 1))
            posted = m_queue->Post(kStopMessage, 0, nullptr, kStopWaitMs);
        if (!platform::WaitThread(m_thread, kStopWaitMs))
            LogLine(LOG_FAULT, "Worker still busy after %dms; waiting for it to end", int(kStopWaitMs));
        platform::CloseThread(m_thread);
        m_thread = nullptr;
        m_threadId = 0;
        m_running = 0;
    }
    delete m_queue;
    m_queue = nullptr;
}

uint32_t WorkerThread::ThreadRoutine(void *self) { return static_cast<WorkerThread *>(self)->Run(); }

uint32_t WorkerThread::Run() {
    MessageQueue *queue = m_queue;
    if (!queue) return 1;
    if (!OnStart(&m_queueWait)) return 2;
    uint32_t lastIdle = platform::TickCountMs() / 1000;
    for (;;) {
        QueueItem *item = queue->Take(m_queueWait);
        uint32_t now = platform::TickCountMs() / 1000;
        if (!item) {
            lastIdle = now;
            OnIdle(false);
            continue;
        }
        if (item->id == kStopMessage) {
            std::free(item);
            return 0;
        }
        if (!OnMessage(item->param, item->id, item->payload)) {
            std::free(item);
            return 0;
        }
        if ((now - lastIdle) * 1000u > m_queueWait) {
            OnIdle(true);
            lastIdle = now;
        }
        std::free(item);
    }
}
