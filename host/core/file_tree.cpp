#include "file_tree.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>

#include "appointment_time.h"
#include "encoding.h"
#include "local_files.h"
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

bool SetModified(const std::string &path, int64_t instant, std::string *error) {
    using namespace std::chrono;
    std::error_code failure;
    auto when = file_clock::from_sys(sys_seconds(seconds(instant)));
    fs::last_write_time(LocalPath(path), when, failure);
    if (failure) *error = path + ": " + failure.message();
    return !failure;
}

CopyResult LocalFailure(CopyResult result, const std::string &message, ErrorKind kind = ErrorKind::kPcFile) {
    result.outcome = Outcome::Failed(0, message, kind);
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

// Makes the item's temporary (its PC folder exists) and sends its request; null with
// *error when the temporary cannot be made.
std::optional<SentDownload> SendItem(DeviceLink &link, const PlannedDownload &item, SharedPrivateFolder &privateFolder,
                                     std::string *error) {
    SentDownload sent;
    sent.item = &item;
    if (!sent.target->Prepare(item.local, DeviceToTerminal(item.source.entry.name), error, &privateFolder))
        return std::nullopt;
    sent.tid = link.SendDownload(item.source.entry.name, sent.target->TemporaryForPlugin());
    return sent;
}

// Takes the answer of a sent download and puts the file in place.
CopyResult FinishItem(DeviceLink &link, SentDownload &sent, bool keepTimes, TransferSink &sink, CopyResult result) {
    const PlannedDownload &item = *sent.item;
    DownloadTarget &target = *sent.target;
    std::string error;
    sink.StartFile(DeviceToTerminal(item.source.entry.name));
    const ProgressFn progress = [&](uint64_t bytes) { sink.Add(bytes); };
    result.outcome = RetryUnderPhoneName(link, item.source.entry.name, target.TemporaryForPlugin(), progress,
                                         link.FinishDownload(sent.tid, progress));
    if (result.outcome.nameLost) {  // left out with the reason; the others still come
        result.skipped.push_back(ShownPath(item.source.Path()) + ": " + DeviceToTerminal(result.outcome.message));
        result.outcome = Outcome::Ok();
        return result;
    }
    if (!result.outcome.ok && !link.Interrupted() && target.ShortOfSpace(item.source.Size(), &error))
        return LocalFailure(result, error,
                            ErrorKind::kNoRoomOnPc);  // (the plug-in answers a full PC disk as a failure on the phone)
    if (!result.outcome.ok) {
        result.outcome.message += ": " + JoinDevicePath(item.source.Path());  // (device text, as outcomes carry)
        return result;
    }
    if (!target.Commit(&error)) return LocalFailure(result, error);
    if (keepTimes && !KeepPhoneTime(item.local, item.source.entry, &error)) return LocalFailure(result, error);
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

    // Fetches `name` of the current phone folder; a failure says nothing was changed.
    Outcome Fetch(DeviceLink &link, const std::string &name, TransferSink &sink) {
        if (name.size() > kMaxDownloadName) {
            sink.Warning(DeviceToTerminal(name) + " is replaced without a copy kept first (a name of " +
                         std::to_string(name.size()) + " bytes cannot be fetched; at most 31)");
            return Outcome::Ok();
        }
        auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
        std::string path = (LocalPath(KeptFolder()) / LocalPath(std::to_string(stamp) + " " + DeviceToTerminal(name)))
                               .string(),
                    error;
        DownloadTarget target;
        Outcome outcome = Outcome::Ok();
        if (!target.Prepare(path, "", &error)) outcome = Outcome::Failed(0, error);
        if (outcome.ok) outcome = link.Download(name, target.TemporaryForPlugin(), {});
        if (outcome.ok && !target.Commit(&error)) outcome = Outcome::Failed(0, error);
        if (!outcome.ok) {
            outcome.message = "could not keep a copy of the phone's " + name + " before replacing it (" +
                              outcome.message + "); nothing was changed";
            return outcome;
        }
        m_name = name;
        m_path = path;
        return outcome;
    }
    bool Held() const { return !m_path.empty(); }
    // Puts the original back over what a failed replace left; what happened, as a note.
    std::string PutBack(DeviceLink &link) {
        if (link.PutBack(PluginPcPath(m_path), m_name).ok) {
            Forget();
            return "the original " + m_name + " is back on the phone";
        }
        std::string where = m_path;
        m_path.clear();  // (stays on the PC)
        return "the original " + m_name + " could not be put back; it is kept on the PC at " + TerminalToDevice(where);
    }

private:
    void Forget() {
        std::error_code ignored;
        if (!m_path.empty()) fs::remove(LocalPath(m_path), ignored);
        m_path.clear();
    }
    std::string m_name, m_path;
};

}  // namespace

std::vector<std::string> PhoneFile::Path() const {
    std::vector<std::string> path = folder;
    path.push_back(entry.name);
    return path;
}

namespace {

// Entries of `folder` that list alike (runs of spaces come as one) get the phone's
// names; those whose names cannot be found are left out, said in `lost`.
Outcome NameEntriesThatListAlike(DeviceLink &link, const std::vector<std::string> &folder,
                                 std::vector<FolderEntry> *entries, std::vector<std::string> *lost) {
    std::map<std::pair<bool, std::string>, std::vector<size_t>> alike;
    for (size_t i = 0; i < entries->size(); ++i) alike[{(*entries)[i].folder, (*entries)[i].name}].push_back(i);
    std::vector<bool> leftOut(entries->size(), false);
    for (const auto &[key, members] : alike) {
        if (members.size() < 2) continue;
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
            if (lost)
                lost->push_back(ShownPath(path) + ": " + std::to_string(members.size()) +
                                " names list alike; the code page " + DeviceCodePageName() +
                                " cannot say one of them; " + CodePageWayOut());
        }
    }
    std::vector<FolderEntry> kept;
    for (size_t i = 0; i < entries->size(); ++i)
        if (!leftOut[i]) kept.push_back(std::move((*entries)[i]));
    *entries = std::move(kept);
    return Outcome::Ok();
}

}  // namespace

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

bool ListingInstant(const std::string &stamp, int64_t *instant) { return ParseStamp(stamp, true, instant); }

bool KeepPhoneTime(const std::string &path, const FolderEntry &entry, std::string *error) {
    int64_t instant = 0;
    return !ListingInstant(entry.modified, &instant) || SetModified(path, instant, error);
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
            result = LocalFailure(std::move(result), folder.string() + ": " + failure.message());
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
            std::string error;
            sent = SendItem(link, item, privateFolder, &error);
            if (!sent) {
                result = LocalFailure(std::move(result), error);
                break;
            }
        }
        if (mayGoAhead(index)) {
            std::string ignored;  // (a temporary that cannot be made is said in its turn)
            ahead = SendItem(link, plan[index + 1], privateFolder, &ignored);
        }
        result = FinishItem(link, *sent, keepTimes, sink, std::move(result));
        if (!result.outcome.ok) break;
    }
    if (ahead) link.SettleDownload(ahead->tid);  // (its temporary goes with it)
    sink.Finish(result.outcome.ok);
    return result;
}

Outcome UploadWhole(DeviceLink &link, const UploadSource &source, const std::string &name, const FolderEntry *existing,
                    TransferSink &sink) {
    KeptOriginal kept;
    if (existing && !existing->folder) {
        Outcome fetched = kept.Fetch(link, existing->name, sink);
        if (!fetched.ok) return fetched;
    }
    uint64_t sent = 0;
    Outcome outcome = link.Upload(source.PathForPlugin(), name, [&](uint64_t bytes) {
        sent += bytes;
        sink.Add(bytes);
    });
    // The plug-in reports what it read, not always up to the end.
    if (outcome.ok && sent < source.Size()) sink.Add(source.Size() - sent);
    if (outcome.ok) return outcome;
    outcome.message += " of " + name;
    if (kept.Held()) {
        outcome.note = kept.PutBack(link);
    } else {
        bool removed = link.RemovePartialUpload(name).ok;
        outcome.note = removed ? "removed the partial file from the phone" : "a partial file may remain on the phone";
    }
    return outcome;
}

CopyResult UploadFiles(DeviceLink &link, std::vector<PlannedUpload> plan, TransferSink &sink) {
    CopyResult result;
    std::vector<std::unique_ptr<UploadSource>> sources;
    std::map<const Memory *, uint64_t> needed;
    Capability capability;
    result.outcome = link.ReadCapability(&capability);
    if (!result.outcome.ok) return result;
    uint64_t total = 0;
    for (const PlannedUpload &item : plan) {
        std::string error;
        sources.push_back(std::make_unique<UploadSource>());
        if (!sources.back()->Prepare(item.local, &error)) return LocalFailure(result, error);
        total += sources.back()->Size();
        needed[StoreFor(capability, item.folder)] += sources.back()->Size();
    }
    for (const auto &[store, bytes] : needed) {
        if (!store || bytes <= store->freeBytes) continue;
        result.outcome =
            Outcome::Failed(0, "not enough space: the files need " + std::to_string(bytes) + " bytes, " +
                                   StoreName(*store) + " has " + std::to_string(store->freeBytes) + " bytes free");
        return result;
    }
    sink.Begin(total, plan.size());
    const std::vector<std::string> *current = nullptr;
    std::vector<FolderEntry> entries;  // the current folder's
    for (size_t i = 0; i < plan.size() && result.outcome.ok; ++i) {
        const PlannedUpload &item = plan[i];
        if (!current || *current != item.folder) {
            result.outcome = link.EnterFolder(item.folder, &entries);
            if (!result.outcome.ok) break;
            current = &item.folder;
        }
        sink.StartFile(sources[i]->Shown());
        result.outcome = UploadWhole(link, *sources[i], item.name, FindEntry(entries, item.name), sink);
        if (!result.outcome.ok) break;
        ++result.files;
        result.bytes += sources[i]->Size();
    }
    sink.Finish(result.outcome.ok);
    return result;
}

}  // namespace host
