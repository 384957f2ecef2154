// What a generation holds, as manifest.json describes it: the phone it came from,
// what it counted, its stores, folders and files (each with its size and digest),
// and what the backup left out. JSON is only the file's form: ReadManifest refuses
// one of another form, and WriteManifest writes what ReadManifest reads.
#ifndef CEBRIDGE_HOST_MANIFEST_H
#define CEBRIDGE_HOST_MANIFEST_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "outcome.h"

namespace host {

// The file each generation describes itself in, and the format it is written in.
extern const char *const kManifestName;
constexpr int kManifestFormat = 1;

// A file of the generation: "files/..." (a phone file, with its time on the phone)
// or one of the parts beside files/ (apps.json, contacts.vcf...). Paths are '/'
// between UTF-8 names, relative to the generation's folder.
struct ManifestFile {
    std::string path;
    uint64_t size = 0;
    std::string sha256;
    std::optional<std::string> modified;  // a phone file's time, "" when the phone gave none
    // The phone's time falls in the hour the clocks repeat: `modified` is the earlier
    // of the two instants it names (the listing carries no offset).
    bool modifiedAmbiguous = false;
};

// A part the phone could not give (a file, or contacts.vcf...), and why.
struct UnreadPart {
    std::string part;
    std::string why;
};

struct Manifest {
    std::string model, manufacturer, phoneNumber;
    std::string time;                        // local ISO time the backup was made
    std::map<std::string, uint64_t> counts;  // "files", "bytes", "contacts"...: those read
    std::vector<std::string> stores;         // the phone's storage cards, as "files/NAME"
    std::vector<std::string> folders;        // every phone folder, as "files/..."
    std::vector<ManifestFile> files;
    std::vector<std::string> skipped;  // "PATH: why" of files left out
    std::vector<UnreadPart> unread;

    // The entry of `path`, or null.
    const ManifestFile *Find(const std::string &path) const;
};

// The manifest `file`; kPcFile naming the file when it is missing, unreadable, of
// another format, without its files, or holds a value of the wrong kind (a key
// that is missing reads as empty).
Outcome ReadManifest(const std::filesystem::path &file, Manifest *manifest);
// Writes the manifest whole (a temporary renamed over it).
Outcome WriteManifest(const std::filesystem::path &file, const Manifest &manifest);

// The entry as one line of JSON (a backup's journal of the copies it fetched), and
// back; false when the line is no such entry.
std::string ManifestFileLine(const ManifestFile &file);
bool ParseManifestFileLine(const std::string &line, ManifestFile *file);

// {"part", "why"} each, as the front ends' documents carry them.
void to_json(nlohmann::json &document, const UnreadPart &part);

}  // namespace host

#endif  // CEBRIDGE_HOST_MANIFEST_H
