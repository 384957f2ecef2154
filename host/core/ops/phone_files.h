// Phone files as the user names them: checks of typed names and paths before
// anything is sent, finding a named file, what a typed path selects (a file, the
// matches of a wildcard, a folder with everything in it), and removing a selection.
// Paths are device paths split into names, in the device's code page.
#ifndef CEBRIDGE_HOST_PHONE_FILES_H
#define CEBRIDGE_HOST_PHONE_FILES_H

#include <string>
#include <vector>

#include "device_link.h"
#include "file_tree.h"

namespace host {

// kBadInput for a path holding a name the phone cannot hold or the code page cannot
// say, or longer than the phone's link carries. `wildcardLast`: the last name may
// hold '*' and '?'.
Outcome CheckPhonePath(const std::vector<std::string> &parts, bool wildcardLast = false);
// As CheckPhonePath, for a folder that must also be listable afterwards (its path and "\*.*").
Outcome CheckListableFolder(const std::vector<std::string> &folder);
// As CheckPhonePath, for a file to download: its name no longer than the link fetches.
Outcome CheckDownloadPath(const std::vector<std::string> &path);
// As CheckListableFolder for `folder`, and a name an upload carries whole.
Outcome CheckUploadName(const std::vector<std::string> &folder, const std::string &name);

// Enters `folder` and finds the file `name` in it: a missing file (kNotFound) or a
// folder (kNotAFolder) fails with a sentence that names it.
Outcome LocateFile(DeviceLink &link, const std::vector<std::string> &folder, const std::string &name,
                   FolderEntry *found);

// The phone entry `name` of `folder` as the phone holds it (see NamedEntry), for a
// step that removes or replaces it: a file, proven to be the one named. A name the
// phone lacks fails kNotFound, naming the entries that list alike and their phone
// names (unless `mayBeNew`: then `named->exists` is false); a folder fails
// kNotAFolder (unless `folderTakes`: then it is named), look-alikes of both kinds
// kBadInput. The current phone folder is `folder` afterwards.
Outcome NameForChange(DeviceLink &link, const std::vector<std::string> &folder, const std::string &name, bool mayBeNew,
                      bool folderTakes, NamedEntry *named);

// A change of the phone file `before` that `failed`, with its folder's entries that
// list alike still as they were: the phone refused it, as it does a read-only file or
// one open elsewhere (the listing carries no attributes, so that is said after the
// fact). Else `failed` itself.
bool StillAsItWas(DeviceLink &link, const NamedEntry &before);
Outcome SayWhenRefused(DeviceLink &link, const NamedEntry &before, Outcome failed);

// What a typed phone path names: every entry of its folder that matches a wildcard
// last name, or the one entry it names, or with `recursive` a folder's content. Each
// file and folder carries its path below what was named (a match's path starts with
// its name).
struct PhoneSelection {
    std::vector<PhoneFile> files;
    std::vector<std::vector<std::string>> folders, relativeFolders;  // walked, each before what it holds
    std::vector<std::string> leftOut;                                // folders met without `recursive`
    std::vector<std::string> lost;                                   // folders the code page cannot name
};
Outcome SelectPhoneFiles(DeviceLink &link, const std::vector<std::string> &typed, bool recursive,
                         PhoneSelection *selection);

// The folder of the phone's own programs, at its root.
extern const char *const kSystemFolder;
bool TouchesSystemFolder(const PhoneSelection &selection);
// kBadInput when any of `paths` lies in the system folder; `why` says what the step
// leaves alone there ("put does not replace files in it").
Outcome RefuseSystemFolder(const std::vector<std::vector<std::string>> &paths, const std::string &why);

// Removes the selection's files, folder by folder (the plug-in deletes files only:
// its folders stay), stopping at the first the phone refuses; `removed` gets each
// removed file's path as shown.
Outcome RemoveSelectedFiles(DeviceLink &link, PhoneSelection selection, std::vector<std::string> *removed);

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_FILES_H
