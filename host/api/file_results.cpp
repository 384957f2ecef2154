#include "file_results.h"

#include "appointment_time.h"
#include "encoding.h"
#include "phone_files.h"

namespace host {

nlohmann::json InfoJson(const Capability &capability) {
    nlohmann::json memories = nlohmann::json::array();
    for (const Memory &memory : capability.memories)
        memories.push_back({{"type", memory.type},
                            {"location", DeviceToTerminal(memory.location)},
                            {"free", memory.freeBytes},
                            {"used", memory.usedBytes},
                            {"total", memory.TotalBytes()}});
    return {{"model", DeviceToTerminal(capability.model)},
            {"manufacturer", DeviceToTerminal(capability.manufacturer)},
            {"phoneNumber", DeviceToTerminal(capability.phoneNumber)},
            {"memories", memories},
            {"cebridge", CEBRIDGE_VERSION}};  // (this program's version, for reports and the page)
}

nlohmann::json FolderEntryJson(const FolderEntry &entry) {
    return {{"name", DeviceToTerminal(entry.name)},
            {"folder", entry.folder},
            {"size", entry.Size()},
            {"modified", ListingTimeToLocal(entry.modified)},
            {"created", ListingTimeToLocal(entry.created)},
            {"accessed", ListingTimeToLocal(entry.accessed)}};
}

nlohmann::json ListingHead(const std::vector<std::string> &path) { return {{"path", ShownPath(path)}}; }

nlohmann::json ListingJson(const std::vector<std::string> &path, const std::vector<FolderEntry> &entries) {
    nlohmann::json listing = ListingHead(path);
    nlohmann::json &items = listing["entries"] = nlohmann::json::array();
    for (const FolderEntry &entry : entries) items.push_back(FolderEntryJson(entry));
    return listing;
}

nlohmann::json NewFolderJson(const std::vector<std::string> &folder) { return {{"created", ShownPath(folder)}}; }

nlohmann::json RemovalJson(const Removal &removal) {
    if (!removal.many) return {{"removed", removal.removed.empty() ? "" : removal.removed[0]}};
    nlohmann::json folders = nlohmann::json::array();
    for (const auto &folder : removal.foldersLeft) folders.push_back(ShownPath(folder));
    return {{"removed", removal.removed}, {"foldersLeft", folders}};
}

nlohmann::json DownloadJson(const FoundFile &file, const DownloadTarget &target) {
    return {{"remote", ShownPath(file.Path())}, {"local", target.Destination()}, {"bytes", target.Bytes()}};
}

nlohmann::json UploadJson(const UploadSource &source, const std::vector<std::string> &stored) {
    return {{"local", source.Shown()}, {"remote", ShownPath(stored)}, {"bytes", source.Size()}};
}

nlohmann::json AppsJson(const std::vector<ContentItem> &packages) {
    nlohmann::json listed = nlohmann::json::array();
    for (const ContentItem &item : packages)
        listed.push_back({{"id", DeviceToTerminal(item.id)}, {"version", DeviceToTerminal(item.version)}});
    if (!packages.empty()) return {{"packages", listed}};
    // The phone keeps one package's identifier and version, and its listing leaves the
    // package out when either is empty: an empty list does not prove none is there.
    return {{"packages", listed},
            {"note",
             "no package listed (the phone lists its one package only when the package names both an "
             "identifier and a version)"}};
}

nlohmann::json InstallJson(const std::string &installed) { return {{"installing", installed}}; }

}  // namespace host
