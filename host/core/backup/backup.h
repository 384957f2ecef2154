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
#include "manifest.h"
#include "phone_session.h"
#include "progress_sink.h"
#include "safeguards.h"

namespace host {

struct BackupResult {
    // {"counts", "copied", "unchanged", "skipped", "gone", "notPresent", "mayBeCut",
    // "backup", "generation", "removed", "held"}: the document of `backup --json`. A backup with files
    // left out ("skipped") is made but is not a whole one, and removes no older one.
    nlohmann::json summary;
    std::string mayBeCutText;  // "FILE: what may have been cut" lines
};

// A new generation in `folder` (PrepareForBackup first) from the connected phone;
// `acceptFewer`: fewer contacts or appointments than the latest holds are meant;
// `keep`: the generations kept after a whole backup (0: all), and older ones that
// hold the last copy of a file the phone lacks now ("held"), unless `force`. A
// failure leaves the latest as it was and the copies made so far in
// folder.Unfinished(), where the next backup continues from those it knows whole.
Outcome MakeBackup(PhoneSession &session, BackupFolder &folder, bool acceptFewer, size_t keep, TransferSink &sink,
                   BackupResult *result, bool force = false);

// The generation `name` (the latest for "") and its manifest, for reading.
Outcome ReadBackupGeneration(BackupFolder &backup, const std::string &name, std::filesystem::path *folder,
                             Manifest *manifest);
// What differs between a generation's folder and its manifest: "PATH: what", none when nothing.
std::vector<std::string> CheckBackup(const std::filesystem::path &folder, const Manifest &manifest);
// {"backup", "generation", "files", "verified", "problems"} of one generation.
Outcome VerifyBackup(BackupFolder &backup, const std::string &generation, nlohmann::json *report);
// {"backup", "latest", "generations": [{"name", "time", "counts"}]}, oldest first.
Outcome ListBackups(BackupFolder &backup, nlohmann::json *document);

struct RestoreParts {
    bool files = false, contacts = false, calendar = false;
};
// What the phone lacks of a generation read with ReadBackupGeneration: its files
// (the phone's own stay; a file an interrupted restore left cut is replaced), and
// its contacts and appointments (each on the phone with the same name and first
// number, or title and start, stands for one of the backup's). Each copy is checked
// against the manifest as it is restored: what does not match, or cannot go back
// (a store the phone lacks, a folder where a file was, a name the code page cannot
// say), is named in "notRestored" and the rest still goes back. *report:
// {"generation", "files": {"restored", "kept", "replacedCut", "timesKept"},
// "contacts"/"calendar": {"added", "skipped", "refused", "notes", "items",
// "remarks"}, "notRestored": ["PATH: why"]}, the parts chosen.
Outcome RestoreBackup(PhoneSession &session, const std::filesystem::path &folder, const Manifest &manifest,
                      const RestoreParts &parts, TransferSink &files, ItemSink &items, nlohmann::json *report);

// One process at a time uses a backup folder: kBusy while another does.
Outcome LockBackupFolder(const BackupFolder &folder, ProcessLock *lock);

}  // namespace host

#endif  // CEBRIDGE_HOST_BACKUP_H
