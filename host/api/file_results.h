// The documents of the phone's information, files and packages, as every front end
// answers them (`--json`, the web API).
#ifndef CEBRIDGE_HOST_FILE_RESULTS_H
#define CEBRIDGE_HOST_FILE_RESULTS_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "phone_operations.h"

namespace host {

// {"model", "manufacturer", "phoneNumber", "memories": [{"type", "location", "free", "used", "total"}]}
nlohmann::json InfoJson(const Capability &capability);
// {"name", "folder", "size", "modified", "created", "accessed"}
nlohmann::json FolderEntryJson(const FolderEntry &entry);
// {"path", "entries"}; a front end that streams a long listing prints ListingHead's
// members around the entries itself.
nlohmann::json ListingHead(const std::vector<std::string> &path);
nlohmann::json ListingJson(const std::vector<std::string> &path, const std::vector<FolderEntry> &entries);
nlohmann::json NewFolderJson(const std::vector<std::string> &folder);
// One file: {"removed": PATH}; many: {"removed": [PATH...], "foldersLeft": [PATH...]}
nlohmann::json RemovalJson(const Removal &removal);
// {"remote", "local", "bytes"}
nlohmann::json DownloadJson(const FoundFile &file, const DownloadTarget &target);
// {"local", "remote", "bytes"}
nlohmann::json UploadJson(const UploadSource &source, const std::vector<std::string> &stored);
nlohmann::json AppsJson(const std::vector<ContentItem> &packages);
nlohmann::json InstallJson(const std::string &installed);

}  // namespace host

#endif  // CEBRIDGE_HOST_FILE_RESULTS_H
