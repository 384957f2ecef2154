// PIM data on the phone: the remote database calls to the device-side server
// `Tobrann` (the DevCe wrappers), the PIM volume session (PimStore), the fixed-size
// PIM records, the item text, and the contact and appointment tables.
// The listing and item handlers are DeviceSession operations (core/session.h)
// defined in this folder.
#ifndef CEBRIDGE_PIM_H
#define CEBRIDGE_PIM_H

#include <cstdint>

#include "cebridge/rapi.h"

class PtrArray;

// ---- remote database calls -------------------------------------------------------------
// Every wrapper invokes the server function of the same name in `Tobrann` through
// CeRapiInvoke, with the request layout the server expects, and reports failure
// through platform::SetLastError. Whatever comes back is checked against the
// response buffer before it is used.
typedef uint32_t CEOID;
typedef uint32_t CEPROPID;
typedef uint32_t DEVHANDLE;  // device-side handle; 0xFFFFFFFF is invalid
constexpr DEVHANDLE kInvalidDevHandle = 0xFFFFFFFFu;

struct CeGuid {  // a volume identifier: 16 opaque bytes, all zero for none
    uint8_t bytes[16];
};

// CEPROPVAL as the wrappers hand it to their callers (pointers are native).
struct CePropVal {
    CEPROPID propid;
    uint16_t wLenData;
    uint16_t wFlags;
    union {
        int16_t iVal;
        uint16_t uiVal;
        int32_t lVal;
        uint32_t ulVal;
        FILETIME filetime;
        WCHAR *lpwstr;
        struct {
            uint32_t dwCount;
            uint8_t *lpb;
        } blob;
        int32_t boolVal;
        uint64_t raw;
    } val;
};

// Property types as the server reports them.
enum CePropType : uint16_t {
    CEVT_I2 = 2,
    CEVT_I4 = 3,
    CEVT_BOOL = 11,
    CEVT_UI2 = 18,
    CEVT_UI4 = 19,
    CEVT_LPWSTR = 31,
    CEVT_FILETIME = 64,
    CEVT_BLOB = 65,
};
constexpr uint16_t PropType(CEPROPID id) { return static_cast<uint16_t>(id & 0xFFFFu); }
constexpr uint16_t PropNumber(CEPROPID id) { return static_cast<uint16_t>(id >> 16); }

// Fixed record sizes that pass through unchanged.
constexpr uint32_t kVolumeOptionsSize = 112;
constexpr uint32_t kDatabaseInfoSize = 2460;  // CEDBASEINFOEX
constexpr uint32_t kOidInfoSize = 2464;       // CEOIDINFOEX
constexpr uint32_t kSortOrderSize = 136;
constexpr uint32_t kNotifyRequestSize = 20;
constexpr uint32_t kNotificationSize = 36;
constexpr uint32_t kPropSpecSize = 20;
constexpr uint32_t kDbInfoByHandleSize = 2484;
// Where the database fields sit inside the object information.
constexpr uint32_t kOidInfoDbNameOffset = 12;  // 128 UTF-16 characters
constexpr uint32_t kOidInfoDbTypeOffset = 268;
constexpr uint32_t kOidInfoRecordCountOffset = 272;

BOOL DevCeGetPhoneNumber(char *number32);
BOOL DevCeMountDBVolEx(CeGuid *volume, const WCHAR *name, const uint8_t *options112, DWORD flags);
CEOID DevCeCreateDatabaseWithProps(const CeGuid *volume, const uint8_t *dbInfo2460, DWORD count,
                                   const uint8_t *propSpecs20);
BOOL DevCeOidGetInfoEx2(const CeGuid *volume, CEOID oid, uint8_t *oidInfo2464);
DEVHANDLE DevCeCreateSession(const CeGuid *volume);
DEVHANDLE DevCeOpenDatabaseInSession(DEVHANDLE session, const CeGuid *volume, CEOID *oid, const WCHAR *name,
                                     const uint8_t *sortOrder136, DWORD flags, const uint8_t *notifyRequest20);
DEVHANDLE DevCeGetDatabaseSession(DEVHANDLE database);
BOOL DevCeFlushDBVol(const CeGuid *volume);
CEOID DevCeWriteRecordProps(DEVHANDLE database, CEOID record, uint16_t count, const CePropVal *values);
void DevCeChangeDatabaseLCID(const CeGuid *volume, DWORD lcid);
CEOID DevCeSeekDatabaseEx(DEVHANDLE database, DWORD seekType, DWORD value, uint16_t valueCount, DWORD *index);
BOOL DevCeDeleteDatabaseEx(const CeGuid *volume, CEOID database);
BOOL DevCeUnmountDBVol(const CeGuid *volume);
BOOL DevCeEnumDBVolumes(CeGuid *volume, WCHAR *nameBuffer, DWORD bufferSize);
// `buffer`/`bufferSize` are in/out; the caller frees the buffer with platform::LocalFree.
CEOID DevCeReadRecordPropsEx(DEVHANDLE database, DWORD flags, uint16_t *count, const CEPROPID *ids, uint8_t **buffer,
                             DWORD *bufferSize, void *heap);
BOOL DevCeAddDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const uint8_t *propSpecs20);
BOOL DevCeDeleteRecord(DEVHANDLE database, CEOID record);
DEVHANDLE DevCeFindFirstDatabaseEx(const CeGuid *volume, DWORD type);
CEOID DevCeFindNextDatabaseEx(DEVHANDLE enumeration, const CeGuid *volume);
BOOL DevCeGetDatabaseProps(DEVHANDLE database, uint16_t *count, const CEPROPID *ids, uint8_t *propSpecs20);
BOOL DevCeRemoveDatabaseProps(const CeGuid *volume, CEOID database, DWORD count, const CEPROPID *ids);
BOOL DevCeGetDBInformationByHandle(DEVHANDLE database, uint8_t *info2484);
BOOL DevCeSetDatabaseInfo(DWORD database, const uint8_t *dbInfo2460);
BOOL DevCeFreeNotification(const uint8_t *request20, const uint8_t *notification36);
BOOL DevCeSetSessionOption(DEVHANDLE session, DWORD option, DWORD value);
BOOL DevCeBeginTransaction(DEVHANDLE session, DWORD isolation);
BOOL DevCeEndTransaction(DEVHANDLE session, BOOL commit);
DEVHANDLE DevCeOpenStream(DEVHANDLE database, CEPROPID prop, DWORD mode);
BOOL DevCeStreamRead(DEVHANDLE stream, uint8_t *buffer, DWORD count, DWORD *read);
BOOL DecCeStreamSaveChanges(DEVHANDLE stream);
BOOL DevCeStreamSetSize(DEVHANDLE stream, DWORD size);
BOOL DevCeStreamSeek(DEVHANDLE stream, DWORD distance, DWORD origin, DWORD *position);
BOOL DevCeStreamWrite(DEVHANDLE stream, const uint8_t *data, DWORD count, DWORD *written);

// ---- PIM record kinds ------------------------------------------------------------------
// Windows CE database types; they double as the content kinds of a contents listing.
enum ContentKind : uint32_t {
    KIND_CALLS = 0,
    KIND_CONTACTS = 24,
    KIND_APPOINTMENTS = 25,
    KIND_PACKAGE = 0x20,
    KIND_SMS_RECV = 0x40406000,
    KIND_SMS_SENT = 0x4040601C,
};

// Fixed-size records of zero-ended ANSI texts. `ID` is the object id as "%x".
struct ContactRecord {
    char ID[32];
    char ANNIVERSARY[32];
    char ASSISTANTNAME[32];
    char ASSISTANTTELEPHONENUMBER[32];
    char BIRTHDAY[32];
    char BUSINESSADDRESSCITY[64];
    char BUSINESSADDRESSCOUNTRY[64];
    char BUSINESSADDRESSPOSTALCODE[32];
    char BUSINESSADDRESSSTATE[32];
    char BUSINESSADDRESSSTREET[128];
    char BUSINESSFAXNUMBER[32];
    char BUSINESSTELEPHONENUMBER[32];
    char BUSINESS2TELEPHONENUMBER[32];
    char CARTELEPHONENUMBER[32];
    char CATEGORIES[128];
    char CHILDREN[128];
    char COMPANYTELEPHONENUMBER[32];
    char COMPANYNAME[64];
    char DEPARTMENT[64];
    char EMAIL1ADDRESS[64];
    char EMAIL2ADDRESS[64];
    char EMAIL3ADDRESS[64];
    char FIRSTNAME[64];
    char LASTNAME[32];
    char GOVERNMENTID[64];
    char HOMEADDRESSCITY[64];
    char HOMEADDRESSCOUNTRY[64];
    char HOMEADDRESSPOSTALCODE[32];
    char HOMEADDRESSSTATE[32];
    char HOMEADDRESSSTREET[128];
    char HOMETELEPHONENUMBER[32];
    char HOME2TELEPHONENUMBER[32];
    char IM1ADDRESS[64];
    char JOBTITLE[32];
    char MANAGER[32];
    char MOBILETELEPHONENUMBER[32];
    char NICKNAME[32];
    char OFFICELOCATION[32];
    char OTHERADDRESSCITY[64];
    char OTHERADDRESSCOUNTRY[64];
    char OTHERADDRESSPOSTALCODE[32];
    char OTHERADDRESSSTATE[32];
    char OTHERADDRESSSTREET[128];
    char PAGERNUMBER[32];
    char RADIOTELEPHONENUMBER[32];
    char SPOUSE[64];
    char SUFFIX[32];
    char TITLE[64];
    char WEBPAGE[128];
    char BODY[1024];
    char composedName[64];  // LASTNAME directly followed by FIRSTNAME
    CEOID oid;
};

struct AppointmentRecord {
    char ID[32];
    char TITLE[256];
    char LOCATION[256];
    char STARTTIME[17];
    char ENDTIME[17];
    uint32_t DURATION;  // minutes
    int32_t WHOLEDAY;
    CEOID oid;
};

struct CallRecord {
    char ID[32];
    char name[32];
    char number[32];
    char startTime[17];
    char callType[39];
    CEOID oid;
};

struct MessageRecord {
    char ID[32];
    char reserved[32];  // never filled
    char party[32];
    char dateTime[32];
    char text[260];
    CEOID oid;
};

// The installed package read from the device registry (content kind 0x20).
struct PackageInfo {
    char applicationId[256];
    char version[256];
};

// One parsed item of an item text: "HEADER=value" between "||" separators.
struct ParsedItem {
    char header[64];
    char value[4096];
};

// ---- the PIM volume session --------------------------------------------------------------
class PimStore {
public:
    PimStore();
    ~PimStore();

    int OpenPimVolume();  // 1 on success
    // Mounts the message volume of that device name (ANSI; "" names none) the way
    // the PIM volume is mounted and opens the message session on it; 1 on success.
    // A failure only logs: the message session stays invalid.
    int OpenMessageVolume(const char *name);
    BOOL GetPhoneNumber(char *number32);
    BOOL ClosePimVolume();

    int ReadPimRecords(uint32_t databaseType, PtrArray *list);      // 24, 25 or 0
    int ReadMessageRecords(uint32_t databaseType, PtrArray *list);  // 0x40406000 / 0x4040601c
    int AddContact(ContactRecord *record);
    int AddAppointment(AppointmentRecord *record);
    int DeletePimRecord(PtrArray *list, const char *id, uint32_t databaseType);
    int DeleteMessageRecord(PtrArray *list, const char *id, uint32_t databaseType);

    bool SessionValid() const { return m_pimSession != kInvalidDevHandle; }

private:
    CeGuid m_pimVolume{};
    CeGuid m_messageVolume{};
    DEVHANDLE m_messageSession = kInvalidDevHandle;
    DEVHANDLE m_pimSession = kInvalidDevHandle;
};

// ---- item text ------------------------------------------------------------------------------
// Splits "A=1||B=2" into ParsedItem records appended to `items` (heap records the
// caller frees with FreeParsedItems). An item without '=' is skipped.
void ParseItemText(const char *text, PtrArray *items);
void FreeParsedItems(PtrArray *items);
void FillContactRecord(PtrArray *items, ContactRecord *record);
void FillAppointmentRecord(PtrArray *items, AppointmentRecord *record);
// Frees every record a listing holds and empties the list.
void FreeRecordList(PtrArray *list);

#endif  // CEBRIDGE_PIM_H
