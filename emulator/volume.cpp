// Database volumes as JSON files and their journals: loading, writing, record
// changes, and the FILETIME text form.
#include "volume.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_set>

#include <nlohmann/json.hpp>

#include "emulator.h"

namespace ceemu {
namespace {

using Json = nlohmann::ordered_json;

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kSecondsFrom1601To1970 = 11644473600;

struct TypeName {
    uint16_t type;
    const char *name;
};
constexpr TypeName kTypeNames[] = {
    {kTypeI2, "i2"},   {kTypeI4, "i4"},         {kTypeBool, "bool"},         {kTypeUi2, "ui2"},
    {kTypeUi4, "ui4"}, {kTypeString, "string"}, {kTypeFileTime, "filetime"}, {kTypeBlob, "blob"},
};

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(int64_t days, int64_t *year, unsigned *month, unsigned *day) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    *month = shifted < 10 ? shifted + 3 : shifted - 9;
    *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2);
}

uint16_t TypeFromJson(const Json &type) {
    if (type.is_number_unsigned()) return type.get<uint16_t>();
    const std::string name = type.get<std::string>();
    for (const TypeName &known : kTypeNames) {
        if (name == known.name) return known.type;
    }
    throw std::runtime_error("unknown property type \"" + name + "\"");
}

Json TypeToJson(uint16_t type) {
    for (const TypeName &known : kTypeNames) {
        if (type == known.type) return known.name;
    }
    return type;
}

uint32_t HexNumber(const Json &value) {
    if (value.is_number_unsigned()) return value.get<uint32_t>();
    return static_cast<uint32_t>(std::stoul(value.get<std::string>(), nullptr, 16));
}

std::string HexText(uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, value);
    return text;
}

std::vector<uint8_t> BytesFromHex(const std::string &hex) {
    if (hex.size() % 2 != 0) throw std::runtime_error("blob hex text of odd length");
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < hex.size(); i += 2) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string HexFromBytes(const std::vector<uint8_t> &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint8_t byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

Property PropertyFromJson(const Json &json) {
    Property property;
    const uint16_t type = TypeFromJson(json.at("type"));
    property.id = (HexNumber(json.at("id")) << 16) | type;
    const Json &value = json.at("value");
    switch (type) {
    case kTypeString: property.text = Utf16(value.get<std::string>()); break;
    case kTypeBlob: property.bytes = BytesFromHex(value.get<std::string>()); break;
    case kTypeFileTime:
        if (value.is_string()) {
            if (!ParseFileTimeText(value.get<std::string>(), &property.number)) {
                throw std::runtime_error("bad FILETIME text \"" + value.get<std::string>() + "\"");
            }
        } else {
            property.number = value.get<uint64_t>();
        }
        break;
    case kTypeBool: property.number = value.is_boolean() ? (value.get<bool>() ? 1 : 0) : value.get<uint32_t>(); break;
    case kTypeI2: property.number = static_cast<uint16_t>(value.get<int16_t>()); break;
    case kTypeI4: property.number = static_cast<uint32_t>(value.get<int32_t>()); break;
    default: property.number = value.get<uint64_t>(); break;
    }
    return property;
}

Json PropertyToJson(const Property &property) {
    Json json;
    json["id"] = HexText(property.Number(), 4);
    json["type"] = TypeToJson(property.Type());
    switch (property.Type()) {
    case kTypeString: json["value"] = Utf8(property.text); break;
    case kTypeBlob: json["value"] = HexFromBytes(property.bytes); break;
    case kTypeFileTime: json["value"] = FileTimeText(property.number); break;
    case kTypeBool: json["value"] = property.number != 0; break;
    case kTypeI2: json["value"] = static_cast<int16_t>(property.number); break;
    case kTypeI4: json["value"] = static_cast<int32_t>(property.number); break;
    default: json["value"] = property.number; break;
    }
    return json;
}

Record RecordFromJson(const Json &json) {
    Record record;
    record.oid = json.at("oid").get<uint32_t>();
    for (const Json &property : json.value("props", Json::array()))
        record.properties.push_back(PropertyFromJson(property));
    return record;
}

Json RecordToJson(const Record &record) {
    Json properties = Json::array();
    for (const Property &property : record.properties) properties.push_back(PropertyToJson(property));
    return {{"oid", record.oid}, {"props", properties}};
}

Database DatabaseFromJson(const Json &json) {
    Database database;
    database.oid = json.at("oid").get<uint32_t>();
    database.name = Utf16(json.at("name").get<std::string>());
    database.type = HexNumber(json.at("type"));
    database.flags = json.value("flags", 0u);
    if (json.contains("modified")) ParseFileTimeText(json["modified"].get<std::string>(), &database.modified);
    for (const Json &spec : json.value("properties", Json::array())) {
        database.declared.push_back(
            {HexNumber(spec.at("propid")), spec.value("flags", 0u), Utf16(spec.value("name", std::string()))});
    }
    for (const Json &record : json.value("records", Json::array())) {
        database.records.push_back(RecordFromJson(record));
        database.recordBytes += RecordBytes(database.records.back());
    }
    return database;
}

Json DatabaseToJson(const Database &database) {
    Json json;
    json["oid"] = database.oid;
    json["name"] = Utf8(database.name);
    json["type"] = database.type < 0x10000 ? Json(database.type) : Json(HexText(database.type, 8));
    json["flags"] = database.flags;
    if (database.modified != 0) json["modified"] = FileTimeText(database.modified);
    if (!database.declared.empty()) {
        Json specs = Json::array();
        for (const PropertySpec &spec : database.declared) {
            specs.push_back({{"propid", HexText(spec.id, 8)}, {"flags", spec.flags}, {"name", Utf8(spec.name)}});
        }
        json["properties"] = specs;
    }
    Json records = Json::array();
    for (const Record &record : database.records) records.push_back(RecordToJson(record));
    json["records"] = records;
    return json;
}

void RaiseNextOid(Volume &volume, uint32_t oid) {
    if (oid >= volume.nextOid) volume.nextOid = oid + 1;
}

// Every object id must be unique on the volume; new ones start past the highest.
void CheckObjectIds(Volume &volume) {
    std::unordered_set<uint32_t> seen;
    auto note = [&seen, &volume](uint32_t oid) {
        if (oid == 0) throw std::runtime_error("object id 0");
        if (!seen.insert(oid).second) throw std::runtime_error("object id " + std::to_string(oid) + " used twice");
        RaiseNextOid(volume, oid);
    };
    for (const Database &database : volume.databases) {
        note(database.oid);
        for (const Record &record : database.records) note(record.oid);
    }
}

bool IdInUse(Volume &volume, uint32_t oid) {
    return volume.FindDatabase(oid) != nullptr || volume.FindRecord(oid, nullptr) != nullptr;
}

RecordChange ChangeFromJson(const Json &json) {
    RecordChange change;
    change.database = json.at("database").get<uint32_t>();
    if (json.contains("modified") && !ParseFileTimeText(json["modified"].get<std::string>(), &change.modified)) {
        throw std::runtime_error("bad FILETIME text " + json["modified"].dump());
    }
    change.removes = json.contains("delete");
    change.record = change.removes ? Record{json["delete"].get<uint32_t>(), {}} : RecordFromJson(json.at("put"));
    return change;
}

}  // namespace

uint64_t RecordBytes(const Record &record) {
    uint64_t bytes = 0;
    for (const Property &property : record.properties) bytes += 16 + property.text.size() * 2 + property.bytes.size();
    return bytes;
}

uint32_t Volume::NewOid() {
    if (nextOid == 0 || nextOid == 0xFFFFFFFFu) nextOid = 0x10000;
    return nextOid++;
}

Database *Volume::FindDatabase(uint32_t oid) {
    for (Database &database : databases) {
        if (database.oid == oid) return &database;
    }
    return nullptr;
}

Database *Volume::FindDatabaseByName(const std::u16string &wanted) {
    for (Database &database : databases) {
        if (database.name == wanted) return &database;
    }
    return nullptr;
}

Record *Volume::FindRecord(uint32_t oid, Database **owner) {
    for (Database &database : databases) {
        for (Record &record : database.records) {
            if (record.oid != oid) continue;
            if (owner) *owner = &database;
            return &record;
        }
    }
    return nullptr;
}

std::string VolumeFilePath(const std::string &imageRoot, const std::u16string &deviceName) {
    std::u16string leaf = deviceName;
    if (!leaf.empty() && leaf.front() == u'\\') leaf.erase(0, 1);
    if (leaf.empty() || leaf == u"." || leaf == u".." || leaf.find_first_of(u"\\/:*?\"<>|") != std::u16string::npos) {
        return {};
    }
    return imageRoot + "/volumes/" + Utf8(leaf) + ".json";
}

std::string JournalFilePath(const std::string &volumePath) {
    constexpr std::string_view kVolumeExtension = ".json";
    const bool named = volumePath.ends_with(kVolumeExtension);
    return volumePath.substr(0, volumePath.size() - (named ? kVolumeExtension.size() : 0)) + ".journal";
}

uint64_t JournalSize(const std::string &volumePath) {
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(HostPath(JournalFilePath(volumePath)), error);
    return error ? 0 : size;
}

bool LoadVolume(const std::string &path, Volume *volume, std::string *error) {
    std::string content;
    if (!ReadVolumeText(path, &content)) {
        *error = "no such volume file";
        return false;
    }
    uint64_t end = 0;
    return ParseVolume(content, volume, error) && ApplyJournal(path, 0, volume, &end, error);
}

bool ReadVolumeText(const std::string &path, std::string *text) {
    std::ifstream in(HostPath(path), std::ios::binary);
    if (!in) return false;
    std::ostringstream content;
    content << in.rdbuf();
    *text = std::move(content).str();
    return true;
}

bool ParseVolume(const std::string &content, Volume *volume, std::string *error) {
    try {
        const Json json = Json::parse(content);
        Volume loaded;
        loaded.name = Utf16(json.at("name").get<std::string>());
        loaded.locale = json.value("locale", 0u);
        loaded.nextOid = json.value("nextOid", 0x10000u);
        for (const Json &database : json.value("databases", Json::array())) {
            loaded.databases.push_back(DatabaseFromJson(database));
        }
        CheckObjectIds(loaded);
        *volume = std::move(loaded);
        return true;
    } catch (const std::exception &failure) {
        *error = failure.what();
        return false;
    }
}

std::string VolumeText(const Volume &volume) {
    Json json;
    json["name"] = Utf8(volume.name);
    json["locale"] = volume.locale;
    json["nextOid"] = volume.nextOid;
    Json databases = Json::array();
    for (const Database &database : volume.databases) databases.push_back(DatabaseToJson(database));
    json["databases"] = databases;
    return json.dump(2) + "\n";
}

std::string JournalLine(const RecordChange &change) {
    Json json;
    json["database"] = change.database;
    if (change.modified != 0) json["modified"] = FileTimeText(change.modified);
    if (change.removes) {
        json["delete"] = change.record.oid;
    } else {
        json["put"] = RecordToJson(change.record);
    }
    return json.dump() + "\n";
}

bool ApplyChange(const RecordChange &change, Volume *volume) {
    Database *database = volume->FindDatabase(change.database);
    if (database == nullptr) return false;
    const uint32_t oid = change.record.oid;
    auto &records = database->records;
    auto found = std::find_if(records.begin(), records.end(), [oid](const Record &r) { return r.oid == oid; });
    if (found == records.end() && !change.removes) {
        if (oid == 0 || IdInUse(*volume, oid)) return false;
        records.push_back(Record{oid, {}});
        RaiseNextOid(*volume, oid);
        found = std::prev(records.end());
    }
    if (found != records.end()) {
        database->recordBytes -= RecordBytes(*found);
        if (change.removes) {
            records.erase(found);
        } else {
            found->properties = change.record.properties;
            database->recordBytes += RecordBytes(*found);
        }
    }
    if (change.modified != 0) database->modified = change.modified;
    return true;
}

bool ApplyJournal(const std::string &volumePath, uint64_t from, Volume *volume, uint64_t *end, std::string *error) {
    *end = from;
    std::ifstream in(HostPath(JournalFilePath(volumePath)), std::ios::binary);
    if (!in) return true;
    in.seekg(static_cast<std::streamoff>(from));
    for (std::string line; std::getline(in, line) && !in.eof();) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            try {
                ApplyChange(ChangeFromJson(Json::parse(line)), volume);
            } catch (const std::exception &failure) {
                *error = "journal line at byte " + std::to_string(*end) + ": " + failure.what();
                return false;
            }
        }
        *end += line.size() + 1;
    }
    return true;
}

std::string FileTimeText(uint64_t fileTime) {
    const int64_t seconds = static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970;
    const uint64_t fraction = fileTime % kTicksPerSecond;
    int64_t days = seconds / 86400;
    int64_t secondOfDay = seconds % 86400;
    if (secondOfDay < 0) {
        secondOfDay += 86400;
        --days;
    }
    int64_t year = 0;
    unsigned month = 0, day = 0;
    CivilFromDays(days, &year, &month, &day);
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(year), month, day,
                  static_cast<long long>(secondOfDay / 3600), static_cast<long long>(secondOfDay / 60 % 60),
                  static_cast<long long>(secondOfDay % 60));
    std::string result = text;
    if (fraction != 0) {
        std::snprintf(text, sizeof text, ".%07llu", static_cast<unsigned long long>(fraction));
        result += text;
    }
    return result;
}

bool ParseFileTimeText(const std::string &text, uint64_t *fileTime) {
    int year = 0;
    unsigned month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2u-%2uT%2u:%2u:%2u%n", &year, &month, &day, &hour, &minute, &second,
                    &consumed) != 6 ||
        year < 1601 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return false;
    }
    uint64_t fraction = 0;
    const std::string rest = text.substr(static_cast<size_t>(consumed));
    if (!rest.empty()) {
        if (rest.size() != 8 || rest[0] != '.' || rest.find_first_not_of("0123456789", 1) != std::string::npos) {
            return false;
        }
        fraction = std::stoull(rest.substr(1));
    }
    const int64_t seconds = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
    *fileTime = static_cast<uint64_t>(seconds + kSecondsFrom1601To1970) * kTicksPerSecond + fraction;
    return true;
}

uint64_t CurrentFileTime() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const int64_t ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() / 100;
    return static_cast<uint64_t>(ticks + kSecondsFrom1601To1970 * static_cast<int64_t>(kTicksPerSecond));
}

}  // namespace ceemu
