// The routes of backups: make one, check one, put one back on the phone.
#include <string>

#include "backup.h"
#include "local_files.h"
#include "pc_setup.h"
#include "serve_api.h"
#include "shortfall.h"

namespace host::serve {
namespace {

namespace fs = std::filesystem;

// Everything the phone lacks of a generation (the latest for "") goes back on it.
void Restore(PhoneRoutes &routes, BackupFolder &backup, const std::string &name, httplib::Response &response) {
    fs::path generation;
    Manifest manifest;
    if (Outcome read = ReadBackupGeneration(backup, name, &generation, &manifest); !read.ok)
        return ReplyFailure(response, "restore", read);
    routes.Respond(
        response, "restore", Access::Writes("phone"),
        [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
            ItemSink items;
            return RestoreBackup(session, generation, manifest, {true, true, true}, sink, items, document);
        },
        RestoreShortfall);
}

// The folder's generations, oldest first, each with the parts its backup could not
// read ("unread": [{"part", "why"}]): a restore of it cannot put those back.
void ListGenerations(BackupFolder &backup, httplib::Response &response) {
    nlohmann::json document;
    if (Outcome listed = ListBackups(backup, &document); !listed.ok)
        return ReplyFailure(response, "backup --list", listed);
    for (nlohmann::json &generation : document["generations"]) {
        fs::path folder;
        Manifest manifest;
        const bool read = ReadBackupGeneration(backup, generation["name"], &folder, &manifest).ok;
        generation["unread"] = read ? manifest.unread : std::vector<UnreadPart>{};
    }
    web::SendJson(response, 200, document);
}

// {"folder": PATH, "action": "backup"|"list"|"verify"|"restore", "generation": NAME}:
// a backup of the whole phone into a PC folder, its generations, the check of one,
// or putting one back (the latest when no generation is named).
void Backup(PhoneRoutes &routes, const std::string &body, httplib::Response &response) {
    const nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
    const auto text = [&](const char *name, const char *otherwise) -> std::string {
        if (!request.is_object() || !request.contains(name)) return otherwise;
        return request[name].is_string() ? request[name].get<std::string>() : "";
    };
    const std::string action = text("action", "backup");
    std::string folder = text("folder", "");
    const std::string generation = text("generation", "");
    const bool known = action == "backup" || action == "list" || action == "verify" || action == "restore";
    if (folder.empty() || !known || (request.contains("generation") && generation.empty()))
        return web::SendError(response, 400,
                              R"(send {"folder": PATH, "action": "backup"|"list"|"verify"|"restore", )"
                              R"("generation": NAME (for verify and restore; the latest when not given)})");
    // The server's working folder is nowhere a user of the page can see: a folder is
    // a full path of this PC, or one in the home folder (~/...).
    if (folder == "~" || folder.rfind("~/", 0) == 0) {
        const std::string home = Environment("HOME");
        if (home.empty()) return web::SendError(response, 400, "no home folder (HOME) to put ~ in: give a full path");
        folder = home + folder.substr(1);
    }
    if (!fs::path(LocalPath(folder)).is_absolute())
        return web::SendError(response, 400,
                              "give the backup folder as a full path of this PC, or as ~/...: " + folder +
                                  " would be relative to the server's working folder");
    BackupFolder backup(folder);
    ProcessLock lock;
    const char *command = action == "verify" ? "backup --verify" : action == "list" ? "backup --list" : action.c_str();
    if (Outcome locked = LockBackupFolder(backup, &lock); !locked.ok) return ReplyFailure(response, command, locked);
    if (action == "verify") {
        nlohmann::json report;  // (a backup that does not match its manifest is an answer, not a failure)
        const Outcome outcome = VerifyBackup(backup, generation, &report);
        return outcome.ok ? web::SendJson(response, 200, report) : ReplyFailure(response, command, outcome);
    }
    if (action == "list") return ListGenerations(backup, response);
    if (action == "restore") return Restore(routes, backup, generation, response);
    if (Outcome prepared = backup.PrepareForBackup(); !prepared.ok) return ReplyFailure(response, command, prepared);
    // A backup that left files out is made all the same: its summary names them.
    routes.Respond(
        response, command, Access::Reads(),
        [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
            BackupResult result;
            const Outcome outcome = MakeBackup(session, backup, false, 0, sink, &result);
            *document = result.summary;
            return outcome;
        },
        BackupShortfall);
}
}  // namespace

void AddBackupRoutes(web::Server &server, PhoneRoutes &routes) {
    server.Http().Post("/api/backup", [&routes](const httplib::Request &request, httplib::Response &response) {
        Backup(routes, request.body, response);
    });
}

}  // namespace host::serve
