// Many files at once: get -r and get with wildcards, put -r.
#include <algorithm>
#include <filesystem>

#include "commands.h"
#include "file_tree.h"
#include "local_files.h"
#include "phone_files.h"
#include "progress.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// Why `put -r` leaves out a symbolic link, or "" for one it copies. A link to a
// file is copied under its own name with its target's content; a link to a folder
// is not followed (a tree could hold itself), and one that leads nowhere is noted.
std::string LinkLeftOut(const fs::directory_entry &entry) {
    std::error_code failure;
    if (!entry.is_symlink(failure)) return "";
    fs::file_status target = fs::status(entry.path(), failure);
    if (!fs::exists(target)) return "a symbolic link that leads nowhere";
    if (fs::is_directory(target)) return "a symbolic link to a folder (links to folders are not followed)";
    return "";
}

// Why `put -r` leaves out a PC entry that is neither a folder nor a file: a FIFO,
// socket or device would be waited on or read without end. "" for a file or folder.
std::string SpecialLeftOut(const fs::directory_entry &entry) {
    std::error_code failure;
    fs::file_status status = entry.status(failure);
    if (failure || fs::is_regular_file(status) || fs::is_directory(status)) return "";
    if (fs::is_fifo(status)) return "a FIFO (named pipe), not a file: left out";
    if (fs::is_socket(status)) return "a socket, not a file: left out";
    if (fs::is_block_file(status) || fs::is_character_file(status)) return "a device, not a file: left out";
    return "not a regular file: left out";
}

nlohmann::json CopyJson(const CopyResult &result) {
    return {{"files", result.files}, {"bytes", result.bytes}, {"skipped", result.skipped}};
}

// The end of a many-file command: the summary, and exit 1 when files were left out.
// A copy that stopped says what it had done, in its message and its document.
int Finish(Context &context, const char *command, CopyResult result, nlohmann::json document, const std::string &text) {
    for (const std::string &skipped : result.skipped)
        std::fprintf(ConsoleErr(), "cebridge: skipped %s\n", skipped.c_str());
    if (!result.outcome.ok) {
        const std::string done = "copied " + Counted(result.files, "file", "files") + " (" +
                                 std::to_string(result.bytes) + " bytes) before it stopped";
        if (IsPcFailure(result.outcome.kind))
            result.outcome.message += "; " + done;
        else
            result.outcome.note += (result.outcome.note.empty() ? "" : "; ") + done;
        const int code = context.FailOperation(command, result.outcome);
        document["error"] = FailureText(command, result.outcome);
        document["exitCode"] = code;
        document["done"] = result.done;
        if (context.options.json) context.Emit("", document);
        return code;
    }
    int code = kExitOk;
    if (!result.skipped.empty())  // the copy is made, and its document says what it lacks
        code = context.Fail(Outcome::Failed(0, std::to_string(result.skipped.size()) + " of the files were left out"));
    context.Emit(text, document);
    return code;
}

// Whether a typed source path ends in "." ("DIR/.", "."): cp copies its content.
bool NamesContent(const std::string &typed) {
    return typed == "." || (typed.size() >= 2 && typed.back() == '.' &&
                            (typed[typed.size() - 2] == '/' || typed[typed.size() - 2] == '\\'));
}

// Where a recursive get lands, as cp -r: LOCAL an existing folder takes the phone
// folder under its own name (its content with "DIR/."), any other LOCAL becomes the
// copy; no LOCAL: its own name here. Matches of a wildcard land inside LOCAL.
std::string GetDestination(const std::string &remote, const std::vector<std::string> &typed, const std::string &local,
                           bool wildcard) {
    if (wildcard) return local.empty() ? "." : local;
    if (NamesContent(remote) || typed.empty()) return local.empty() ? "." : local;
    const std::string own = DeviceToTerminal(typed.back());
    std::error_code failure;
    if (local.empty()) return own;
    return fs::is_directory(LocalPath(local), failure) ? (LocalPath(local) / LocalPath(own)).string() : local;
}

// The planned PC files that are there already: a folder in the way fails (exit 3), a
// file is refused without -f (nothing is copied either way).
int RefuseReplacedPcFiles(Context &context, const std::vector<PlannedDownload> &plan, bool replace) {
    std::vector<std::string> existing;
    for (const PlannedDownload &item : plan) {
        std::error_code failure;
        const fs::file_status status = fs::status(LocalPath(item.local), failure);
        if (fs::is_directory(status))
            return context.FailLocal("get: " + item.local + ": is a folder, where the phone's file " +
                                     ShownPath(item.source.Path()) + " would go (nothing was copied)");
        if (fs::exists(status)) existing.push_back(item.local);
    }
    if (existing.empty() || replace) return kExitOk;
    return context.FailUsage("get: " + Counted(existing.size(), "PC file is", "PC files are") + " there already (" +
                             existing[0] + (existing.size() > 1 ? ", ..." : "") +
                             "); a copy of many files replaces none without -f (--force); nothing was copied");
}

}  // namespace

int CmdGetMany(Context &context, const std::string &remote, const std::string &local, TreeOptions options) {
    std::vector<std::string> typed = context.ResolveDevicePath(remote);
    if (int code = RefuseBadName(context, "get", typed, true)) return code;
    bool wildcard = !typed.empty() && HasWildcard(typed.back());
    if (local == "-") return context.FailUsage("get: many files cannot go to standard output");
    if (local.empty() && typed.empty()) return context.FailUsage("get: name the PC folder (LOCAL) for the whole phone");
    std::string into = GetDestination(remote, typed, local, wildcard);
    if (int code = context.Connect()) return code;
    PhoneSelection selection;
    Outcome outcome = SelectPhoneFiles(context.link, typed, options.recursive, &selection);
    if (!outcome.ok) return context.Fail(outcome);
    if (local.empty() && !wildcard && selection.folders.empty()) into = ".";  // -r naming one file
    for (const std::string &folder : selection.leftOut)
        std::fprintf(ConsoleErr(), "cebridge: left out the folder %s (-r copies folders)\n", folder.c_str());
    std::vector<PlannedDownload> plan;
    for (PhoneFile &file : selection.files) plan.push_back({file, LocalPathFor(into, file.relative)});
    if (int code = RefuseReplacedPcFiles(context, plan, options.replace)) return code;
    // Folders come along even when empty.
    for (const auto &relative : selection.relativeFolders) {
        std::error_code failure;
        const std::string folder = LocalPathFor(into, relative);
        fs::create_directories(LocalPath(folder), failure);
        if (failure) return context.FailLocal("get: " + folder + ": " + failure.message());
    }
    Progress progress(context.options.json, context.options.progress);
    CopyResult result = DownloadFiles(context.link, std::move(plan), options.keepTimes, progress);
    result.skipped.insert(result.skipped.end(), selection.lost.begin(), selection.lost.end());
    nlohmann::json document = CopyJson(result);
    document["remote"] = ShownPath(typed);
    document["local"] = into;
    return Finish(context, "get", std::move(result), document, "");
}

namespace {

// What `put -r` sends: every file below `root` under `into`, and every folder
// (`into` first). Links and special files left out are in `skipped`; 0, or the exit
// code of a name the phone cannot hold.
int PlanPutTree(Context &context, const fs::path &root, const std::vector<std::string> &into,
                std::vector<PlannedUpload> *plan, std::vector<std::vector<std::string>> *folders,
                std::vector<std::string> *skipped) {
    std::error_code failure;
    folders->push_back(into);
    for (fs::recursive_directory_iterator walk(root, failure), end; !failure && walk != end; walk.increment(failure)) {
        std::vector<std::string> target = into;
        // (lexically: a symbolic link keeps its own name)
        for (const fs::path &part : walk->path().lexically_relative(root))
            target.push_back(TerminalToDeviceName(part.string()));
        if (int code = RefuseBadName(context, "put", target)) return code;
        std::string why = LinkLeftOut(*walk);
        if (why.empty()) why = SpecialLeftOut(*walk);
        if (!why.empty()) {
            skipped->push_back(walk->path().string() + ": " + why);
            continue;
        }
        if (walk->is_directory()) {
            folders->push_back(target);
            continue;
        }
        std::string name = target.back();
        target.pop_back();
        plan->push_back({walk->path().string(), target, name});
    }
    if (failure) return context.FailLocal("put: " + root.string() + ": " + failure.message());
    return kExitOk;
}

// The planned files the phone has already: refused without -f (nothing is sent).
int RefuseReplacedPhoneFiles(Context &context, const std::vector<PlannedUpload> &plan) {
    std::vector<std::string> existing;
    const std::vector<std::string> *current = nullptr;
    std::vector<FolderEntry> entries;
    bool folderThere = false;
    for (const PlannedUpload &item : plan) {
        if (!current || *current != item.folder) {
            entries.clear();
            current = &item.folder;
            folderThere = context.link.EnterFolder(item.folder, &entries).ok;
        }
        if (!folderThere) continue;  // (a folder still to be made holds nothing)
        NamedEntry named;
        Outcome outcome = context.link.Identify(item.folder, entries, item.name, &named);
        if (!outcome.ok) return context.Fail(outcome);
        if (named.exists) existing.push_back(ShownPath(named.Path()));
    }
    if (existing.empty()) return kExitOk;
    return context.FailUsage("put: " + Counted(existing.size(), "phone file is", "phone files are") +
                             " there already (" + existing[0] + (existing.size() > 1 ? ", ..." : "") +
                             "); a copy of many files replaces none without -f (--force); nothing was sent");
}

}  // namespace

int CmdPutTree(Context &context, const std::string &local, const std::string &remote, TreeOptions options) {
    std::error_code failure;
    const fs::path root = LocalPath(local);
    if (!fs::is_directory(root, failure)) return context.FailLocal("put: " + local + ": not a folder");
    fs::path name = fs::absolute(root, failure).lexically_normal();
    if (!name.has_filename()) name = name.parent_path();
    const std::string ownName = TerminalToDeviceName(name.filename().string());
    // As cp -r: an existing phone folder takes the PC folder under its own name (its
    // content with "DIR/."), any other REMOTE becomes the copy; no REMOTE: its own name here.
    std::vector<std::string> into = context.ResolveDevicePath(remote);
    const bool content = NamesContent(local);
    if (remote.empty() && !content) into.push_back(ownName);
    if (int code = context.LockPhoneForWriting("put")) return code;
    if (int code = context.Connect()) return code;
    if (!remote.empty() && !content) {
        // Only an answer that REMOTE is not there (or is a file) makes it the copy: a
        // listing that failed says nothing of it, and the copy would land beside it.
        const Outcome entered = context.link.EnterFolder(into);
        if (entered.ok)
            into.push_back(ownName);
        else if (entered.kind != ErrorKind::kNotFound && entered.kind != ErrorKind::kNotAFolder)
            return context.Fail(entered);
    }
    std::vector<PlannedUpload> plan;
    std::vector<std::vector<std::string>> folders;
    std::vector<std::string> skipped;
    if (int code = PlanPutTree(context, root, into, &plan, &folders, &skipped)) return code;
    // Everything that refuses the copy is said before a folder is made or a byte sent.
    std::vector<std::vector<std::string>> targets = folders;
    std::vector<uint64_t> sizes;
    for (const PlannedUpload &item : plan) {
        targets.push_back(item.folder);
        targets.back().push_back(item.name);
        sizes.push_back(fs::file_size(LocalPath(item.local), failure));
        if (failure) return context.FailLocal("put: " + item.local + ": " + failure.message());
    }
    if (int code = context.FailInput("put", RefuseSystemFolder(targets, "put -r writes nothing in it"))) return code;
    if (int code = context.FailInput("put", RefuseCaseClashes(targets, "the copy"))) return code;
    if (Outcome room = CheckRoomForAll(context.link, plan, sizes); !room.ok) return context.Fail(room);
    if (!options.replace)
        if (int code = RefuseReplacedPhoneFiles(context, plan)) return code;
    // Every folder, empty ones too.
    for (const auto &folder : folders) {
        Outcome outcome = context.link.MakeFolders(folder);
        if (!outcome.ok) return context.Fail(outcome);
    }
    std::stable_sort(plan.begin(), plan.end(),
                     [](const PlannedUpload &a, const PlannedUpload &b) { return a.folder < b.folder; });
    Progress progress(context.options.json, context.options.progress);
    CopyResult result = UploadFiles(context.link, std::move(plan), progress);
    result.skipped.insert(result.skipped.end(), skipped.begin(), skipped.end());
    nlohmann::json document = CopyJson(result);
    document["local"] = local;
    document["remote"] = ShownPath(into);
    return Finish(context, "put", std::move(result), document, "");
}

}  // namespace host
