// Folder trees and many files between the phone and the PC, one file at a time
// through the plug-in: walking a phone folder, wildcard names, and copying a planned
// list of files, reporting to a TransferSink. Every download lands whole or not at all
// (see local_files.h); a copy stops at the first failure or interrupt, so the files
// copied before it are complete and the one being copied leaves nothing behind.
#ifndef CEBRIDGE_HOST_FILE_TREE_H
#define CEBRIDGE_HOST_FILE_TREE_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device_link.h"
#include "local_files.h"
#include "progress_sink.h"

namespace host {

// A file found on the phone.
struct PhoneFile {
    std::vector<std::string> folder;    // device path of its folder
    std::vector<std::string> relative;  // below the walk's root: folders, then the name
    FolderEntry entry;
    uint32_t Size() const { return uint32_t(entry.size); }
    std::vector<std::string> Path() const;
};

// Every file below `root`, folder by folder; `folders` (when given) gets every
// folder met, `root` first. `skip` leaves out the folders it returns true for. A
// folder whose name the code page cannot say is left out, "PATH: why" in `lost`.
Outcome WalkPhoneTree(DeviceLink &link, const std::vector<std::string> &root, std::vector<PhoneFile> *files,
                      std::vector<std::vector<std::string>> *folders = nullptr,
                      const std::function<bool(const std::vector<std::string> &)> &skip = {},
                      std::vector<std::string> *lost = nullptr);

// Gives the entries of the current phone folder `folder` the phone's own names where
// the listing may not (entries that list alike, a space that may stand for a run);
// an entry whose name cannot be found is left out, "PATH: why" in `lost`.
Outcome NameEntriesThatListAlike(DeviceLink &link, const std::vector<std::string> &folder,
                                 std::vector<FolderEntry> *entries, std::vector<std::string> *lost);

bool HasWildcard(const std::string &name);
// `*` any run of characters, `?` one character (UTF-8 code points), letter case ignored as on the phone.
bool MatchesWildcard(const std::string &pattern, const std::string &name);

// A phone listing time ("YYYYMMDDTHHMMSSZ", PC local time) as seconds since 1970 UTC.
// In the hour the clocks repeat the time names two instants: the earlier is taken and
// *repeated set (when given); nothing in the listing tells which it was.
bool ListingInstant(const std::string &stamp, int64_t *instant, bool *repeated = nullptr);
// Gives a downloaded file the phone's modification time of `entry`; one in the
// repeated hour is given the earlier instant and said on `sink` (the file `shown`).
Outcome KeepPhoneTime(const std::string &path, const FolderEntry &entry, const std::string &shown, TransferSink &sink);
// The PC path for device names below a local folder, in the terminal's encoding.
std::string LocalPathFor(const std::string &folder, const std::vector<std::string> &relative);

struct PlannedDownload {
    PhoneFile source;
    std::string local;  // the PC file it becomes (its folders are made)
};

struct CopyResult {
    Outcome outcome = Outcome::Ok();
    uint64_t files = 0, bytes = 0;     // what was copied
    std::vector<std::string> skipped;  // "PATH: why", files left out
    std::vector<std::string> done;     // the shown paths of the files copied
};

// Downloads each planned file; `keepTimes` gives each the phone's modification time.
// Names the link cannot fetch are left out, said in `skipped`.
CopyResult DownloadFiles(DeviceLink &link, std::vector<PlannedDownload> plan, bool keepTimes, TransferSink &sink);

struct PlannedUpload {
    std::string local;
    std::vector<std::string> folder;  // device folder, already on the phone
    std::string name;                 // device name
};

// A device path as the terminal shows it.
std::string ShownPath(const std::vector<std::string> &parts);

// Downloads a file of the current phone folder listed as `listed`; when the phone
// does not know that name, under the phone's own name (see DeviceLink::PhoneName),
// failing with nameLost when it cannot be found or said.
Outcome DownloadByPhoneName(DeviceLink &link, const std::string &listed, const std::string &localPath,
                            const ProgressFn &progress);
// A failed download into `target` of a file of `expected` bytes, named after the
// party that failed: the PC's (its path and reason) when the PC side failed it,
// else the phone's as answered.
Outcome NameDownloadFailure(const DeviceLink &link, const DownloadTarget &target, uint64_t expected, Outcome failed);

// Uploads into the current phone folder, the sink counting all of the source's bytes
// once it is whole. Half a file is worse than none: a failed upload is deleted from
// the phone again, and the outcome's note says whether it was. `existing`, the
// phone's file of that name, is first fetched into the kept folder (safeguards.h) and
// put back when the replace fails or is interrupted; when it cannot be fetched,
// nothing is sent.
// A failed replace whose file is still as it was is not put back: it is said as refused
// (SayWhenRefused). A file whose name is too long to fetch is not replaced (CheckKeepable).
Outcome UploadWhole(DeviceLink &link, const UploadSource &source, const std::string &name, const NamedEntry *existing,
                    TransferSink &sink);
// kBadInput for an existing phone file whose copy cannot be kept before it is replaced.
Outcome CheckKeepable(const NamedEntry &existing);

// kBadInput when two of `paths` name one phone entry (they differ only in letter
// case, which the phone's store does not tell apart), before anything is sent; `what`
// names the step ("the copy").
Outcome RefuseCaseClashes(const std::vector<std::vector<std::string>> &paths, const std::string &what);
// kNoRoomOnPhone when the stores of the plan's folders lack room for `sizes` (one per item).
Outcome CheckRoomForAll(DeviceLink &link, const std::vector<PlannedUpload> &plan, const std::vector<uint64_t> &sizes);

// Uploads each planned file, after refusing case clashes and checking the target
// stores have room for all of them. A file replaced is first proven to be the one
// named (DeviceLink::Identify); a folder in its way stops the copy.
CopyResult UploadFiles(DeviceLink &link, std::vector<PlannedUpload> plan, TransferSink &sink);

}  // namespace host

#endif  // CEBRIDGE_HOST_FILE_TREE_H
