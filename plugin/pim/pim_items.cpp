// Single PIM items between the agent and the phone: adding a contact or an
// appointment from its item text, and answering one item's text.
#include <cstring>
#include <string>

#include "core/session.h"
#include "pim/pim.h"
#include "pim/pim_records.h"
#include "support/support.h"

namespace {

// Answers the request being served with the item text as its one PAR_XMLBODY.
void AnswerItemText(DeviceSession &session, const std::string &text) {
    AgentPacket *packet = session.CopyOfLastRequest();
    if (!packet) return;
    if (!SetSingleParameterBody(packet, PAR_XMLBODY, text.data(), static_cast<uint32_t>(text.size()))) {
        FreePacket(packet);
        session.AnswerLastRequest(ST_FAILED, true);
        return;
    }
    packet->nStatus = ST_OK;
    LogLine(LOG_TRACE, "[%d][%s]", static_cast<int>(text.size()), text.c_str());
    if (!session.SendResponse(packet)) LogLine(LOG_TRACE, "Send Result Something Happened");
}

// The first record of `list` listed under `id`, or null.
const void *FindListed(PtrArray *list, const char *id) {
    for (int32_t i = 0; i < list->GetSize(); ++i) {
        const void *record = list->GetAt(i);
        if (record && strcmp(RecordId(record), id) == 0) return record;
    }
    return nullptr;
}

// Parses the body of a CMD_PUT into `items` and releases the body.
void TakeItemText(ObjectParams *params, PtrArray *items) {
    LogLine(LOG_TRACE, "pBody[%s]", params->body ? params->body : "");
    ParseItemText(params->body, items);
    FreeObjectParams(params);
    params->body = nullptr;
}

}  // namespace

void DeviceSession::HandlePutContact(ObjectParams *params) {
    PtrArray items;
    TakeItemText(params, &items);
    ContactRecord record{};
    FillContactRecord(&items, &record);
    FreeParsedItems(&items);
    ComposeContactName(&record);
    if (m_pim.AddContact(&record)) {
        LogLine(LOG_TRACE, "Add Contact Success");
        AnswerLastRequest(ST_OK, true);
    } else {
        LogLine(LOG_TRACE, "Add Contact Fail");
        AnswerLastRequest(ST_FAILED, true);
    }
}

void DeviceSession::HandlePutAppointment(ObjectParams *params) {
    PtrArray items;
    TakeItemText(params, &items);
    AppointmentRecord record{};
    FillAppointmentRecord(&items, &record);
    FreeParsedItems(&items);
    if (m_pim.AddAppointment(&record)) {
        LogLine(LOG_TRACE, "Add Schedule Success");
        AnswerLastRequest(ST_OK, true);
    } else {
        LogLine(LOG_TRACE, "Add Shcedule Fail");
        AnswerLastRequest(ST_FAILED, true);
    }
}

void DeviceSession::SendContactText(const char *id) {
    if (!m_pContactList) {
        LogLine(LOG_TRACE, "CONTACT LIST IS INVALID");
        AnswerLastRequest(ST_FAILED, true);
        return;
    }
    const void *record = FindListed(m_pContactList, id);
    if (!record) {
        LogLine(LOG_TRACE, "ID[%s] NOT FOUND", id);
        AnswerLastRequest(ST_FAILED, true);
        return;
    }
    AnswerItemText(*this, BuildContactText(*static_cast<const ContactRecord *>(record)));
}

void DeviceSession::SendAppointmentText(const char *id) {
    if (!m_pScheduleList) {
        LogLine(LOG_TRACE, "APPOINTMENT LIST IS INVALID");
        AnswerLastRequest(ST_FAILED, true);
        return;
    }
    const void *record = FindListed(m_pScheduleList, id);
    if (!record) {
        LogLine(LOG_TRACE, "ID[%s] NOT FOUND", id);
        AnswerLastRequest(ST_FAILED, true);
        return;
    }
    AnswerItemText(*this, BuildAppointmentText(*static_cast<const AppointmentRecord *>(record)));
}

void DeviceSession::SendCallText(const char *id) {
    if (!m_pCallList) {
        LogLine(LOG_TRACE, "CALL LIST is Invalid");
        AnswerLastRequest(ST_FAILED, true);
        return;
    }
    // A call-history item has no item text of its own.
    LogLine(LOG_TRACE, "CALL ITEM[%s] HAS NO TEXT", id);
    AnswerLastRequest(ST_UNSUPPORTED, true);
}
