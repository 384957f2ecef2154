#include "file_tree.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "appointment_time.h"
#include "encoding.h"
#include "local_files.h"
#include "phone_files.h"
#include "safeguards.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// The next code point of UTF-8 text, ASCII letters folded; advances `at`.
uint32_t NextFolded(const std::string &text, size_t *at) {
    unsigned char first = static_cast<unsigned char>(text[*at]);
    size_t length = first < 0x80 ? 1 : first < 0xE0 ? 2 : first < 0xF0 ? 3 : 4;
    uint32_t code = first < 0x80 ? first : first & (0x3F >> (length - 1));
    for (size_t i = 1; i < length && *at + i < text.size(); ++i)
        code = code << 6 | (static_cast<unsigned char>(text[*at + i]) & 0x3F);
    *at = std::min(text.size(), *at + length);
    return code >= 'A' && code <= 'Z' ? code - 'A' + 'a' : code;
}

std::vector<uint32_t> CodePoints(const std::string &text) {
    std::vector<uint32_t> codes;
    for (size_t at = 0; at < text.size();) codes.push_back(NextFolded(text, &at));
    return codes;
}

// The PC file's modification time, over the phone's whole range (1601 to 30828):
// the standard file clock holds only some 292 years either side of its epoch, so a
// time outside them goes through the system's own call where there is one.
Outcome SetModified(const std::string &path, int64_t instant) {
#if !defined(_WIN32)
    const struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(instant), 0}};
    if (::utimensat(AT_FDCWD, LocalPath(path).c_str(), times, 0) == 0) return Outcome::Ok();
    return SystemFailure(path);
#else
    using namespace std::chrono;
    constexpr int64_t kFileClockSeconds = 292LL * 365 * 86400;  // (each side of its epoch, 1601 on Windows)
    const int64_t since =
        instant - duration_cast<seconds>(file_clock::to_sys(file_clock::time_point{}).time_since_epoch()).count();
    if (since < -kFileClockSeconds || since > kFileClockSeconds)
        return Outcome::Ok();  // (the PC keeps the copy's own time)
    std::error_code failure;
    fs::last_write_time(LocalPath(path), file_clock::from_sys(sys_seconds(seconds(instant))), failure);
    return failure ? PcFailure(path + ": " + failure.message()) : Outcome::Ok();
#endif
}

CopyResult Failure(CopyResult result, Outcome failed) {
    result.outcome = std::move(failed);
    return result;
}

// After the listed name was refused as a bad parameter, the phone's own name is
// looked up and tried (the listing may have said the name another way).
Outcome RetryUnderPhoneName(DeviceLink &link, const std::string &listed, const std::string &localPath,
                            const ProgressFn &progress, Outcome first) {
    if (first.ok || first.status != ST_BAD_PARAMETER || link.Interrupted()) return first;
    std::string phoneName;
    Outcome named = link.PhoneName(listed, &phoneName);
    if (!named.ok) return named.nameLost ? named : first;
    return phoneName == listed ? first : link.Download(phoneName, localPath, progress);
}

}  // namespace

Outcome NameDownloadFailure(const DeviceLink &link, const DownloadTarget &target, uint64_t expected, Outcome failed) {
    if (failed.ok || link.Interrupted()) return failed;
    Outcome onPc = target.PcSideOfFailure(expected);
    return onPc.ok ? failed : onPc;
}

Outcome DownloadByPhoneName(DeviceLink &link, const std::string &listed, const std::string &localPath,
                            const ProgressFn &progress) {
    return RetryUnderPhoneName(link, listed, localPath, progress, link.Download(listed, localPath, progress));
}

namespace {

// A download of the current phone folder whose request is on its way to the plug-in.
struct SentDownload {
    const PlannedDownload *item = nullptr;
    std::unique_ptr<DownloadTarget> target = std::make_unique<DownloadTarget>();
    uint32_t tid = 0;
};

// Makes the item's temporary (its PC folder exists) and sends its request; a failure
// when the temporary cannot be made.
Outcome SendItem(DeviceLink &link, const PlannedDownload &item, SharedPrivateFolder &privateFolder,
                 SentDownload *sent) {
    sent->item = &item;
    Outcome prepared = sent->target->Prepare(item.local, DeviceToTerminal(item.source.entry.name), &privateFolder);
    if (prepared.ok) sent->tid = link.SendDownload(item.source.entry.name, sent->target->TemporaryForPlugin());
    return prepared;
}

// Takes the answer of a sent download and puts the file in place.
CopyResult FinishItem(DeviceLink &link, SentDownload &sent, bool keepTimes, TransferSink &sink, CopyResult result) {
    const PlannedDownload &item = *sent.item;
    DownloadTarget &target = *sent.target;
    sink.StartFile(DeviceToTerminal(item.source.entry.name));
    const ProgressFn progress = [&](uint64_t bytes) { sink.Add(bytes); };
    result.outcome = RetryUnderPhoneName(link, item.source.entry.name, target.TemporaryForPlugin(), progress,
                                         link.FinishDownload(sent.tid, progress));
    if (result.outcome.nameLost) {  // left out with the reason; the others still come
        result.skipped.push_back(ShownPath(item.source.Path()) + ": " + DeviceToTerminal(result.outcome.message));
        result.outcome = Outcome::Ok();
        return result;
    }
    result.outcome = NameDownloadFailure(link, target, item.source.Size(), result.outcome);
    if (!result.outcome.ok && IsPcFailure(result.outcome.kind)) return result;
    if (!result.outcome.ok) {
        result.outcome.message += ": " + JoinDevicePath(item.source.Path());  // (device text, as outcomes carry)
        return result;
    }
    if (Outcome committed = target.Commit(); !committed.ok) return Failure(result, committed);
    if (keepTimes) {
        if (Outcome kept = KeepPhoneTime(item.local, item.source.entry, ShownPath(item.source.Path()), sink); !kept.ok)
            return Failure(result, kept);
    }
    ++result.files;
    result.bytes += target.Bytes();
    return result;
}

// A PC copy of a phone file about to be replaced (in the kept folder), removed
// again when the replace is whole or the original is back on the phone.
class KeptOriginal {
public:
    KeptOriginal() = default;
    ~KeptOriginal() { Forget(); }
    KeptOriginal(const KeptOriginal &) = delete;
    KeptOriginal &operator=(const KeptOriginal &) = delete;

    // Fetches the phone file `phonePath` of the current phone folder (`size` bytes as
    // listed); a failure says nothing was changed, and names the PC's path when the PC
    // failed. Copies an earlier run kept of the same file and never removed (it was
    // killed) are found too.
    Outcome Fetch(DeviceLink &link, const std::vector<std::string> &phonePath, uint64_t size) {
        const std::string &name = phonePath.back();
        const std::string stamp = std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
        const std::string key = KeyOf(phonePath);
        m_earlier = KeptBefore(key);
        std::string path =
            (LocalPath(KeptFolder()) / LocalPath(stamp + " " + key + " " + DeviceToTerminal(name))).string();
        DownloadTarget target;
        Outcome outcome = target.Prepare(path, "");
        if (outcome.ok)
            outcome = NameDownloadFailure(link, target, size, link.Download(name, target.TemporaryForPlugin(), {}));
        if (outcome.ok) outcome = target.Commit();
        if (!outcome.ok) {
            const std::string what = IsPcFailure(outcome.kind)                 ? "the PC could not keep it: "
                                     : outcome.kind == ErrorKind::kInterrupted ? ""
                                                                               : "the phone could not read it: ";
            outcome.message = "could not keep a copy of the phone's " + name + " before replacing it (" + what +
                              outcome.message + "); nothing was changed";
            outcome.note = EarlierNote();
            return outcome;
        }
        m_name = name;
        m_path = path;
        return outcome;
    }
    bool Held() const { return !m_path.empty(); }
    // The original is still on the phone: the PC copy is not needed.
    void Drop() { Forget(); }
    // Puts the original back over what a failed replace left; what happened, as a note.
    std::string PutBack(DeviceLink &link) {
        const Outcome back = link.PutBack(PluginPcPath(m_path), m_name);
        if (back.ok) {
            Forget();
            return "the original " + m_name + " is back on the phone" + EarlierNote();
        }
        return Leave("the original " + m_name + " could not be put back (" + back.message + ")");
    }
    // Leaves the original on the PC, saying why and where.
    std::string Leave(const std::string &why) {
        std::string where = m_path;
        m_path.clear();  // (stays on the PC)
        return why + "; the original " + m_name + " is kept on the PC at " + TerminalToDevice(where) + EarlierNote();
    }
    // "; an earlier put ...": the copies a killed run kept, for a failure's note.
    std::string EarlierNote() const {
        std::string note;
        for (const std::string &earlier : m_earlier)
            note += "; an earlier put of it that did not finish kept its original on the PC at " +
                    TerminalToDevice(earlier);
        return note;
    }
    // Once the replace is whole, the copies a killed run kept of the file are spent:
    // each is removed, and said.
    void RemoveEarlier(TransferSink &sink) {
        for (const std::string &earlier : m_earlier) {
            std::error_code failure;
            fs::remove(LocalPath(earlier), failure);
            sink.Warning(failure ? earlier + " (the original an earlier put that did not finish kept of " +
                                       DeviceToTerminal(m_name) + ") could not be removed: " + failure.message()
                                 : "removed " + earlier + ", the original an earlier put that did not finish kept of " +
                                       DeviceToTerminal(m_name));
        }
        m_earlier.clear();
    }

private:
    void Forget() {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove(LocalPath(m_path), ignored);
        m_path.clear();
    }
    // A phone path as kept copies' names carry it: 16 hex digits of its letters
    // folded, as the phone matches names.
    static std::string KeyOf(const std::vector<std::string> &phonePath) {
        uint64_t hash = 1469598103934665603ULL;
        for (char c : JoinDevicePath(phonePath)) {
            hash ^= static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            hash *= 1099511628211ULL;
        }
        char text[17];
        std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
        return text;
    }
    static std::vector<std::string> KeptBefore(const std::string &key) {
        std::vector<std::string> found;
        for (const fs::path &entry : FolderItems(LocalPath(KeptFolder()))) {
            const std::string name = entry.filename().string();
            const size_t space = name.find(' ');
            if (space != std::string::npos && name.compare(space + 1, key.size() + 1, key + " ") == 0)
                found.push_back(entry.string());
        }
        return found;
    }

    std::string m_name, m_path;
    std::vector<std::string> m_earlier;
};

}  // namespace

std::vector<std::string> PhoneFile::Path() const {
    std::vector<std::string> path = folder;
    path.push_back(entry.name);
    return path;
}

// Entries of `folder` that list alike (runs of spaces come as one) get the phone's
// names; those whose names cannot be found are left out, said in `lost`.
Outcome NameEntriesThatListAlike(DeviceLink &link, const std::vector<std::string> &folder,
                                 std::vector<FolderEntry> *entries, std::vector<std::string> *lost) {
    std::map<std::pair<bool, std::string>, std::vector<size_t>> alike;
    for (size_t i = 0; i < entries->size(); ++i) alike[{(*entries)[i].folder, (*entries)[i].name}].push_back(i);
    std::vector<bool> leftOut(entries->size(), false);
    for (const auto &[key, members] : alike) {
        // A lone name with a space may stand for a run of them: the phone says which.
        const bool mayHideRun =
            key.second.find(' ') != std::string::npos && key.second.find_first_of("?*") == std::string::npos;
        if (members.size() < 2 && !mayHideRun) continue;
        std::vector<std::string> names;
        Outcome outcome = link.PhoneNamesListedAs(folder, key.second, members.size(), key.first, &names);
        if (!outcome.ok) return outcome;
        for (size_t m = 0; m < members.size(); ++m) {
            if (m < names.size()) {
                (*entries)[members[m]].name = names[m];
                continue;
            }
            leftOut[members[m]] = true;
            std::vector<std::string> path = folder;
            path.push_back(key.second);
            const std::string why = members.size() > 1
                                        ? std::to_string(members.size()) + " names list alike; the code page " +
                                              DeviceCodePageName() + " cannot say one of them; "
                                        : "the phone's own name for it cannot be found; the code page " +
                                              DeviceCodePageName() + " may not say it; ";
            if (lost) lost->push_back(ShownPath(path) + ": " + why + CodePageWayOut());
        }
    }
    std::vector<FolderEntry> kept;
    for (size_t i = 0; i < entries->size(); ++i)
        if (!leftOut[i]) kept.push_back(std::move((*entries)[i]));
    *entries = std::move(kept);
    return Outcome::Ok();
}

Outcome WalkPhoneTree(DeviceLink &link, const std::vector<std::string> &root, std::vector<PhoneFile> *files,
                      std::vector<std::vector<std::string>> *folders,
                      const std::function<bool(const std::vector<std::string> &)> &skip,
                      std::vector<std::string> *lost) {
    std::vector<std::vector<std::string>> pending = {root};
    size_t rootDepth = root.size();
    while (!pending.empty()) {
        std::vector<std::string> folder = pending.back();
        pending.pop_back();
        std::vector<FolderEntry> entries;
        Outcome outcome = link.EnterFolder(folder, &entries);
        if (!outcome.ok && outcome.nameLost && lost && folder != root) {
            lost->push_back(ShownPath(folder) + ": " + DeviceToTerminal(outcome.message));
            continue;
        }
        if (!outcome.ok) return outcome;
        if (!(outcome = NameEntriesThatListAlike(link, folder, &entries, lost)).ok) return outcome;
        if (folders) folders->push_back(folder);
        // Later names first on the stack, so folders are walked in listing order.
        for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
            std::vector<std::string> path = folder;
            path.push_back(entry->name);
            if (!entry->folder) continue;
            if (!skip || !skip(path)) pending.push_back(path);
        }
        for (const FolderEntry &entry : entries) {
            if (entry.folder) continue;
            PhoneFile file{folder, {folder.begin() + long(rootDepth), folder.end()}, entry};
            file.relative.push_back(entry.name);
            files->push_back(file);
        }
    }
    return Outcome::Ok();
}

bool HasWildcard(const std::string &name) { return name.find_first_of("*?") != std::string::npos; }

bool MatchesWildcard(const std::string &pattern, const std::string &name) {
    std::vector<uint32_t> want = CodePoints(pattern), have = CodePoints(name);
    // Greedy matching with one point to come back to: the last '*' seen.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < have.size()) {
        if (p < want.size() && (want[p] == '?' || want[p] == have[n])) {
            ++p, ++n;
        } else if (p < want.size() && want[p] == '*') {
            starP = p++, starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1, n = ++starN;
        } else {
            return false;
        }
    }
    while (p < want.size() && want[p] == '*') ++p;
    return p == want.size();
}

bool ListingInstant(const std::string &stamp, int64_t *instant, bool *repeated) {
    return ParseStamp(stamp, true, instant, repeated);
}

Outcome KeepPhoneTime(const std::string &path, const FolderEntry &entry, const std::string &shown, TransferSink &sink) {
    int64_t instant = 0;
    bool repeated = false;
    if (!ListingInstant(entry.modified, &instant, &repeated)) return Outcome::Ok();
    if (repeated)
        sink.Warning(shown + ": its phone time " + ListingTimeToLocal(entry.modified) +
                     " falls in the hour the clocks repeat, and the phone's listing does not say which; taken as "
                     "the first (" +
                     LocalText(instant) + ")");
    return SetModified(path, instant);
}

std::string LocalPathFor(const std::string &folder, const std::vector<std::string> &relative) {
    fs::path path = LocalPath(folder);
    for (const std::string &part : relative) path /= LocalPath(DeviceToTerminal(part));
    return path.string();
}

std::string ShownPath(const std::vector<std::string> &parts) { return DeviceToTerminal(JoinDevicePath(parts)); }

// Files up to this size are sent ahead: the phone copies one while the PC puts the one
// before it in place. (A file sent ahead still runs after Ctrl-C when the plug-in has
// already taken it; its copy is dropped, and a small one keeps that wait short.)
constexpr uint64_t kSentAheadMaxBytes = 256 * 1024;

// The phone folder entered last and the PC folder made last: each is done once per folder.
struct DownloadFolders {
    const std::vector<std::string> *phone = nullptr;
    fs::path pc;
};

// Enters the item's phone folder and makes its PC folder where they changed; false
// with the failure in `result`.
bool ReachFolders(DeviceLink &link, const PlannedDownload &item, DownloadFolders &folders, CopyResult &result) {
    if (!folders.phone || *folders.phone != item.source.folder) {
        result.outcome = link.EnterFolder(item.source.folder);
        if (!result.outcome.ok) return false;
        folders.phone = &item.source.folder;
    }
    if (fs::path folder = LocalPath(item.local).parent_path(); folder != folders.pc) {
        std::error_code failure;
        fs::create_directories(folder, failure);
        if (failure) {
            result = Failure(std::move(result), PcFailure(folder.string() + ": " + failure.message()));
            return false;
        }
        folders.pc = folder;
    }
    return true;
}

CopyResult DownloadFiles(DeviceLink &link, std::vector<PlannedDownload> plan, bool keepTimes, TransferSink &sink) {
    CopyResult result;
    std::erase_if(plan, [&](const PlannedDownload &item) {
        bool tooLong = item.source.entry.name.size() > kMaxDownloadName;
        if (tooLong)
            result.skipped.push_back(ShownPath(item.source.Path()) +
                                     ": the protocol carries names of at most 31 bytes");
        return tooLong;
    });
    // One folder change per folder.
    std::stable_sort(plan.begin(), plan.end(), [](const PlannedDownload &a, const PlannedDownload &b) {
        return a.source.folder < b.source.folder;
    });
    uint64_t total = 0;
    for (const PlannedDownload &item : plan) total += item.source.Size();
    sink.Begin(total, plan.size());
    DownloadFolders folders;
    SharedPrivateFolder privateFolder;
    std::optional<SentDownload> ahead;  // the next item's download, already sent
    // Whether the item after `index` may be sent before `index` is finished.
    auto mayGoAhead = [&](size_t index) {
        if (index + 1 >= plan.size() || link.Interrupted()) return false;
        const PlannedDownload &next = plan[index + 1];
        return next.source.folder == plan[index].source.folder && next.source.Size() <= kSentAheadMaxBytes &&
               LocalPath(next.local).parent_path() == folders.pc;
    };
    for (size_t index = 0; index < plan.size(); ++index) {
        const PlannedDownload &item = plan[index];
        std::optional<SentDownload> sent = std::move(ahead);
        ahead.reset();
        if (!sent) {
            if (!ReachFolders(link, item, folders, result)) break;
            sent.emplace();
            if (Outcome prepared = SendItem(link, item, privateFolder, &*sent); !prepared.ok) {
                result = Failure(std::move(result), prepared);
                break;
            }
        }
        if (mayGoAhead(index)) {
            ahead.emplace();  // (a temporary that cannot be made is said in its turn)
            if (!SendItem(link, plan[index + 1], privateFolder, &*ahead).ok) ahead.reset();
        }
        result = FinishItem(link, *sent, keepTimes, sink, std::move(result));
        if (!result.outcome.ok) break;
    }
    if (ahead) link.SettleDownload(ahead->tid);  // (its temporary goes with it)
    sink.Finish(result.outcome.ok);
    return result;
}

namespace {

// What a replace that failed left at the file's name, looked at before the kept
// original goes back: another writer's whole file (a second user on the same phone)
// would be lost under it.
enum class LeftOnPhone { kOurCut, kAnother, kUnread };

// The entry of `now` the replace changed: the one listed under the name, or of
// entries that list alike, the one no longer as `before` listed it (null: not one).
const FolderEntry *ChangedEntry(const NamedEntry &before, const NamedEntry &now) {
    if (now.Listed()) return now.Listed();
    const FolderEntry *changed = nullptr;
    for (const FolderEntry &entry : now.alike) {
        const bool asBefore = std::any_of(before.alike.begin(), before.alike.end(), [&](const FolderEntry &old) {
            return old.Size() == entry.Size() && old.modified == entry.modified;
        });
        if (asBefore) continue;
        if (changed) return nullptr;
        changed = &entry;
    }
    return changed;
}

LeftOnPhone WhatTheReplaceLeft(DeviceLink &link, const NamedEntry &existing, const UploadSource &source,
                               std::string *found) {
    std::vector<FolderEntry> entries;
    NamedEntry now;
    Outcome outcome = link.EnterFolder(existing.folder, &entries);
    if (outcome.ok) outcome = link.Identify(existing.folder, entries, existing.name, &now);
    if (outcome.ok && !now.exists) {
        *found = "nothing (it was removed)";
        return LeftOnPhone::kAnother;
    }
    const FolderEntry *listed = outcome.ok ? ChangedEntry(existing, now) : nullptr;
    if (!listed || listed->folder) {
        *found = outcome.ok ? "entries that list alike" : outcome.message;
        return LeftOnPhone::kUnread;
    }
    *found = "a file of " + std::to_string(listed->Size()) + " bytes modified " + listed->modified;
    if (listed->Size() > source.Size()) return LeftOnPhone::kAnother;
    if (listed->Size() == 0) return LeftOnPhone::kOurCut;  // (nothing of anyone's to lose)
    // The first bytes of what was sent, or another's: the phone's copy is compared.
    DownloadTarget copy;
    if (Outcome prepared = copy.Prepare((LocalPath(KeptFolder()) / LocalPath("compared")).string(), ""); !prepared.ok) {
        *found = prepared.message;
        return LeftOnPhone::kUnread;
    }
    if (!(outcome = link.Download(existing.name, copy.TemporaryForPlugin(), {})).ok) {
        *found = outcome.message;
        return LeftOnPhone::kUnread;
    }
    return source.BeginsWith(copy.TemporaryPath()) ? LeftOnPhone::kOurCut : LeftOnPhone::kAnother;
}

}  // namespace

Outcome UploadWhole(DeviceLink &link, const UploadSource &source, const std::string &name, const NamedEntry *existing,
                    TransferSink &sink) {
    KeptOriginal kept;
    if (existing) {
        if (Outcome keepable = CheckKeepable(*existing); !keepable.ok) return keepable;
        const FolderEntry *listed = existing->Listed();
        Outcome fetched = kept.Fetch(link, existing->Path(), listed ? listed->Size() : 0);
        if (!fetched.ok) return fetched;
    }
    uint64_t sent = 0;
    Outcome outcome = link.Upload(source.PathForPlugin(), name, [&](uint64_t bytes) {
        sent += bytes;
        sink.Add(bytes);
    });
    // The plug-in reports what it read, not always up to the end.
    if (outcome.ok && sent < source.Size()) sink.Add(source.Size() - sent);
    if (outcome.ok) kept.RemoveEarlier(sink);
    if (outcome.ok) return outcome;
    outcome.message += " of " + name;
    if (Outcome changed = link.Interrupted() ? Outcome::Ok() : source.ChangedOnPc(); !changed.ok)
        outcome = changed;  // (what the phone holds is undone below)
    if (existing && outcome.status != 0 && StillAsItWas(link, *existing)) {
        kept.Drop();
        outcome = SayWhenRefused(link, *existing, outcome);
        outcome.note = kept.EarlierNote().empty() ? "" : kept.EarlierNote().substr(2);
        return outcome;
    }
    if (kept.Held()) {
        std::string found;
        switch (link.Interrupted() ? LeftOnPhone::kOurCut : WhatTheReplaceLeft(link, *existing, source, &found)) {
        case LeftOnPhone::kOurCut: outcome.note = kept.PutBack(link); break;
        case LeftOnPhone::kAnother:
            outcome.note = kept.Leave("the phone's " + name + " now holds " + found +
                                      ", not what this put sent: another writer's, left as it is");
            break;
        case LeftOnPhone::kUnread:
            outcome.note = kept.Leave("what the phone's " + name + " holds now could not be read (" + found +
                                      "), so nothing was put over it");
            break;
        }
    } else {
        bool removed = link.RemovePartialUpload(name).ok;
        outcome.note = removed ? "removed the partial file from the phone" : "a partial file may remain on the phone";
    }
    return outcome;
}

Outcome CheckKeepable(const NamedEntry &existing) {
    if (existing.name.size() <= kMaxDownloadName) return Outcome::Ok();
    return Outcome::Failed(
        0,
        ShownPath(existing.Path()) + " is not replaced: its name has " + std::to_string(existing.name.size()) +
            " bytes, and the phone's link fetches names of at most " + std::to_string(kMaxDownloadName) +
            ", so no copy of it can be kept first to put back if the new file fails; remove it "
            "first (rm) to replace it; nothing was changed",
        ErrorKind::kBadInput);
}

Outcome RefuseCaseClashes(const std::vector<std::vector<std::string>> &paths, const std::string &what) {
    std::map<std::string, const std::vector<std::string> *> seen;
    for (const std::vector<std::string> &path : paths) {
        std::string key = JoinDevicePath(path);
        for (char &c : key) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        auto [at, fresh] = seen.emplace(key, &path);
        if (fresh || *at->second == path) continue;
        return Outcome::Failed(0,
                               ShownPath(*at->second) + " and " + ShownPath(path) +
                                   " differ only in letter case, and the phone keeps names in any case as one: " +
                                   what + " would leave one of them; rename one (nothing was sent)",
                               ErrorKind::kBadInput);
    }
    return Outcome::Ok();
}

namespace {

std::vector<std::vector<std::string>> TargetsOf(const std::vector<PlannedUpload> &plan) {
    std::vector<std::vector<std::string>> targets;
    for (const PlannedUpload &item : plan) {
        targets.push_back(item.folder);
        targets.back().push_back(item.name);
    }
    return targets;
}

}  // namespace

Outcome CheckRoomForAll(DeviceLink &link, const std::vector<PlannedUpload> &plan, const std::vector<uint64_t> &sizes) {
    Capability capability;
    Outcome outcome = link.ReadCapability(&capability);
    if (!outcome.ok) return outcome;
    std::map<const Memory *, uint64_t> needed;
    for (size_t i = 0; i < plan.size(); ++i) needed[StoreFor(capability, plan[i].folder)] += sizes[i];
    for (const auto &[store, bytes] : needed) {
        if (!store || bytes <= store->freeBytes) continue;
        return Outcome::Failed(0,
                               "not enough space: the files need " + std::to_string(bytes) + " bytes, " +
                                   StoreName(*store) + " has " + std::to_string(store->freeBytes) +
                                   " bytes free (nothing was sent)",
                               ErrorKind::kNoRoomOnPhone);
    }
    return outcome;
}

CopyResult UploadFiles(DeviceLink &link, std::vector<PlannedUpload> plan, TransferSink &sink) {
    CopyResult result;
    if (!(result.outcome = RefuseCaseClashes(TargetsOf(plan), "the copy")).ok) return result;
    std::vector<std::unique_ptr<UploadSource>> sources;
    std::vector<uint64_t> sizes;
    uint64_t total = 0;
    for (const PlannedUpload &item : plan) {
        sources.push_back(std::make_unique<UploadSource>());
        if (Outcome prepared = sources.back()->Prepare(item.local); !prepared.ok) return Failure(result, prepared);
        sizes.push_back(sources.back()->Size());
        total += sizes.back();
    }
    if (!(result.outcome = CheckRoomForAll(link, plan, sizes)).ok) return result;
    sink.Begin(total, plan.size());
    const std::vector<std::string> *current = nullptr;
    std::vector<FolderEntry> entries;  // the current folder's
    for (size_t i = 0; i < plan.size() && result.outcome.ok; ++i) {
        const PlannedUpload &item = plan[i];
        if (!current || *current != item.folder) {
            entries.clear();
            result.outcome = link.EnterFolder(item.folder, &entries);
            if (!result.outcome.ok) break;
            current = &item.folder;
        }
        NamedEntry named;
        if (!(result.outcome = link.Identify(item.folder, entries, item.name, &named)).ok) break;
        if (named.exists && !named.AllFiles()) {
            result.outcome =
                named.AllFolders()
                    ? Outcome::Failed(0, "a folder is in the way: " + ShownPath(named.Path()), ErrorKind::kNotAFolder)
                    : named.KindUnknown();
            break;
        }
        sink.StartFile(sources[i]->Shown());
        result.outcome = UploadWhole(link, *sources[i], item.name, named.exists ? &named : nullptr, sink);
        if (!result.outcome.ok) break;
        FolderEntry &sent = entries.emplace_back();  // (as the listing would give it)
        sent.name = ListedForm(item.name);
        ++result.files;
        result.bytes += sources[i]->Size();
        result.done.push_back(ShownPath(named.Path()));
    }
    sink.Finish(result.outcome.ok);
    return result;
}

}  // namespace host
