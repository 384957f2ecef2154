// Files and storage: info, ls, get, put, rm, mkdir, install, apps, cd, pwd.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "appointment_time.h"
#include "commands.h"
#include "file_results.h"
#include "file_tree.h"
#include "local_files.h"
#include "phone_files.h"
#include "phone_operations.h"
#include "progress.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// -r, or a wildcard in the last name: the command works on many files.
bool ManyFiles(const std::string &typed, const TreeOptions &options) {
    return RemovesMany(SplitDevicePath(typed), options.recursive);
}

// Only the form that is printed is built: a folder may hold 100,000 entries.
void EmitListing(Context &context, const std::vector<std::string> &path, const std::vector<FolderEntry> &entries) {
    if (context.WantsDocument())
        return context.EmitArray(ListingHead(path), "entries", entries.size(),
                                 [&](size_t i) { return FolderEntryJson(entries[i]); });
    Table table({"", "NAME", "SIZE", "MODIFIED"});
    table.AlignRight(2);
    // Printed row by row: a folder of 100,000 entries is not held again as text.
    context.EmitTable(table, entries.size(), [&](size_t i) {
        const FolderEntry &entry = entries[i];
        return std::vector<std::string>{entry.folder ? "d" : "-", DeviceToTerminal(entry.name),
                                        entry.folder ? "" : HumanSize(entry.Size()),
                                        ListingTimeToLocal(entry.modified)};
    });
}

// What an upload of `local` as the phone file `target` needs before its first byte:
// the name checked, the source open, the phone locked and connected.
int StartUpload(Context &context, const char *command, const std::string &local, const std::vector<std::string> &target,
                UploadSource *source) {
    if (int code = context.FailInput(command, CheckUpload(target))) return code;
    // Standard input is read once the phone's folder is known to be there: a user
    // must not pour data into a copy that cannot land.
    const bool fromStdin = local == "-";
    if (!fromStdin) {
        if (Outcome prepared = source->Prepare(local); !prepared.ok) return context.FailOperation(command, prepared);
    }
    if (int code = context.LockPhoneForWriting(command)) return code;
    if (int code = context.Connect()) return code;
    if (!fromStdin) return kExitOk;
    if (Outcome folder = context.link.EnterFolder({target.begin(), target.end() - 1}); !folder.ok)
        return context.Fail(folder);
    Outcome prepared = source->Prepare(local);
    return prepared.ok ? kExitOk : context.FailOperation(command, prepared);
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

    std::string text = "Model:         " + DeviceToTerminal(capability.model) +
                       "\nManufacturer:  " + DeviceToTerminal(capability.manufacturer) +
                       "\nPhone number:  " + DeviceToTerminal(capability.phoneNumber) + "\n\n";
    Table table({"TYPE", "LOCATION", "FREE", "USED", "TOTAL"});
    for (size_t column = 2; column < 5; ++column) table.AlignRight(column);
    for (const Memory &memory : capability.memories) {
        std::string location = memory.location == "0" ? "(object store)" : DeviceToTerminal(memory.location);
        table.Add({memory.type, location, HumanSize(memory.freeBytes), HumanSize(memory.usedBytes),
                   HumanSize(memory.TotalBytes())});
    }
    context.Emit(text + table.Render(), InfoJson(capability));
    return kExitOk;
}

int CmdList(Context &context, const std::string &path) {
    const std::vector<std::string> typed = context.ResolveDevicePath(path);
    if (int code = context.FailInput("ls", CheckListing(typed))) return code;
    if (int code = context.Connect()) return code;
    std::vector<FolderEntry> entries;
    Outcome outcome = ListPhonePath(context.link, typed, &entries);
    if (!outcome.ok) return context.Fail(outcome);
    EmitListing(context, typed, entries);
    return kExitOk;
}

int CmdGet(Context &context, const std::string &remote, const std::string &local, TreeOptions options) {
    if (ManyFiles(remote, options)) return CmdGetMany(context, remote, local, options);
    const std::vector<std::string> typed = context.ResolveDevicePath(remote);
    if (int code = context.FailInput("get", CheckDownload(typed))) return code;
    DownloadTarget target;
    if (Outcome prepared = target.Prepare(local, DeviceToTerminal(typed.back())); !prepared.ok)
        return context.FailOperation("get", prepared);
    if (int code = context.Connect()) return code;

    FoundFile file;
    Outcome outcome = FindDownload(context.link, typed, &file);
    if (!outcome.ok) return context.Fail(outcome);
    Progress progress(context.options.json, context.options.progress);
    outcome = DownloadFile(context.link, file, target, options.keepTimes, progress);
    if (!outcome.ok) return context.FailOperation("get", outcome);
    context.jsonToStderr = local == "-";  // standard output carries the file
    context.Emit("", DownloadJson(file, target));
    return kExitOk;
}

int CmdPut(Context &context, const std::string &local, const std::string &remote) {
    const std::string pcName =
        local == "-" ? std::string() : TerminalToDeviceName(LocalPath(local).filename().string());
    const std::vector<std::string> target = context.ResolveUploadTarget(remote, pcName);
    if (target.back().empty())
        return context.FailUsage("put: name the file on the phone (REMOTE) when reading standard input");
    UploadSource source;
    if (int code = StartUpload(context, "put", local, target, &source)) return code;
    Progress progress(context.options.json, context.options.progress);
    std::vector<std::string> stored;
    Outcome outcome = UploadFile(context.link, source, target, pcName, progress, &stored);
    if (!outcome.ok) return context.FailOperation("put", outcome);
    context.Emit("", UploadJson(source, stored));
    return kExitOk;
}

int CmdRemove(Context &context, const std::string &remote, TreeOptions options) {
    const std::vector<std::string> typed = context.ResolveDevicePath(remote);
    if (int code = context.FailInput("rm", CheckRemoval(typed, options.recursive))) return code;
    if (int code = context.LockPhoneForWriting("rm")) return code;
    if (int code = context.Connect()) return code;
    Removal removal;
    Outcome outcome = RemovePhoneFiles(context.link, typed, options.recursive, &removal);
    for (const std::string &folder : removal.leftOut)
        std::fprintf(ConsoleErr(), "cebridge: left out the folder %s (-r removes what folders hold)\n", folder.c_str());
    if (!outcome.ok && removal.many) {  // what was removed before it stopped stays removed: said
        outcome.note += (outcome.note.empty() ? "" : "; ") +
                        ("removed " + Counted(removal.removed.size(), "file", "files") + " before it stopped");
        const int code = context.FailOperation("rm", outcome);
        nlohmann::json document = RemovalJson(removal);
        document["error"] = FailureText("rm", outcome);
        document["exitCode"] = code;
        if (context.options.json) context.Emit("", document);
        return code;
    }
    if (!outcome.ok) return context.FailOperation("rm", outcome);
    std::string text;
    if (removal.many) {
        // The plug-in deletes files only: the folders stay, empty.
        text = "removed " + Counted(removal.removed.size(), "file", "files");
        if (!removal.foldersLeft.empty())
            text += "; " + Counted(removal.foldersLeft.size(), "folder stays", "folders stay") +
                    " (the phone's link deletes files only)";
        text += "\n";
    }
    context.Emit(text, RemovalJson(removal));
    return kExitOk;
}

int CmdMakeDirectory(Context &context, const std::string &remote) {
    const std::vector<std::string> folder = context.ResolveDevicePath(remote);
    if (int code = context.FailInput("mkdir", CheckNewFolder(folder))) return code;
    if (int code = context.LockPhoneForWriting("mkdir")) return code;
    if (int code = context.Connect()) return code;
    Outcome outcome = MakePhoneFolder(context.link, folder);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("", NewFolderJson(folder));
    return kExitOk;
}

int CmdInstall(Context &context, const std::string &package) {
    // An absolute path names a phone file unless it, or its folder, is on the PC.
    std::error_code error;
    const fs::path onDisk = LocalPath(package), parent = onDisk.parent_path();
    bool onPc = fs::exists(onDisk, error) || (parent.has_relative_path() && fs::is_directory(parent, error));
    bool onPhone = !package.empty() && (package[0] == '/' || package[0] == '\\') && !onPc;
    std::string installed;
    Outcome outcome;
    if (onPhone) {
        const std::vector<std::string> path = context.ResolveDevicePath(package);
        if (int code = context.FailInput("install", CheckPackagePath(path))) return code;
        if (int code = context.Connect()) return code;
        outcome = InstallPhonePackage(context.link, path, &installed);
    } else {
        // A local package goes to the phone's root folder first.
        const std::string name = onDisk.filename().string();
        UploadSource source;
        if (int code = StartUpload(context, "install", package, {TerminalToDeviceName(name)}, &source)) return code;
        Progress progress(context.options.json, context.options.progress);
        outcome = InstallPcPackage(context.link, source, name, progress, &installed);
    }
    if (!outcome.ok) return context.FailOperation("install", outcome);
    context.Emit("installer started for " + installed + "\n", InstallJson(installed));
    return kExitOk;
}

int CmdApps(Context &context) {
    if (int code = context.Connect()) return code;
    std::vector<ContentItem> items;
    Outcome outcome = ListApps(context.link, &items);
    if (!outcome.ok) return context.Fail(outcome);
    const nlohmann::json document = AppsJson(items);
    Table table({"APPLICATION", "VERSION"});
    for (const ContentItem &item : items) table.Add({DeviceToTerminal(item.id), DeviceToTerminal(item.version)});
    context.Emit(items.empty() ? document["note"].get<std::string>() + "\n" : table.Render(), document);
    return kExitOk;
}

int CmdChangeDirectory(Context &context, const std::string &path) {
    std::vector<std::string> folder = context.ResolveDevicePath(path.empty() ? "/" : path);
    if (int code = RefuseUnlistableFolder(context, "cd", folder)) return code;
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.EnterFolder(folder);
    if (!outcome.ok) return context.Fail(outcome);
    context.currentFolder = folder;
    context.Emit("", {{"path", ShownPath(folder)}});
    return kExitOk;
}

int CmdPrintDirectory(Context &context) {
    context.Emit(ShownPath(context.currentFolder) + "\n", {{"path", ShownPath(context.currentFolder)}});
    return kExitOk;
}

}  // namespace host
