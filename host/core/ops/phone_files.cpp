#include "phone_files.h"

#include <algorithm>
#include <cstring>

#include "encoding.h"

namespace host {

Outcome CheckPhonePath(const std::vector<std::string> &parts, bool wildcardLast) {
    for (size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].find(kUnsayable) != std::string::npos)
            return Outcome::Failed(0,
                                   "the code page " + DeviceCodePageName() + " cannot say the name '" +
                                       ShownUnsayable(parts[i]) + "' (? marks what it cannot say); " + CodePageWayOut(),
                                   ErrorKind::kBadInput);
        for (unsigned char c : parts[i]) {
            bool wildcard = wildcardLast && i + 1 == parts.size() && (c == '*' || c == '?');
            if (!wildcard && (c < 0x20 || std::strchr(":*?\"<>|", c)))
                return Outcome::Failed(0,
                                       "the phone cannot hold the name '" + DeviceToTerminal(parts[i]) +
                                           "' (no \\ / : * ? \" < > | or control characters)",
                                       ErrorKind::kBadInput);
        }
    }
    const size_t pathBytes = JoinDevicePath(parts).size();
    if (pathBytes > kMaxDevicePath)
        return Outcome::Failed(0,
                               "the phone's link carries paths of at most " + std::to_string(kMaxDevicePath) +
                                   " bytes; " + ShownPath(parts) + " has " + std::to_string(pathBytes),
                               ErrorKind::kBadInput);
    return Outcome::Ok();
}

Outcome CheckListableFolder(const std::vector<std::string> &folder) {
    if (Outcome outcome = CheckPhonePath(folder); !outcome.ok) return outcome;
    const size_t pathBytes = JoinDevicePath(folder).size();
    if (pathBytes <= kMaxListedFolderPath) return Outcome::Ok();
    return Outcome::Failed(0,
                           "the phone's link lists folders of paths of at most " +
                               std::to_string(kMaxListedFolderPath) + " bytes; " + ShownPath(folder) + " has " +
                               std::to_string(pathBytes),
                           ErrorKind::kBadInput);
}

Outcome CheckDownloadPath(const std::vector<std::string> &path) {
    if (!path.empty() && path.back().size() > kMaxDownloadName)
        return Outcome::Failed(0,
                               "the phone's link fetches names of at most " + std::to_string(kMaxDownloadName) +
                                   " bytes: " + DeviceToTerminal(path.back()),
                               ErrorKind::kBadInput);
    return CheckPhonePath(path);
}

Outcome CheckUploadName(const std::vector<std::string> &folder, const std::string &name) {
    if (Outcome outcome = CheckListableFolder(folder); !outcome.ok) return outcome;
    std::vector<std::string> path = folder;
    path.push_back(name);
    if (Outcome outcome = CheckPhonePath(path); !outcome.ok) return outcome;
    if (name.size() <= kMaxStoredName) return Outcome::Ok();
    return Outcome::Failed(0,
                           "the phone's link carries names of at most " + std::to_string(kMaxStoredName) + " bytes; " +
                               DeviceToTerminal(name) + " has " + std::to_string(name.size()),
                           ErrorKind::kBadInput);
}

Outcome LocateFile(DeviceLink &link, const std::vector<std::string> &folder, const std::string &name,
                   FolderEntry *found) {
    std::vector<FolderEntry> entries;
    Outcome outcome = link.EnterFolder(folder, &entries);
    if (!outcome.ok) return outcome;
    const FolderEntry *entry = FindEntry(entries, name);
    std::vector<std::string> path = folder;
    path.push_back(entry ? entry->name : name);
    if (!entry) return Outcome::Failed(0, "no such file on the phone: " + JoinDevicePath(path), ErrorKind::kNotFound);
    if (entry->folder)
        return Outcome::Failed(0, "a folder, not a file: " + JoinDevicePath(path), ErrorKind::kNotAFolder);
    *found = *entry;
    return outcome;
}

namespace {

// "'x  y.txt', 'x   y.txt'": the phone's names of the entries that list alike, quoted
// so that their runs of spaces show.
std::string LookAlikes(DeviceLink &link, const NamedEntry &named) {
    std::vector<std::string> names;
    const bool folders = !named.AllFiles();
    if (!link.PhoneNamesListedAs(named.folder, named.alike[0].name, named.alike.size(), folders, &names).ok ||
        names.empty())
        return "'" + DeviceToTerminal(named.alike[0].name) + "' as listed";
    std::string shown;
    for (const std::string &name : names) shown += (shown.empty() ? "'" : ", '") + DeviceToTerminal(name) + "'";
    return shown;
}

std::vector<std::pair<uint64_t, std::string>> Fingerprint(const std::vector<FolderEntry> &alike) {
    std::vector<std::pair<uint64_t, std::string>> prints;
    for (const FolderEntry &entry : alike) prints.emplace_back(entry.Size(), entry.modified);
    std::sort(prints.begin(), prints.end());
    return prints;
}

}  // namespace

Outcome NameForChange(DeviceLink &link, const std::vector<std::string> &folder, const std::string &name, bool mayBeNew,
                      bool folderTakes, NamedEntry *named) {
    std::vector<FolderEntry> entries;
    Outcome outcome = link.EnterFolder(folder, &entries);
    if (outcome.ok) outcome = link.Identify(folder, entries, name, named);
    if (!outcome.ok) return outcome;
    const std::string path = JoinDevicePath(named->Path());
    if (!named->exists && (mayBeNew || named->alike.empty()))
        return mayBeNew ? outcome : Outcome::Failed(0, "no such file on the phone: " + path, ErrorKind::kNotFound);
    if (!named->exists) {
        outcome =
            Outcome::Failed(0,
                            "no such file on the phone: " + path + " (the phone holds " + LookAlikes(link, *named) +
                                ", which the listing gives alike; name it as the phone keeps it)",
                            ErrorKind::kNotFound);
        link.EnterFolder(folder);  // (finding a folder's name entered it)
        return outcome;
    }
    if (named->AllFiles() || (folderTakes && named->AllFolders())) return outcome;
    if (named->AllFolders()) return Outcome::Failed(0, "a folder, not a file: " + path, ErrorKind::kNotAFolder);
    return named->KindUnknown();
}

bool StillAsItWas(DeviceLink &link, const NamedEntry &before) {
    std::vector<FolderEntry> entries;
    NamedEntry after;
    if (link.Interrupted() || !link.EnterFolder(before.folder, &entries).ok ||
        !link.Identify(before.folder, entries, before.name, &after).ok)
        return false;
    return after.exists && Fingerprint(after.alike) == Fingerprint(before.alike);
}

Outcome SayWhenRefused(DeviceLink &link, const NamedEntry &before, Outcome failed) {
    if (failed.status == 0 || !StillAsItWas(link, before)) return failed;
    failed.message = "the phone refused to change " + JoinDevicePath(before.Path()) +
                     ": it is read-only, or open on the phone or by another program; it is as it was";
    failed.kind = ErrorKind::kReadOnly;
    failed.note.clear();  // (nothing of this change stayed to undo)
    return failed;
}

namespace {

// The folder `path` with everything in it, named `prefix` below the selection.
Outcome AddFolder(DeviceLink &link, const std::vector<std::string> &path, const std::vector<std::string> &prefix,
                  PhoneSelection *selection) {
    size_t firstFile = selection->files.size(), firstFolder = selection->folders.size();
    Outcome outcome = WalkPhoneTree(link, path, &selection->files, &selection->folders, {}, &selection->lost);
    for (size_t i = firstFile; i < selection->files.size(); ++i)
        selection->files[i].relative.insert(selection->files[i].relative.begin(), prefix.begin(), prefix.end());
    for (size_t i = firstFolder; i < selection->folders.size(); ++i) {
        std::vector<std::string> relative = prefix;
        relative.insert(relative.end(), selection->folders[i].begin() + long(path.size()), selection->folders[i].end());
        selection->relativeFolders.push_back(relative);
    }
    return outcome;
}

}  // namespace

Outcome SelectPhoneFiles(DeviceLink &link, const std::vector<std::string> &typed, bool recursive,
                         PhoneSelection *selection) {
    if (typed.empty()) return AddFolder(link, typed, {}, selection);  // the whole phone
    std::vector<std::string> parent(typed.begin(), typed.end() - 1);
    std::vector<FolderEntry> entries;
    Outcome outcome = link.EnterFolder(parent, &entries);
    if (!outcome.ok) return outcome;
    std::vector<FolderEntry> chosen;
    if (HasWildcard(typed.back())) {
        if (!(outcome = NameEntriesThatListAlike(link, parent, &entries, &selection->lost)).ok) return outcome;
        for (const FolderEntry &entry : entries)
            if (MatchesWildcard(DeviceToTerminal(typed.back()), DeviceToTerminal(entry.name)) ||
                MatchesWildcard(DeviceToTerminal(typed.back()), DeviceToTerminal(ListedForm(entry.name))))
                chosen.push_back(entry);  // (typed as the phone keeps the name, or as ls shows it)
        if (chosen.empty())
            return Outcome::Failed(0, "nothing on the phone matches " + JoinDevicePath(typed), ErrorKind::kNotFound);
    } else if (const FolderEntry *entry = FindEntry(entries, typed.back())) {
        std::vector<std::string> path = parent;
        path.push_back(entry->name);
        if (entry->folder) return AddFolder(link, path, {}, selection);  // a folder named whole: its content
        chosen.push_back(*entry);
    } else {
        return Outcome::Failed(0, "no such file or folder on the phone: " + JoinDevicePath(typed),
                               ErrorKind::kNotFound);
    }
    for (const FolderEntry &entry : chosen) {
        std::vector<std::string> path = parent;
        path.push_back(entry.name);
        if (!entry.folder)
            selection->files.push_back({parent, {entry.name}, entry});
        else if (!recursive)
            selection->leftOut.push_back(ShownPath(path));
        else if (!(outcome = AddFolder(link, path, {entry.name}, selection)).ok)
            return outcome;
    }
    return Outcome::Ok();
}

const char *const kSystemFolder = "Windows";

bool TouchesSystemFolder(const PhoneSelection &selection) {
    auto inSystem = [](const std::vector<std::string> &path) {
        return !path.empty() && SameDeviceName(path[0], kSystemFolder);
    };
    return std::any_of(selection.files.begin(), selection.files.end(),
                       [&](const PhoneFile &file) { return inSystem(file.folder); }) ||
           std::any_of(selection.folders.begin(), selection.folders.end(), inSystem);
}

Outcome RefuseSystemFolder(const std::vector<std::vector<std::string>> &paths, const std::string &why) {
    for (const std::vector<std::string> &path : paths)
        if (!path.empty() && SameDeviceName(path[0], kSystemFolder))
            return Outcome::Failed(0,
                                   ShownPath({kSystemFolder}) + " holds the phone's own programs: " + why + " (" +
                                       ShownPath(path) + "; nothing was changed)",
                                   ErrorKind::kBadInput);
    return Outcome::Ok();
}

Outcome RemoveSelectedFiles(DeviceLink &link, PhoneSelection selection, std::vector<std::string> *removed) {
    std::stable_sort(selection.files.begin(), selection.files.end(),
                     [](const PhoneFile &a, const PhoneFile &b) { return a.folder < b.folder; });
    const std::vector<std::string> *current = nullptr;
    for (const PhoneFile &file : selection.files) {
        if (!current || *current != file.folder) {
            if (Outcome outcome = link.EnterFolder(file.folder); !outcome.ok) return outcome;
            current = &file.folder;
        }
        if (Outcome outcome = link.RemoveFile(file.entry.name); !outcome.ok) {
            outcome.message += ": " + JoinDevicePath(file.Path());
            NamedEntry named{file.folder, file.entry.name, true, {file.entry}};
            if (outcome.status == ST_BAD_PARAMETER) outcome = SayWhenRefused(link, named, outcome);
            return outcome;
        }
        removed->push_back(ShownPath(file.Path()));
    }
    return Outcome::Ok();
}

}  // namespace host
