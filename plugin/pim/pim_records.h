// Inside the PIM store: the contact field tables, the conversion of device
// properties into the fixed-size records, the item texts sent to the agent and the
// time texts. Used by the pim/ sources and by the unit tests; nothing outside pim/
// needs it.
#ifndef CEBRIDGE_PIM_RECORDS_H
#define CEBRIDGE_PIM_RECORDS_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "pim/pim.h"
#include "platform/platform.h"

// ---- contact fields ----------------------------------------------------------------------
// One slot of the contact name table (54 names, alphabetical). `width` is 0 for the
// names that have no field in ContactRecord; `property` is 0 for fields the device
// does not store.
struct ContactField {
    const char *name;
    size_t offset;
    size_t width;
    uint16_t property;
    bool isTime;  // a FILETIME property (read only)
};
constexpr int kContactNameCount = 54;
const ContactField &ContactFieldAt(int index);
// The table slot named `header` (exact, case-sensitive), or null.
const ContactField *FindContactField(const char *header);

// One property of a contact add, in the order it is sent.
struct ContactWriterEntry {
    size_t offset;
    size_t width;
    uint16_t property;
};
constexpr int kContactWriterCount = 42;
const ContactWriterEntry &ContactWriterAt(int index);

constexpr uint16_t kComposedNameProperty = 0x0080;

// ---- appointment and call properties ---------------------------------------------------------
constexpr CEPROPID kPropTitle = 0x0020001F;
constexpr CEPROPID kPropLocation = 0x0041001F;
constexpr CEPROPID kPropStartTime = 0x10420040;
constexpr CEPROPID kPropDuration = 0x10400013;
constexpr CEPROPID kPropWholeDay = 0x0044000B;

// 100-ns units.
constexpr int64_t kFileTimePerMinute = 600000000LL;
constexpr int64_t kDeviceClockShift = 9LL * 60 * kFileTimePerMinute;  // the phone keeps UTC+9

// ---- device records into fixed-size records ----------------------------------------------------
// Device strings reach a record through a 124-byte buffer: no value keeps more than
// 123 bytes, whatever its field.
constexpr size_t kConversionBytes = 123;

// Copies `text` into a field of `width` bytes, terminated; a longer text is cut
// after the last whole character that fits in width - 1 bytes.
void CopyField(char *field, size_t width, const char *text);
#define COPY_FIELD(field, text) CopyField((field), sizeof(field), (text))

// Allocates a zero-filled record of the kind's layout (null for an unknown kind).
void *NewRecord(uint32_t kind, CEOID oid);
// The object identifier held in the last field of a record of that kind.
CEOID RecordOid(uint32_t kind, const void *record);
const char *RecordId(const void *record);  // every layout starts with ID

// Turns one device record into `record`. `startInstant` carries the appointment's raw
// start between the properties and FinishAppointment.
struct RecordFiller {
    uint32_t kind;
    void *record;
    uint64_t startInstant = 0;

    void String(uint16_t property, const char *ansiText);
    void FileTime(uint16_t property, uint64_t fileTime);
    void Int32(uint16_t property, int32_t value);
    void UInt32(uint16_t property, uint32_t value);
    void Bool(uint16_t property, int32_t value);
    // Appointments: ENDTIME = start + DURATION, in the PC's local time.
    void FinishAppointment();
};

// "%04d%02d%02dT%02d%02d%02dZ" of a broken-down time; `out` holds 17 bytes.
void FormatTimeText(const platform::SystemTime &time, char out[17]);

// ---- time texts from the agent -----------------------------------------------------------------
// Reads the six numbers of a "YYYYMMDDTHHMMSSZ" text as atoi does: what cannot be
// read counts as 0.
platform::SystemTime ReadTimeText(const char *text);
// The FILETIME of such a text, or 0 for a date that has none (month 0, ...).
uint64_t TimeTextToFileTime(const char *text);

// ---- item texts sent to the agent --------------------------------------------------------------
// Collects "NAME=value" items joined by "||", never longer than 4095 bytes: an
// item that does not fit is left out with every item after it, and the cut is logged.
class ItemTextBuilder {
public:
    static constexpr size_t kMaxBytes = 4095;
    void Add(const char *name, const char *value);
    const std::string &Text() const { return m_text; }
    bool Cut() const { return m_cut; }

private:
    std::string m_text;
    bool m_cut = false;
};

std::string BuildContactText(const ContactRecord &record);
std::string BuildAppointmentText(const AppointmentRecord &record);
// LASTNAME directly followed by FIRSTNAME, cut to the composed name's field.
void ComposeContactName(ContactRecord *record);

#endif  // CEBRIDGE_PIM_RECORDS_H
