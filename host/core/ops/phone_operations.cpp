#include "phone_operations.h"

#include "appointment_time.h"
#include "encoding.h"
#include "file_tree.h"
#include "phone_files.h"

namespace host {
namespace {

std::vector<std::string> Parent(const std::vector<std::string> &path) { return {path.begin(), path.end() - 1}; }

std::vector<std::string> Child(std::vector<std::string> folder, const std::string &name) {
    folder.push_back(name);
    return folder;
}

// The entries of the folder of `pattern` that match its wildcard last name.
Outcome ListMatches(DeviceLink &link, const std::vector<std::string> &pattern, std::vector<FolderEntry> *entries) {
    Outcome outcome = link.EnterFolder(Parent(pattern), entries);
    if (!outcome.ok) return outcome;
    std::erase_if(*entries, [&](const FolderEntry &entry) {
        return !MatchesWildcard(DeviceToTerminal(pattern.back()), DeviceToTerminal(entry.name));
    });
    if (entries->empty())
        return Outcome::Failed(0, "nothing on the phone matches " + JoinDevicePath(pattern), ErrorKind::kNotFound);
    return Outcome::Ok();
}

Outcome RemoveOne(DeviceLink &link, const std::vector<std::string> &path, Removal *removal) {
    NamedEntry named;
    Outcome outcome = NameForChange(link, Parent(path), path.back(), false, false, &named);
    if (!outcome.ok) return outcome;
    outcome = link.RemoveFile(named.name);
    if (!outcome.ok && outcome.status == ST_BAD_PARAMETER) outcome = SayWhenRefused(link, named, outcome);
    if (outcome.ok) removal->removed = {ShownPath(named.Path())};
    return outcome;
}

Outcome RemoveSelection(DeviceLink &link, const std::vector<std::string> &typed, bool recursive, Removal *removal) {
    PhoneSelection selection;
    Outcome outcome = SelectPhoneFiles(link, typed, recursive, &selection);
    if (!outcome.ok) return outcome;
    if (TouchesSystemFolder(selection))
        return BadInput(ShownPath({kSystemFolder}) +
                        " holds the phone's own programs (install needs them): rm -r and wildcards leave it alone; "
                        "name one file to remove it");
    removal->foldersLeft = selection.folders;
    removal->leftOut = selection.leftOut;
    return RemoveSelectedFiles(link, std::move(selection), &removal->removed);
}

}  // namespace

Outcome CheckListing(const std::vector<std::string> &path) {
    return CheckPhonePath(path, !path.empty() && HasWildcard(path.back()));
}

Outcome ListPhonePath(DeviceLink &link, const std::vector<std::string> &path, std::vector<FolderEntry> *entries) {
    if (Outcome check = CheckListing(path); !check.ok) return check;
    if (!path.empty() && HasWildcard(path.back())) return ListMatches(link, path, entries);
    Outcome outcome = link.EnterFolder(path, entries);
    if (outcome.ok || path.empty()) return outcome;
    // A file is listed as its own entry, from its folder's listing.
    std::vector<FolderEntry> siblings;
    if (!link.EnterFolder(Parent(path), &siblings).ok) return outcome;
    const FolderEntry *entry = FindEntry(siblings, path.back());
    if (!entry)
        return Outcome::Failed(0, "no such file or folder on the phone: " + JoinDevicePath(path), ErrorKind::kNotFound);
    if (entry->folder) return outcome;
    *entries = {*entry};
    return Outcome::Ok();
}

Outcome CheckNewFolder(const std::vector<std::string> &folder) {
    return folder.empty() ? BadInput("name a folder on the phone") : CheckListableFolder(folder);
}

Outcome MakePhoneFolder(DeviceLink &link, const std::vector<std::string> &folder) {
    if (Outcome check = CheckNewFolder(folder); !check.ok) return check;
    return link.MakeFolders(folder);
}

bool RemovesMany(const std::vector<std::string> &typed, bool recursive) {
    return recursive || (!typed.empty() && HasWildcard(typed.back()));
}

Outcome CheckRemoval(const std::vector<std::string> &typed, bool recursive) {
    if (!RemovesMany(typed, recursive))
        return typed.empty() ? BadInput("name a file on the phone") : CheckPhonePath(typed);
    if (typed.empty() || (typed.size() == 1 && HasWildcard(typed[0]) && recursive))
        return BadInput("the whole phone is not removed (its system folder \\" + std::string(kSystemFolder) +
                        " with it); name the folders to remove");
    return CheckPhonePath(typed, true);
}

Outcome RemovePhoneFiles(DeviceLink &link, const std::vector<std::string> &typed, bool recursive, Removal *removal) {
    if (Outcome check = CheckRemoval(typed, recursive); !check.ok) return check;
    removal->many = RemovesMany(typed, recursive);
    return removal->many ? RemoveSelection(link, typed, recursive, removal) : RemoveOne(link, typed, removal);
}

std::vector<std::string> FoundFile::Path() const { return Child(folder, entry.name); }

Outcome CheckDownload(const std::vector<std::string> &path) {
    if (path.empty()) return BadInput("name a file on the phone");
    if (HasWildcard(path.back())) return BadInput("name one file");
    return CheckDownloadPath(path);
}

Outcome FindDownload(DeviceLink &link, const std::vector<std::string> &path, FoundFile *found) {
    if (Outcome check = CheckDownload(path); !check.ok) return check;
    found->folder = Parent(path);
    Outcome outcome = LocateFile(link, found->folder, path.back(), &found->entry);
    found->asked = SameDeviceName(found->entry.name, path.back()) ? found->entry.name : path.back();
    return outcome;
}

Outcome FetchFile(DeviceLink &link, const FoundFile &file, const std::string &pcPath, TransferSink &sink) {
    sink.Begin(file.entry.Size(), 0);
    sink.StartFile(DeviceToTerminal(file.asked));
    Outcome outcome = DownloadByPhoneName(link, file.asked, pcPath, [&](uint64_t bytes) { sink.Add(bytes); });
    sink.Finish(outcome.ok);
    return outcome;
}

Outcome DownloadFile(DeviceLink &link, const FoundFile &file, DownloadTarget &target, bool keepTime,
                     TransferSink &sink) {
    Outcome outcome =
        NameDownloadFailure(link, target, file.entry.Size(), FetchFile(link, file, target.TemporaryForPlugin(), sink));
    if (!outcome.ok) return outcome;
    if (Outcome committed = target.Commit(); !committed.ok) return committed;
    if (keepTime && target.Destination() != "-")
        return KeepPhoneTime(target.Destination(), file.entry, ShownPath(file.Path()), sink);
    return outcome;
}

Outcome CheckUpload(const std::vector<std::string> &target) {
    return target.empty() ? BadInput("name the file on the phone") : CheckUploadName(Parent(target), target.back());
}

Outcome UploadFile(DeviceLink &link, const UploadSource &source, std::vector<std::string> target,
                   const std::string &pcName, TransferSink &sink, std::vector<std::string> *stored) {
    if (Outcome check = CheckUpload(target); !check.ok) return check;
    NamedEntry named;
    Outcome outcome = NameForChange(link, Parent(target), target.back(), true, true, &named);
    if (outcome.ok && named.exists && named.AllFolders()) {
        // An existing folder takes the file inside it, as cp takes it.
        if (pcName.empty()) return BadInput("name the file inside " + ShownPath(target) + " for standard input");
        target.push_back(pcName);
        if (Outcome check = CheckUpload(target); !check.ok) return check;
        outcome = NameForChange(link, Parent(target), target.back(), true, false, &named);
    }
    if (!outcome.ok) return outcome;
    const NamedEntry *existing = named.exists ? &named : nullptr;
    if (existing) outcome = CheckKeepable(*existing);
    if (outcome.ok && existing) outcome = RefuseSystemFolder({target}, "put does not replace files in it");
    if (outcome.ok) outcome = CheckRoom(link, target, source.Size(), existing ? existing->Listed() : nullptr);
    if (!outcome.ok) return outcome;
    const std::string &name = target.back();
    if (name.size() > kMaxDownloadName)
        sink.Warning(ShownPath(target) + " has a name of " + std::to_string(name.size()) +
                     " bytes; get and backup fetch names of at most " + std::to_string(kMaxDownloadName) +
                     " bytes, so it cannot come back to a PC under this name");
    sink.Begin(source.Size(), 0);
    sink.StartFile(source.Shown());
    outcome = UploadWhole(link, source, name, existing, sink);
    sink.Finish(outcome.ok);
    if (outcome.ok) *stored = target;
    return outcome;
}

Outcome ListApps(DeviceLink &link, std::vector<ContentItem> *packages) { return link.Listing("WG-REGISTRY", packages); }

Outcome CheckPackagePath(const std::vector<std::string> &path) {
    return path.empty() ? BadInput("name a package file") : CheckPhonePath(path);
}

Outcome InstallPhonePackage(DeviceLink &link, const std::vector<std::string> &path, std::string *installed) {
    if (Outcome check = CheckPackagePath(path); !check.ok) return check;
    FolderEntry entry;
    Outcome outcome = LocateFile(link, Parent(path), path.back(), &entry);
    const std::string devicePath = JoinDevicePath(Child(Parent(path), entry.name));
    if (outcome.ok) outcome = link.Install(devicePath);
    if (outcome.ok) *installed = DeviceToTerminal(devicePath);
    return outcome;
}

Outcome InstallPcPackage(DeviceLink &link, const UploadSource &source, const std::string &name, TransferSink &sink,
                         std::string *installed) {
    std::vector<std::string> stored;
    const std::string deviceName = TerminalToDeviceName(name);
    NamedEntry named;
    Outcome outcome = NameForChange(link, {}, deviceName, true, true, &named);
    if (outcome.ok && named.exists)
        return BadInput(ShownPath(named.Path()) +
                        " is already on the phone, and a PC package is sent there first: install that one with "
                        "`install " +
                        ShownPath(named.Path()) + "`, or remove it first (nothing was changed)");
    if (outcome.ok) outcome = UploadFile(link, source, {deviceName}, deviceName, sink, &stored);
    if (outcome.ok) outcome = link.Install(JoinDevicePath(stored));
    if (outcome.ok) *installed = ShownPath(stored);
    return outcome;
}

}  // namespace host
