#include "phone_rename.h"

#include <fstream>

#include "encoding.h"
#include "file_tree.h"
#include "local_files.h"
#include "phone_files.h"
#include "phone_operations.h"
#include "safeguards.h"

namespace host {
namespace {

// Whether the two PC files hold the same bytes (false when either cannot be read).
bool SameBytes(const std::string &a, const std::string &b) {
    std::ifstream first(LocalPath(a), std::ios::binary), second(LocalPath(b), std::ios::binary);
    if (!first || !second) return false;
    char one[1 << 16], two[1 << 16];
    for (;;) {
        first.read(one, sizeof one);
        second.read(two, sizeof two);
        if (first.gcount() != second.gcount() || !std::equal(one, one + first.gcount(), two)) return false;
        if (first.gcount() == 0 || first.eof() || second.eof()) return first.eof() == second.eof();
    }
}

// The phone file `file` of the current folder into a PC temporary that goes with `copy`.
Outcome FetchToTemporary(DeviceLink &link, const FoundFile &file, DownloadTarget &copy, TransferSink &sink) {
    const std::string path = (LocalPath(KeptFolder()) / LocalPath("renamed")).string();
    if (Outcome prepared = copy.Prepare(path, ""); !prepared.ok) return prepared;
    return NameDownloadFailure(link, copy, file.entry.Size(), FetchFile(link, file, copy.TemporaryForPlugin(), sink));
}

// (A note, which is said as the phone's names are whatever the failure's kind.)
Outcome Unchanged(Outcome outcome, const std::vector<std::string> &path) {
    outcome.note = JoinDevicePath(path) + " is as it was";
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
    FoundFile original;
    if (Outcome named = NameOriginal(link, folder, path.back(), &original); !named.ok) return named;
    NamedEntry taken;
    if (Outcome outcome = NameForChange(link, folder, newName, true, true, &taken); !outcome.ok) return outcome;
    if (taken.exists) return BadInput(ShownPath(target) + " is already on the phone: nothing was renamed");
    DownloadTarget kept, readBack;
    if (Outcome fetched = FetchToTemporary(link, original, kept, sink); !fetched.ok) return Unchanged(fetched, path);
    UploadSource copy;
    if (Outcome prepared = copy.Prepare(kept.TemporaryPath()); !prepared.ok) return Unchanged(prepared, path);
    sink.Begin(copy.Size(), 0);
    sink.StartFile(DeviceToTerminal(newName));
    Outcome outcome = UploadWhole(link, copy, newName, nullptr, sink);
    sink.Finish(outcome.ok);
    if (!outcome.ok) return Unchanged(outcome, path);
    // The original goes only once its copy has read back whole.
    FoundFile made{folder, original.entry, newName};
    outcome = FetchToTemporary(link, made, readBack, sink);
    if (!outcome.ok || !SameBytes(kept.TemporaryPath(), readBack.TemporaryPath())) {
        const bool removed = link.RemoveFile(newName).ok;
        return Unchanged(Outcome::Failed(0,
                                         "the copy under " + newName + " did not read back as the original" +
                                             (outcome.ok ? "" : " (" + outcome.message + ")") +
                                             (removed ? ", so it was removed" : " and may remain on the phone"),
                                         outcome.ok ? ErrorKind::kPhoneRefused : outcome.kind),
                         path);
    }
    if (Outcome removed = link.RemoveFile(original.asked); !removed.ok) {
        removed.message = "copied to " + newName + ", but the phone kept " + JoinDevicePath(path) + " (" +
                          removed.message + "): both are on the phone now";
        return removed;
    }
    *renamed = target;
    return Outcome::Ok();
}

}  // namespace host
