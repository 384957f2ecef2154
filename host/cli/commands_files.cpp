// Files and storage: info, ls, get, put, rm, mkdir, install, apps, cd, pwd.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "commands.h"
#include "file_tree.h"
#include "local_files.h"
#include "phone_files.h"
#include "progress.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {
namespace {

std::string Shown(const std::vector<std::string> &parts) { return DeviceToTerminal(JoinDevicePath(parts)); }

nlohmann::json EntryJson(const FolderEntry &entry) {
    return {{"name", DeviceToTerminal(entry.name)},
            {"folder", entry.folder},
            {"size", entry.Size()},
            {"modified", ListingTimeToLocal(entry.modified)},
            {"created", ListingTimeToLocal(entry.created)},
            {"accessed", ListingTimeToLocal(entry.accessed)}};
}

// Splits a typed path into its folder and the last name; false when it names no file.
bool SplitFilePath(Context &context, const std::string &typed, std::vector<std::string> *folder, std::string *name) {
    *folder = context.ResolveDevicePath(typed);
    if (folder->empty()) return false;
    *name = folder->back();
    folder->pop_back();
    return true;
}

}  // namespace

namespace {

// -r, or a wildcard in the last name: the command works on many files.
bool ManyFiles(const std::string &typed, const TreeOptions &options) {
    std::vector<std::string> parts = SplitDevicePath(typed);
    return options.recursive || (!parts.empty() && HasWildcard(parts.back()));
}

// A file name the upload carries whole, in a folder the phone can list.
int RefuseStoredName(Context &context, const char *command, const std::vector<std::string> &folder,
                     const std::string &name) {
    return context.FailInput(command, CheckUploadName(folder, name));
}

// Only the form that is printed is built: a folder may hold 100,000 entries.
int EmitListing(Context &context, const std::vector<std::string> &path, const std::vector<FolderEntry> &entries) {
    if (context.WantsDocument()) {
        context.EmitArray({{"path", Shown(path)}}, "entries", entries.size(),
                          [&](size_t i) { return EntryJson(entries[i]); });
        return kExitOk;
    }
    Table table({"", "NAME", "SIZE", "MODIFIED"});
    table.AlignRight(2);
    for (const FolderEntry &entry : entries)
        table.Add({entry.folder ? "d" : "-", DeviceToTerminal(entry.name), entry.folder ? "" : HumanSize(entry.Size()),
                   ListingTimeToLocal(entry.modified)});
    context.Emit(table.Render(), nullptr);
    return kExitOk;
}

// ls of a wildcard name: the entries of its folder that match, as get and rm take them.
int ListMatches(Context &context, const std::vector<std::string> &pattern) {
    if (int code = RefuseBadName(context, "ls", pattern, true)) return code;
    if (int code = context.Connect()) return code;
    std::vector<std::string> folder(pattern.begin(), pattern.end() - 1);
    std::vector<FolderEntry> entries;
    Outcome outcome = context.link.EnterFolder(folder, &entries);
    if (!outcome.ok) return context.Fail(outcome);
    std::erase_if(entries, [&](const FolderEntry &entry) {
        return !MatchesWildcard(DeviceToTerminal(pattern.back()), DeviceToTerminal(entry.name));
    });
    if (entries.empty())
        return context.Fail(Outcome::Failed(0, "nothing on the phone matches " + JoinDevicePath(pattern)));
    return EmitListing(context, pattern, entries);
}

}  // namespace

int RefuseBadName(Context &context, const char *command, const std::vector<std::string> &parts, bool wildcardLast) {
    return context.FailInput(command, CheckPhonePath(parts, wildcardLast));
}

int RefuseUnlistableFolder(Context &context, const char *command, const std::vector<std::string> &folder) {
    return context.FailInput(command, CheckListableFolder(folder));
}

int CmdInfo(Context &context) {
    if (int code = context.Connect()) return code;
    Capability capability;
    Outcome outcome = context.link.ReadCapability(&capability);
    if (!outcome.ok) return context.Fail(outcome);

    std::string model = DeviceToTerminal(capability.model);
    std::string text = "Model:         " + model + "\nManufacturer:  " + DeviceToTerminal(capability.manufacturer) +
                       "\nPhone number:  " + DeviceToTerminal(capability.phoneNumber) + "\n\n";
    Table table({"TYPE", "LOCATION", "FREE", "USED", "TOTAL"});
    for (size_t column = 2; column < 5; ++column) table.AlignRight(column);
    nlohmann::json memories = nlohmann::json::array();
    for (const Memory &memory : capability.memories) {
        std::string location = memory.location == "0" ? "(object store)" : DeviceToTerminal(memory.location);
        table.Add({memory.type, location, HumanSize(memory.freeBytes), HumanSize(memory.usedBytes),
                   HumanSize(memory.TotalBytes())});
        memories.push_back({{"type", memory.type},
                            {"location", DeviceToTerminal(memory.location)},
                            {"free", memory.freeBytes},
                            {"used", memory.usedBytes},
                            {"total", memory.TotalBytes()}});
    }
    nlohmann::json document = {{"model", model},
                               {"manufacturer", DeviceToTerminal(capability.manufacturer)},
                               {"phoneNumber", DeviceToTerminal(capability.phoneNumber)},
                               {"memories", memories}};
    context.Emit(text + table.Render(), document);
    return kExitOk;
}

int CmdList(Context &context, const std::string &path) {
    std::vector<std::string> folder = context.ResolveDevicePath(path);
    if (!folder.empty() && HasWildcard(folder.back())) return ListMatches(context, folder);
    if (int code = RefuseBadName(context, "ls", folder)) return code;
    if (int code = context.Connect()) return code;
    std::vector<FolderEntry> entries;
    Outcome outcome = context.link.EnterFolder(folder, &entries);
    if (!outcome.ok && !folder.empty()) {
        // A file is listed as its own entry, from its folder's listing.
        std::string name = folder.back();
        std::vector<std::string> parent(folder.begin(), folder.end() - 1);
        std::vector<FolderEntry> siblings;
        if (context.link.EnterFolder(parent, &siblings).ok) {
            const FolderEntry *entry = FindEntry(siblings, name);
            if (entry && !entry->folder) {
                entries = {*entry};
                outcome = Outcome::Ok();
            } else if (!entry) {
                outcome = Outcome::Failed(0, "no such file or folder on the phone: " + JoinDevicePath(folder),
                                          ErrorKind::kNotFound);
            }
        }
    }
    if (!outcome.ok) return context.Fail(outcome);
    return EmitListing(context, folder, entries);
}

int CmdGet(Context &context, const std::string &remote, const std::string &local, TreeOptions options) {
    if (ManyFiles(remote, options)) return CmdGetMany(context, remote, local, options);
    std::vector<std::string> folder;
    std::string name;
    if (!SplitFilePath(context, remote, &folder, &name)) return context.FailUsage("get: name a file on the phone");
    if (int code = context.FailInput("get", CheckDownloadPath(context.ResolveDevicePath(remote)))) return code;
    DownloadTarget target;
    std::string error;
    if (!target.Prepare(local, DeviceToTerminal(name), &error)) return context.FailLocal("get: " + error);
    if (int code = context.Connect()) return code;

    FolderEntry entry;
    Outcome outcome = LocateFile(context.link, folder, name, &entry);
    if (!outcome.ok) return context.Fail(outcome);
    std::vector<std::string> shown = folder;
    shown.push_back(entry.name);

    Progress progress(DeviceToTerminal(name), entry.Size(), context.options.json, context.options.progress);
    const std::string &asked = SameDeviceName(entry.name, name) ? entry.name : name;  // a typed run of spaces
    outcome = DownloadByPhoneName(context.link, asked, target.TemporaryForPlugin(),
                                  [&](uint64_t bytes) { progress.Add(bytes); });
    progress.Finish(outcome.ok);
    // The plug-in answers a PC disk that refused the bytes as a failure on the phone.
    if (!outcome.ok && !context.link.Interrupted() && target.ShortOfSpace(uint32_t(entry.size), &error))
        return context.FailLocal("get: " + error, ErrorKind::kNoRoomOnPc);
    if (!outcome.ok) return context.Fail(outcome);
    if (!target.Commit(&error)) return context.FailLocal("get: " + error);
    if (options.keepTimes && local != "-" && !KeepPhoneTime(target.Destination(), entry, &error))
        return context.FailLocal("get: " + error);
    context.jsonToStderr = local == "-";  // standard output carries the file
    context.Emit("", {{"remote", Shown(shown)}, {"local", target.Destination()}, {"bytes", target.Bytes()}});
    return kExitOk;
}

int CmdPut(Context &context, const std::string &local, const std::string &remote, bool report, const char *command) {
    const std::string verb = command;
    std::vector<std::string> folder = context.ResolveDevicePath(remote);
    std::string name = local == "-" ? std::string() : TerminalToDeviceName(LocalPath(local).filename().string());
    bool namesFolder = remote.empty() || remote.back() == '/' || remote.back() == '\\';
    if (!namesFolder && !folder.empty()) {
        name = folder.back();
        folder.pop_back();
    }
    if (name.empty())
        return context.FailUsage(verb + ": name the file on the phone (REMOTE) when reading standard input");
    if (int code = RefuseStoredName(context, command, folder, name)) return code;
    UploadSource source;
    std::string error;
    if (!source.Prepare(local, &error)) return context.FailLocal(verb + ": " + error);
    if (int code = context.LockPhoneForWriting(command)) return code;
    if (int code = context.Connect()) return code;

    std::vector<FolderEntry> entries;
    Outcome outcome = context.link.EnterFolder(folder, &entries);
    const FolderEntry *existing = outcome.ok ? FindEntry(entries, name) : nullptr;
    if (existing && existing->folder && !namesFolder) {
        // An existing folder named without a final slash: the file goes into it, as cp takes it.
        if (local == "-")
            return context.FailUsage(verb + ": name the file inside " + Shown(folder) + "\\" +
                                     DeviceToTerminal(existing->name) + " for standard input");
        folder.push_back(existing->name);
        name = TerminalToDeviceName(LocalPath(local).filename().string());
        if (int code = RefuseStoredName(context, command, folder, name)) return code;
        outcome = context.link.EnterFolder(folder, &entries);
        existing = outcome.ok ? FindEntry(entries, name) : nullptr;
    }
    std::vector<std::string> target = folder;
    target.push_back(name);
    if (outcome.ok) outcome = CheckRoom(context.link, target, source.Size(), existing);
    if (!outcome.ok) return context.Fail(outcome);
    if (name.size() > kMaxDownloadName)
        std::fprintf(ConsoleErr(),
                     "cebridge: %s: note: %s has a name of %zu bytes; get and backup fetch names of at most %zu "
                     "bytes, so it cannot come back to a PC under this name\n",
                     command, Shown(target).c_str(), name.size(), kMaxDownloadName);

    Progress progress(source.Shown(), source.Size(), context.options.json, context.options.progress);
    outcome = UploadWhole(context.link, source, name, FindEntry(entries, name), progress);
    progress.Finish(outcome.ok);
    if (!outcome.ok && existing && !existing->folder)
        outcome = SayWhenRefused(context.link, folder, *existing, outcome);
    if (!outcome.ok) return context.Fail(outcome);
    if (report) context.Emit("", {{"local", source.Shown()}, {"remote", Shown(target)}, {"bytes", source.Size()}});
    return kExitOk;
}

int CmdRemove(Context &context, const std::string &remote, TreeOptions options) {
    if (ManyFiles(remote, options)) return CmdRemoveMany(context, remote, options);
    std::vector<std::string> folder;
    std::string name;
    if (!SplitFilePath(context, remote, &folder, &name)) return context.FailUsage("rm: name a file on the phone");
    if (int code = RefuseBadName(context, "rm", context.ResolveDevicePath(remote))) return code;
    if (int code = context.LockPhoneForWriting("rm")) return code;
    if (int code = context.Connect()) return code;
    FolderEntry entry;
    Outcome outcome = LocateFile(context.link, folder, name, &entry);
    if (outcome.ok) outcome = context.link.RemoveFile(entry.name);
    if (!outcome.ok && outcome.status == ST_BAD_PARAMETER)
        outcome = SayWhenRefused(context.link, folder, entry, outcome);
    if (!outcome.ok) return context.Fail(outcome);
    folder.push_back(entry.name);
    context.Emit("", {{"removed", Shown(folder)}});
    return kExitOk;
}

int CmdMakeDirectory(Context &context, const std::string &remote) {
    std::vector<std::string> folder = context.ResolveDevicePath(remote);
    if (folder.empty()) return context.FailUsage("mkdir: name a folder on the phone");
    if (int code = RefuseUnlistableFolder(context, "mkdir", folder)) return code;
    if (int code = context.LockPhoneForWriting("mkdir")) return code;
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.MakeFolders(folder);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("", {{"created", Shown(folder)}});
    return kExitOk;
}

int CmdInstall(Context &context, const std::string &package) {
    // An absolute path names a phone file unless it, or its folder, is on the PC.
    std::error_code error;
    const fs::path onDisk = LocalPath(package), parent = onDisk.parent_path();
    bool onPc = fs::exists(onDisk, error) || (parent.has_relative_path() && fs::is_directory(parent, error));
    bool onPhone = !package.empty() && (package[0] == '/' || package[0] == '\\') && !onPc;
    std::string devicePath;
    if (!onPhone) {
        // A local package goes to the phone's root folder first.
        std::string name = onDisk.filename().string();
        if (int code = CmdPut(context, package, "/" + name, false, "install")) return code;
        devicePath = "\\" + TerminalToDeviceName(name);
    } else {
        std::vector<std::string> path = context.ResolveDevicePath(package);
        if (path.empty()) return context.FailUsage("install: name a package file");
        if (int code = RefuseBadName(context, "install", path)) return code;
        if (int code = context.Connect()) return code;
        FolderEntry entry;
        std::string name = path.back();
        path.pop_back();
        Outcome outcome = LocateFile(context.link, path, name, &entry);
        if (!outcome.ok) return context.Fail(outcome);
        path.push_back(entry.name);
        devicePath = JoinDevicePath(path);
    }
    Outcome outcome = context.link.Install(devicePath);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("installer started for " + DeviceToTerminal(devicePath) + "\n",
                 {{"installing", DeviceToTerminal(devicePath)}});
    return kExitOk;
}

int CmdApps(Context &context) {
    if (int code = context.Connect()) return code;
    std::vector<ContentItem> items;
    Outcome outcome = context.link.Listing("WG-REGISTRY", &items);
    if (!outcome.ok) return context.Fail(outcome);
    Table table({"APPLICATION", "VERSION"});
    nlohmann::json packages = nlohmann::json::array();
    for (const ContentItem &item : items) {
        table.Add({DeviceToTerminal(item.id), DeviceToTerminal(item.version)});
        packages.push_back({{"id", DeviceToTerminal(item.id)}, {"version", DeviceToTerminal(item.version)}});
    }
    // The phone keeps one package's identifier and version, and its listing leaves the
    // package out when either is empty: an empty list does not prove none is there.
    const std::string unlisted =
        "no package listed (the phone lists its one package only when the package "
        "names both an identifier and a version)";
    if (items.empty())
        context.Emit(unlisted + "\n", {{"packages", packages}, {"note", unlisted}});
    else
        context.Emit(table.Render(), {{"packages", packages}});
    return kExitOk;
}

int CmdChangeDirectory(Context &context, const std::string &path) {
    std::vector<std::string> folder = context.ResolveDevicePath(path.empty() ? "/" : path);
    if (int code = RefuseUnlistableFolder(context, "cd", folder)) return code;
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.EnterFolder(folder);
    if (!outcome.ok) return context.Fail(outcome);
    context.currentFolder = folder;
    context.Emit("", {{"path", Shown(folder)}});
    return kExitOk;
}

int CmdPrintDirectory(Context &context) {
    context.Emit(Shown(context.currentFolder) + "\n", {{"path", Shown(context.currentFolder)}});
    return kExitOk;
}

}  // namespace host
