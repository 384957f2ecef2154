#include "backup.h"

#include <algorithm>
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
#include "manifest.h"
#include "phone_files.h"
#include "sha256.h"

namespace fs = std::filesystem;

namespace host {
namespace {

const char *const kFilesFolder = "files";
// In the side folder only: the copies fetched so far, each with its digest.
const char *const kFetchJournal = "fetched.journal";

using Counts = decltype(Manifest::counts);

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

// In the hour the clocks repeat, PhoneTime is the earlier of the two instants the
// listing's time names.
bool TimeIsRepeated(const FolderEntry &entry) {
    int64_t instant = 0;
    bool repeated = false;
    return ListingInstant(entry.modified, &instant, &repeated) && repeated;
}

// A manifest is read from disk: its paths must stay inside the backup folder.
bool InsideBackup(const std::string &path) {
    fs::path relative = LocalPath(path).lexically_normal();
    return !path.empty() && relative.is_relative() && !relative.has_root_name() && *relative.begin() != "..";
}

// A manifest entry for a file of the folder being made.
Outcome Describe(const fs::path &folder, const std::string &path, ManifestFile *entry) {
    std::string hex;
    std::error_code failure;
    uint64_t size = fs::file_size(OnDisk(folder, path), failure);
    if (failure) return PcFailure(OnDisk(folder, path).string() + ": " + failure.message());
    if (Outcome hashed = FileSha256(OnDisk(folder, path).string(), &hex); !hashed.ok) return hashed;
    *entry = {path, size, hex, std::nullopt};
    return Outcome::Ok();
}

// Whether the copy of a manifest entry in `folder` still has the entry's size and digest.
bool HoldsWhatItSays(const fs::path &folder, const ManifestFile &entry) {
    const std::string &path = entry.path;
    std::error_code failure;
    std::string hex;
    return InsideBackup(path) && fs::file_size(OnDisk(folder, path), failure) == entry.size && !failure &&
           FileSha256(OnDisk(folder, path).string(), &hex).ok && hex == entry.sha256;
}

// Whether a manifest path lies on one of `stores` (manifest paths of store folders).
bool OnStore(const std::string &path, const std::set<std::string> &stores) {
    for (const std::string &store : stores)
        if (path.rfind(store + "/", 0) == 0) return true;
    return false;
}

// The copy in `folder` of the entry `path` of `entries` when it is still the phone's
// `file` (its size and time) and still holds what the entry says, or null: a copy
// damaged on the PC is fetched again.
const ManifestFile *StillThePhones(const std::map<std::string, ManifestFile> &entries, const fs::path &folder,
                                   const std::string &path, const PhoneFile &file) {
    auto found = entries.find(path);
    if (found == entries.end()) return nullptr;
    const ManifestFile &entry = found->second;
    bool same = entry.size == file.Size() && entry.modified.value_or("") == PhoneTime(file.entry) &&
                HoldsWhatItSays(folder, entry);
    return same ? &entry : nullptr;
}

// The journal of the copies a backup fetched into the side folder, each hashed as it
// landed: a later backup takes a copy an interrupted one left only when it still
// holds what the journal says and the phone's file is still the one fetched. One
// JSON entry a line, appended as each copy lands; a line a kill cut is not read.
class FetchJournal {
public:
    explicit FetchJournal(const fs::path &side) : m_path(side / kFetchJournal) {
        std::ifstream in(m_path, std::ios::binary);
        ManifestFile entry;
        for (std::string line; std::getline(in, line);)
            if (ParseManifestFileLine(line, &entry)) m_entries[entry.path] = entry;
    }
    // The entry of a copy in `side` fetched earlier from the phone's `file`, or null.
    const ManifestFile *Fetched(const fs::path &side, const std::string &path, const PhoneFile &file) const {
        return StillThePhones(m_entries, side, path, file);
    }
    Outcome Record(const ManifestFile &entry) {
        std::ofstream out(m_path, std::ios::binary | std::ios::app);
        out << ManifestFileLine(entry) << "\n";
        out.flush();
        return out ? Outcome::Ok() : SystemFailure(m_path.string());
    }

private:
    fs::path m_path;
    std::map<std::string, ManifestFile> m_entries;
};

// Clears the side folder of all but what the new backup can still use: the journal,
// the copies of files the phone holds (`kept`) and the phone's folders. Everything
// else goes: copies of phone files gone since an interrupted backup, the parts
// beside files/ (written anew), and every temporary a killed run left (a download's
// or an export's `.cebridge-*.part` folder, a `.part` of a JSON file).
void SweepSide(const fs::path &side, const std::set<std::string> &kept, const std::set<std::string> &folders) {
    std::error_code failure;
    std::vector<fs::path> strays;
    for (fs::directory_iterator item(side, failure), end; !failure && item != end; item.increment(failure)) {
        const std::string name = item->path().filename().string();
        if (name != kFilesFolder && name != kFetchJournal) strays.push_back(item->path());
    }
    failure.clear();
    for (fs::recursive_directory_iterator walk(side / kFilesFolder, failure), end; !failure && walk != end;
         walk.increment(failure)) {
        const std::string path = walk->path().lexically_relative(side).generic_string();
        const bool folder = walk->is_directory(failure);
        if (folder ? folders.count(path) != 0 : kept.count(path) != 0) continue;
        if (folder) walk.disable_recursion_pending();
        strays.push_back(walk->path());
    }
    for (const fs::path &stray : strays) fs::remove_all(stray, failure);
}

// Shares the previous copy (a hard link, or a copy where links cannot be made).
Outcome Reuse(const fs::path &from, const fs::path &to) {
    std::error_code failure;
    fs::create_directories(to.parent_path(), failure);
    if (!failure) fs::create_hard_link(from, to, failure);
    if (failure) {
        failure.clear();
        fs::copy_file(from, to, fs::copy_options::copy_symlinks, failure);
    }
    return failure ? PcFailure(to.string() + ": " + failure.message()) : Outcome::Ok();
}

struct FilesPart {
    std::vector<ManifestFile> entries;
    std::vector<std::string> folders;
    std::vector<std::string> skipped;
    nlohmann::json gone = nlohmann::json::array();        // in the previous backup, no longer on the phone
    nlohmann::json notPresent = nlohmann::json::array();  // stores of the previous backup the phone lacks now
    uint64_t files = 0, bytes = 0, copied = 0, reused = 0;
    uint64_t onMissingStores = 0;    // files of the previous backup on those stores
    std::vector<UnreadPart> unread;  // the files the phone could not give
};

// The folder a new generation is made in, and the latest generation before it ("" for none).
struct BackupPaths {
    fs::path side, previous;
};

// Hashes each download of a plan as it lands, into the journal: the copy transfer
// starts the next file only once the one before it is in place, and runs the plan
// in the order this one keeps (by phone folder; names it cannot fetch left out).
class HashingSink : public TransferSink {
public:
    HashingSink(TransferSink &inner, const fs::path &side, FetchJournal &journal,
                const std::vector<PlannedDownload> &plan)
        : m_inner(inner), m_side(side), m_journal(journal) {
        for (const PlannedDownload &item : plan)
            if (item.source.entry.name.size() <= kMaxDownloadName) m_order.push_back(&item);
        std::stable_sort(m_order.begin(), m_order.end(), [](const PlannedDownload *a, const PlannedDownload *b) {
            return a->source.folder < b->source.folder;
        });
    }
    void Begin(uint64_t totalBytes, uint64_t files) override { m_inner.Begin(totalBytes, files); }
    void StartFile(const std::string &shown) override {
        HashLanded(m_started);
        m_started = std::min(m_started + 1, m_order.size());
        m_inner.StartFile(shown);
    }
    void Add(uint64_t bytes) override { m_inner.Add(bytes); }
    void Finish(bool ok) override { m_inner.Finish(ok); }
    void Warning(const std::string &text) override { m_inner.Warning(text); }

    // After the copy: every download that landed is hashed, or the first that could not be.
    Outcome Done(std::map<std::string, ManifestFile> *described) {
        HashLanded(m_order.size());
        *described = std::move(m_described);
        return m_failure;
    }
    // The item whose download was under way when the copy stopped, or null.
    const PlannedDownload *Current() const { return m_started > 0 ? m_order[m_started - 1] : nullptr; }
    // The plan from that item on, in the order it runs.
    std::vector<PlannedDownload> FromCurrent() const {
        std::vector<PlannedDownload> rest;
        for (size_t i = m_started > 0 ? m_started - 1 : 0; i < m_order.size(); ++i) rest.push_back(*m_order[i]);
        return rest;
    }

private:
    void HashLanded(size_t upTo) {
        for (; m_hashed < upTo && m_hashed < m_order.size(); ++m_hashed) {
            const PlannedDownload &item = *m_order[m_hashed];
            const std::string path = LocalPath(item.local).lexically_relative(m_side).generic_string();
            std::error_code failure;
            ManifestFile entry;
            if (!m_failure.ok || !fs::exists(LocalPath(item.local), failure)) continue;  // left out
            if (!(m_failure = Describe(m_side, path, &entry)).ok) continue;
            entry.modified = PhoneTime(item.source.entry);
            entry.modifiedAmbiguous = TimeIsRepeated(item.source.entry);  // (said as it was fetched)
            if ((m_failure = m_journal.Record(entry)).ok) m_described[path] = entry;
        }
    }

    TransferSink &m_inner;
    fs::path m_side;
    FetchJournal &m_journal;
    std::vector<const PlannedDownload *> m_order;
    size_t m_started = 0, m_hashed = 0;
    std::map<std::string, ManifestFile> m_described;
    Outcome m_failure = Outcome::Ok();
};

// Whether the phone still answers after a download failed: a file the phone could
// not open (another program holds it) fails alone, a link that fell fails them all.
bool PhoneStillAnswers(DeviceLink &link, const PhoneFile &file) {
    return !link.Interrupted() && link.EnterFolder(file.folder).ok;
}

// Downloads the plan; a file the phone refuses twice while the phone still answers
// is left out and named (as a name too long to fetch is), and the rest still come.
Outcome DownloadAll(DeviceLink &link, const fs::path &side, FetchJournal &journal, std::vector<PlannedDownload> plan,
                    TransferSink &sink, FilesPart *part, std::map<std::string, ManifestFile> *described) {
    std::string refusedOnce;  // the local copy of the file refused the last time
    while (!plan.empty()) {
        HashingSink hashing(sink, side, journal, plan);
        CopyResult copied = DownloadFiles(link, plan, true, hashing);
        std::map<std::string, ManifestFile> landed;
        const Outcome hashed = hashing.Done(&landed);
        described->insert(landed.begin(), landed.end());
        for (const std::string &skipped : copied.skipped) part->skipped.push_back(skipped);
        part->copied += copied.files;
        if (!hashed.ok) return hashed;
        const PlannedDownload *failed = hashing.Current();
        if (copied.outcome.ok || !failed || IsPcFailure(copied.outcome.kind) ||
            copied.outcome.kind == ErrorKind::kInterrupted || !PhoneStillAnswers(link, failed->source))
            return copied.outcome;
        // (taken now: the plan `failed` points into is replaced)
        const std::string local = failed->local, shown = ShownPath(failed->source.Path()),
                          path = ManifestPath(failed->source.Path());
        plan = hashing.FromCurrent();
        if (refusedOnce != local) {  // once more, from the file that failed
            refusedOnce = local;
            continue;
        }
        part->skipped.push_back(shown + ": the phone could not open or read it (" +
                                DeviceToTerminal(copied.outcome.message) + ")");
        part->unread.push_back({path, "the phone could not open or read it"});
        plan.erase(plan.begin());
    }
    return Outcome::Ok();
}

// The stores of the latest generation (manifest paths) the phone lacks now.
std::set<std::string> MissingStores(const Manifest &previous, const std::set<std::string> &now) {
    std::set<std::string> missing;
    for (const std::string &store : previous.stores)
        if (!now.count(store)) missing.insert(store);
    return missing;
}

// The latest generation's stores the capability leaves out altogether whose folders
// the phone lists at its root. The plug-in leaves out without a word a store whose
// registry entry, mount or free space it could not read, and a plain folder in a
// store's name it measures as the phone's memory (so lists all the same): a store
// missing from the capability whose folder is there is one whose read failed.
std::set<std::string> StoresLeftOut(const Capability &capability, const Manifest &previous,
                                    const std::vector<std::vector<std::string>> &phoneFolders) {
    std::set<std::string> measured, atRoot, leftOut;
    for (const Memory &memory : capability.memories) measured.insert(ManifestPath(SplitDevicePath(memory.location)));
    for (const auto &folder : phoneFolders)
        if (folder.size() == 1) atRoot.insert(ManifestPath(folder));
    for (const std::string &store : MissingStores(previous, measured))
        if (atRoot.count(store)) leftOut.insert(store);
    return leftOut;
}

// Every phone file into side/files/, copying only what changed since the previous
// generation; files of a store the previous one had and the phone lacks now are
// not present, not gone. `stores`: the phone's stores as its capability gives them,
// and those it left out but the walk found (StoresLeftOut).
Outcome BackupFiles(DeviceLink &link, const BackupPaths &folders, const Manifest &previousManifest,
                    const Capability &capability, std::set<std::string> *stores, TransferSink &sink, FilesPart *part) {
    std::map<std::string, ManifestFile> previous;
    for (const ManifestFile &entry : previousManifest.files)
        if (InsideBackup(entry.path)) previous[entry.path] = entry;
    std::vector<PhoneFile> files;
    std::vector<std::vector<std::string>> phoneFolders;
    std::vector<std::string> lostFolders;
    Outcome outcome = WalkPhoneTree(link, {}, &files, &phoneFolders, SystemFolder, &lostFolders);
    if (!outcome.ok) return outcome;
    const std::set<std::string> leftOut = StoresLeftOut(capability, previousManifest, phoneFolders);
    stores->insert(leftOut.begin(), leftOut.end());
    const std::set<std::string> missingStores = MissingStores(previousManifest, *stores);
    std::set<std::string> folderPaths = {kFilesFolder}, onPhone;
    for (const auto &folder : phoneFolders)
        if (!folder.empty()) part->folders.push_back(ManifestPath(folder)), folderPaths.insert(ManifestPath(folder));
    for (const PhoneFile &file : files) onPhone.insert(ManifestPath(file.Path()));
    for (const auto &[path, entry] : previous) {
        if (path.rfind(std::string(kFilesFolder) + "/", 0) != 0 || onPhone.count(path)) continue;
        if (OnStore(path, missingStores))
            ++part->onMissingStores;
        else
            part->gone.push_back(path);
    }
    for (const std::string &store : missingStores) part->notPresent.push_back(store);
    SweepSide(folders.side, onPhone, folderPaths);

    FetchJournal journal(folders.side);
    std::vector<PlannedDownload> plan;
    std::map<std::string, ManifestFile> described;
    for (const PhoneFile &file : files) {
        std::string path = ManifestPath(file.Path());
        std::error_code ignored;
        if (const ManifestFile *entry = journal.Fetched(folders.side, path, file)) {
            described[path] = *entry;
            ++part->reused;
        } else if (const ManifestFile *entry = StillThePhones(previous, folders.previous, path, file)) {
            fs::remove(OnDisk(folders.side, path), ignored);
            if (Outcome reused = Reuse(OnDisk(folders.previous, path), OnDisk(folders.side, path)); !reused.ok)
                return reused;
            described[path] = *entry;
            ++part->reused;
        } else {
            fs::remove(OnDisk(folders.side, path), ignored);  // a copy not known whole is fetched again
            plan.push_back({file, OnDisk(folders.side, path).string()});
        }
    }
    outcome = DownloadAll(link, folders.side, journal, std::move(plan), sink, part, &described);
    if (!outcome.ok) return outcome;
    for (const std::string &lost : lostFolders) part->skipped.push_back(lost);
    for (const PhoneFile &file : files) {
        auto entry = described.find(ManifestPath(file.Path()));
        if (entry == described.end()) continue;  // left out
        part->entries.push_back(entry->second);
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
    if (Outcome written = WriteJsonFile(side / "apps.json", {{"packages", packages}}); !written.ok) return written;
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

// What the phone holds of each kind, against the latest generation. A phone that
// could not read a kind answers as if it held less: a PIM volume it cannot open, or a
// message volume that does not mount, lists nothing with OK; a find that fails part
// way ends a folder's listing early. So a new generation that holds much less than
// the latest does not replace it: no fewer contacts or appointments at all (the
// phone changes them one by one), no more than a quarter fewer files, messages or
// calls (which come and go in numbers), nor the installed package the phone names
// (its registry read fails as a missing key reads). Files of a store the phone lacks now are not
// counted as held before: they are not present, not deleted.
Outcome RefuseShrink(const Counts &counts, const Manifest &previous, uint64_t onMissingStores) {
    const struct {
        const char *kind;
        bool anyDrop;
    } rules[] = {{"contacts", true},  {"appointments", true}, {"files", false},
                 {"messages", false}, {"calls", false},       {"apps", false}};
    for (const auto &rule : rules) {
        auto before = previous.counts.find(rule.kind), now = counts.find(rule.kind);
        if (before == previous.counts.end() || now == counts.end())
            continue;  // (a part not read is named, not counted)
        uint64_t had = before->second, has = now->second;
        if (std::string(rule.kind) == "files") had -= std::min(had, onMissingStores);
        const bool shrank = rule.anyDrop ? has < had : (had - std::min(had, has)) * 4 > had;
        if (shrank)
            return Outcome::Failed(
                0, "the phone lists " + std::to_string(has) + " " + rule.kind + " where the last backup has " +
                       std::to_string(had) +
                       ": a read may have failed (or a volume or store of the phone is missing), so no new backup "
                       "was made and the last one keeps them; if they were removed on purpose, back up with "
                       "--accept-fewer");
    }
    return Outcome::Ok();
}

// What the backup's contacts, calendar, calls and messages files hold that the
// phone's widths may have cut: as an export says it, each line after the file's name.
struct MayBeCutNotes {
    std::string text;
    nlohmann::json items = nlohmann::json::array();  // each {"file", "id", "item", "fields"}
};

// A part the phone failed to give (its store did not open, a read failed): left
// out and named; the PC's failures and Ctrl-C end the backup.
bool LeftUnread(const Outcome &outcome, const char *part, std::vector<UnreadPart> *unread) {
    if (IsPcFailure(outcome.kind) || outcome.kind == ErrorKind::kInterrupted) return false;
    unread->push_back({part, DeviceToTerminal(outcome.message)});
    return true;
}

// The other parts of a phone, beside files/: each is written into `side` and counted;
// those the phone could not read are named in `unread` and not counted.
Outcome BackupItems(PhoneSession &session, const fs::path &side, Counts *counts, MayBeCutNotes *mayBeCut,
                    std::vector<UnreadPart> *unread) {
    size_t apps = 0;
    if (Outcome outcome = BackupApps(session.link, side, &apps); outcome.ok)
        (*counts)["apps"] = apps;
    else if (!LeftUnread(outcome, "apps.json", unread))
        return outcome;
    for (const ItemPart &part : kItemParts) {
        InteropReport report;
        Outcome outcome = part.write(session, (side / part.file).string(), &report);
        if (!outcome.ok && LeftUnread(outcome, part.file, unread)) continue;
        if (!outcome.ok) return outcome;
        (*counts)[part.count] = report.written;
        for (const std::string &line : report.mayBeCutLines) mayBeCut->text += part.file + (": " + line) + "\n";
        for (nlohmann::json item : report.mayBeCut) {
            item["file"] = part.file;
            mayBeCut->items.push_back(item);
        }
    }
    return Outcome::Ok();
}

// A phone whose PIM volume did not open connects all the same, without its number
// (the plug-in asks for it only of an open volume), and lists no items.
bool NoPimItems(const Counts &counts) {
    for (const char *kind : {"contacts", "appointments", "calls"})
        if (counts.count(kind) && counts.at(kind) != 0) return false;
    return true;
}

// The phone's stores now, as manifest paths. A storage card is listed whenever a
// folder of its name exists: a plain folder of the phone's memory standing in its
// name measures as the object store, to the byte, and is no store.
std::set<std::string> StoresNow(const Capability &capability) {
    const Memory *objectStore = nullptr;
    for (const Memory &memory : capability.memories)
        if (memory.location == "0") objectStore = &memory;
    std::set<std::string> stores;
    for (const Memory &memory : capability.memories) {
        const bool standIn =
            objectStore && memory.freeBytes == objectStore->freeBytes && memory.usedBytes == objectStore->usedBytes;
        if (memory.location != "0" && !standIn) stores.insert(ManifestPath(SplitDevicePath(memory.location)));
    }
    return stores;
}

std::string Now() {
    return LocalIso(
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count());
}

// The new backup, whole, in the side folder, described by *manifest; *summary tells what it did.
Outcome WriteBackup(PhoneSession &session, const BackupPaths &folders, const Manifest &previous, bool acceptFewer,
                    TransferSink &sink, Manifest *manifest, nlohmann::json *summary, std::string *notes) {
    Capability capability;
    Outcome outcome = session.link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    // The plug-in names a model it could not read "UNKNOWN": a phone of the latest
    // generation's number is that generation's phone, whose model it named.
    if ((capability.model.empty() || capability.model == "UNKNOWN") && !capability.phoneNumber.empty() &&
        DeviceToTerminal(capability.phoneNumber) == previous.phoneNumber && !previous.model.empty())
        capability.model = TerminalToDevice(previous.model);
    std::error_code failure;
    fs::create_directories(folders.side / kFilesFolder, failure);
    if (failure) return PcFailure(folders.side.string() + ": " + failure.message());

    std::set<std::string> stores = StoresNow(capability);
    FilesPart files;
    Counts counts;
    MayBeCutNotes mayBeCut;
    outcome = BackupFiles(session.link, folders, previous, capability, &stores, sink, &files);
    if (!outcome.ok) return outcome;
    std::vector<UnreadPart> unread = files.unread;
    if (!(outcome = BackupItems(session, folders.side, &counts, &mayBeCut, &unread)).ok) return outcome;
    counts["files"] = files.files;
    counts["bytes"] = files.bytes;
    if (!acceptFewer && !(outcome = RefuseShrink(counts, previous, files.onMissingStores)).ok) return outcome;
    if (!acceptFewer && unread.empty() && capability.phoneNumber.empty() && NoPimItems(counts))
        return Outcome::Failed(
            0,
            "the phone gave neither its number nor any contact, appointment or call: its PIM volume did "
            "not open, so no backup was made; if the phone holds none, back up with --accept-fewer");
    std::vector<ManifestFile> entries = files.entries;
    std::vector<std::string> parts = {"apps.json"};
    for (const ItemPart &part : kItemParts) parts.push_back(part.file);
    std::erase_if(parts, [&](const std::string &name) {
        return std::any_of(unread.begin(), unread.end(), [&](const UnreadPart &left) { return left.part == name; });
    });
    for (const std::string &name : parts) {
        ManifestFile entry;
        if (Outcome described = Describe(folders.side, name, &entry); !described.ok) return described;
        entries.push_back(entry);
    }
    fs::remove(folders.side / kFetchJournal, failure);  // (no part of the generation)
    if (failure) return PcFailure((folders.side / kFetchJournal).string() + ": " + failure.message());
    *manifest = {DeviceToTerminal(capability.model),
                 DeviceToTerminal(capability.manufacturer),
                 DeviceToTerminal(capability.phoneNumber),
                 Now(),
                 counts,
                 {stores.begin(), stores.end()},
                 files.folders,
                 entries,
                 files.skipped,
                 unread};
    if (Outcome written = WriteManifest(folders.side / kManifestName, *manifest); !written.ok) return written;
    *summary = {{"counts", counts},           {"copied", files.copied}, {"unchanged", files.reused},
                {"skipped", files.skipped},   {"gone", files.gone},     {"notPresent", files.notPresent},
                {"mayBeCut", mayBeCut.items}, {"unread", unread}};
    *notes = mayBeCut.text;
    return Outcome::Ok();
}

// The latest generation, which the new one is compared with and shares copies of;
// false when there is none (or none that can be read).
bool LatestBackup(const BackupFolder &folder, fs::path *latest, Manifest *manifest) {
    if (folder.Choose("", latest).ok && ReadManifest(*latest / kManifestName, manifest).ok) return true;
    *manifest = {};
    return false;
}

}  // namespace

namespace {

// Which older generations --keep may remove: one that holds the last copy of a phone
// file the new generation lacks (removed on the phone, or on a store that is not
// there now) stays, unless the user says otherwise (--force).
class LastCopies {
public:
    explicit LastCopies(const BackupFolder &folder) {
        for (const std::string &name : folder.Generations()) {
            fs::path path;
            Manifest manifest;
            if (!folder.Choose(name, &path).ok || !ReadManifest(path / kManifestName, &manifest).ok) continue;
            for (const ManifestFile &entry : manifest.files) {
                const std::string &file = entry.path;
                if (file.rfind(std::string(kFilesFolder) + "/", 0) != 0) continue;
                m_held[name].insert(file);
                ++m_holders[file];
            }
        }
    }
    // Whether `generation` may go; when it may, it counts as gone.
    bool MayRemove(const std::string &generation) {
        for (const std::string &file : m_held[generation])
            if (m_holders[file] < 2) return false;
        for (const std::string &file : m_held[generation]) --m_holders[file];
        return true;
    }

private:
    std::map<std::string, std::set<std::string>> m_held;
    std::map<std::string, size_t> m_holders;
};

}  // namespace

namespace {

// Whether the generation `manifest` lacks every part of `unread` too (a new
// generation without them is then no less than the latest: it may replace it).
bool HoldsNoMoreThan(const Manifest &manifest, const std::vector<UnreadPart> &unread) {
    return std::none_of(unread.begin(), unread.end(),
                        [&](const UnreadPart &left) { return manifest.Find(left.part) != nullptr; });
}

}  // namespace

Outcome MakeBackup(PhoneSession &session, BackupFolder &folder, bool acceptFewer, size_t keep, TransferSink &sink,
                   BackupResult *result, bool force) {
    return CaughtAsInternal([&] {
        BackupPaths paths{folder.Unfinished(), {}};
        Manifest previous, made;
        const bool hasPrevious = LatestBackup(folder, &paths.previous, &previous);
        nlohmann::json &summary = result->summary;
        Outcome outcome =
            WriteBackup(session, paths, previous, acceptFewer, sink, &made, &summary, &result->mayBeCutText);
        std::string generation;
        const bool latest = outcome.ok && (acceptFewer || !hasPrevious || HoldsNoMoreThan(previous, made.unread));
        if (outcome.ok) outcome = folder.Finish(&generation, latest);
        if (!outcome.ok) return outcome;
        summary["backup"] = folder.Path().string();
        summary["generation"] = generation;
        summary["latest"] = folder.Latest();
        summary["removed"] = nlohmann::json::array();
        summary["held"] = nlohmann::json::array();
        // A backup that left files or parts out is made, but is not a whole one: no older
        // generation goes for it.
        if (!made.skipped.empty() || !made.unread.empty() || keep == 0) return outcome;
        LastCopies lastCopies(folder);
        auto mayRemove = [&](const std::string &name) { return force || lastCopies.MayRemove(name); };
        std::vector<std::string> removed, held;
        const Outcome pruned = folder.Prune(keep, mayRemove, &removed, &held);
        summary["removed"] = removed;
        summary["held"] = held;
        if (!pruned.ok)
            return PcFailure("the new backup is whole, but an older one was not removed: " + pruned.message);
        return outcome;
    });
}

namespace {

// The file a restore is sending, kept in the PC's state folder while it is sent (one
// per backup folder): a restore that was killed or lost the link left that file cut
// on the phone, and the next restore replaces it, where it would otherwise take the
// cut file for one of the phone's own and keep it.
class RestoreJournal {
public:
    explicit RestoreJournal(const fs::path &generation)
        : m_path(LocalPath(StateFolder()) / "restore" /
                 (Sha256Hex(generation.parent_path().lexically_normal().string()).substr(0, 32) + ".json")) {
        nlohmann::json entry;
        if (ReadJsonFile(m_path, &entry) && entry["path"].is_string() && entry["phone"].is_string())
            m_inFlight = {entry["path"], entry["phone"]};
    }
    // Whether `existing`, at the manifest path `path`, is the cut file an earlier
    // restore left: it was being sent, and its size is not the manifest's.
    bool LeftCut(const std::string &path, const FolderEntry &existing, uint64_t size) const {
        return !existing.folder && m_inFlight.path == path && existing.Size() != size;
    }
    Outcome Begin(const std::string &path, const std::string &shown) {
        std::error_code failure;
        fs::create_directories(m_path.parent_path(), failure);
        m_inFlight = {path, shown};
        return WriteJsonFile(m_path, {{"path", path}, {"phone", shown}});
    }
    // The phone file in flight when the restore stopped ("" for none).
    std::string InFlight() const { return m_inFlight.phone; }
    void Clear() {
        std::error_code ignored;
        fs::remove(m_path, ignored);
        m_inFlight = {};
    }

private:
    struct InFlightFile {
        std::string path, phone;  // in the manifest, on the phone
    };
    fs::path m_path;
    InFlightFile m_inFlight;
};

// Journals each file of an upload plan as it starts.
class JournalingSink : public TransferSink {
public:
    JournalingSink(TransferSink &inner, RestoreJournal &journal, const std::vector<PlannedUpload> &plan,
                   const std::vector<std::string> &paths)
        : m_inner(inner), m_journal(journal), m_plan(plan), m_paths(paths) {}
    void Begin(uint64_t totalBytes, uint64_t files) override { m_inner.Begin(totalBytes, files); }
    void StartFile(const std::string &shown) override {
        if (m_next < m_plan.size()) {
            std::vector<std::string> phone = m_plan[m_next].folder;
            phone.push_back(m_plan[m_next].name);
            const Outcome journaled = m_journal.Begin(m_paths[m_next], DeviceToTerminal(JoinDevicePath(phone)));
            if (!journaled.ok) m_inner.Warning("the restore's journal was not written (" + journaled.message + ")");
            ++m_next;
        }
        m_inner.StartFile(shown);
    }
    void Add(uint64_t bytes) override { m_inner.Add(bytes); }
    void Finish(bool ok) override { m_inner.Finish(ok); }
    void Warning(const std::string &text) override { m_inner.Warning(text); }

private:
    TransferSink &m_inner;
    RestoreJournal &m_journal;
    const std::vector<PlannedUpload> &m_plan;
    const std::vector<std::string> &m_paths;
    size_t m_next = 0;
};

// A file of the backup as a restore puts it back.
struct BackedUpFile {
    const ManifestFile *entry;
    std::string path;                 // in the manifest
    std::vector<std::string> folder;  // on the phone
    std::string name;
};

// What a restore could not put back: "PATH: why".
using NotRestored = nlohmann::json;

// The backup's phone files by phone folder, and its folders; names the code page
// cannot say are named, up front, and left out.
std::map<std::vector<std::string>, std::vector<BackedUpFile>> FilesByFolder(const Manifest &manifest,
                                                                            NotRestored *notRestored) {
    std::map<std::vector<std::string>, std::vector<BackedUpFile>> byFolder;
    const std::string prefix = std::string(kFilesFolder) + "/";
    auto phonePath = [&](const std::string &path, std::vector<std::string> *parts) {
        std::string device = TerminalToDeviceName(path.substr(prefix.size()));
        if (device.find(kUnsayable) == std::string::npos) {
            *parts = SplitDevicePath(device);
            return true;
        }
        notRestored->push_back(path + ": a name the code page " + DeviceCodePageName() + " cannot say (" +
                               CodePageWayOut() + ")");
        return false;
    };
    for (const std::string &path : manifest.folders) {
        std::vector<std::string> parts;
        if (path.rfind(prefix, 0) == 0 && phonePath(path, &parts)) byFolder[parts];
    }
    for (const ManifestFile &entry : manifest.files) {
        BackedUpFile file{&entry, entry.path, {}, {}};
        if (file.path.rfind(prefix, 0) != 0 || !InsideBackup(file.path) || !phonePath(file.path, &file.folder) ||
            file.folder.empty())
            continue;
        file.name = file.folder.back();
        file.folder.pop_back();
        byFolder[file.folder].push_back(file);
    }
    return byFolder;
}

// The stores the backup's files were on (storage cards) that the phone lacks now: a
// plain folder of its memory in a card's name is no card, and the card's files
// would land in the phone's memory.
std::set<std::string> StoresLacking(const Capability &capability, const Manifest &manifest) {
    return MissingStores(manifest, StoresNow(capability));
}

// The backup's phone files the phone lacks, back where they were; each that cannot
// go back (damaged on the PC, on a store the phone lacks, where the phone has a
// folder or a file is in the way of its folder) is named and the others still go.
Outcome RestoreFiles(DeviceLink &link, const fs::path &folder, const Manifest &manifest, TransferSink &sink,
                     nlohmann::json *report, NotRestored *notRestored) {
    Capability capability;
    Outcome outcome = link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    const std::set<std::string> lacking = StoresLacking(capability, manifest);
    for (const std::string &store : lacking)
        notRestored->push_back(store +
                               ": the phone has no such store now (insert the card, or restore without "
                               "--files)");
    RestoreJournal journal(folder);
    std::vector<PlannedUpload> plan;
    std::vector<std::string> planned;  // their manifest paths
    size_t kept = 0, replaced = 0;
    for (const auto &[phoneFolder, files] : FilesByFolder(manifest, notRestored)) {
        if (!phoneFolder.empty() && OnStore(ManifestPath(phoneFolder) + "/", lacking)) continue;
        std::vector<FolderEntry> entries;
        outcome = link.EnterFolder(phoneFolder, &entries);
        if (!outcome.ok && outcome.kind != ErrorKind::kInterrupted) outcome = link.MakeFolders(phoneFolder);
        if (!outcome.ok && outcome.kind == ErrorKind::kInterrupted) return outcome;
        if (!outcome.ok) {  // (a file of the phone stands where the folder goes)
            notRestored->push_back(ManifestPath(phoneFolder) + ": the folder could not be made (" +
                                   DeviceToTerminal(outcome.message) + ")");
            continue;
        }
        for (const BackedUpFile &file : files) {
            const FolderEntry *existing = FindEntry(entries, file.name);
            NamedEntry named;
            if (existing) {  // (the listing joins runs of spaces and ignores case: the phone is asked for the name)
                const Outcome identified = link.Identify(phoneFolder, entries, file.name, &named);
                if (identified.kind == ErrorKind::kInterrupted) return identified;
                if (!identified.ok) {
                    notRestored->push_back(file.path + ": the phone could not say whether it holds it (" +
                                           DeviceToTerminal(identified.message) + ")");
                    continue;
                }
                if (named.exists && !named.Listed()) {  // several list alike: the named one is there, and stays
                    ++kept;
                    continue;
                }
                existing = named.exists ? named.Listed() : nullptr;  // else a look-alike, not the file backed up
            }
            const uint64_t size = file.entry->size;
            if (existing && existing->folder) {
                notRestored->push_back(file.path + ": the phone has a folder of that name");
                continue;
            }
            const bool cut = existing && journal.LeftCut(file.path, *existing, size);
            if (existing && !cut) {
                ++kept;  // the phone's own file stays
            } else if (!HoldsWhatItSays(folder, *file.entry)) {
                notRestored->push_back(file.path + ": the backup's copy does not match its manifest");
            } else {
                replaced += cut;
                plan.push_back({OnDisk(folder, file.path).string(), phoneFolder, file.name});
                planned.push_back(file.path);
            }
        }
    }
    JournalingSink journaling(sink, journal, plan, planned);
    CopyResult result = UploadFiles(link, plan, journaling);
    if (!result.outcome.ok) {
        if (result.outcome.note.find("may remain") != std::string::npos && !journal.InFlight().empty())
            result.outcome.note = "a partial file may remain on the phone: " + TerminalToDevice(journal.InFlight()) +
                                  " (the next restore replaces it)";  // (device text, as notes carry)
        else
            journal.Clear();
        return result.outcome;
    }
    journal.Clear();
    (*report)["files"] = {{"restored", result.files}, {"kept", kept}, {"replacedCut", replaced}, {"timesKept", false}};
    return Outcome::Ok();
}

nlohmann::json ImportJson(const InteropReport &report) {
    return {{"added", report.added}, {"skipped", report.skipped}, {"refused", report.refused},
            {"notes", report.notes}, {"items", report.items},     {"remarks", report.remarks}};
}

// The contacts and appointments of the backup that the phone lacks (same name and
// first number, same title and start: each on the phone stands for one of the
// backup's), added; a file damaged on the PC is named and its kind left out.
Outcome RestoreItems(PhoneSession &session, const fs::path &folder, const Manifest &manifest, const RestoreParts &parts,
                     ItemSink &sink, nlohmann::json *report, NotRestored *notRestored) {
    struct {
        bool chosen;
        const char *file, *key;
        Outcome (*add)(PhoneSession &, const std::string &, bool, ItemSink &, InteropReport *);
    } items[] = {{parts.contacts, "contacts.vcf", "contacts", ImportContacts},
                 {parts.calendar, "calendar.ics", "calendar", ImportCalendar}};
    for (const auto &item : items) {
        if (!item.chosen) continue;
        const ManifestFile *entry = manifest.Find(item.file);
        if (!entry || !HoldsWhatItSays(folder, *entry)) {
            notRestored->push_back(std::string(item.file) + ": the backup's copy does not match its manifest");
            continue;
        }
        InteropReport added;
        Outcome outcome = item.add(session, (folder / item.file).string(), true, sink, &added);
        if (!outcome.ok) return outcome;
        (*report)[item.key] = ImportJson(added);
    }
    return Outcome::Ok();
}

}  // namespace

std::vector<std::string> CheckBackup(const fs::path &folder, const Manifest &manifest) {
    std::vector<std::string> problems;
    std::set<std::string> listed = {kManifestName};
    for (const ManifestFile &entry : manifest.files) {
        std::string path = entry.path, hex;
        if (!InsideBackup(path)) {
            problems.push_back("manifest: an entry without a path inside the backup: " + path);
            continue;
        }
        listed.insert(path);
        std::error_code failure;
        uint64_t size = fs::file_size(OnDisk(folder, path), failure);
        if (failure)
            problems.push_back(path + ": missing");
        else if (size != entry.size)
            problems.push_back(path + ": size changed");
        else if (Outcome hashed = FileSha256(OnDisk(folder, path).string(), &hex); !hashed.ok)
            problems.push_back(hashed.message);
        else if (hex != entry.sha256)
            problems.push_back(path + ": content changed");
    }
    std::error_code failure;
    for (fs::recursive_directory_iterator walk(folder, failure), end; !failure && walk != end;
         walk.increment(failure)) {
        std::error_code unread;
        const std::string path = walk->path().lexically_relative(folder).generic_string();
        if (walk->is_regular_file(unread) && !listed.count(path)) problems.push_back(path + ": not in the manifest");
    }
    if (failure) problems.push_back(folder.string() + ": cannot be listed whole: " + failure.message());
    return problems;
}

Outcome ReadBackupGeneration(BackupFolder &backup, const std::string &name, fs::path *folder, Manifest *manifest) {
    return CaughtAsInternal([&] {
        if (Outcome chosen = backup.Choose(name, folder); !chosen.ok) return chosen;
        return ReadManifest(*folder / kManifestName, manifest);
    });
}

Outcome VerifyBackup(BackupFolder &backup, const std::string &generation, nlohmann::json *report) {
    return CaughtAsInternal([&] {
        fs::path folder;
        Manifest manifest;
        if (Outcome outcome = ReadBackupGeneration(backup, generation, &folder, &manifest); !outcome.ok) return outcome;
        std::vector<std::string> problems = CheckBackup(folder, manifest);
        *report = {{"backup", backup.Path().string()},
                   {"generation", folder.filename().string()},
                   {"files", manifest.files.size()},
                   {"verified", problems.empty()},
                   {"problems", problems}};
        return Outcome::Ok();
    });
}

Outcome ListBackups(BackupFolder &backup, nlohmann::json *document) {
    return CaughtAsInternal([&] {
        const std::vector<std::string> names = backup.Generations();
        fs::path folder;
        if (names.empty()) return backup.Choose("", &folder);
        nlohmann::json generations = nlohmann::json::array();
        for (const std::string &name : names) {
            Manifest manifest;
            if (!backup.Choose(name, &folder).ok || !ReadManifest(folder / kManifestName, &manifest).ok) manifest = {};
            generations.push_back({{"name", name}, {"time", manifest.time}, {"counts", manifest.counts}});
        }
        *document = {{"backup", backup.Path().string()}, {"latest", backup.Latest()}, {"generations", generations}};
        return Outcome::Ok();
    });
}

Outcome RestoreBackup(PhoneSession &session, const fs::path &folder, const Manifest &manifest,
                      const RestoreParts &parts, TransferSink &files, ItemSink &items, nlohmann::json *report) {
    return CaughtAsInternal([&] {
        *report = {{"generation", folder.filename().string()}};
        NotRestored notRestored = nlohmann::json::array();
        Outcome outcome = Outcome::Ok();
        if (parts.files) outcome = RestoreFiles(session.link, folder, manifest, files, report, &notRestored);
        if (outcome.ok) outcome = RestoreItems(session, folder, manifest, parts, items, report, &notRestored);
        (*report)["notRestored"] = notRestored;
        return outcome;
    });
}

Outcome LockBackupFolder(const BackupFolder &folder, ProcessLock *lock) {
    Outcome taken = lock->Take("backup " + folder.Path().string());
    if (taken.kind == ErrorKind::kBusy)
        taken.message =
            "another cebridge is using the backup folder " + folder.Path().string() + "; try again when it is done";
    return taken;
}

}  // namespace host
