#include "backup.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "appointment_time.h"
#include "encoding.h"
#include "file_tree.h"
#include "interop.h"
#include "local_files.h"
#include "phone_files.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace host {
namespace {

const char *const kFilesFolder = "files";

Outcome PcFailure(const std::string &message) { return Outcome::Failed(0, message, ErrorKind::kPcFile); }

// The phone's own programs live in \Windows, most of them in ROM where nothing can
// be written back: a backup leaves that folder out.
bool SystemFolder(const std::vector<std::string> &path) {
    return path.size() == 1 && SameDeviceName(path[0], kSystemFolder);
}

// A path inside the backup folder, as the manifest writes it: '/' between UTF-8 names.
std::string ManifestPath(const std::vector<std::string> &phonePath) {
    std::string path = kFilesFolder;
    for (const std::string &part : phonePath) {
        path += '/';
        path += DeviceToTerminal(part);
    }
    return path;
}

fs::path OnDisk(const fs::path &folder, const std::string &manifestPath) { return folder / LocalPath(manifestPath); }

std::string PhoneTime(const FolderEntry &entry) {
    int64_t instant = 0;
    return ListingInstant(entry.modified, &instant) ? UtcIso(instant) : "";
}

// A list of a manifest (none when it has no such list).
const nlohmann::json &ArrayIn(const nlohmann::json &manifest, const char *key) {
    static const nlohmann::json none = nlohmann::json::array();
    auto list = manifest.find(key);
    return list != manifest.end() && list->is_array() ? *list : none;
}

const nlohmann::json &FilesOf(const nlohmann::json &manifest) { return ArrayIn(manifest, "files"); }

// A manifest is read from disk: its paths must stay inside the backup folder.
bool InsideBackup(const std::string &path) {
    fs::path relative = LocalPath(path).lexically_normal();
    return !path.empty() && relative.is_relative() && !relative.has_root_name() && *relative.begin() != "..";
}

// A number of a manifest entry, or `fallback` when it holds none.
uint64_t NumberIn(const nlohmann::json &entry, const char *key, uint64_t fallback) {
    auto value = entry.find(key);
    return value != entry.end() && value->is_number_unsigned() ? value->get<uint64_t>() : fallback;
}

std::string TextIn(const nlohmann::json &entry, const char *key) {
    auto value = entry.find(key);
    return value != entry.end() && value->is_string() ? value->get<std::string>() : "";
}

// A manifest entry for a file of the folder being made.
bool Describe(const fs::path &folder, const std::string &path, nlohmann::json *entry, std::string *error) {
    std::string hex;
    std::error_code failure;
    uint64_t size = fs::file_size(OnDisk(folder, path), failure);
    if (failure) *error = OnDisk(folder, path).string() + ": " + failure.message();
    if (failure || !FileSha256(OnDisk(folder, path).string(), &hex, error)) return false;
    *entry = {{"path", path}, {"size", size}, {"sha256", hex}};
    return true;
}

// The previous backup's copy of a phone file that has not changed since, or null.
// The copy must still hold what the manifest says: a damaged one is fetched again.
const nlohmann::json *Unchanged(const std::map<std::string, nlohmann::json> &previous, const fs::path &target,
                                const std::string &path, const PhoneFile &file) {
    auto found = previous.find(path);
    if (found == previous.end()) return nullptr;
    const nlohmann::json &entry = found->second;
    std::error_code failure;
    std::string hex, error;
    bool same = NumberIn(entry, "size", ~uint64_t(0)) == file.Size() &&
                TextIn(entry, "modified") == PhoneTime(file.entry) &&
                fs::file_size(OnDisk(target, path), failure) == file.Size() && !failure &&
                FileSha256(OnDisk(target, path).string(), &hex, &error) && hex == TextIn(entry, "sha256");
    return same ? &entry : nullptr;
}

// A copy an interrupted backup left in the side folder that is still the phone's
// file: a download lands whole or not at all and carries the phone's time.
bool CopiedBefore(const fs::path &side, const std::string &path, const PhoneFile &file) {
    std::error_code failure;
    fs::path copy = OnDisk(side, path);
    if (fs::file_size(copy, failure) != file.Size() || failure) return false;
    int64_t instant = 0;
    if (!ListingInstant(file.entry.modified, &instant)) return false;
    auto written = fs::last_write_time(copy, failure);
    auto phone = std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(instant)));
    return !failure && std::chrono::floor<std::chrono::seconds>(written) == phone;
}

// Removes what the side folder holds beyond `kept` (copies of phone files gone since
// an interrupted backup, temporaries of a killed one); the parts beside files/ are
// written anew.
void SweepSide(const fs::path &side, const std::set<std::string> &kept) {
    std::error_code failure;
    std::vector<fs::path> strays;
    for (const auto &item : fs::directory_iterator(side, failure))
        if (item.path().filename() != kFilesFolder) strays.push_back(item.path());
    for (fs::recursive_directory_iterator walk(side / kFilesFolder, failure), end; !failure && walk != end;
         walk.increment(failure))
        if (!walk->is_directory() && !kept.count(fs::relative(walk->path(), side).generic_string()))
            strays.push_back(walk->path());
    for (const fs::path &stray : strays) fs::remove(stray, failure);
}

// Shares the previous copy (a hard link, or a copy where links cannot be made).
bool Reuse(const fs::path &from, const fs::path &to, std::string *error) {
    std::error_code failure;
    fs::create_directories(to.parent_path(), failure);
    if (!failure) fs::create_hard_link(from, to, failure);
    if (failure) {
        failure.clear();
        fs::copy_file(from, to, fs::copy_options::copy_symlinks, failure);
    }
    if (failure) *error = to.string() + ": " + failure.message();
    return !failure;
}

struct FilesPart {
    nlohmann::json entries = nlohmann::json::array();
    nlohmann::json folders = nlohmann::json::array();
    nlohmann::json skipped = nlohmann::json::array();
    nlohmann::json gone = nlohmann::json::array();  // in the previous backup, no longer on the phone
    uint64_t files = 0, bytes = 0, copied = 0, reused = 0;
};

// The folder a new generation is made in, and the latest generation before it ("" for none).
struct BackupPaths {
    fs::path side, previous;
};

// Every phone file into side/files/, copying only what changed since the previous generation.

Outcome BackupFiles(DeviceLink &link, const BackupPaths &folders, const nlohmann::json &previousManifest,
                    TransferSink &sink, FilesPart *part) {
    std::map<std::string, nlohmann::json> previous;
    for (const nlohmann::json &entry : FilesOf(previousManifest))
        if (InsideBackup(TextIn(entry, "path"))) previous[TextIn(entry, "path")] = entry;
    std::vector<PhoneFile> files;
    std::vector<std::vector<std::string>> phoneFolders;
    std::vector<std::string> lostFolders;
    Outcome outcome = WalkPhoneTree(link, {}, &files, &phoneFolders, SystemFolder, &lostFolders);
    if (!outcome.ok) return outcome;
    for (const auto &folder : phoneFolders)
        if (!folder.empty()) part->folders.push_back(ManifestPath(folder));
    std::vector<PlannedDownload> plan;
    std::map<std::string, nlohmann::json> described;
    for (const PhoneFile &file : files) {
        std::string path = ManifestPath(file.Path()), error;
        if (CopiedBefore(folders.side, path, file)) {
            ++part->reused;  // (described below, as a downloaded file is)
        } else if (const nlohmann::json *entry = Unchanged(previous, folders.previous, path, file)) {
            std::error_code ignored;
            fs::remove(OnDisk(folders.side, path), ignored);
            if (!Reuse(OnDisk(folders.previous, path), OnDisk(folders.side, path), &error)) return PcFailure(error);
            described[path] = *entry;
            ++part->reused;
        } else {
            plan.push_back({file, OnDisk(folders.side, path).string()});
        }
    }
    std::set<std::string> onPhone;
    for (const PhoneFile &file : files) onPhone.insert(ManifestPath(file.Path()));
    for (const auto &[path, entry] : previous)
        if (path.rfind(std::string(kFilesFolder) + "/", 0) == 0 && !onPhone.count(path)) part->gone.push_back(path);
    SweepSide(folders.side, onPhone);
    CopyResult copied = DownloadFiles(link, plan, true, sink);
    if (!copied.outcome.ok) return copied.outcome;
    copied.skipped.insert(copied.skipped.end(), lostFolders.begin(), lostFolders.end());
    part->copied = copied.files;
    for (const std::string &skipped : copied.skipped) part->skipped.push_back(skipped);
    for (const PhoneFile &file : files) {
        std::string path = ManifestPath(file.Path()), error;
        nlohmann::json entry = described.count(path) ? described[path] : nlohmann::json();
        if (entry.is_null()) {
            if (!fs::exists(OnDisk(folders.side, path))) continue;  // left out
            if (!Describe(folders.side, path, &entry, &error)) return PcFailure(error);
            entry["modified"] = PhoneTime(file.entry);
        }
        part->entries.push_back(entry);
        ++part->files;
        part->bytes += file.Size();
    }
    return Outcome::Ok();
}

// apps.json: the installed packages.
Outcome BackupApps(DeviceLink &link, const fs::path &side, size_t *count) {
    std::vector<ContentItem> items;
    Outcome outcome = link.Listing("WG-REGISTRY", &items);
    if (!outcome.ok) return outcome;
    nlohmann::json packages = nlohmann::json::array();
    for (const ContentItem &item : items)
        packages.push_back({{"id", DeviceToTerminal(item.id)}, {"version", DeviceToTerminal(item.version)}});
    std::string error;
    if (!WriteJsonFile(side / "apps.json", {{"packages", packages}}, &error)) return PcFailure(error);
    *count = items.size();
    return outcome;
}

// The parts of a phone beside files/ and apps.json: the file each is written to,
// its count in the manifest, and the export that writes it.
struct ItemPart {
    const char *file;
    const char *count;
    Outcome (*write)(PhoneSession &, const std::string &, InteropReport *);
};

const ItemPart kItemParts[] = {
    {"contacts.vcf", "contacts", ExportContacts},
    {"calendar.ics", "appointments", ExportCalendar},
    {"calls.json", "calls", ExportCalls},
    {"sms.json", "messages", ExportMessages},
};

// A phone that lists fewer contacts or appointments than the last backup holds may
// have failed to read them (the plug-in answers a PIM volume it cannot open with an
// empty list): the last backup is not replaced by such a drop.
Outcome RefuseDrop(const nlohmann::json &counts, const nlohmann::json &previous) {
    for (const char *kind : {"contacts", "appointments"}) {
        const nlohmann::json &before = previous.value("counts", nlohmann::json::object());
        if (!before.contains(kind) || !before[kind].is_number_unsigned()) continue;
        size_t had = before[kind].get<size_t>(), has = counts[kind].get<size_t>();
        if (has < had)
            return Outcome::Failed(
                0, "the phone lists " + std::to_string(has) + " " + kind + " where the last backup has " +
                       std::to_string(had) +
                       ": a read may have failed (or the phone's PIM volume is missing), so no new backup was made "
                       "and the last one keeps them; if they were removed on purpose, back up with --accept-fewer");
    }
    return Outcome::Ok();
}

// What the backup's contacts, calendar, calls and messages files hold that the
// phone's widths may have cut: as an export says it, each line after the file's name.
struct MayBeCutNotes {
    std::string text;
    nlohmann::json items = nlohmann::json::array();  // each {"file", "id", "item", "fields"}
};

// The other parts of a phone, beside files/: each is written into `side` and counted.
Outcome BackupItems(PhoneSession &session, const fs::path &side, const nlohmann::json &previous, nlohmann::json *counts,
                    MayBeCutNotes *mayBeCut) {
    size_t apps = 0;
    if (Outcome outcome = BackupApps(session.link, side, &apps); !outcome.ok) return outcome;
    (*counts)["apps"] = apps;
    for (const ItemPart &part : kItemParts) {
        InteropReport report;
        Outcome outcome = part.write(session, (side / part.file).string(), &report);
        if (!outcome.ok) return outcome;
        (*counts)[part.count] = report.written;
        for (const std::string &line : report.mayBeCutLines) mayBeCut->text += part.file + (": " + line) + "\n";
        for (nlohmann::json item : report.mayBeCut) {
            item["file"] = part.file;
            mayBeCut->items.push_back(item);
        }
    }
    return RefuseDrop(*counts, previous);
}

// A phone whose PIM volume did not open connects all the same, without its number
// (the plug-in asks for it only of an open volume), and lists no items.
bool NoPimItems(const nlohmann::json &counts) {
    for (const char *kind : {"contacts", "appointments", "calls"})
        if (counts.value(kind, size_t{0}) != 0) return false;
    return true;
}

std::string Now() {
    return LocalIso(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// The new backup, whole, in the side folder; *summary tells what it did.
Outcome WriteBackup(PhoneSession &session, const BackupPaths &folders, const nlohmann::json &previous, bool acceptFewer,
                    TransferSink &sink, nlohmann::json *summary, std::string *notes) {
    Capability capability;
    Outcome outcome = session.link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    std::error_code failure;
    fs::create_directories(folders.side / kFilesFolder, failure);
    if (failure) return PcFailure(folders.side.string() + ": " + failure.message());

    FilesPart files;
    nlohmann::json counts = nlohmann::json::object();
    MayBeCutNotes mayBeCut;
    if (!(outcome = BackupFiles(session.link, folders, previous, sink, &files)).ok) return outcome;
    outcome = BackupItems(session, folders.side, acceptFewer ? nlohmann::json::object() : previous, &counts, &mayBeCut);
    if (!outcome.ok) return outcome;
    if (!acceptFewer && capability.phoneNumber.empty() && NoPimItems(counts))
        return Outcome::Failed(
            0,
            "the phone gave neither its number nor any contact, appointment or call: its PIM volume did "
            "not open, so no backup was made; if the phone holds none, back up with --accept-fewer");
    counts["files"] = files.files;
    counts["bytes"] = files.bytes;
    nlohmann::json entries = files.entries;
    std::string error;
    for (const auto &item : fs::directory_iterator(folders.side)) {
        nlohmann::json entry;
        std::string name = item.path().filename().string();
        if (name == kFilesFolder) continue;
        if (!Describe(folders.side, name, &entry, &error)) return PcFailure(error);
        entries.push_back(entry);
    }
    nlohmann::json stores = nlohmann::json::array();
    for (const Memory &memory : capability.memories)
        if (memory.location != "0") stores.push_back(ManifestPath(SplitDevicePath(memory.location)));
    nlohmann::json manifest = {{"format", kManifestFormat},
                               {"model", DeviceToTerminal(capability.model)},
                               {"manufacturer", DeviceToTerminal(capability.manufacturer)},
                               {"phoneNumber", DeviceToTerminal(capability.phoneNumber)},
                               {"time", Now()},
                               {"counts", counts},
                               {"stores", stores},
                               {"folders", files.folders},
                               {"files", entries},
                               {"skipped", files.skipped}};
    if (!WriteJsonFile(folders.side / kManifestName, manifest, &error)) return PcFailure(error);
    *summary = {{"counts", counts},         {"copied", files.copied}, {"unchanged", files.reused},
                {"skipped", files.skipped}, {"gone", files.gone},     {"mayBeCut", mayBeCut.items}};
    *notes = mayBeCut.text;
    return Outcome::Ok();
}

// The latest generation, which the new one is compared with and shares copies of.
void LatestBackup(const BackupFolder &folder, fs::path *latest, nlohmann::json *manifest) {
    std::string none;
    if (!folder.Choose("", latest, &none) || !ReadJsonFile(*latest / kManifestName, manifest))
        *manifest = nlohmann::json::object();
}

}  // namespace

Outcome MakeBackup(PhoneSession &session, BackupFolder &folder, bool acceptFewer, size_t keep, TransferSink &sink,
                   BackupResult *result) {
    BackupPaths paths{folder.Unfinished(), {}};
    nlohmann::json previous;
    LatestBackup(folder, &paths.previous, &previous);
    nlohmann::json &summary = result->summary;
    Outcome outcome = WriteBackup(session, paths, previous, acceptFewer, sink, &summary, &result->mayBeCutText);
    std::string generation, error;
    if (outcome.ok && !folder.Finish(&generation, &error)) outcome = PcFailure(error);
    if (!outcome.ok) return outcome;
    summary["backup"] = folder.Path().string();
    summary["generation"] = generation;
    summary["removed"] = nlohmann::json::array();
    // A backup that left files out is made, but is not a whole one: no older
    // generation goes for it.
    if (!summary["skipped"].empty()) return outcome;
    std::vector<std::string> removed;
    bool pruned = keep == 0 || folder.Prune(keep, &removed, &error);
    summary["removed"] = removed;
    if (!pruned) return PcFailure("the new backup is whole, but an older one was not removed: " + error);
    return outcome;
}

namespace {

// A store the backup's files were on (a storage card) that the phone lacks now, or
// "": its files would land in a plain folder of the phone's memory instead.
std::string MissingStore(const Capability &capability, const nlohmann::json &manifest) {
    for (const nlohmann::json &store : ArrayIn(manifest, "stores")) {
        if (!store.is_string()) continue;
        const std::string path = store.get<std::string>();
        bool used = false;
        for (const nlohmann::json &entry : FilesOf(manifest))
            used = used || TextIn(entry, "path").rfind(path + "/", 0) == 0;
        std::vector<std::string> parts =
            SplitDevicePath(TerminalToDevice(path.substr(std::string(kFilesFolder).size())));
        const Memory *now = StoreFor(capability, parts);
        if (used && (!now || now->location == "0")) return ShownPath(parts);
    }
    return "";
}

// The backup's phone files the phone lacks, back where they were.
Outcome RestoreFiles(DeviceLink &link, const fs::path &folder, const nlohmann::json &manifest, TransferSink &sink,
                     nlohmann::json *report) {
    Capability capability;
    Outcome outcome = link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    if (std::string store = MissingStore(capability, manifest); !store.empty())
        return Outcome::Failed(
            0, "the backup holds files of the store " + TerminalToDevice(store) +
                   ", which this phone does not have now; insert it, or restore without --files (nothing was changed)");
    std::map<std::vector<std::string>, std::vector<std::string>> byFolder;  // phone folder -> names
    std::map<std::vector<std::string>, std::vector<std::string>> localPaths;
    const std::string prefix = std::string(kFilesFolder) + "/";
    for (const nlohmann::json &entry : FilesOf(manifest)) {
        std::string path = TextIn(entry, "path");
        if (path.rfind(prefix, 0) != 0) continue;
        std::vector<std::string> phonePath = SplitDevicePath(TerminalToDevice(path.substr(prefix.size())));
        if (phonePath.empty()) continue;
        std::string name = phonePath.back();
        phonePath.pop_back();
        byFolder[phonePath].push_back(name);
        localPaths[phonePath].push_back(OnDisk(folder, path).string());
    }
    for (const nlohmann::json &path : ArrayIn(manifest, "folders"))
        if (path.is_string() && path.get<std::string>().rfind(prefix, 0) == 0)
            byFolder[SplitDevicePath(TerminalToDevice(path.get<std::string>().substr(prefix.size())))];
    std::vector<PlannedUpload> plan;
    size_t kept = 0;
    for (const auto &[phoneFolder, names] : byFolder) {
        std::vector<FolderEntry> entries;
        outcome = link.EnterFolder(phoneFolder, &entries);
        if (!outcome.ok && !(outcome = link.MakeFolders(phoneFolder)).ok) return outcome;
        for (size_t i = 0; i < names.size(); ++i) {
            if (FindEntry(entries, names[i]))
                ++kept;  // the phone's own file stays
            else
                plan.push_back({localPaths[phoneFolder][i], phoneFolder, names[i]});
        }
    }
    CopyResult result = UploadFiles(link, std::move(plan), sink);
    if (!result.outcome.ok) return result.outcome;
    (*report)["files"] = {{"restored", result.files}, {"kept", kept}};
    return outcome;
}

nlohmann::json ImportJson(const InteropReport &report) {
    return {{"added", report.added}, {"skipped", report.skipped}, {"refused", report.refused},
            {"notes", report.notes}, {"items", report.items},     {"remarks", report.remarks}};
}

// The contacts and appointments of the backup that the phone lacks (same name and
// first number, same title and start), added.
Outcome RestoreItems(PhoneSession &session, const fs::path &folder, const RestoreParts &parts, ItemSink &sink,
                     nlohmann::json *report) {
    struct {
        bool chosen;
        const char *file, *key;
        Outcome (*add)(PhoneSession &, const std::string &, bool, ItemSink &, InteropReport *);
    } items[] = {{parts.contacts, "contacts.vcf", "contacts", ImportContacts},
                 {parts.calendar, "calendar.ics", "calendar", ImportCalendar}};
    for (const auto &item : items) {
        if (!item.chosen) continue;
        InteropReport added;
        Outcome outcome = item.add(session, (folder / item.file).string(), true, sink, &added);
        if (!outcome.ok) return outcome;
        (*report)[item.key] = ImportJson(added);
    }
    return Outcome::Ok();
}

}  // namespace

std::vector<std::string> CheckBackup(const fs::path &folder, const nlohmann::json &manifest) {
    std::vector<std::string> problems;
    std::set<std::string> listed = {kManifestName};
    for (const nlohmann::json &entry : FilesOf(manifest)) {
        std::string path = TextIn(entry, "path"), hex, error;
        if (!InsideBackup(path)) {
            problems.push_back("manifest: an entry without a path inside the backup: " + path);
            continue;
        }
        listed.insert(path);
        std::error_code failure;
        uint64_t size = fs::file_size(OnDisk(folder, path), failure);
        if (failure)
            problems.push_back(path + ": missing");
        else if (size != NumberIn(entry, "size", ~uint64_t(0)))
            problems.push_back(path + ": size changed");
        else if (!FileSha256(OnDisk(folder, path).string(), &hex, &error))
            problems.push_back(error);
        else if (hex != TextIn(entry, "sha256"))
            problems.push_back(path + ": content changed");
    }
    std::error_code failure;
    for (fs::recursive_directory_iterator walk(folder, failure), end; !failure && walk != end; walk.increment(failure))
        if (walk->is_regular_file() && !listed.count(fs::relative(walk->path(), folder).generic_string()))
            problems.push_back(fs::relative(walk->path(), folder).generic_string() + ": not in the manifest");
    return problems;
}

Outcome ReadBackupGeneration(BackupFolder &backup, const std::string &name, fs::path *folder,
                             nlohmann::json *manifest) {
    std::string error;
    if (!backup.PrepareForReading(&error) || !backup.Choose(name, folder, &error)) return PcFailure(error);
    if (!ReadJsonFile(*folder / kManifestName, manifest))
        return PcFailure((*folder / kManifestName).string() + ": no readable manifest");
    if (NumberIn(*manifest, "format", 0) != kManifestFormat)
        return PcFailure((*folder / kManifestName).string() + ": a manifest format this program does not know");
    return Outcome::Ok();
}

Outcome ReadBackupForRestore(BackupFolder &backup, const std::string &name, fs::path *folder, nlohmann::json *manifest,
                             std::vector<std::string> *problems) {
    if (Outcome outcome = ReadBackupGeneration(backup, name, folder, manifest); !outcome.ok) return outcome;
    *problems = CheckBackup(*folder, *manifest);
    if (!problems->empty()) return PcFailure("the backup does not match its manifest (see `backup --verify`)");
    return Outcome::Ok();
}

Outcome VerifyBackup(BackupFolder &backup, const std::string &generation, nlohmann::json *report) {
    fs::path folder;
    nlohmann::json manifest;
    if (Outcome outcome = ReadBackupGeneration(backup, generation, &folder, &manifest); !outcome.ok) return outcome;
    std::vector<std::string> problems = CheckBackup(folder, manifest);
    *report = {{"backup", backup.Path().string()},
               {"generation", folder.filename().string()},
               {"files", FilesOf(manifest).size()},
               {"verified", problems.empty()},
               {"problems", problems}};
    return Outcome::Ok();
}

Outcome ListBackups(BackupFolder &backup, nlohmann::json *document) {
    std::string error;
    if (!backup.PrepareForReading(&error)) return PcFailure(error);
    const std::vector<std::string> names = backup.Generations();
    fs::path folder;
    if (names.empty() && !backup.Choose("", &folder, &error)) return PcFailure(error);
    nlohmann::json generations = nlohmann::json::array();
    for (const std::string &name : names) {
        nlohmann::json manifest;
        if (!backup.Choose(name, &folder, &error) || !ReadJsonFile(folder / kManifestName, &manifest))
            manifest = nlohmann::json::object();
        auto counts = manifest.find("counts");
        nlohmann::json held = counts != manifest.end() && counts->is_object() ? *counts : nlohmann::json::object();
        generations.push_back({{"name", name}, {"time", TextIn(manifest, "time")}, {"counts", held}});
    }
    *document = {{"backup", backup.Path().string()}, {"latest", backup.Latest()}, {"generations", generations}};
    return Outcome::Ok();
}

Outcome RestoreBackup(PhoneSession &session, const fs::path &folder, const nlohmann::json &manifest,
                      const RestoreParts &parts, TransferSink &files, ItemSink &items, nlohmann::json *report) {
    *report = {{"generation", folder.filename().string()}};
    if (parts.files)
        if (Outcome outcome = RestoreFiles(session.link, folder, manifest, files, report); !outcome.ok) return outcome;
    return RestoreItems(session, folder, parts, items, report);
}

Outcome LockBackupFolder(const BackupFolder &folder, ProcessLock *lock) {
    std::string error;
    if (lock->Take("backup " + folder.Path().string(), &error)) return Outcome::Ok();
    if (!error.empty()) return PcFailure(error);
    return Outcome::Failed(
        0, "another cebridge is using the backup folder " + folder.Path().string() + "; try again when it is done",
        ErrorKind::kBusy);
}

}  // namespace host
