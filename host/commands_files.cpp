// Files and storage: info, ls, get, put, rm, mkdir, install, apps, cd, pwd.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "commands.h"
#include "progress.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// The protocol carries a downloaded file's name in a 32-byte field.
constexpr size_t kMaxDownloadName = 31;

std::string Shown(const std::vector<std::string> &parts) { return DeviceToTerminal(JoinDevicePath(parts)); }

nlohmann::json EntryJson(const FolderEntry &entry) {
    return {{"name", DeviceToTerminal(entry.name)}, {"folder", entry.folder}, {"size", entry.size},
            {"modified", ListingTimeToLocal(entry.modified)}, {"created", ListingTimeToLocal(entry.created)},
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
        memories.push_back({{"type", memory.type}, {"location", DeviceToTerminal(memory.location)},
                            {"free", memory.freeBytes}, {"used", memory.usedBytes}, {"total", memory.TotalBytes()}});
    }
    nlohmann::json document = {{"model", model}, {"manufacturer", DeviceToTerminal(capability.manufacturer)},
                               {"phoneNumber", DeviceToTerminal(capability.phoneNumber)}, {"memories", memories}};
    context.Emit(text + table.Render(), document);
    return kExitOk;
}

int CmdList(Context &context, const std::string &path) {
    if (int code = context.Connect()) return code;
    std::vector<std::string> folder = context.ResolveDevicePath(path);
    Outcome outcome = context.link.ChangeFolder(folder, false);
    std::vector<FolderEntry> entries;
    if (outcome.ok) outcome = context.link.ListFolder(&entries);
    if (!outcome.ok) return context.Fail(outcome);

    Table table({"", "NAME", "SIZE", "MODIFIED"});
    table.AlignRight(2);
    nlohmann::json items = nlohmann::json::array();
    for (const FolderEntry &entry : entries) {
        table.Add({entry.folder ? "d" : "-", DeviceToTerminal(entry.name),
                   entry.folder ? "" : HumanSize(uint64_t(uint32_t(entry.size))), ListingTimeToLocal(entry.modified)});
        items.push_back(EntryJson(entry));
    }
    context.Emit(table.Render(), {{"path", Shown(folder)}, {"entries", items}});
    return kExitOk;
}

int CmdGet(Context &context, const std::string &remote, const std::string &local) {
    std::vector<std::string> folder;
    std::string name;
    if (!SplitFilePath(context, remote, &folder, &name)) return context.FailUsage("get: name a file on the phone");
    if (name.size() > kMaxDownloadName)
        return context.FailUsage("get: the protocol carries file names of at most 31 bytes: " + DeviceToTerminal(name));
    fs::path target = local.empty() ? fs::path(DeviceToTerminal(name)) : fs::path(local);
    if (fs::is_directory(target)) target /= DeviceToTerminal(name);
    target = fs::absolute(target);
    if (!fs::is_directory(target.parent_path())) return context.FailLocal("get: no such local folder: " + target.parent_path().string());
    if (int code = context.Connect()) return code;

    Outcome outcome = context.link.ChangeFolder(folder, false);
    if (!outcome.ok) return context.Fail(outcome);
    Progress progress(DeviceToTerminal(name), 0, context.options.json, context.options.progress);
    outcome = context.link.Download(name, target.string(), [&](uint64_t bytes) { progress.Add(bytes); });
    progress.Finish(outcome.ok);
    if (!outcome.ok) return context.Fail(outcome);
    std::error_code error;
    uint64_t size = fs::file_size(target, error);
    context.Emit("", {{"remote", Shown(folder) + (folder.empty() ? "" : "\\") + DeviceToTerminal(name)},
                      {"local", target.string()}, {"bytes", size}});
    return kExitOk;
}

int CmdPut(Context &context, const std::string &local, const std::string &remote) {
    fs::path source = fs::absolute(local);
    std::ifstream probe(source, std::ios::binary);
    if (!probe || fs::is_directory(source)) return context.FailLocal("put: cannot read " + local);
    std::vector<std::string> folder = context.ResolveDevicePath(remote);
    std::string name = TerminalToDevice(source.filename().string());
    bool namesFolder = remote.empty() || remote.back() == '/' || remote.back() == '\\';
    if (!namesFolder && !folder.empty()) {
        name = folder.back();
        folder.pop_back();
    }
    if (int code = context.Connect()) return code;

    Outcome outcome = context.link.ChangeFolder(folder, false);
    if (!outcome.ok) return context.Fail(outcome);
    uint64_t total = fs::file_size(source);
    Progress progress(source.filename().string(), total, context.options.json, context.options.progress);
    outcome = context.link.Upload(source.string(), name, [&](uint64_t bytes) { progress.Add(bytes); });
    if (outcome.ok && progress.Done() < total) progress.Add(total - progress.Done());
    progress.Finish(outcome.ok);
    if (!outcome.ok) return context.Fail(outcome);
    std::vector<std::string> target = folder;
    target.push_back(name);
    context.Emit("", {{"local", source.string()}, {"remote", Shown(target)}, {"bytes", total}});
    return kExitOk;
}

int CmdRemove(Context &context, const std::string &remote) {
    std::vector<std::string> folder;
    std::string name;
    if (!SplitFilePath(context, remote, &folder, &name)) return context.FailUsage("rm: name a file on the phone");
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.ChangeFolder(folder, false);
    if (outcome.ok) outcome = context.link.DeleteFile(name);
    if (!outcome.ok) return context.Fail(outcome);
    folder.push_back(name);
    context.Emit("", {{"removed", Shown(folder)}});
    return kExitOk;
}

int CmdMakeDirectory(Context &context, const std::string &remote) {
    std::vector<std::string> folder = context.ResolveDevicePath(remote);
    if (folder.empty()) return context.FailUsage("mkdir: name a folder on the phone");
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.ChangeFolder(folder, true);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("", {{"created", Shown(folder)}});
    return kExitOk;
}

int CmdInstall(Context &context, const std::string &package) {
    std::string devicePath;
    if (fs::is_regular_file(package)) {
        // A local package goes to the phone's root folder first.
        std::string name = TerminalToDevice(fs::path(package).filename().string());
        if (int code = CmdPut(context, package, "/" + fs::path(package).filename().string())) return code;
        devicePath = "\\" + name;
    } else {
        devicePath = JoinDevicePath(context.ResolveDevicePath(package));
    }
    if (int code = context.Connect()) return code;
    Outcome outcome = context.link.Install(devicePath);
    if (!outcome.ok) return context.Fail(outcome);
    context.Emit("installer started for " + DeviceToTerminal(devicePath) + "\n", {{"installing", DeviceToTerminal(devicePath)}});
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
    context.Emit(table.Render(), {{"packages", packages}});
    return kExitOk;
}

int CmdChangeDirectory(Context &context, const std::string &path) {
    if (int code = context.Connect()) return code;
    std::vector<std::string> folder = context.ResolveDevicePath(path.empty() ? "/" : path);
    Outcome outcome = context.link.ChangeFolder(folder, false);
    if (!outcome.ok) return context.Fail(outcome);
    context.currentFolder = folder;
    return kExitOk;
}

int CmdPrintDirectory(Context &context) {
    context.Emit(Shown(context.currentFolder) + "\n", {{"path", Shown(context.currentFolder)}});
    return kExitOk;
}

}  // namespace host
