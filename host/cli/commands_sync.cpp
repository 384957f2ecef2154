// `cebridge sync`: two-way sync of the phone's contacts and calendar with PC folders or
// a server's CardDAV/CalDAV collections (the core's sync.h); the pairs and their state
// live in the user's data folder.
#include <filesystem>
#include <memory>

#include "commands.h"
#include "local_files.h"
#include "progress.h"
#include "shortfall.h"
#include "sync_results.h"
#if defined(CEBRIDGE_HAVE_SYNC)
#include "sync.h"
#include "sync_dav.h"
#endif

namespace host {
namespace {

#if defined(CEBRIDGE_HAVE_SYNC)

struct SyncArguments {
    std::string name, contacts, calendar, conflict = "keep-both";
    std::string user, passwordFile, caFile;
    SyncOptions options;
};

// The state, or exit 3 with why not.
int OpenState(Context &context, SyncState &state) {
    const Outcome opened = state.Open(DefaultSyncStatePath());
    return opened.ok ? kExitOk : context.FailLocal("sync: " + opened.message);
}

// A folder that exists, or a collection's URL without a user or password in it.
int CheckPlace(Context &context, const std::string &place) {
    if (IsCollectionUrl(place)) {
        const Outcome usable = CheckCollectionUrl(place);
        return usable.ok ? kExitOk : context.FailUsage("sync add: " + place + ": " + usable.message);
    }
    std::error_code error;
    if (!place.empty() && !std::filesystem::is_directory(LocalPath(place), error))
        return context.FailLocal("sync add: " + place + ": no such folder");
    return kExitOk;
}

// A collection's account: its user, and the password file checked now (mode 0600).
int CheckAccount(Context &context, const SyncArguments &arguments) {
    const bool collection = IsCollectionUrl(arguments.contacts) || IsCollectionUrl(arguments.calendar);
    if (!collection && !(arguments.user.empty() && arguments.passwordFile.empty() && arguments.caFile.empty()))
        return context.FailUsage("sync add: --user, --password-file and --ca-file are for a collection's URL");
    if (collection && arguments.user.empty()) return context.FailUsage("sync add: a collection's URL needs --user");
    if (arguments.passwordFile.empty()) return kExitOk;
    std::string password;
    const Outcome read = ReadSyncPassword(arguments.passwordFile, &password);
    return read.ok ? kExitOk : context.FailLocal("sync add: " + read.message);
}

std::string Absolute(const std::string &place) {
    if (place.empty() || IsCollectionUrl(place)) return place;
    std::error_code ignored;
    return std::filesystem::absolute(LocalPath(place), ignored).string();
}

int CmdSyncAdd(Context &context, const SyncArguments &arguments) {
    if (arguments.contacts.empty() && arguments.calendar.empty())
        return context.FailUsage("sync add: name --contacts DIR|URL, --calendar DIR|URL or both");
    for (const std::string &place : {arguments.contacts, arguments.calendar})
        if (int code = CheckPlace(context, place)) return code;
    if (int code = CheckAccount(context, arguments)) return code;
    SyncState state;
    if (int code = OpenState(context, state)) return code;
    SyncPair pair;
    bool found = false;
    if (Outcome loaded = state.LoadPair(arguments.name, &pair, &found); !loaded.ok)
        return context.FailOperation("sync add", loaded);
    if (found) return context.FailUsage("sync add: a pair named " + arguments.name + " exists (sync rm it first)");
    pair = {arguments.name, Absolute(arguments.contacts),     Absolute(arguments.calendar), "",
            arguments.user, Absolute(arguments.passwordFile), Absolute(arguments.caFile)};
    if (Outcome saved = state.SavePair(pair); !saved.ok) return context.FailOperation("sync add", saved);
    context.Emit("added sync pair " + pair.name + "\n", SyncPairJson(pair));
    return kExitOk;
}

int CmdSyncList(Context &context) {
    SyncState state;
    if (int code = OpenState(context, state)) return code;
    std::vector<SyncPair> pairs;
    if (Outcome listed = state.Pairs(&pairs); !listed.ok) return context.FailOperation("sync list", listed);
    std::string text;
    nlohmann::json list = nlohmann::json::array();
    for (const SyncPair &pair : pairs) {
        auto line = [](const char *label, const std::string &value) {
            return value.empty() ? std::string() : "  " + std::string(label) + value + "\n";
        };
        text += pair.name + "\n" + line("contacts  ", pair.contacts) + line("calendar  ", pair.calendar) +
                line("user      ", pair.user) + line("password  ", pair.passwordFile) +
                line("CA file   ", pair.caFile) + "  phone     " +
                (pair.phone.empty() ? "(not synced yet)" : pair.phone) + "\n";
        list.push_back(SyncPairJson(pair));
    }
    context.Emit(text, {{"pairs", list}});
    return kExitOk;
}

int CmdSyncRemove(Context &context, const std::string &name) {
    SyncState state;
    if (int code = OpenState(context, state)) return code;
    SyncPair pair;
    bool found = false;
    Outcome removed = state.LoadPair(name, &pair, &found);
    if (removed.ok && found) removed = state.RemovePair(name);
    if (!removed.ok) return context.FailOperation("sync rm", removed);
    if (!found) return context.Fail(Outcome::Failed(0, "sync rm: no sync pair named " + name, ErrorKind::kNotFound));
    context.Emit("removed sync pair " + name + " (its folders and the phone keep their items)\n", {{"removed", name}});
    return kExitOk;
}

std::string ReportText(const SyncReport &report) {
    std::string text;
    for (const SyncAction &done : report.actions)
        text += (report.dryRun ? "would " : "") + done.action + " on the " + done.side + ": " + done.kind + " \"" +
                done.item + "\" (" + done.why + ")\n";
    for (const std::string &note : report.notes) text += note + "\n";
    return text + std::to_string(report.actions.size()) + (report.dryRun ? " changes planned" : " changes") + ", " +
           std::to_string(report.unchanged) + " unchanged, " + std::to_string(report.conflicts) +
           " conflicts (policy " + ConflictPolicyName(report.conflict) + ")\n";
}

int CmdSync(Context &context, SyncArguments arguments) {
    if (arguments.name.empty()) return context.FailUsage("sync: name the pair (sync list shows them)");
    if (!ParseConflictPolicy(arguments.conflict, &arguments.options.conflict))
        return context.FailUsage("sync: --conflict is phone, pc or keep-both");
    SyncState state;
    if (int code = OpenState(context, state)) return code;
    if (int code = context.Connect()) return code;
    if (!arguments.options.dryRun)
        if (int code = context.LockPhoneForWriting("sync")) return code;
    ItemProgress progress(context.options.json, context.options.progress);
    SyncReport report;
    Outcome outcome = RunSync(context, state, arguments.name, arguments.options, progress, &report);
    if (outcome.kind == ErrorKind::kInterrupted) {  // what was done before the stop, and then the stop
        nlohmann::json document = SyncReportJson(report);
        document["error"] = "interrupted";
        context.Emit(ReportText(report), document);
        return context.FailOperation("sync", outcome);
    }
    if (!outcome.ok) {
        if (outcome.kind == ErrorKind::kOtherPhone)
            outcome.message += " (cebridge sync rm " + arguments.name + ", then sync add it again)";
        return context.FailOperation("sync", outcome);
    }
    context.Emit(ReportText(report), SyncReportJson(report));
    const Outcome shortfall = RefusedItems("sync", report.refused);  // as an import the phone refused items of
    return shortfall.ok ? kExitOk : context.Fail(shortfall);
}

#endif

}  // namespace

void AddSyncCommand(CLI::App &app, Context &context, int &exitCode) {
    CLI::App *sync = app.add_subcommand("sync", "two-way sync of contacts and calendar with PC folders or a server");
#if defined(CEBRIDGE_HAVE_SYNC)
    auto arguments = std::make_shared<SyncArguments>();
    sync->add_option("NAME", arguments->name, "the pair to sync");
    sync->add_flag("--dry-run", arguments->options.dryRun, "print the plan, change nothing");
    sync->add_flag("--force", arguments->options.force, "delete even more than a quarter of a side's items");
    sync->add_option("--conflict", arguments->conflict, "changed on both sides: phone, pc or keep-both (default)");
    CLI::App *add = sync->add_subcommand(
        "add", "a new pair: the phone and PC folders of .vcf and .ics files or a server's collections");
    add->add_option("NAME", arguments->name, "the pair's name")->required();
    add->add_option("--contacts", arguments->contacts,
                    "the folder of contacts, one .vcf file each, or an address book's http(s):// URL");
    add->add_option("--calendar", arguments->calendar,
                    "the folder of appointments, one .ics file each, or a calendar's http(s):// URL");
    add->add_option("--user", arguments->user, "the user name on the collections' server");
    add->add_option("--password-file", arguments->passwordFile,
                    "a file of mode 0600 holding the password (else $CEBRIDGE_SYNC_PASSWORD)");
    add->add_option("--ca-file", arguments->caFile, "certificates to trust for https (else the system's)");
    CLI::App *list = sync->add_subcommand("list", "the pairs");
    CLI::App *remove = sync->add_subcommand("rm", "forget a pair (its items stay on both sides)");
    remove->add_option("NAME", arguments->name, "the pair's name")->required();
    sync->callback([&context, &exitCode, arguments, sync, add, list, remove] {
        if (sync->got_subcommand(add))
            exitCode = CmdSyncAdd(context, *arguments);
        else if (sync->got_subcommand(list))
            exitCode = CmdSyncList(context);
        else if (sync->got_subcommand(remove))
            exitCode = CmdSyncRemove(context, arguments->name);
        else
            exitCode = CmdSync(context, *arguments);
    });
#else
    sync->allow_extras();
    sync->callback([&context, &exitCode] {
        exitCode = context.Fail(Outcome::Failed(0, "sync is not in this build (it was built without SQLite)"));
    });
#endif
}

}  // namespace host
