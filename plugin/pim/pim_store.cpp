// The PIM volume session and the record operations on it: mounting "\pim.vol" and
// the message volume, finding a database by type, reading every record into a
// session list, adding contacts and appointments, deleting records.
#include "pim/pim.h"

#include <cstring>
#include <vector>

#include "pim/pim_records.h"
#include "platform/platform.h"
#include "support/support.h"

namespace {

constexpr DWORD kMountOpenExisting = 0x80000003;  // OPEN_EXISTING with the top bit set
constexpr DWORD kKoreanLcid = 1042;
constexpr DWORD kOpenAutoIncrement = 1;
constexpr DWORD kReadReallocate = 1;
constexpr DWORD kSeekFromBeginning = 2;
// A phone holds a few dozen databases; a server that never ends its enumeration
// must not keep the worker forever.
constexpr int kMaxDatabasesWalked = 4096;

uint32_t DeviceLastError() { return platform::Rapi().CeGetLastError(); }

uint32_t ReadUInt32(const uint8_t *bytes, size_t offset) {
    uint32_t value;
    memcpy(&value, bytes + offset, sizeof(value));
    return value;
}

// A device string copied out of a buffer the server filled: at most `maxUnits`
// units, never past `end`, always terminated.
platform::WideString BoundedWide(const void *start, const uint8_t *end, size_t maxUnits) {
    platform::WideString text;
    const auto *bytes = static_cast<const uint8_t *>(start);
    while (text.size() < maxUnits && bytes + sizeof(WCHAR) <= end) {
        WCHAR unit;
        memcpy(&unit, bytes, sizeof(unit));
        if (unit == 0) break;
        text.push_back(unit);
        bytes += sizeof(WCHAR);
    }
    return text;
}

struct DatabaseFound {
    CEOID oid = 0;
    platform::WideString name;
};

// Walks every database on the volume and stops at the first of `type`. False when
// the enumeration cannot be opened; otherwise `found` holds the match or oid 0.
bool FindDatabase(const CeGuid &volume, uint32_t type, bool messageVolume, DatabaseFound *found) {
    DEVHANDLE enumeration = DevCeFindFirstDatabaseEx(&volume, 0);
    if (enumeration == kInvalidDevHandle) {
        LogLine(LOG_TRACE, "CeEdbFindNextDatabaseEx FAIL[%d]", DeviceLastError());
        return false;
    }
    for (int walked = 0; walked < kMaxDatabasesWalked; ++walked) {
        CEOID oid = DevCeFindNextDatabaseEx(enumeration, &volume);
        if (oid == 0) break;
        uint8_t info[kOidInfoSize] = {};
        if (!DevCeOidGetInfoEx2(&volume, oid, info)) {
            LogLine(LOG_TRACE, "CeOidGetInfoEx2 FAIL[0x%x][%d]", oid, platform::GetLastError());
            continue;
        }
        platform::WideString name = BoundedWide(info + kOidInfoDbNameOffset, info + kOidInfoDbTypeOffset, 128);
        uint32_t dbType = ReadUInt32(info, kOidInfoDbTypeOffset);
        uint32_t records = ReadUInt32(info, kOidInfoRecordCountOffset);
        std::string ansiName = platform::WideToAnsi(name.c_str());
        if (messageVolume)
            LogLine(LOG_TRACE, "DBNAME[%s][0x%x][%d][%x]", ansiName.c_str(), dbType, records, oid);
        else
            LogLine(LOG_TRACE, "DBNAME[%s][0x%x][%d]", ansiName.c_str(), dbType, records);
        if (dbType == type) {
            found->oid = oid;
            found->name = name;
            return true;
        }
    }
    return true;
}

// Finds the database of `type` on the volume and opens it in `session` with
// auto-increment; invalid handle (and the failure logged) when it cannot.
DEVHANDLE OpenDatabaseOfType(const CeGuid &volume, DEVHANDLE session, uint32_t type, bool messageVolume) {
    DatabaseFound found;
    if (!FindDatabase(volume, type, messageVolume, &found)) return kInvalidDevHandle;
    CEOID oid = found.oid;
    DEVHANDLE database =
        DevCeOpenDatabaseInSession(session, &volume, &oid, found.name.c_str(), nullptr, kOpenAutoIncrement, nullptr);
    if (database == kInvalidDevHandle)
        LogLine(LOG_TRACE, "CeEdbOpenDatabaseInSession Fail (0x%x)", platform::GetLastError());
    return database;
}

// Hands every property of one read record to `filler`; the values live in
// `buffer` (`size` bytes), which the server filled and nothing else vouches for.
void FillFromProperties(RecordFiller &filler, const uint8_t *buffer, DWORD size, uint16_t count) {
    if (static_cast<size_t>(count) * sizeof(CePropVal) > size) {
        LogLine(LOG_FAULT, "PROPERTY COUNT[%d] DOES NOT FIT [%d] BYTES", int(count), int(size));
        return;
    }
    const uint8_t *end = buffer + size;
    for (uint16_t i = 0; i < count; ++i) {
        CePropVal value;
        memcpy(&value, buffer + i * sizeof(CePropVal), sizeof(value));
        uint16_t number = PropNumber(value.propid);
        uint16_t type = PropType(value.propid);
        LogLine(LOG_TRACE, "PROPID[0x%x] Type:%d", value.propid, type);
        switch (type) {
        case CEVT_LPWSTR: {
            const auto *text = reinterpret_cast<const uint8_t *>(value.val.lpwstr);
            if (text < buffer || text >= end) {
                LogLine(LOG_FAULT, "PROPID[0x%x] STRING OUTSIDE THE RECORD", value.propid);
                break;
            }
            platform::WideString wide = BoundedWide(text, end, kConversionBytes);
            filler.String(number, platform::WideToAnsiBounded(wide.c_str(), kConversionBytes).c_str());
            break;
        }
        case CEVT_FILETIME: {
            uint64_t fileTime;
            memcpy(&fileTime, &value.val, sizeof(fileTime));
            filler.FileTime(number, fileTime);
            break;
        }
        case CEVT_I4: filler.Int32(number, value.val.lVal); break;
        case CEVT_UI4: filler.UInt32(number, value.val.ulVal); break;
        case CEVT_BOOL: filler.Bool(number, value.val.boolVal); break;
        default: LogLine(LOG_DETAIL, "PROPID[0x%x] Type:%d not kept", value.propid, type); break;
        }
    }
}

// Reads every record of the open `database` into `list` as records of `kind`.
void ReadAllRecords(DEVHANDLE database, uint32_t kind, PtrArray *list) {
    DevCeSeekDatabaseEx(database, kSeekFromBeginning, 1, 1, nullptr);
    uint8_t *buffer = nullptr;
    DWORD size = 0;
    for (;;) {
        uint16_t count = 0;
        CEOID oid = DevCeReadRecordPropsEx(database, kReadReallocate, &count, nullptr, &buffer, &size, nullptr);
        if (oid == 0) break;
        void *record = NewRecord(kind, oid);
        if (!record) break;
        LogLine(LOG_TRACE, "Proc CeOid[%d]", oid);
        RecordFiller filler{kind, record};
        if (buffer) FillFromProperties(filler, buffer, size, count);
        filler.FinishAppointment();
        list->Add(record);
    }
    platform::LocalFree(buffer);
}

int ReadRecords(const CeGuid &volume, DEVHANDLE session, uint32_t type, PtrArray *list, bool messageVolume) {
    if (session == kInvalidDevHandle) {
        LogLine(LOG_TRACE, "This Session is not initialized Session Handle is Invalid");
        return 0;
    }
    FreeRecordList(list);
    DEVHANDLE database = OpenDatabaseOfType(volume, session, type, messageVolume);
    if (database == kInvalidDevHandle) return 0;
    LogLine(LOG_TRACE, "CeEdbOpenDatabaseInSession Success(H:0x%x)", database);
    ReadAllRecords(database, type, list);
    return 1;
}

// Writes `values` as a new record; 1 on success.
int WriteNewRecord(DEVHANDLE database, std::vector<CePropVal> &values) {
    CEOID oid = DevCeWriteRecordProps(database, 0, static_cast<uint16_t>(values.size()), values.data());
    if (oid == 0) {
        LogLine(LOG_TRACE, "CeEdbWriteRecordProps Faile[0x%x]", oid);
        LogLine(LOG_TRACE, "GetLastError[%d]", DeviceLastError());
        return 0;
    }
    LogLine(LOG_TRACE, "CeEdbWriteRecordProps Success[0x%x]", oid);
    return 1;
}

// A string property; `text` must outlive the write.
CePropVal StringValue(uint16_t property, platform::WideString &text) {
    CePropVal value{};
    value.propid = (static_cast<CEPROPID>(property) << 16) | CEVT_LPWSTR;
    value.wLenData = static_cast<uint16_t>(text.size());
    value.val.lpwstr = text.data();
    return value;
}

CePropVal ScalarValue(CEPROPID propid, uint16_t length, uint64_t raw) {
    CePropVal value{};
    value.propid = propid;
    value.wLenData = length;
    value.val.raw = raw;
    return value;
}

// Finds the record of `id` in `list`; 0 when none holds it.
CEOID FindRecordOid(PtrArray *list, const char *id, uint32_t kind) {
    for (int32_t i = 0; i < list->GetSize(); ++i) {
        const void *record = list->GetAt(i);
        if (record && strcmp(RecordId(record), id) == 0) return RecordOid(kind, record);
    }
    return 0;
}

// Deletes the record that `list` holds under `id`. An ID the last listing did not
// hold is refused before anything reaches the phone.
int DeleteListedRecord(const CeGuid &volume, DEVHANDLE session, PtrArray *list, const char *id, uint32_t kind,
                       bool messageVolume) {
    CEOID oid = FindRecordOid(list, id, kind);
    if (oid == 0) {
        LogLine(LOG_TRACE, "CAN'T FIND ID[%s]", id);
        return 0;
    }
    DEVHANDLE database = OpenDatabaseOfType(volume, session, kind, messageVolume);
    if (database == kInvalidDevHandle) return 0;
    if (DevCeDeleteRecord(database, oid)) return 1;
    LogLine(LOG_TRACE, "CeEdbDeleteRecord FAILED");
    LogLine(LOG_TRACE, "GetLastError[%d]", DeviceLastError());
    return 0;
}

// What the open of one volume logs at each step.
struct VolumeOpenLines {
    const char *mountFailed;
    const char *mounted;
    const char *sessionFailed;  // with the last error as "0x%x"
    const char *sessionOpened;
};
const VolumeOpenLines kPimVolumeLines = {"CeEdbMountDBVolEx(pim) FAIL", "CeEdbMountDBVolEx(pim) SUCCESS",
                                         "Session Create Fail (0x%x)", "CeEdbCreateSession(pim) Success"};
const VolumeOpenLines kMessageVolumeLines = {"CeEdbMountDBVolEx(sms) FAIL", "CeEdbMountDBVolEx(sms) SUCCESS",
                                             "CeEdbCreateSession(sms) Fail (0x%x)", "CeEdbCreateSession(sms) Success"};

// Mounts the volume (open existing), opens a session on it and sets its sort
// locale to Korean; 1 on success. A failed session creation leaves it mounted.
int OpenVolume(const WCHAR *name, const VolumeOpenLines &lines, CeGuid *volume, DEVHANDLE *session) {
    if (!DevCeMountDBVolEx(volume, name, nullptr, kMountOpenExisting)) {
        LogLine(LOG_TRACE, "%s", lines.mountFailed);
        LogLine(LOG_TRACE, "EDB Mount Error Fail (%d)", DeviceLastError());
        return 0;
    }
    LogLine(LOG_TRACE, "%s", lines.mounted);
    *session = DevCeCreateSession(volume);
    if (*session == kInvalidDevHandle) {
        LogLine(LOG_TRACE, lines.sessionFailed, platform::GetLastError());
        return 0;
    }
    LogLine(LOG_TRACE, "%s", lines.sessionOpened);
    DevCeChangeDatabaseLCID(volume, kKoreanLcid);
    return 1;
}

}  // namespace

PimStore::PimStore() = default;
PimStore::~PimStore() = default;

int PimStore::OpenPimVolume() {
    // The message volume's identifier is cleared whatever becomes of this one.
    memset(&m_messageVolume, 0, sizeof(m_messageVolume));
    return OpenVolume(CE_TEXT("\\pim.vol"), kPimVolumeLines, &m_pimVolume, &m_pimSession);
}

int PimStore::OpenMessageVolume(const char *name) {
    m_messageSession = kInvalidDevHandle;
    if (name == nullptr || name[0] == '\0') {
        LogLine(LOG_TRACE, "CeEdbMountDBVolEx(sms) FAIL: no volume name");
        return 0;
    }
    const platform::WideString wideName = platform::AnsiToWide(name);
    return OpenVolume(wideName.c_str(), kMessageVolumeLines, &m_messageVolume, &m_messageSession);
}

BOOL PimStore::GetPhoneNumber(char *number32) {
    BOOL ok = DevCeGetPhoneNumber(number32);
    if (!ok) LogLine(LOG_TRACE, "Get Phone Number Falied");
    return ok;
}

BOOL PimStore::ClosePimVolume() {
    // Unless both sessions are open, the phone keeps what is mounted and the next
    // connection mounts it again.
    if (m_pimSession == kInvalidDevHandle || m_messageSession == kInvalidDevHandle) return TRUE;
    m_pimSession = kInvalidDevHandle;
    m_messageSession = kInvalidDevHandle;
    BOOL result = DevCeUnmountDBVol(&m_pimVolume);
    DevCeUnmountDBVol(&m_messageVolume);
    return result;
}

int PimStore::ReadPimRecords(uint32_t databaseType, PtrArray *list) {
    return ReadRecords(m_pimVolume, m_pimSession, databaseType, list, false);
}

int PimStore::ReadMessageRecords(uint32_t databaseType, PtrArray *list) {
    return ReadRecords(m_messageVolume, m_messageSession, databaseType, list, true);
}

int PimStore::AddContact(ContactRecord *record) {
    DEVHANDLE database = OpenDatabaseOfType(m_pimVolume, m_pimSession, KIND_CONTACTS, false);
    if (database == kInvalidDevHandle) return 0;
    std::vector<platform::WideString> texts;
    texts.reserve(kContactWriterCount);
    std::vector<CePropVal> values;
    for (int i = 0; i < kContactWriterCount; ++i) {
        const ContactWriterEntry &entry = ContactWriterAt(i);
        const char *field = reinterpret_cast<const char *>(record) + entry.offset;
        if (field[0] == 0) continue;
        texts.push_back(platform::AnsiToWide(std::string(field, strnlen(field, entry.width)).c_str()));
        values.push_back(StringValue(entry.property, texts.back()));
    }
    if (values.empty()) return 1;
    return WriteNewRecord(database, values);
}

int PimStore::AddAppointment(AppointmentRecord *record) {
    DEVHANDLE database = OpenDatabaseOfType(m_pimVolume, m_pimSession, KIND_APPOINTMENTS, false);
    if (database == kInvalidDevHandle) return 0;
    std::vector<platform::WideString> texts;
    texts.reserve(2);
    std::vector<CePropVal> values;
    if (record->TITLE[0]) {
        texts.push_back(platform::AnsiToWide(record->TITLE));
        values.push_back(StringValue(PropNumber(kPropTitle), texts.back()));
    }
    if (record->LOCATION[0]) {
        texts.push_back(platform::AnsiToWide(record->LOCATION));
        values.push_back(StringValue(PropNumber(kPropLocation), texts.back()));
    }
    uint64_t start = 0;
    if (record->STARTTIME[0]) {
        start = TimeTextToFileTime(record->STARTTIME);
        // The phone keeps its clock at UTC+9: the agent's time goes back nine hours.
        uint64_t sent = start > static_cast<uint64_t>(kDeviceClockShift) ? start - kDeviceClockShift : 0;
        values.push_back(ScalarValue(kPropStartTime, 8, sent));
    }
    if (record->ENDTIME[0]) {
        uint64_t end = TimeTextToFileTime(record->ENDTIME);
        int64_t minutes = (static_cast<int64_t>(end) - static_cast<int64_t>(start)) / kFileTimePerMinute;
        record->DURATION = static_cast<uint32_t>(minutes);
        if (minutes == 1440) record->WHOLEDAY = 1;
    }
    if (static_cast<int32_t>(record->DURATION) > 0) values.push_back(ScalarValue(kPropDuration, 4, record->DURATION));
    values.push_back(ScalarValue(kPropWholeDay, 4, static_cast<uint32_t>(record->WHOLEDAY)));
    return WriteNewRecord(database, values);
}

int PimStore::DeletePimRecord(PtrArray *list, const char *id, uint32_t databaseType) {
    if (!list) {
        LogLine(LOG_TRACE, "Contact List Not Found");
        return 0;
    }
    return DeleteListedRecord(m_pimVolume, m_pimSession, list, id, databaseType, false);
}

int PimStore::DeleteMessageRecord(PtrArray *list, const char *id, uint32_t databaseType) {
    if (!list) {
        LogLine(LOG_TRACE, "List Not Found");
        return 0;
    }
    return DeleteListedRecord(m_messageVolume, m_messageSession, list, id, databaseType, true);
}
