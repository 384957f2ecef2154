// The four exports the agent drives the plug-in with, and the process-wide objects
// behind them: the agent's callback, the log writer and the list of sessions.
#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>

#include "core/session.h"

namespace {

std::atomic<AgentCallbackFn> g_agentCallback{nullptr};
PtrArray *g_sessionList = nullptr;
// An agent may deliver one last event on one thread while it unloads on another:
// the list and the session a request is handed to stay put while either runs.
// Recursive, since an abort is answered on the agent's thread, inside SE_EventHandle,
// and the agent's callback may hand over the next request from there.
std::recursive_mutex g_sessionLock;

// The log writer lives as long as the module: made by the first SE_Initialize,
// ended when the plug-in is unloaded (or the process ends).
struct LogOwner {
    ~LogOwner() {
        if (!writer) return;
        SetLog(nullptr);
        delete writer;
    }
    LogWriter *writer = nullptr;
} g_logOwner;

constexpr uint32_t kLogThreshold = LOG_DETAIL;
constexpr int32_t kEventHandled = 0x20;

void StartLog(const char *logDirectory, const char *logBaseName) {
    auto *writer = new LogWriter();
    writer->Init(logDirectory ? logDirectory : "", logBaseName ? logBaseName : "", kLogThreshold);
    g_logOwner.writer = writer;
    SetLog(writer);
    LogLine(LOG_TRACE, "======================START ACTIVE SYNC[3.0.0.15] ==================");
    LogLine(LOG_TRACE, "Initialized the active sync");
}

DeviceSession *FirstSession() {
    if (!g_sessionList || g_sessionList->GetSize() == 0) return nullptr;
    return static_cast<DeviceSession *>(g_sessionList->GetAt(0));
}

// Removes the first session from the list (and the list once empty), under the lock.
DeviceSession *TakeFirstSession() {
    std::lock_guard<std::recursive_mutex> hold(g_sessionLock);
    DeviceSession *session = FirstSession();
    if (session) g_sessionList->RemoveAt(0);
    if (g_sessionList && g_sessionList->GetSize() == 0) {
        g_sessionList->FreeData();
        delete g_sessionList;
        g_sessionList = nullptr;
    }
    return session;
}

void LogEscaped(const char *where) { LogLine(LOG_FAULT, "%s: unexpected failure", where); }

}  // namespace

AgentCallbackFn AgentCallback() { return g_agentCallback.load(); }

extern "C" {

CEBRIDGE_API int32_t CEBRIDGE_CALL SE_Initialize(AgentCallbackFn callback, uint32_t, uint32_t, uint32_t,
                                                 const char *logDirectory, const char *logBaseName) {
    try {
        std::lock_guard<std::recursive_mutex> hold(g_sessionLock);
        if (!g_sessionList) g_sessionList = new PtrArray();
        platform::LoadTimeZone();
        if (!Log()) StartLog(logDirectory, logBaseName);
        g_agentCallback.store(callback);
        g_sessionList->Add(new DeviceSession());
    } catch (...) {
        LogEscaped("SE_Initialize");
    }
    return 0;
}

CEBRIDGE_API int32_t CEBRIDGE_CALL SE_EventHandle(uint32_t event, AgentPacket *packet) {
    try {
        std::lock_guard<std::recursive_mutex> hold(g_sessionLock);
        DeviceSession *session = FirstSession();
        if (session && event == EVT_AGENT_TO_DLL) session->Receive(event, packet);
    } catch (...) {
        LogEscaped("SE_EventHandle");
    }
    return kEventHandled;
}

CEBRIDGE_API int32_t CEBRIDGE_CALL SE_ReleaseMemory(AgentPacket *packet) {
    LogLine(LOG_TRACE, "SE_Active_ReleaseMemorry ");
    if (!packet) return kEventHandled;
    if (packet->nBodyLength != 0 && packet->pBody) std::free(packet->pBody);
    std::free(packet);
    LogLine(LOG_DETAIL, "Delete pData Complete");
    return kEventHandled;
}

CEBRIDGE_API int32_t CEBRIDGE_CALL SE_UnInitialize(void) {
    try {
        LogLine(LOG_DETAIL, "Uninitialized the activeSync");
        DeviceSession *session = TakeFirstSession();
        // Out of the list, no event can reach it: its worker is stopped (which may
        // take up to the worker's bounded wait) without holding up the agent's
        // other threads.
        delete session;
    } catch (...) {
        LogEscaped("SE_UnInitialize");
    }
    return 0;
}

}  // extern "C"
