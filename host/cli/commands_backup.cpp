// backup, backup --verify, backup --list and restore: the core's backup (backup.h)
// printed as the command line says it.
#include <cstdio>

#include "backup.h"
#include "commands.h"
#include "progress.h"
#include "shortfall.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// A failure of the core's backup or restore, named by the command.
int Failed(Context &context, const char *command, const Outcome &outcome) {
    if (IsPcFailure(outcome.kind))
        return context.FailLocal(std::string(command) + ": " + outcome.message, outcome.kind);
    Outcome named = outcome;  // (its note too: what was done about the failure, a partial file left)
    named.message = std::string(command) + ": " + outcome.message;
    return context.Fail(named);
}

int Backup(Context &context, BackupFolder &folder, const BackupOptions &options) {
    if (Outcome prepared = folder.PrepareForBackup(); !prepared.ok) return context.FailOperation("backup", prepared);
    if (int code = context.Connect()) return code;
    Progress progress(context.options.json, context.options.progress);
    BackupResult result;
    Outcome outcome = MakeBackup(context, folder, options.acceptFewer, options.keep, progress, &result, options.force);
    nlohmann::json &summary = result.summary;
    if (!summary.contains("generation")) {  // (no generation was made)
        int code = Failed(context, "backup", outcome);
        std::fprintf(ConsoleErr(),
                     "cebridge: backup: the latest backup in %s stays as it was; the files copied so far wait in %s "
                     "and the next backup continues from them\n",
                     folder.Path().string().c_str(), folder.Unfinished().string().c_str());
        return code;
    }
    for (const nlohmann::json &skipped : summary["skipped"])
        std::fprintf(ConsoleErr(), "cebridge: backup: left out %s\n", skipped.get<std::string>().c_str());
    for (const nlohmann::json &path : summary["gone"])
        std::fprintf(ConsoleErr(), "cebridge: backup: no longer on the phone, so not in this backup: %s\n",
                     path.get<std::string>().c_str());
    for (const nlohmann::json &store : summary["notPresent"])
        std::fprintf(ConsoleErr(),
                     "cebridge: backup: %s is not on the phone now, so its files are not in this backup; the "
                     "earlier generations keep them\n",
                     store.get<std::string>().c_str());
    if (!outcome.ok) return Failed(context, "backup", outcome);  // (an older one was not removed)
    const nlohmann::json &counts = summary["counts"];
    std::string text = "backed up " + counts["files"].dump() + " files (" + HumanSize(counts["bytes"].get<uint64_t>()) +
                       "; " + summary["copied"].dump() + " copied, " + summary["unchanged"].dump() +
                       " unchanged) into " + (folder.Path() / summary["generation"].get<std::string>()).string() +
                       "\n" + result.mayBeCutText;
    for (const nlohmann::json &name : summary["removed"])
        text += "removed the older backup " + name.get<std::string>() + " (--keep)\n";
    for (const nlohmann::json &name : summary["held"])
        text += "kept the older backup " + name.get<std::string>() +
                ": it holds the last copy of files the phone lacks now (--force removes it)\n";
    for (const nlohmann::json &left : summary["unread"])
        if (left["part"].get<std::string>().rfind("files/", 0) != 0)  // (phone files: named above, left out)
            std::fprintf(ConsoleErr(), "cebridge: backup: not in this backup: %s: %s\n",
                         left["part"].get<std::string>().c_str(), left["why"].get<std::string>().c_str());
    const Outcome shortfall = BackupShortfall(summary);
    const int code = shortfall.ok ? kExitOk : context.Fail(shortfall);
    context.Emit(text, summary);
    return code;
}

int Verify(Context &context, BackupFolder &backup, const std::string &generation) {
    nlohmann::json report;
    Outcome outcome = VerifyBackup(backup, generation, &report);
    if (!outcome.ok) return context.FailLocal("backup --verify: " + outcome.message);
    if (!report["verified"].get<bool>()) {
        for (const nlohmann::json &problem : report["problems"])
            std::fprintf(ConsoleErr(), "cebridge: %s\n", problem.get<std::string>().c_str());
        context.Emit("", report);
        return kExitFailed;
    }
    context.Emit("all " + report["files"].dump() + " files of " +
                     (backup.Path() / report["generation"].get<std::string>()).string() + " match the manifest\n",
                 report);
    return kExitOk;
}

uint64_t Count(const nlohmann::json &counts, const char *key) {
    auto value = counts.find(key);
    return value != counts.end() && value->is_number_unsigned() ? value->get<uint64_t>() : 0;
}

int List(Context &context, BackupFolder &backup) {
    nlohmann::json document;
    Outcome outcome = ListBackups(backup, &document);
    if (!outcome.ok) return context.FailLocal("backup --list: " + outcome.message);
    std::string text;
    for (const nlohmann::json &generation : document["generations"]) {
        const nlohmann::json &held = generation["counts"];
        const std::string name = generation["name"];
        text += name + "  " + generation["time"].get<std::string>() + "  " + std::to_string(Count(held, "files")) +
                " files (" + HumanSize(Count(held, "bytes")) + "), " + std::to_string(Count(held, "contacts")) +
                " contacts, " + std::to_string(Count(held, "appointments")) + " appointments" +
                (name == document["latest"] ? "  (latest)" : "") + "\n";
    }
    context.Emit(text, document);
    return kExitOk;
}

int LockFolder(Context &context, const char *command, const BackupFolder &folder, ProcessLock *lock) {
    Outcome outcome = LockBackupFolder(folder, lock);
    return outcome.ok ? kExitOk : Failed(context, command, outcome);
}

}  // namespace

int CmdBackup(Context &context, const std::string &typed, const BackupOptions &options) {
    const char *command = options.verify ? "backup --verify" : options.list ? "backup --list" : "backup";
    if (!options.generation.empty() && !options.verify)
        return context.FailUsage("backup: --generation chooses what --verify reads; a backup always makes a new one");
    if (options.force && options.keep == 0)
        return context.FailUsage("backup: --force goes with --keep (it lets --keep remove the last copy of a file)");
    if (options.keep > 0 && (options.verify || options.list))
        return context.FailUsage(std::string(command) + ": --keep goes with a backup only");
    BackupFolder folder(typed);
    ProcessLock lock;
    if (int code = LockFolder(context, command, folder, &lock)) return code;
    if (options.list) return List(context, folder);
    return options.verify ? Verify(context, folder, options.generation) : Backup(context, folder, options);
}

int CmdRestore(Context &context, const std::string &typed, RestoreParts parts, const std::string &generation) {
    BackupFolder backup(typed);
    ProcessLock lock;
    if (int code = LockFolder(context, "restore", backup, &lock)) return code;
    if (!parts.files && !parts.contacts && !parts.calendar) parts = {true, true, true};
    fs::path folder;
    Manifest manifest;
    Outcome outcome = ReadBackupGeneration(backup, generation, &folder, &manifest);
    if (!outcome.ok) return context.FailLocal("restore: " + outcome.message);
    if (parts.files)
        if (int code = context.LockPhoneForWriting("restore")) return code;
    if (int code = context.Connect()) return code;
    Progress files(context.options.json, context.options.progress);
    ItemProgress items(context.options.json, context.options.progress);
    nlohmann::json report;
    outcome = RestoreBackup(context, folder, manifest, parts, files, items, &report);
    if (!outcome.ok) return Failed(context, "restore", outcome);
    std::string text;
    if (report.contains("files"))
        text += "files: " + report["files"]["restored"].dump() + " restored (" + report["files"]["replacedCut"].dump() +
                " of them over a file an interrupted restore left cut), " + report["files"]["kept"].dump() +
                " already on the phone (kept); the restored files carry the time of the restore, not the "
                "backup's (the phone dates what it receives)\n";
    for (const char *key : {"contacts", "calendar"}) {
        if (!report.contains(key)) continue;
        for (const auto &remark : report[key]["remarks"])
            text += std::string(key) + ": " + remark.get<std::string>() + "\n";
        text += std::string(key) + ": " + report[key]["added"].dump() + " added, " + report[key]["skipped"].dump() +
                " already on the phone, " + report[key]["refused"].dump() + " refused\n";
    }
    for (const nlohmann::json &line : report["notRestored"])
        std::fprintf(ConsoleErr(), "cebridge: restore: not restored: %s\n", line.get<std::string>().c_str());
    const Outcome shortfall = RestoreShortfall(report);  // (items the phone refused among it, as in an import)
    const int code = shortfall.ok ? kExitOk : context.Fail(shortfall);
    context.Emit(text, report);
    return code;
}

}  // namespace host
