// The contact tables, the filling of fixed-size records from device properties, and
// the time and item texts exchanged with the agent.
#include "pim/pim_records.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/support.h"

namespace {

#define FIELD(name) offsetof(ContactRecord, name), sizeof(ContactRecord::name)
#define NO_FIELD 0, 0

const ContactField kContactFields[kContactNameCount] = {
    {"ACCOUNTNAME", NO_FIELD, 0, false},
    {"ANNIVERSARY", FIELD(ANNIVERSARY), 0x00F1, true},
    {"ASSISTANTNAME", FIELD(ASSISTANTNAME), 0x008F, false},
    {"ASSISTANTTELEPHONENUMBER", FIELD(ASSISTANTTELEPHONENUMBER), 0x00A1, false},
    {"BIRTHDAY", FIELD(BIRTHDAY), 0x00F0, true},
    {"BODY", FIELD(BODY), 0, false},
    {"BUSINESS2TELEPHONENUMBER", FIELD(BUSINESS2TELEPHONENUMBER), 0x0098, false},
    {"BUSINESSADDRESSCITY", FIELD(BUSINESSADDRESSCITY), 0x00C3, false},
    {"BUSINESSADDRESSCOUNTRY", FIELD(BUSINESSADDRESSCOUNTRY), 0x00C5, false},
    {"BUSINESSADDRESSPOSTALCODE", FIELD(BUSINESSADDRESSPOSTALCODE), 0x00C4, false},
    {"BUSINESSADDRESSSTATE", FIELD(BUSINESSADDRESSSTATE), 0x00C2, false},
    {"BUSINESSADDRESSSTREET", FIELD(BUSINESSADDRESSSTREET), 0x00C1, false},
    {"BUSINESSFAXNUMBER", FIELD(BUSINESSFAXNUMBER), 0x009B, false},
    {"BUSINESSTELEPHONENUMBER", FIELD(BUSINESSTELEPHONENUMBER), 0x0097, false},
    {"CARTELEPHONENUMBER", FIELD(CARTELEPHONENUMBER), 0, false},
    {"CATEGORIES", FIELD(CATEGORIES), 0, false},
    {"CHILDREN", FIELD(CHILDREN), 0x00A6, false},
    {"COMPANYTELEPHONENUMBER", FIELD(COMPANYTELEPHONENUMBER), 0, false},
    {"COMPANYNAME", FIELD(COMPANYNAME), 0x008A, false},
    {"CUSTOMERID", NO_FIELD, 0, false},
    {"DEPARTMENT", FIELD(DEPARTMENT), 0x008B, false},
    {"EMAIL1ADDRESS", FIELD(EMAIL1ADDRESS), 0x0090, false},
    {"EMAIL2ADDRESS", FIELD(EMAIL2ADDRESS), 0x0091, false},
    {"EMAIL3ADDRESS", FIELD(EMAIL3ADDRESS), 0x0092, false},
    {"FILEAS", NO_FIELD, 0, false},
    {"FIRSTNAME", FIELD(FIRSTNAME), 0x0082, false},
    {"GOVERNMENTID", FIELD(GOVERNMENTID), 0x0086, false},
    {"HOME2TELEPHONENUMBER", FIELD(HOME2TELEPHONENUMBER), 0x009A, false},
    {"HOMEADDRESSCITY", FIELD(HOMEADDRESSCITY), 0x00D3, false},
    {"HOMEADDRESSCOUNTRY", FIELD(HOMEADDRESSCOUNTRY), 0x00D5, false},
    {"HOMEADDRESSPOSTALCODE", FIELD(HOMEADDRESSPOSTALCODE), 0x00D4, false},
    {"HOMEADDRESSSTATE", FIELD(HOMEADDRESSSTATE), 0x00D2, false},
    {"HOMEADDRESSSTREET", FIELD(HOMEADDRESSSTREET), 0x00D1, false},
    {"HOMEFAXNUMBER", NO_FIELD, 0, false},
    {"HOMETELEPHONENUMBER", FIELD(HOMETELEPHONENUMBER), 0x0099, false},
    {"IM1ADDRESS", FIELD(IM1ADDRESS), 0x0093, false},
    {"JOBTITLE", FIELD(JOBTITLE), 0x008C, false},
    {"LASTNAME", FIELD(LASTNAME), 0x0084, false},
    {"MANAGER", FIELD(MANAGER), 0x008D, false},
    {"MIDDLENAME", NO_FIELD, 0, false},
    {"MOBILETELEPHONENUMBER", FIELD(MOBILETELEPHONENUMBER), 0x0096, false},
    {"NICKNAME", FIELD(NICKNAME), 0x0086, false},
    {"OFFICELOCATION", FIELD(OFFICELOCATION), 0x008E, false},
    {"OTHERADDRESSCITY", FIELD(OTHERADDRESSCITY), 0x00E3, false},
    {"OTHERADDRESSCOUNTRY", FIELD(OTHERADDRESSCOUNTRY), 0x00E5, false},
    {"OTHERADDRESSPOSTALCODE", FIELD(OTHERADDRESSPOSTALCODE), 0x00E4, false},
    {"OTHERADDRESSSTATE", FIELD(OTHERADDRESSSTATE), 0x00E2, false},
    {"OTHERADDRESSSTREET", FIELD(OTHERADDRESSSTREET), 0x00E1, false},
    {"PAGERNUMBER", FIELD(PAGERNUMBER), 0x009D, false},
    {"RADIOTELEPHONENUMBER", FIELD(RADIOTELEPHONENUMBER), 0x009F, false},
    {"SPOUSE", FIELD(SPOUSE), 0x00A5, false},
    {"SUFFIX", FIELD(SUFFIX), 0, false},
    {"TITLE", FIELD(TITLE), 0, false},
    {"WEBPAGE", FIELD(WEBPAGE), 0x00A7, false},
};

// The order in which an add sends the contact's fields to the phone.
const ContactWriterEntry kContactWriter[kContactWriterCount] = {
    {FIELD(ASSISTANTNAME), 0x008F},
    {FIELD(ASSISTANTTELEPHONENUMBER), 0x00A1},
    {FIELD(BUSINESSFAXNUMBER), 0x009B},
    {FIELD(CHILDREN), 0x00A6},
    {FIELD(COMPANYNAME), 0x008A},
    {FIELD(DEPARTMENT), 0x008B},
    {FIELD(EMAIL1ADDRESS), 0x0090},
    {FIELD(EMAIL2ADDRESS), 0x0091},
    {FIELD(EMAIL3ADDRESS), 0x0092},
    {FIELD(FIRSTNAME), 0x0082},
    {FIELD(HOMEADDRESSSTATE), 0x00D2},
    {FIELD(HOMEADDRESSCOUNTRY), 0x00D5},
    {FIELD(HOMEADDRESSPOSTALCODE), 0x00D4},
    {FIELD(HOMEADDRESSCITY), 0x00D3},
    {FIELD(HOMEADDRESSSTREET), 0x00D1},
    {FIELD(HOMETELEPHONENUMBER), 0x0099},
    {FIELD(HOME2TELEPHONENUMBER), 0x009A},
    {FIELD(MOBILETELEPHONENUMBER), 0x0096},
    {FIELD(BUSINESSADDRESSSTATE), 0x00C2},
    {FIELD(BUSINESSADDRESSCOUNTRY), 0x00C5},
    {FIELD(BUSINESSADDRESSPOSTALCODE), 0x00C4},
    {FIELD(BUSINESSADDRESSCITY), 0x00C3},
    {FIELD(BUSINESSADDRESSSTREET), 0x00C1},
    {FIELD(OFFICELOCATION), 0x008E},
    {FIELD(BUSINESSTELEPHONENUMBER), 0x0097},
    {FIELD(BUSINESS2TELEPHONENUMBER), 0x0098},
    {FIELD(OTHERADDRESSSTATE), 0x00E2},
    {FIELD(OTHERADDRESSCOUNTRY), 0x00E5},
    {FIELD(OTHERADDRESSPOSTALCODE), 0x00E4},
    {FIELD(OTHERADDRESSCITY), 0x00E3},
    {FIELD(OTHERADDRESSSTREET), 0x00E1},
    {FIELD(PAGERNUMBER), 0x009D},
    {FIELD(SPOUSE), 0x00A5},
    {FIELD(LASTNAME), 0x0084},
    {FIELD(JOBTITLE), 0x008C},
    {FIELD(WEBPAGE), 0x00A7},
    {FIELD(RADIOTELEPHONENUMBER), 0x009F},
    {FIELD(MANAGER), 0x008D},
    {FIELD(IM1ADDRESS), 0x0093},
    {FIELD(NICKNAME), 0x0086},
    {FIELD(GOVERNMENTID), 0x0086},
    {FIELD(composedName), kComposedNameProperty},
};

#undef FIELD
#undef NO_FIELD

char *FieldIn(void *record, const ContactField &field) { return static_cast<char *>(record) + field.offset; }

void FillContactString(ContactRecord *record, uint16_t property, const char *text) {
    for (const ContactField &field : kContactFields) {
        // One device property may feed two fields (NICKNAME and GOVERNMENTID).
        if (field.width != 0 && !field.isTime && field.property == property)
            CopyField(FieldIn(record, field), field.width, text);
    }
}

void FillContactTime(ContactRecord *record, uint16_t property, const char *text) {
    for (const ContactField &field : kContactFields) {
        if (field.isTime && field.property == property) CopyField(FieldIn(record, field), field.width, text);
    }
}

// FILETIME as "%04d...Z" with no time-zone change; empty when it has no date.
void FileTimeText(uint64_t fileTime, char out[17]) {
    platform::SystemTime time{};
    out[0] = 0;
    if (platform::FileTimeToSystemTime(fileTime, &time)) FormatTimeText(time, out);
}

int ReadNumberAt(const char *text, size_t length, size_t start, size_t count) {
    char digits[5] = {};
    for (size_t i = 0; i < count && start + i < length; ++i) digits[i] = text[start + i];
    return atoi(digits);
}

}  // namespace

const ContactField &ContactFieldAt(int index) { return kContactFields[index]; }

const ContactField *FindContactField(const char *header) {
    for (const ContactField &field : kContactFields) {
        if (strcmp(field.name, header) == 0) return &field;
    }
    return nullptr;
}

const ContactWriterEntry &ContactWriterAt(int index) { return kContactWriter[index]; }

void CopyField(char *field, size_t width, const char *text) {
    if (width == 0) return;
    size_t length = text ? strnlen(text, width) : 0;
    if (length < width) {
        if (length) memcpy(field, text, length);
        field[length] = 0;
        return;
    }
    // Too long: cut after the last whole character that fits, never inside a
    // double-byte character.
    std::string cut = platform::WideToAnsiBounded(platform::AnsiToWide(text).c_str(), width - 1);
    memcpy(field, cut.data(), cut.size());
    field[cut.size()] = 0;
}

void *NewRecord(uint32_t kind, CEOID oid) {
    char id[32];
    snprintf(id, sizeof(id), "%x", oid);
    switch (kind) {
    case KIND_CONTACTS: {
        auto *record = static_cast<ContactRecord *>(calloc(1, sizeof(ContactRecord)));
        if (record) {
            COPY_FIELD(record->ID, id);
            record->oid = oid;
        }
        return record;
    }
    case KIND_APPOINTMENTS: {
        auto *record = static_cast<AppointmentRecord *>(calloc(1, sizeof(AppointmentRecord)));
        if (record) {
            COPY_FIELD(record->ID, id);
            record->oid = oid;
        }
        return record;
    }
    case KIND_CALLS: {
        auto *record = static_cast<CallRecord *>(calloc(1, sizeof(CallRecord)));
        if (record) {
            COPY_FIELD(record->ID, id);
            record->oid = oid;
        }
        return record;
    }
    case KIND_SMS_RECV:
    case KIND_SMS_SENT: {
        auto *record = static_cast<MessageRecord *>(calloc(1, sizeof(MessageRecord)));
        if (record) {
            COPY_FIELD(record->ID, id);
            record->oid = oid;
        }
        return record;
    }
    default: return nullptr;
    }
}

CEOID RecordOid(uint32_t kind, const void *record) {
    switch (kind) {
    case KIND_CONTACTS: return static_cast<const ContactRecord *>(record)->oid;
    case KIND_APPOINTMENTS: return static_cast<const AppointmentRecord *>(record)->oid;
    case KIND_CALLS: return static_cast<const CallRecord *>(record)->oid;
    case KIND_SMS_RECV:
    case KIND_SMS_SENT: return static_cast<const MessageRecord *>(record)->oid;
    default: return 0;
    }
}

const char *RecordId(const void *record) { return static_cast<const char *>(record); }

void RecordFiller::String(uint16_t property, const char *ansiText) {
    switch (kind) {
    case KIND_CONTACTS: FillContactString(static_cast<ContactRecord *>(record), property, ansiText); break;
    case KIND_APPOINTMENTS: {
        auto *appointment = static_cast<AppointmentRecord *>(record);
        if (property == PropNumber(kPropTitle)) COPY_FIELD(appointment->TITLE, ansiText);
        if (property == PropNumber(kPropLocation)) COPY_FIELD(appointment->LOCATION, ansiText);
        break;
    }
    case KIND_CALLS: {
        auto *call = static_cast<CallRecord *>(record);
        if (property == 0x0007) COPY_FIELD(call->name, ansiText);
        if (property == 0x0006) COPY_FIELD(call->number, ansiText);
        break;
    }
    case KIND_SMS_RECV:
    case KIND_SMS_SENT: {
        auto *message = static_cast<MessageRecord *>(record);
        if (property == 0x0003) COPY_FIELD(message->text, ansiText);
        if (property == 0x0002) COPY_FIELD(message->party, ansiText);
        break;
    }
    default: break;
    }
}

void RecordFiller::FileTime(uint16_t property, uint64_t fileTime) {
    char text[17];
    switch (kind) {
    case KIND_CONTACTS:
        FileTimeText(fileTime, text);
        FillContactTime(static_cast<ContactRecord *>(record), property, text);
        break;
    case KIND_APPOINTMENTS:
        // Whatever FILETIME the phone stores is the start; the last one read wins.
        FileTimeText(fileTime, static_cast<AppointmentRecord *>(record)->STARTTIME);
        startInstant = fileTime;
        break;
    case KIND_CALLS:
        if (property == 0x0002) FileTimeText(fileTime, static_cast<CallRecord *>(record)->startTime);
        break;
    case KIND_SMS_RECV:
    case KIND_SMS_SENT: {
        platform::SystemTime time{};
        auto *message = static_cast<MessageRecord *>(record);
        message->dateTime[0] = 0;
        if (platform::FileTimeToLocalSystemTime(fileTime, &time)) FormatTimeText(time, message->dateTime);
        break;
    }
    default: break;
    }
}

void RecordFiller::Int32(uint16_t property, int32_t value) {
    if (kind != KIND_CALLS || property != 0x0004) return;
    auto *call = static_cast<CallRecord *>(record);
    snprintf(call->callType, sizeof(call->callType), "%d", value);
}

void RecordFiller::UInt32(uint16_t property, uint32_t value) {
    if (kind == KIND_APPOINTMENTS && property == PropNumber(kPropDuration))
        static_cast<AppointmentRecord *>(record)->DURATION = value;
}

void RecordFiller::Bool(uint16_t property, int32_t value) {
    if (kind == KIND_APPOINTMENTS && property == PropNumber(kPropWholeDay))
        static_cast<AppointmentRecord *>(record)->WHOLEDAY = value;
}

void RecordFiller::FinishAppointment() {
    if (kind != KIND_APPOINTMENTS) return;
    auto *appointment = static_cast<AppointmentRecord *>(record);
    int64_t minutes = static_cast<int32_t>(appointment->DURATION);
    uint64_t end = startInstant + static_cast<uint64_t>(minutes * kFileTimePerMinute);
    platform::SystemTime local{};
    appointment->ENDTIME[0] = 0;
    if (platform::FileTimeToLocalSystemTime(end, &local)) FormatTimeText(local, appointment->ENDTIME);
}

void FormatTimeText(const platform::SystemTime &time, char out[17]) {
    snprintf(out, 17, "%04d%02d%02dT%02d%02d%02dZ", time.year % 10000, time.month % 100, time.day % 100,
             time.hour % 100, time.minute % 100, time.second % 100);
}

platform::SystemTime ReadTimeText(const char *text) {
    size_t length = text ? strnlen(text, 16) : 0;
    platform::SystemTime time{};
    // Character 9, the 'T', is never read.
    time.year = static_cast<uint16_t>(ReadNumberAt(text, length, 0, 4));
    time.month = static_cast<uint16_t>(ReadNumberAt(text, length, 4, 2));
    time.day = static_cast<uint16_t>(ReadNumberAt(text, length, 6, 2));
    time.hour = static_cast<uint16_t>(ReadNumberAt(text, length, 9, 2));
    time.minute = static_cast<uint16_t>(ReadNumberAt(text, length, 11, 2));
    time.second = static_cast<uint16_t>(ReadNumberAt(text, length, 13, 2));
    return time;
}

uint64_t TimeTextToFileTime(const char *text) {
    platform::SystemTime time = ReadTimeText(text);
    LogLine(LOG_TRACE, "Y:%d ,M:%d, D:%d, H:%d, m:%d, s:%d", static_cast<int16_t>(time.year),
            static_cast<int16_t>(time.month), static_cast<int16_t>(time.day), static_cast<int16_t>(time.hour),
            static_cast<int16_t>(time.minute), static_cast<int16_t>(time.second));
    uint64_t fileTime = 0;
    if (!platform::SystemTimeToFileTime(time, &fileTime)) {
        LogLine(LOG_TRACE, "TIME[%s] has no date: sent as 0", text);
        return 0;
    }
    return fileTime;
}

void ItemTextBuilder::Add(const char *name, const char *value) {
    if (m_cut) return;
    size_t separator = m_text.empty() ? 0 : 2;
    size_t itemLength = separator + strlen(name) + 1 + strlen(value);
    if (m_text.size() + itemLength > kMaxBytes) {
        m_cut = true;
        LogLine(LOG_TRACE, "ITEM TEXT CUT at %d bytes before [%s]", static_cast<int>(m_text.size()), name);
        return;
    }
    if (separator) m_text += "||";
    m_text += name;
    m_text += '=';
    m_text += value;
}

std::string BuildContactText(const ContactRecord &record) {
    ItemTextBuilder text;
    for (const ContactField &field : kContactFields) {
        if (field.width == 0) continue;
        const char *value = reinterpret_cast<const char *>(&record) + field.offset;
        if (value[0] != 0) text.Add(field.name, value);
    }
    return text.Text();
}

std::string BuildAppointmentText(const AppointmentRecord &record) {
    ItemTextBuilder text;
    text.Add("TITLE", record.TITLE);
    if (record.LOCATION[0]) text.Add("LOCATION", record.LOCATION);
    if (record.WHOLEDAY == 0) {
        char duration[16];
        snprintf(duration, sizeof(duration), "%d", static_cast<int32_t>(record.DURATION));
        text.Add("WHOLEDAY", "FALSE");
        text.Add("DURATION", duration);
    } else {
        text.Add("WHOLEDAY", "TRUE");
    }
    if (record.STARTTIME[0]) text.Add("STARTTIME", record.STARTTIME);
    if (record.ENDTIME[0]) text.Add("ENDTIME", record.ENDTIME);
    if (record.ID[0]) text.Add("ID", record.ID);
    return text.Text();
}

void ComposeContactName(ContactRecord *record) {
    std::string name(record->LASTNAME, strnlen(record->LASTNAME, sizeof(record->LASTNAME)));
    name.append(record->FIRSTNAME, strnlen(record->FIRSTNAME, sizeof(record->FIRSTNAME)));
    COPY_FIELD(record->composedName, name.c_str());
}
