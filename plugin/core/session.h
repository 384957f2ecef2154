// The session core: the parameter records a request body is decoded into, the
// worker thread with its message queue, and DeviceSession, the object behind one
// SE_Initialize. Handlers and document builders are DeviceSession operations; each
// subsystem defines its own in its folder (files/, pim/, xml/), and this header
// declares them all so that a reader sees the whole session in one place.
#ifndef CEBRIDGE_SESSION_H
#define CEBRIDGE_SESSION_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cebridge/agent.h"
#include "cebridge/rapi.h"
#include "pim/pim.h"
#include "platform/platform.h"
#include "support/support.h"
#include "xml/pugxml.h"

struct CapabilityInfo;

// ---- parameter records ---------------------------------------------------------------
// Zeroed fixed-width records a request body is decoded into. Values longer than
// their field are cut to it with a final NUL; the `...Cut` flags remember that,
// so a handler that would name a file or a record with the value refuses instead.

struct SetPathParams {  // CMD_SETPATH
    char name[256];
    char flags[3];
    char type[257];
    uint32_t nameLength;
    bool nameCut;
};

struct ObjectParams {  // SUB_GET_OBJECT and every CMD_PUT
    char name[128];
    char type[64];
    char filePath[256];
    char memType[32];
    char id[32];
    char group[128];
    char *body;           // PAR_XMLBODY: heap copy, one zero byte longer than the value
    uint32_t bodyLength;  // length of the PAR_XMLBODY value
    bool nameCut;
    bool typeCut;
    bool filePathCut;
    bool idCut;
};

struct ListingParams {  // SUB_GET_CAPABILITY and SUB_GET_SVC
    char type[64];
    char target[128];
    char search[256];
    char timeout[16];
};

// Walks a request body; fills `params`. Never reads past `bodyLength`.
bool DecodeObjectParams(const uint8_t *body, uint32_t bodyLength, ObjectParams *params);
int ParseListingParams(const uint8_t *body, uint32_t bodyLength, ListingParams *params);
void FreeObjectParams(ObjectParams *params);  // frees the body copy

// ---- packets -----------------------------------------------------------------------------
// A new packet: a copy of `source`'s whole record with no body (nBodyLength 0,
// pBody null). Allocated with malloc, as every packet handed to the agent.
AgentPacket *CopyPacketWithoutBody(const AgentPacket *source);
// A new packet: a copy of `source`'s record and of its body (plus one zero byte).
AgentPacket *CopyPacketWithBody(const AgentPacket *source);
void FreePacket(AgentPacket *packet);
// Gives `packet` a body of one parameter; replaces any body it had.
bool SetSingleParameterBody(AgentPacket *packet, uint8_t code, const void *value, uint32_t length);
// A body of one parameter written in place: the value is appended after room for
// the parameter's header, and the finished block becomes the packet's body, so a
// large answer is never held twice.
class SingleParameterBody {
public:
    explicit SingleParameterBody(uint8_t code) : m_code(code) {}
    ~SingleParameterBody() { std::free(m_block); }
    SingleParameterBody(const SingleParameterBody &) = delete;
    SingleParameterBody &operator=(const SingleParameterBody &) = delete;

    // Room for `valueLength` bytes of value in one block, when the size is known.
    void Reserve(size_t valueLength);
    void Append(const void *data, size_t length);
    size_t ValueLength() const { return m_used - AGENT_PARAM_HEADER_SIZE; }
    // Writes the header and one zero byte past the end, and hands the block to
    // `packet` (replacing its body). False when memory ran out on the way or the
    // value is longer than a parameter can say.
    bool AttachTo(AgentPacket *packet);

private:
    bool Grow(size_t needed);

    uint8_t m_code;
    uint8_t *m_block = nullptr;
    size_t m_capacity = 0;
    size_t m_used = AGENT_PARAM_HEADER_SIZE;
    bool m_failed = false;
};
// The packet dump to the log: "Agent=>DLL" for 0x5000, "DLL=>Agent" otherwise.
void DumpPacket(uint32_t event, const AgentPacket *packet);
const char *CommandDumpName(uint16_t command);

// ---- the worker thread and its queue --------------------------------------------------------
struct QueueItem {
    uint32_t id;     // 0: a request; 1: the stop message
    uint32_t param;  // 344 for a request
    void *payload;   // the plug-in's own copy of the request
};
// Frees an item and, for a request, the request copy it carries.
void FreeQueueItem(QueueItem *item);

class MessageQueue {
public:
    explicit MessageQueue(uint32_t capacity);
    ~MessageQueue();  // pending items are freed with their payloads
    MessageQueue(const MessageQueue &) = delete;
    MessageQueue &operator=(const MessageQueue &) = delete;

    // False with last error 1460 (mutex time-out) or 4314 (queue full).
    bool Post(uint32_t id, uint32_t param, void *payload, uint32_t timeoutMs);
    // The oldest item (the caller owns it), or null with last error 1460.
    QueueItem *Take(uint32_t timeoutMs);
    uint32_t Capacity() const { return m_capacity; }

private:
    platform::QueueLock m_lock;
    PtrArray m_items;
    uint32_t m_capacity;
};

class WorkerThread {
public:
    WorkerThread();
    virtual ~WorkerThread();
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;

    virtual bool OnStart(uint32_t *queueWait) = 0;
    virtual bool OnMessage(uint32_t param, uint32_t id, void *payload) = 0;
    virtual bool OnIdle(bool itemArrived);
    void Start();
    void Stop();
    MessageQueue *GetQueue() const { return m_queue; }
    bool IsRunning() const { return m_running != 0; }

protected:
    uint32_t m_queueWait = 3600000;  // one take waits up to an hour
    uint32_t m_queueCapacity = 100;

private:
    static uint32_t ThreadRoutine(void *self);
    uint32_t Run();

    platform::Thread *m_thread = nullptr;
    uint32_t m_threadId = 0;
    int32_t m_running = 0;
    MessageQueue *m_queue = nullptr;
};

// ---- the session ------------------------------------------------------------------------------
class DeviceSession : public WorkerThread {
public:
    DeviceSession();
    ~DeviceSession() override;

    // -- the queue's two sides (core/)
    void Receive(uint32_t event, const AgentPacket *request);  // agent's thread
    void AnswerAbort(AgentPacket *abort);                      // agent's thread; takes `abort`
    // A new packet copied from the last request, with no body.
    AgentPacket *CopyOfLastRequest() const;

    // -- answers (core/): every packet to the agent leaves through Deliver, which
    // keeps the record of the request in hand that the dispatcher and the answer
    // check read. The three named ways are thin entries into it.
    struct AnswerWay {
        bool logged;                        // dumped to the log, dropped for uid > 256
        bool forRequestInHand = true;       // false only for the abort's own answer
        const char *refusedLine = nullptr;  // logged when the agent refuses the packet
    };
    bool Deliver(AgentPacket *packet, const AnswerWay &way);  // true when the agent took it
    bool HandToAgent(AgentPacket *packet);                    // true when the agent took it
    void SendStatus(AgentPacket *packet, uint32_t status);
    bool SendResponse(AgentPacket *packet);  // false: dropped (uid > 256)
    // A fresh copy of the last request, no body, answered with `status`: logged
    // (SendResponse) or plain (SendStatus).
    void AnswerLastRequest(uint32_t status, bool logged);
    // The request in hand stays unanswered on purpose (an aborted copy, the session
    // going away, no memory for the answer).
    void AnswerNone(const char *why);
    // A final answer left for the request in hand, or it was declared silent.
    bool Answered() const { return m_finalAnswers != 0 || m_silence != nullptr; }

    // -- worker hooks and the dispatcher (core/)
    bool OnStart(uint32_t *queueWait) override;  // runs Configure
    bool OnMessage(uint32_t param, uint32_t id, void *payload) override;
    bool DispatchRequest(uint32_t param, uint32_t id, void *payload);
    bool Configure(uint32_t *queueWait);

    // -- the device connection (core/)
    HRESULT ConnectDevice(uint32_t timeoutMs);
    bool DisconnectDevice();

    // -- text conversions for RAPI calls; the caller frees the result with free()
    char *WideToNarrow(const WCHAR *text);
    WCHAR *NarrowToWide(const char *text);

    // -- XML answers (xml/)
    bool XmlResponse(XmlNodeRef document, AgentPacket *packet, const char *dtdName);
    bool AppendXmlDtd(std::string &text, const char *dtdName);
    bool MakeCapability(CapabilityInfo *info, AgentPacket *packet);
    bool AppendContent(XmlNodeRef root, const void *record, uint32_t kind);

    // -- files and storage (files/)
    bool GetCapability(const char *type, AgentPacket *response);
    bool ParseSetPath(const uint8_t *body, uint32_t bodyLength, SetPathParams *params);
    bool FbsSetPath(char *name, const char *flag);   // takes `name` when it appends it
    void HandleSetPath(const AgentPacket *request);  // the whole CMD_SETPATH request
    bool FbsList(void *scratch, AgentPacket *response);
    bool GetFile(ObjectParams *params);
    bool PutFile(ObjectParams *params);
    uint32_t RunCabInstaller(const WCHAR *packagePath);
    bool DeleteDeviceFile(ObjectParams *params);
    void GetPackageList(const char *keyPath);
    // The current folder's device path ("" at the root; "\A\B" below it).
    bool ComposeFolderPath(char *out, size_t outSize) const;

    // -- PIM (pim/)
    void SendPhonebookListing();
    void SendScheduleListing();
    void SendCallListing();
    void SendMessageListing(const char *type);
    void SendContactText(const char *id);
    void SendAppointmentText(const char *id);
    void SendCallText(const char *id);
    // CMD_PUT of a contact or an appointment: parses the body, adds the record and
    // answers; takes the body of `params`.
    void HandlePutContact(ObjectParams *params);
    void HandlePutAppointment(ObjectParams *params);
    // Frees the five PIM lists and their records (the destructor's part).
    void FreePimLists();

    // -- state (zero at construction)
    char m_szSaPath[256];            // SAPATH: where the DTD files are
    char m_szSmsVolume[260];         // SMSVOLUME: the message volume's device name ("": none)
    int32_t m_nPimReady;             // 1 once the PIM volume opened
    char m_szPhoneNumber[260];       // the phone's own number (first 32 bytes used)
    std::atomic<uint32_t> m_nAbort;  // set by CMD_ABORT on the agent's thread
    int32_t m_nConnected;            // 1 while a link made by CMD_APP_CON stands
    AgentPacket m_lastRequest;       // byte copy of the request being dispatched
    PimStore m_pim;
    PtrArray *m_pFbsFolderList;  // current folder, entries below the root
    int32_t m_nFbsFlag;
    HANDLE m_hCeFile;
    PtrArray *m_pContactList;
    PtrArray *m_pScheduleList;
    PtrArray *m_pCallList;
    PtrArray *m_pSmsRecvList;
    PtrArray *m_pSmsSentList;
    // Set when the session is being destroyed: the link wait and the transfers wake
    // on it and end without an answer, so the worker ends within the bounded join.
    platform::Event m_stop;
    // How long CMD_APP_CON waits for the link; tests may shorten it.
    uint32_t m_connectTimeoutMs = 30000;

private:
    void BeginRequest();
    // In test builds a request with no answer, or with a second final one, stops
    // the process with the request's name, so the test that sent it fails.
    void CheckOneAnswer(uint32_t command, uint32_t subCommand) const;

    // The record of the request in hand; the worker thread alone touches it.
    uint32_t m_finalAnswers = 0;
    const char *m_silence = nullptr;
};

// The process-wide callback given to the last SE_Initialize.
AgentCallbackFn AgentCallback();

#endif  // CEBRIDGE_SESSION_H
