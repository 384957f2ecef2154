// The contents listings of the phone's PIM data: each refreshes its session list
// from the phone and answers one contents-listing document with a Content per
// record. A refresh that fails still answers, with an empty listing.
#include <string>

#include "core/session.h"
#include "pim/pim.h"
#include "pim/pim_records.h"
#include "support/support.h"
#include "xml/xml.h"

namespace {

// The session list, created on first use, emptied.
PtrArray *EmptiedList(PtrArray *&list) {
    if (!list) list = new PtrArray;
    FreeRecordList(list);
    return list;
}

void DeleteList(PtrArray *&list) {
    FreeRecordList(list);
    delete list;
    list = nullptr;
}

// What a listing does with each record before its Content: log it (and, for
// contacts, compose the name the Content shows).
using RecordStep = void (*)(void *record);

// Answers the listing request with one Content per record of `list` (none when
// the refresh failed).
void AnswerListing(DeviceSession &session, PtrArray *list, bool refreshed, uint32_t kind, RecordStep beforeContent) {
    XmlTree tree(0xffff, true);
    tree.create();
    XmlNodeRef root = StartContentsListing(tree);
    if (refreshed) {
        for (int32_t i = 0; i < list->GetSize(); ++i) {
            void *record = list->GetAt(i);
            beforeContent(record);
            session.AppendContent(root, record, kind);
        }
    }
    AgentPacket *packet = session.CopyOfLastRequest();
    if (packet) {
        packet->command = CMD_GET;
        packet->subCommand = SUB_GET_SVC;
        session.XmlResponse(tree.document(), packet, DTD_CONTENTS_LISTING);
    }
    tree.clear();
}

void ComposeAndLogContact(void *record) {
    auto *contact = static_cast<ContactRecord *>(record);
    ComposeContactName(contact);
    LogLine(LOG_TRACE, "[%s][%s]", contact->composedName, contact->MOBILETELEPHONENUMBER);
}

void LogAppointment(void *record) {
    auto *appointment = static_cast<AppointmentRecord *>(record);
    if (appointment->WHOLEDAY) LogLine(LOG_TRACE, "Whole Day Schedule");
    LogLine(LOG_TRACE, "[%s][%s][%d]", appointment->TITLE, appointment->STARTTIME,
            static_cast<int32_t>(appointment->DURATION));
}

void LogCall(void *record) {
    auto *call = static_cast<CallRecord *>(record);
    LogLine(LOG_TRACE, "[%s][%s][%s][%s][%s]", call->ID, call->name, call->number, call->startTime, call->callType);
}

void LogMessage(void *record) {
    auto *message = static_cast<MessageRecord *>(record);
    LogLine(LOG_TRACE, "[%s][%s][%s]", message->dateTime, message->party, message->text);
}

}  // namespace

void DeviceSession::SendPhonebookListing() {
    PtrArray *list = EmptiedList(m_pContactList);
    bool refreshed = m_pim.ReadPimRecords(KIND_CONTACTS, list) != 0;
    LogLine(LOG_TRACE, "CBSList");
    AnswerListing(*this, list, refreshed, KIND_CONTACTS, ComposeAndLogContact);
}

void DeviceSession::SendScheduleListing() {
    PtrArray *list = EmptiedList(m_pScheduleList);
    bool refreshed = m_pim.ReadPimRecords(KIND_APPOINTMENTS, list) != 0;
    LogLine(LOG_TRACE, "CBSList");
    AnswerListing(*this, list, refreshed, KIND_APPOINTMENTS, LogAppointment);
}

void DeviceSession::SendCallListing() {
    // Every call is listed whatever kind the type names; each Content carries its kind.
    PtrArray *list = EmptiedList(m_pCallList);
    bool refreshed = m_pim.ReadPimRecords(KIND_CALLS, list) != 0;
    LogLine(LOG_TRACE, "CBS List");
    AnswerListing(*this, list, refreshed, KIND_CALLS, LogCall);
}

void DeviceSession::SendMessageListing(const char *type) {
    std::string kindText = type ? type : "";
    PtrArray **slot = nullptr;
    uint32_t kind = 0;
    if (kindText == "smsdata/recv") {
        slot = &m_pSmsRecvList;
        kind = KIND_SMS_RECV;
    } else if (kindText == "smsdata/send") {
        slot = &m_pSmsSentList;
        kind = KIND_SMS_SENT;
    }
    if (!slot) {
        // "smsdata/recv/..." and the like name no message list: an empty listing.
        LogLine(LOG_TRACE, "SMS TYPE[%s] NAMES NO LIST", kindText.c_str());
        LogLine(LOG_TRACE, "CBSList");
        AnswerListing(*this, nullptr, false, KIND_SMS_RECV, LogMessage);
        return;
    }
    PtrArray *list = EmptiedList(*slot);
    bool refreshed = m_pim.ReadMessageRecords(kind, list) != 0;
    LogLine(LOG_TRACE, "CBSList");
    AnswerListing(*this, list, refreshed, kind, LogMessage);
}

void DeviceSession::FreePimLists() {
    DeleteList(m_pContactList);
    DeleteList(m_pScheduleList);
    DeleteList(m_pCallList);
    DeleteList(m_pSmsRecvList);
    DeleteList(m_pSmsSentList);
}
