// Records shaped like the demo phone's, written straight into a phone copy's volume
// files, for the benchmarks that need a full phone.
#ifndef CEBRIDGE_BENCH_GENERATED_RECORDS_H
#define CEBRIDGE_BENCH_GENERATED_RECORDS_H

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/phone_copy.h"

namespace bench {

using nlohmann::json;

constexpr uint32_t kContactsDatabaseType = 24;

inline json Prop(const char *id, const char *type, const json &value) {
    return json{{"id", id}, {"type", type}, {"value", value}};
}

// A contact shaped like the demo phone's: names, numbers, mail, company, birthday.
inline json Contact(uint32_t oid, int index) {
    const std::string n = std::to_string(index);
    json props = json::array();
    props.push_back(Prop("0x0082", "string", "First" + n));
    props.push_back(Prop("0x0084", "string", "Last" + n));
    props.push_back(Prop("0x0080", "string", "Last" + n + "First" + n));
    props.push_back(Prop("0x0096", "string", "010-" + std::to_string(1000 + index % 9000) + "-5678"));
    props.push_back(Prop("0x0099", "string", "02-555-0101"));
    props.push_back(Prop("0x0097", "string", "02-6000-0100"));
    props.push_back(Prop("0x0090", "string", "person" + n + "@example.kr"));
    props.push_back(Prop("0x008a", "string", "Example Electronics"));
    props.push_back(Prop("0x008c", "string", "Engineer"));
    props.push_back(Prop("0x00f0", "filetime", "1980-05-17T00:00:00"));
    return json{{"oid", oid}, {"props", props}};
}

inline uint32_t DatabaseType(const json &database) {
    const json &type = database["type"];
    return type.is_string() ? static_cast<uint32_t>(std::stoul(type.get<std::string>(), nullptr, 0))
                            : type.get<uint32_t>();
}

// Replaces the records of the databases of `databaseType` in the volume file with
// `count` made by `record`.
inline void ReplaceRecords(const std::filesystem::path &volumeFile, uint32_t databaseType, int count,
                           json (*record)(uint32_t oid, int index)) {
    json volume = json::parse(ReadFileText(volumeFile));
    uint32_t nextOid = 0x100000;
    for (json &database : volume["databases"]) {
        if (DatabaseType(database) != databaseType) continue;
        database["records"] = json::array();
        for (int i = 0; i < count; ++i) database["records"].push_back(record(nextOid++, i));
    }
    volume["nextOid"] = nextOid;
    std::ofstream(volumeFile) << volume.dump(2);
}

}  // namespace bench

#endif  // CEBRIDGE_BENCH_GENERATED_RECORDS_H
