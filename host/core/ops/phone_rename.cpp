#include "phone_rename.h"

#include <filesystem>

#include "encoding.h"
#include "file_tree.h"
#include "local_files.h"
#include "phone_files.h"
#include "phone_operations.h"
#include "safeguards.h"

namespace host {
namespace {

// The phone file `file` of the current folder into a PC temporary that goes with `copy`.
Outcome FetchToTemporary(DeviceLink &link, const FoundFile &file, DownloadTarget &copy, TransferSink &sink) {
    const std::string path = (LocalPath(KeptFolder()) / LocalPath("renamed")).string();
    if (Outcome prepared = copy.Prepare(path, ""); !prepared.ok) return prepared;
    return NameDownloadFailure(link, copy, file.entry.Size(), FetchFile(link, file, copy.TemporaryForPlugin(), sink));
}

// Whether the phone's copy, fetched into `fetched`, holds all of `original` (else a
// first part of it, or other bytes).
bool Whole(const UploadSource &original, const DownloadTarget &fetched) {
    std::error_code failure;
    const uintmax_t size = std::filesystem::file_size(LocalPath(fetched.TemporaryPath()), failure);
    return !failure && size == original.Size() && original.BeginsWith(fetched.TemporaryPath());
}

// (A note, which is said as the phone's names are whatever the failure's kind.)
Outcome Unchanged(Outcome outcome, const std::vector<std::string> &path) {
    outcome.note += (outcome.note.empty() ? "" : "; ") + JoinDevicePath(path) + " is as it was";
    return outcome;
}

// The original, proven to be the file named, as a download finds it.
Outcome NameOriginal(DeviceLink &link, const std::vector<std::string> &folder, const std::string &name,
                     FoundFile *original) {
    NamedEntry named;
    Outcome outcome = NameForChange(link, folder, name, false, false, &named);
    if (outcome.kind == ErrorKind::kNotAFolder)
        return BadInput(ShownPath(named.Path()) +
                        " is a folder: the phone's link cannot remove a folder, so a renamed one would leave its "
                        "old name behind");
    if (!outcome.ok) return outcome;
    if (!named.Listed())
        return BadInput(ShownPath(named.Path()) + " lists alike with another file: rename it on the phone itself");
    *original = {folder, *named.Listed(), named.name};
    return Outcome::Ok();
}

// What the new name holds: nothing, or what an earlier rename of the same file left
// there when a failure stopped it (a first part of the file: `cut`; all of it, the
// original not yet removed: `whole`). Anything else there is another file, which is
// never put over (nor is one that could not be read).
struct AtNewName {
    const NamedEntry *cut = nullptr;
    bool whole = false;
};
Outcome LookAtNewName(DeviceLink &link, const NamedEntry &taken, const UploadSource &original, TransferSink &sink,
                      AtNewName *found) {
    if (!taken.exists) return Outcome::Ok();
    const Outcome refused = BadInput(ShownPath(taken.Path()) + " is already on the phone: nothing was renamed");
    const FolderEntry *listed = taken.Listed();
    if (!listed || listed->folder || listed->Size() > original.Size()) return refused;
    DownloadTarget left;
    if (Outcome read = FetchToTemporary(link, {taken.folder, *listed, taken.name}, left, sink); !read.ok) {
        read.message = JoinDevicePath(taken.Path()) + " is already on the phone and could not be read (" +
                       read.message + "): nothing was renamed";
        return read;
    }
    if (!original.BeginsWith(left.TemporaryPath())) return refused;
    found->whole = Whole(original, left);
    found->cut = found->whole ? nullptr : &taken;
    return Outcome::Ok();
}

// Puts `original` on the phone as `name` (over `cut`, when there is one) and reads it back.
Outcome CopyProvenWhole(DeviceLink &link, const FoundFile &source, const UploadSource &original,
                        const std::string &name, const NamedEntry *cut, TransferSink &sink) {
    sink.Begin(original.Size(), 0);
    sink.StartFile(DeviceToTerminal(name));
    Outcome outcome = UploadWhole(link, original, name, cut, sink);
    sink.Finish(outcome.ok);
    if (!outcome.ok) return outcome;
    DownloadTarget readBack;
    outcome = FetchToTemporary(link, {source.folder, source.entry, name}, readBack, sink);
    if (outcome.ok && Whole(original, readBack)) return outcome;
    const bool removed = link.RemoveFile(name).ok;
    return Outcome::Failed(0,
                           "the copy under " + name + " did not read back as the original" +
                               (outcome.ok ? "" : " (" + outcome.message + ")") +
                               (removed ? ", so it was removed" : " and may remain on the phone"),
                           outcome.ok ? ErrorKind::kPhoneRefused : outcome.kind);
}

}  // namespace

Outcome RenamePhoneFile(DeviceLink &link, const std::vector<std::string> &path, const std::string &newName,
                        TransferSink &sink, std::vector<std::string> *renamed) {
    if (Outcome check = CheckDownload(path); !check.ok) return check;
    const std::vector<std::string> folder(path.begin(), path.end() - 1);
    if (newName.empty() || newName == "." || newName == ".." || newName.find_first_of("/\\") != std::string::npos)
        return BadInput("give the new name of the file alone, not a path: " + DeviceToTerminal(newName));
    if (Outcome check = CheckUploadName(folder, newName); !check.ok) return check;
    std::vector<std::string> target = folder;
    target.push_back(newName);
    if (SameDeviceName(newName, path.back()))
        return BadInput(ShownPath(path) + " and " + DeviceToTerminal(newName) +
                        " differ in letter case alone, which the phone does not tell apart: rename it to another "
                        "name first");
    if (Outcome refused = RefuseSystemFolder({path}, "rename leaves its files alone"); !refused.ok) return refused;
    FoundFile source;
    if (Outcome named = NameOriginal(link, folder, path.back(), &source); !named.ok) return named;
    NamedEntry taken;
    if (Outcome outcome = NameForChange(link, folder, newName, true, true, &taken); !outcome.ok) return outcome;
    DownloadTarget kept;
    if (Outcome fetched = FetchToTemporary(link, source, kept, sink); !fetched.ok) return Unchanged(fetched, path);
    UploadSource original;
    if (Outcome prepared = original.Prepare(kept.TemporaryPath()); !prepared.ok) return Unchanged(prepared, path);
    AtNewName found;
    if (Outcome looked = LookAtNewName(link, taken, original, sink, &found); !looked.ok) return looked;
    // The original goes only once its copy has read back whole.
    if (!found.whole) {
        if (Outcome copied = CopyProvenWhole(link, source, original, newName, found.cut, sink); !copied.ok)
            return Unchanged(copied, path);
    }
    if (Outcome removed = link.RemoveFile(source.asked); !removed.ok) {
        removed.message = "copied to " + newName + ", but the phone kept " + JoinDevicePath(path) + " (" +
                          removed.message + "): both are on the phone now; a rename again removes it";
        return removed;
    }
    *renamed = target;
    return Outcome::Ok();
}

}  // namespace host
