// The whole phone in a PC folder: a backup makes a generation (made whole before it
// becomes the latest; see backup_folder.h) of every file but the phone's system
// folder, its packages, contacts, appointments, calls and messages, copying only the
// files that changed since the latest; a verify checks a generation against its
// manifest; a restore puts back what the phone lacks. Failures with their kind;
// the PC's own are ErrorKind::kPcFile.
#ifndef CEBRIDGE_HOST_BACKUP_H
#define CEBRIDGE_HOST_BACKUP_H

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "backup_folder.h"
#include "phone_session.h"
#include "progress_sink.h"
#include "safeguards.h"

namespace host {

struct BackupResult {
    // {"counts", "copied", "unchanged", "skipped", "gone", "mayBeCut", "backup",
    // "generation", "removed"}: the document of `backup --json`. A backup with files
    // left out ("skipped") is made but is not a whole one, and removes no older one.
    nlohmann::json summary;
    std::string mayBeCutText;  // "FILE: what may have been cut" lines
};

// A new generation in `folder` (PrepareForBackup first) from the connected phone;
// `acceptFewer`: fewer contacts or appointments than the latest holds are meant;
// `keep`: the generations kept after a whole backup (0: all). A failure leaves the
// latest as it was and the copies made so far in folder.Unfinished(), where the
// next backup continues from them.
Outcome MakeBackup(PhoneSession &session, BackupFolder &folder, bool acceptFewer, size_t keep, TransferSink &sink,
                   BackupResult *result);

// The generation `name` (the latest for "") and its manifest, for reading.
Outcome ReadBackupGeneration(BackupFolder &backup, const std::string &name, std::filesystem::path *folder,
                             nlohmann::json *manifest);
// The generation `name` read for a restore: a generation that no longer matches its
// manifest (the differences in *problems) is not put on a phone (kPcFile).
Outcome ReadBackupForRestore(BackupFolder &backup, const std::string &name, std::filesystem::path *folder,
                             nlohmann::json *manifest, std::vector<std::string> *problems);
// What differs between a generation's folder and its manifest: "PATH: what", none when nothing.
std::vector<std::string> CheckBackup(const std::filesystem::path &folder, const nlohmann::json &manifest);
// {"backup", "generation", "files", "verified", "problems"} of one generation.
Outcome VerifyBackup(BackupFolder &backup, const std::string &generation, nlohmann::json *report);
// {"backup", "latest", "generations": [{"name", "time", "counts"}]}, oldest first.
Outcome ListBackups(BackupFolder &backup, nlohmann::json *document);

struct RestoreParts {
    bool files = false, contacts = false, calendar = false;
};
// What the phone lacks of a generation read with ReadBackupGeneration: its files
// (the phone's own stay), and its contacts and appointments (same name and first
// number, same title and start, stay). *report: {"generation", "files": {"restored",
// "kept"}, "contacts"/"calendar": {"added", "skipped", "refused", "notes", "items",
// "remarks"}}, the parts chosen.
Outcome RestoreBackup(PhoneSession &session, const std::filesystem::path &folder, const nlohmann::json &manifest,
                      const RestoreParts &parts, TransferSink &files, ItemSink &items, nlohmann::json *report);

// One process at a time uses a backup folder: kBusy while another does.
Outcome LockBackupFolder(const BackupFolder &folder, ProcessLock *lock);

}  // namespace host

#endif  // CEBRIDGE_HOST_BACKUP_H
