// A database volume of the emulated phone: its databases, their records and the
// typed properties of each record, as kept in the phone image's volumes/ folder
// (one JSON file per volume, see docs/device-image.md, "Database volumes").
#ifndef CEEMU_VOLUME_H
#define CEEMU_VOLUME_H

#include <cstdint>
#include <string>
#include <vector>

namespace ceemu {

// Windows CE database property types.
enum PropertyType : uint16_t {
    kTypeI2 = 2,
    kTypeI4 = 3,
    kTypeBool = 11,
    kTypeUi2 = 18,
    kTypeUi4 = 19,
    kTypeString = 31,
    kTypeFileTime = 64,
    kTypeBlob = 65,
};

struct Property {
    uint32_t id = 0;             // number in the high 16 bits, type in the low 16
    uint64_t number = 0;         // integers, booleans and FILETIMEs
    std::u16string text;         // strings
    std::vector<uint8_t> bytes;  // blobs

    uint16_t Type() const { return static_cast<uint16_t>(id & 0xFFFF); }
    uint16_t Number() const { return static_cast<uint16_t>(id >> 16); }
};

struct Record {
    uint32_t oid = 0;
    std::vector<Property> properties;
};

// A declared property of a database (what CeCreateDatabaseWithProps names).
struct PropertySpec {
    uint32_t id = 0;
    uint32_t flags = 0;
    std::u16string name;
};

struct Database {
    uint32_t oid = 0;
    std::u16string name;
    uint32_t type = 0;
    uint32_t flags = 0;
    uint64_t modified = 0;  // FILETIME of the last change
    std::vector<PropertySpec> declared;
    std::vector<Record> records;  // in enumeration order
    uint64_t recordBytes = 0;     // RecordBytes of all its records, kept as they change
};

// What a record takes on the phone, roughly: 16 bytes a property, and its text and bytes.
uint64_t RecordBytes(const Record &record);

struct Volume {
    std::u16string name;  // the device name, "\pim.vol"
    uint32_t locale = 0;
    uint32_t nextOid = 0x10000;
    std::vector<Database> databases;

    uint32_t NewOid();
    Database *FindDatabase(uint32_t oid);
    Database *FindDatabaseByName(const std::u16string &name);
    // The record `oid` anywhere on the volume; its database in *owner.
    Record *FindRecord(uint32_t oid, Database **owner);
};

// The file of the volume named `deviceName` ("\pim.vol" -> <image>/volumes/pim.vol.json).
// Empty when the name cannot be a volume file name.
std::string VolumeFilePath(const std::string &imageRoot, const std::u16string &deviceName);
// The journal beside a volume file ("pim.vol.json" -> "pim.vol.journal"): the record
// changes made since the file was last written, one line each, applied in order.
std::string JournalFilePath(const std::string &volumePath);
// The journal's size in bytes; 0 when there is none.
uint64_t JournalSize(const std::string &volumePath);

// Reads a volume file and applies its journal; false with *error set when the file
// is missing or not a volume, or a whole journal line cannot be read.
bool LoadVolume(const std::string &path, Volume *volume, std::string *error);
// The two steps of reading the file: its text (false when it cannot be read), and
// the volume in a text (false with *error set when it is not one).
bool ReadVolumeText(const std::string &path, std::string *text);
bool ParseVolume(const std::string &text, Volume *volume, std::string *error);
// The file text of a volume (UTF-8 JSON, two-space indentation).
std::string VolumeText(const Volume &volume);

// One change of one record: a line of the journal.
struct RecordChange {
    uint32_t database = 0;  // the object id of the record's database
    uint64_t modified = 0;  // the database's last change, which the change sets
    bool removes = false;   // the record `record.oid` goes; otherwise `record` is put whole
    Record record;
};
// The journal line of a change: one JSON object and a newline.
std::string JournalLine(const RecordChange &change);
// Applies a change; false, changing nothing, when it no longer fits the volume (its
// database is gone, its id names another object). A change applied twice changes
// nothing more.
bool ApplyChange(const RecordChange &change, Volume *volume);
// Applies the journal's lines from byte `from` on. A last line without its newline
// (torn by a crash) is left out; *end receives where the whole lines end. False with
// *error set when a whole line cannot be read; a missing journal is an empty one.
bool ApplyJournal(const std::string &volumePath, uint64_t from, Volume *volume, uint64_t *end, std::string *error);

// FILETIME <-> "YYYY-MM-DDTHH:MM:SS[.fffffff]" (no time zone: the value as stored).
std::string FileTimeText(uint64_t fileTime);
bool ParseFileTimeText(const std::string &text, uint64_t *fileTime);
uint64_t CurrentFileTime();

}  // namespace ceemu

#endif  // CEEMU_VOLUME_H
