// The dispatcher: one queued request at a time, routed by command, subcommand and
// object type to its handler, with the session's connection state kept here.
// Every request leaves with exactly one answer, from a handler or from here.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/session.h"

namespace {

struct PacketDeleter {
    void operator()(AgentPacket *packet) const { FreePacket(packet); }
};
// A packet the dispatcher still owns; release() when it is handed on.
using OwnedPacket = std::unique_ptr<AgentPacket, PacketDeleter>;

struct ObjectParamsHolder {
    ObjectParams params{};
    ~ObjectParamsHolder() { FreeObjectParams(&params); }
};

const char kFolderListing[] = "x-obex/folder-listing";
const char kCapability[] = "x-obex/capability";
const char kFile[] = "x-obex/file";
const char kCab[] = "application/cab";
const char kPhonebook[] = "phonebook/private";
const char kSchedule[] = "schedule";
const char kCallHistory[] = "callhistory";
const char kSmsReceived[] = "smsdata/recv";
const char kSmsSent[] = "smsdata/send";
const char kPackages[] = "WG-REGISTRY";
const char kPackageKey[] = "Software\\Apps";
const char kErrLinkFailed[] = "7FFFFFFF";
const char kErrNoPhoneNumber[] = "00000020";

bool Is(const char *type, const char *name) { return std::strcmp(type, name) == 0; }
bool Has(const char *text, const char *part) { return std::strstr(text, part) != nullptr; }

void SetErrorCode(AgentPacket *packet, const char *code) {
    SetSingleParameterBody(packet, PAR_ERRCODE, code, static_cast<uint32_t>(std::strlen(code)));
}

// ---- connection commands -----------------------------------------------------------------

void ConnectToDevice(DeviceSession &session, OwnedPacket &response) {
    LogLine(LOG_TRACE, "WAIT FOR [%d]ms", int(session.m_connectTimeoutMs));
    if (session.ConnectDevice(session.m_connectTimeoutMs) != 0) {
        LogLine(LOG_TRACE, "Active Sync Connected FAIL");
        session.m_nConnected = 0;
        SetErrorCode(response.get(), kErrLinkFailed);
        session.SendStatus(response.release(), ST_CONNECT_FAILED);
        return;
    }
    session.m_nConnected = 1;
    response->nStatus = ST_OK;
    std::memset(session.m_szPhoneNumber, 0, sizeof session.m_szPhoneNumber);
    if (session.m_nPimReady == 1 && !session.m_pim.GetPhoneNumber(session.m_szPhoneNumber)) {
        LogLine(LOG_TRACE, "Active Sync Connected FAIL");
        AgentPacket *failure = session.CopyOfLastRequest();
        if (failure) {
            SetErrorCode(failure, kErrNoPhoneNumber);
            failure->nStatus = ST_CONNECT_FAILED;
            session.SendResponse(failure);
        }
        session.m_nConnected = 0;  // the link itself stays up
        return;
    }
    LogLine(LOG_TRACE, "Active Sync Connected Successs");
    session.HandToAgent(response.release());
}

void Disconnect(DeviceSession &session, OwnedPacket &response) {
    if (session.m_nConnected) {
        session.DisconnectDevice();
        session.m_nConnected = 0;
    }
    session.SendStatus(response.release(), ST_OK);
}

void AnswerNotification(DeviceSession &session, const AgentPacket *request) {
    session.DisconnectDevice();
    // An empty body goes back as none: the agent frees only bodies it is told about.
    AgentPacket *answer = request->nBodyLength ? CopyPacketWithBody(request) : CopyPacketWithoutBody(request);
    if (!answer) return;
    answer->nStatus = ST_DISCONNECTED;
    session.SendResponse(answer);
}

// ---- CMD_GET ---------------------------------------------------------------------------------

void GetListing(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    ListingParams params{};
    ParseListingParams(request->pBody, request->nBodyLength, &params);
    LogLine(LOG_TRACE, "type[%s]", params.type);
    const char *type = params.type;
    if (Is(type, kFolderListing)) {
        void *scratch = std::calloc(1, 2052);
        if (scratch) session.FbsList(scratch, response.get());
        std::free(scratch);
        if (session.Answered()) {
            response.release();  // FbsList handed it to the agent
        } else {
            session.SendStatus(response.release(), ST_FAILED);
        }
    } else if (Is(type, kPhonebook)) {
        LogLine(LOG_TRACE, "Get [%s]", type);
        session.SendPhonebookListing();
    } else if (Is(type, kSchedule)) {
        LogLine(LOG_TRACE, "Get [%s]", type);
        session.SendScheduleListing();
    } else if (Has(type, kCallHistory)) {
        LogLine(LOG_TRACE, "Get [%s]", type);
        session.SendCallListing();
    } else if (Has(type, kSmsReceived) || Has(type, kSmsSent)) {
        LogLine(LOG_TRACE, "Get [%s]", type);
        session.SendMessageListing(type);
    } else if (Has(params.search, kPackages) || Has(type, kPackages)) {
        LogLine(LOG_TRACE, "GET[%s]", type);
        session.GetPackageList(kPackageKey);
    } else {
        session.SendStatus(response.release(), ST_UNSUPPORTED);
    }
    LogLine(LOG_TRACE, "CMD_GET & SUB_GET_SVC command receive!!");
}

void GetCapabilityDocument(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    ListingParams params{};
    ParseListingParams(request->pBody, request->nBodyLength, &params);
    LogLine(LOG_TRACE, "type[%s]", params.type);
    if (Is(params.type, kCapability)) {
        LogLine(LOG_TRACE, "GetCapablity");
        session.GetCapability(params.type, response.release());
    } else {
        session.SendStatus(response.release(), ST_OK);
    }
}

void DecodeObject(const AgentPacket *request, ObjectParams *params) {
    LogLine(LOG_TRACE, "Parsing Body");
    DecodeObjectParams(request->pBody, request->nBodyLength, params);
}

void GetObject(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    ObjectParamsHolder holder;
    ObjectParams &params = holder.params;
    DecodeObject(request, &params);
    if (Is(params.type, kFile)) {
        session.GetFile(&params);
        if (!session.Answered()) {
            response->nStatus = ST_BAD_PARAMETER;
            session.SendResponse(response.release());
        }
    } else if (Is(params.type, kPhonebook)) {
        session.SendContactText(params.id);
    } else if (Is(params.type, kSchedule)) {
        session.SendAppointmentText(params.id);
    } else if (Has(params.type, kCallHistory)) {
        session.SendCallText(params.id);
    } else {
        session.SendStatus(response.release(), ST_UNSUPPORTED);
    }
}

void DispatchGet(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    if (!session.m_nConnected) {
        session.SendStatus(response.release(), ST_FAILED);
        return;
    }
    switch (request->subCommand) {
    case SUB_GET_SVC:
    case SUB_GET_SVC_ALT: GetListing(session, request, response); break;
    case SUB_GET_CAPABILITY: GetCapabilityDocument(session, request, response); break;
    case SUB_GET_OBJECT:
    case SUB_GET_OBJECT_ALT: GetObject(session, request, response); break;
    default: session.AnswerNone("a CMD_GET subcommand the agent never answers"); break;
    }
}

// ---- CMD_PUT ---------------------------------------------------------------------------------

void InstallCab(DeviceSession &session, const ObjectParams &params) {
    LogLine(LOG_TRACE, "Run Process");
    LogLine(LOG_TRACE, "[%s]", params.name);
    uint32_t result = 1;
    // A cut name would name another package: refuse it.
    if (!params.nameCut) {
        WCHAR *wideName = session.NarrowToWide(params.name);
        if (wideName) result = session.RunCabInstaller(wideName);
        std::free(wideName);
    }
    LogLine(LOG_TRACE, result == 0 ? "Run Process SUCCESS" : "Run Process FAIL");
    session.AnswerLastRequest(result == 0 ? ST_OK : ST_FAILED, true);
}

void PutObject(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    ObjectParamsHolder holder;
    ObjectParams &params = holder.params;
    DecodeObject(request, &params);
    if (Is(params.type, kFile)) {
        LogLine(LOG_TRACE, "SEND FILE PATH[%s]", params.filePath);
        LogLine(LOG_TRACE, "SEND FILE NAME[%s]", params.name);
        LogLine(LOG_TRACE, "SEND FILE TYPE[%s]", params.type);
        session.PutFile(&params);
        if (!session.Answered()) {
            response->nStatus = ST_BAD_PARAMETER;
            session.SendResponse(response.release());
        }
    } else if (Is(params.type, kCab)) {
        InstallCab(session, params);
    } else if (Is(params.type, kPhonebook)) {
        session.HandlePutContact(&params);
    } else if (Is(params.type, kSchedule)) {
        session.HandlePutAppointment(&params);
    } else {
        response->nStatus = ST_NOT_IMPLEMENTED;
        session.SendResponse(response.release());
    }
}

// Deletes one PIM or message record by id and answers with a fresh packet.
void DeleteRecord(DeviceSession &session, const ObjectParams &params, PtrArray *list, const char *nullListLine,
                  uint32_t kind, bool message) {
    if (!list && nullListLine) LogLine(LOG_TRACE, "%s", nullListLine);
    int deleted = 0;
    if (!params.idCut) {  // a cut id names no record
        deleted = message ? session.m_pim.DeleteMessageRecord(list, params.id, kind)
                          : session.m_pim.DeletePimRecord(list, params.id, kind);
    }
    session.AnswerLastRequest(deleted ? ST_OK : ST_FAILED, true);
}

void DeleteObject(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    ObjectParamsHolder holder;
    ObjectParams &params = holder.params;
    DecodeObject(request, &params);
    const char *type = params.type;
    if (Is(type, kFile)) {
        session.DeleteDeviceFile(&params);
        if (!session.Answered()) session.AnswerLastRequest(ST_BAD_PARAMETER, true);
    } else if (Is(type, kPhonebook)) {
        DeleteRecord(session, params, session.m_pContactList, "m_pContactList is Null", KIND_CONTACTS, false);
    } else if (Is(type, kSchedule)) {
        DeleteRecord(session, params, session.m_pScheduleList, nullptr, KIND_APPOINTMENTS, false);
    } else if (Is(type, kSmsReceived)) {
        DeleteRecord(session, params, session.m_pSmsRecvList, "m_pSmsRecvList is Null", KIND_SMS_RECV, true);
    } else if (Is(type, kSmsSent)) {
        DeleteRecord(session, params, session.m_pSmsSentList, "m_pSmsSentList is Null", KIND_SMS_SENT, true);
    } else {
        response->nStatus = ST_NOT_IMPLEMENTED;
        session.SendResponse(response.release());
    }
}

void DispatchPut(DeviceSession &session, const AgentPacket *request, OwnedPacket &response) {
    if (!session.m_nConnected) {
        session.SendStatus(response.release(), ST_DISCONNECTED);
        return;
    }
    switch (request->subCommand) {
    case SUB_PUT_OBJECT:
    case SUB_PUT_OBJECT_ALT: PutObject(session, request, response); break;
    case SUB_PUT_DELETE: DeleteObject(session, request, response); break;
    default:
        response->nStatus = ST_UNSUPPORTED;
        session.SendResponse(response.release());
        break;
    }
}

}  // namespace

bool DeviceSession::DispatchRequest(uint32_t, uint32_t, void *payload) {
    BeginRequest();
    OwnedPacket request(static_cast<AgentPacket *>(payload));
    if (!request) {
        AnswerNone("no request");
        return true;
    }
    // Dumped here rather than on arrival: the log writes through to disk, and the
    // agent's thread must not wait for that.
    DumpPacket(EVT_AGENT_TO_DLL, request.get());
    std::memcpy(&m_lastRequest, request.get(), sizeof m_lastRequest);
    OwnedPacket response(CopyPacketWithoutBody(request.get()));
    const AgentPacket *in = request.get();
    LogLine(LOG_TRACE, "CMD:0x%x nStatus(0x%x)", unsigned(in->command), unsigned(in->nStatus));
    LogLine(LOG_TRACE, "CMD:0x%x nBodyLength(0x%x)", unsigned(in->command), unsigned(in->nBodyLength));
    if (response) {
        switch (in->command) {
        case CMD_APP_CON: ConnectToDevice(*this, response); break;
        case CMD_CONNECT: SendStatus(response.release(), m_nConnected ? ST_OK : ST_DISCONNECTED); break;
        case CMD_DISCON:
        case CMD_APP_CLOSE: Disconnect(*this, response); break;
        case CMD_SETPATH: HandleSetPath(in); break;
        case CMD_NOTI: AnswerNotification(*this, in); break;
        case CMD_GET: DispatchGet(*this, in, response); break;
        case CMD_PUT: DispatchPut(*this, in, response); break;
        default: SendStatus(response.release(), ST_UNSUPPORTED); break;
        }
    } else {
        LogLine(LOG_FAULT, "Request not answered: no memory for its answer");
        AnswerNone("no memory for the answer");
    }
    m_lastRequest.pBody = nullptr;  // it shared the request's body, freed now
    return true;
}
