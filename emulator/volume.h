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
};

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

// Reads a volume file; false with *error set when it is missing or not a volume.
// *text, when given, receives the file's text.
bool LoadVolume(const std::string &path, Volume *volume, std::string *error, std::string *text = nullptr);
// The two steps of LoadVolume: the file's text (false when it cannot be read), and
// the volume in a text (false with *error set when it is not one).
bool ReadVolumeText(const std::string &path, std::string *text);
bool ParseVolume(const std::string &text, Volume *volume, std::string *error);
// The file text of a volume (UTF-8 JSON, two-space indentation).
std::string VolumeText(const Volume &volume);

// FILETIME <-> "YYYY-MM-DDTHH:MM:SS[.fffffff]" (no time zone: the value as stored).
std::string FileTimeText(uint64_t fileTime);
bool ParseFileTimeText(const std::string &text, uint64_t *fileTime);
uint64_t CurrentFileTime();

}  // namespace ceemu

#endif  // CEEMU_VOLUME_H
