// The session object: its life, the agent's side of the queue (Receive and the
// abort answer) and the three ways an answer goes back to the agent.
#include "core/session.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

constexpr uint32_t kAbortDrainTakeMs = 100;

void DeleteFolderList(PtrArray *folders) {
    if (!folders) return;
    for (int32_t i = 0; i < folders->GetSize(); ++i) std::free(folders->GetAt(i));
    delete folders;
}

}  // namespace

DeviceSession::DeviceSession()
    : m_nPimReady(0),
      m_nAbort(0),
      m_nConnected(0),
      m_pFbsFolderList(nullptr),
      m_nFbsFlag(0),
      m_hCeFile(nullptr),
      m_pContactList(nullptr),
      m_pScheduleList(nullptr),
      m_pCallList(nullptr),
      m_pSmsRecvList(nullptr),
      m_pSmsSentList(nullptr) {
    std::memset(m_szSaPath, 0, sizeof m_szSaPath);
    std::memset(m_szSmsVolume, 0, sizeof m_szSmsVolume);
    std::memset(m_szPhoneNumber, 0, sizeof m_szPhoneNumber);
    std::memset(&m_lastRequest, 0, sizeof m_lastRequest);
    Start();
}

// The worker is stopped before the PIM volume is closed, so the close never runs
// beside a request still using the volume on the worker.
DeviceSession::~DeviceSession() {
    m_stop.Set();
    Stop();
    m_pim.ClosePimVolume();
    DeleteFolderList(m_pFbsFolderList);
    FreePimLists();
}

// ---- the agent's side of the queue ---------------------------------------------------------

void DeviceSession::Receive(uint32_t event, const AgentPacket *request) {
    if (!request) return;
    AgentPacket *copy = CopyPacketWithBody(request);
    if (!copy) {
        LogLine(LOG_FAULT, "Request dropped: no memory for its copy");
        return;
    }
    if (copy->command == CMD_ABORT) {
        DumpPacket(event, copy);
        AnswerAbort(copy);
        return;
    }
    MessageQueue *queue = GetQueue();
    if (!queue || !queue->Post(0, sizeof(AgentPacket), copy, platform::kInfinite)) {
        LogLine(LOG_FAULT, "Request dropped: queue full (%d)", int(platform::GetLastError()));
        FreePacket(copy);
    }
}

// Runs on the agent's thread: every request still waiting is discarded unanswered
// and the abort itself is answered at once.
void DeviceSession::AnswerAbort(AgentPacket *abort) {
    m_nAbort = 1;
    if (MessageQueue *queue = GetQueue()) {
        while (QueueItem *item = queue->Take(kAbortDrainTakeMs)) {
            FreeQueueItem(item);
            platform::SleepMs(1);
        }
    }
    LogLine(LOG_TRACE, "Queue Clear");
    std::free(abort->pBody);
    abort->pBody = nullptr;
    abort->nBodyLength = 0;
    abort->nStatus = ST_OK;
    LogLine(LOG_TRACE, "RESPONSE ABORTED");
    Deliver(abort, {true, false});
}

// ---- answers ---------------------------------------------------------------------------------

bool DeviceSession::Deliver(AgentPacket *packet, const AnswerWay &way) {
    if (!packet) {
        if (way.forRequestInHand) AnswerNone("no memory for the answer");
        return false;
    }
    if (way.forRequestInHand && packet->nStatus != ST_CONTINUE) ++m_finalAnswers;
    if (way.logged) {
        if (packet->uid > 256) {  // the agent does not take answers for these
            FreePacket(packet);
            return false;
        }
        DumpPacket(EVT_DLL_TO_AGENT, packet);
    }
    AgentCallbackFn callback = AgentCallback();
    if (callback && callback(EVT_DLL_TO_AGENT, packet, 0) != 0) return true;
    if (way.refusedLine) LogLine(LOG_TRACE, "%s", way.refusedLine);
    SE_ReleaseMemory(packet);
    return false;
}

bool DeviceSession::HandToAgent(AgentPacket *packet) { return Deliver(packet, {false}); }

void DeviceSession::SendStatus(AgentPacket *packet, uint32_t status) {
    if (packet) packet->nStatus = status;
    HandToAgent(packet);
}

bool DeviceSession::SendResponse(AgentPacket *packet) {
    const bool dropped = !packet || packet->uid > 256;
    Deliver(packet, {true});
    return !dropped;
}

void DeviceSession::AnswerLastRequest(uint32_t status, bool logged) {
    AgentPacket *answer = CopyOfLastRequest();
    if (answer) answer->nStatus = status;
    Deliver(answer, {logged});
}

void DeviceSession::AnswerNone(const char *why) { m_silence = why; }

void DeviceSession::BeginRequest() {
    m_finalAnswers = 0;
    m_silence = nullptr;
}

void DeviceSession::CheckOneAnswer(uint32_t command, uint32_t subCommand) const {
#ifdef CEBRIDGE_CHECK_ANSWERS
    const bool once = m_silence ? m_finalAnswers == 0 : m_finalAnswers == 1;
    if (once) return;
    std::fprintf(stderr, "cebridge: request CMD:0x%x sub 0x%x left with %u final answers%s%s\n", unsigned(command),
                 unsigned(subCommand), unsigned(m_finalAnswers), m_silence ? " after declaring silence: " : "",
                 m_silence ? m_silence : "");
    std::abort();
#else
    (void)command;
    (void)subCommand;
#endif
}

AgentPacket *DeviceSession::CopyOfLastRequest() const { return CopyPacketWithoutBody(&m_lastRequest); }

// ---- worker hooks --------------------------------------------------------------------------

bool DeviceSession::OnStart(uint32_t *queueWait) {
    try {
        Configure(queueWait);
    } catch (const std::exception &error) {
        LogLine(LOG_FAULT, "Configure failed: %s", error.what());
    } catch (...) {
        LogLine(LOG_FAULT, "Configure failed");
    }
    return true;
}

bool DeviceSession::OnMessage(uint32_t param, uint32_t id, void *payload) {
    uint32_t command = 0;
    uint32_t subCommand = 0;
    if (payload) {
        command = static_cast<const AgentPacket *>(payload)->command;
        subCommand = static_cast<const AgentPacket *>(payload)->subCommand;
    }
    try {
        DispatchRequest(param, id, payload);
    } catch (const std::exception &error) {
        LogLine(LOG_FAULT, "Request failed: %s", error.what());
        if (!Answered()) AnswerNone("the request failed");
    } catch (...) {
        LogLine(LOG_FAULT, "Request failed");
        if (!Answered()) AnswerNone("the request failed");
    }
    CheckOneAnswer(command, subCommand);
    return true;
}

// ---- text conversions ----------------------------------------------------------------------

char *DeviceSession::WideToNarrow(const WCHAR *text) {
    if (!text) return nullptr;
    std::string narrow = platform::WideToAnsi(text);
    auto *copy = static_cast<char *>(std::malloc(narrow.size() + 1));
    if (copy) std::memcpy(copy, narrow.c_str(), narrow.size() + 1);
    return copy;
}

WCHAR *DeviceSession::NarrowToWide(const char *text) {
    if (!text) return nullptr;
    platform::WideString wide = platform::AnsiToWide(text);
    auto *copy = static_cast<WCHAR *>(std::malloc((wide.size() + 1) * sizeof(WCHAR)));
    if (copy) std::memcpy(copy, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    return copy;
}
