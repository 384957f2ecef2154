// A backup folder holds generations: each a whole backup of the phone (manifest.json,
// files/, contacts.vcf...) in a folder named for the UTC time it was made
// (2026-12-08T112233Z), unchanged files shared between generations as hard links.
// A backup is made in `unfinished` and becomes a generation by one rename once it is
// whole; latest.json, written beside and renamed over the old one, then names it.
// latest.json also marks the folder as cebridge's: no other folder is written into.
#ifndef CEBRIDGE_HOST_BACKUP_FOLDER_H
#define CEBRIDGE_HOST_BACKUP_FOLDER_H

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "outcome.h"

namespace host {

// A JSON object file; false when it is missing, unreadable or not an object.
bool ReadJsonFile(const std::filesystem::path &path, nlohmann::json *document);
// Writes the file whole: a temporary beside it, renamed over it.
Outcome WriteJsonFile(const std::filesystem::path &path, const nlohmann::json &document);

class BackupFolder {
public:
    // `typed`: the folder as the user named it (a link to a folder is followed).
    explicit BackupFolder(const std::string &typed);

    const std::filesystem::path &Path() const { return m_root; }
    std::filesystem::path Unfinished() const { return m_root / "unfinished"; }

    // Before a backup: a new or empty folder becomes a backup folder; what a killed
    // run left is cleared. kPcFile: the folder is not a backup of cebridge's, or the PC
    // failed.
    Outcome PrepareForBackup();

    // The whole generations, oldest first.
    std::vector<std::string> Generations() const;
    // The latest whole generation, "" when there is none yet.
    std::string Latest() const;
    // The folder generation `name` (the latest for "") is read from.
    Outcome Choose(const std::string &name, std::filesystem::path *folder) const;

    // Makes the unfinished backup a generation, named *name, and the latest unless
    // `latest` is false (a backup that holds less than the latest: the latest stays).
    Outcome Finish(std::string *name, bool latest = true);
    // Removes the generations older than the `keep` newest (the latest always stays)
    // that `mayRemove` lets go; *held: those it kept.
    Outcome Prune(size_t keep, const std::function<bool(const std::string &)> &mayRemove,
                  std::vector<std::string> *removed, std::vector<std::string> *held);

private:
    std::filesystem::path Marker() const { return m_root / "latest.json"; }
    void RemoveLeftovers();

    std::filesystem::path m_root;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_BACKUP_FOLDER_H
