// The single operations a front end offers on a connected phone: its information, a
// listing, a folder made, files removed, one file downloaded or uploaded, the
// installed packages and a package installed. Each checks what the user typed first
// (kBadInput, before anything is sent); the Check functions are the same checks for a
// front end that refuses bad input before it connects. Results are values
// (host/api/file_results.h gives each its JSON).
#ifndef CEBRIDGE_HOST_PHONE_OPERATIONS_H
#define CEBRIDGE_HOST_PHONE_OPERATIONS_H

#include <string>
#include <vector>

#include "device_link.h"
#include "local_files.h"
#include "progress_sink.h"

namespace host {

// What `path` lists: a folder's entries, the entries of its folder that match a
// wildcard last name (kNotFound when none does), or a file as its own entry.
Outcome CheckListing(const std::vector<std::string> &path);
Outcome ListPhonePath(DeviceLink &link, const std::vector<std::string> &path, std::vector<FolderEntry> *entries);

// Makes `folder` and every missing parent. {"created"}
Outcome CheckNewFolder(const std::vector<std::string> &folder);
Outcome MakePhoneFolder(DeviceLink &link, const std::vector<std::string> &folder);

// rm: the one file `typed` names, or with `recursive` or a wildcard last name what
// it selects (never the phone's system folder). The plug-in deletes files only, so
// the selection's folders stay. A file the phone will not delete is kPhoneRefused.
struct Removal {
    bool many = false;
    std::vector<std::string> removed;                   // shown paths
    std::vector<std::vector<std::string>> foldersLeft;  // many: the selection's folders, now empty
    std::vector<std::string> leftOut;                   // many: folders met without `recursive`
};
bool RemovesMany(const std::vector<std::string> &typed, bool recursive);
Outcome CheckRemoval(const std::vector<std::string> &typed, bool recursive);
Outcome RemovePhoneFiles(DeviceLink &link, const std::vector<std::string> &typed, bool recursive, Removal *removal);

// A phone file a download fetches: found by its typed path (one file, no wildcard).
struct FoundFile {
    std::vector<std::string> folder;
    FolderEntry entry;
    std::string asked;  // the name the phone is asked for (a typed run of spaces kept)
    std::vector<std::string> Path() const;
};
Outcome CheckDownload(const std::vector<std::string> &path);
Outcome FindDownload(DeviceLink &link, const std::vector<std::string> &path, FoundFile *found);
// The found file's bytes into `pcPath` (a path as the plug-in takes it: a temporary,
// a FIFO), counted by `sink` as one file.
Outcome FetchFile(DeviceLink &link, const FoundFile &file, const std::string &pcPath, TransferSink &sink);
// FetchFile into `target`'s temporary, committed once whole; `keepTime` gives it the
// phone's modification time. The PC's failures are kNoRoomOnPc and kPcFile.
Outcome DownloadFile(DeviceLink &link, const FoundFile &file, DownloadTarget &target, bool keepTime,
                     TransferSink &sink);

// put: `source` becomes the phone file `target` (its folder, then its name). A
// target that is an existing folder takes the file inside it under `pcName`
// (kBadInput when there is none, as for standard input). The store's room is checked
// first, and a failed upload leaves the phone's file as it was (UploadWhole); a file
// the phone will not replace is kPhoneRefused. `stored` gets the path the file got.
Outcome CheckUpload(const std::vector<std::string> &target);
Outcome UploadFile(DeviceLink &link, const UploadSource &source, std::vector<std::string> target,
                   const std::string &pcName, TransferSink &sink, std::vector<std::string> *stored);

// The installed packages. {"packages": [{"id", "version"}], "note" when none is listed}
Outcome ListApps(DeviceLink &link, std::vector<ContentItem> *packages);
// Starts the phone's installer on the package file `path` (found first), or on a
// PC package uploaded to the phone's root folder as `name`. `installed` gets the
// device path as shown. {"installing"}
Outcome CheckPackagePath(const std::vector<std::string> &path);
Outcome InstallPhonePackage(DeviceLink &link, const std::vector<std::string> &path, std::string *installed);
Outcome InstallPcPackage(DeviceLink &link, const UploadSource &source, const std::string &name, TransferSink &sink,
                         std::string *installed);

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_OPERATIONS_H
