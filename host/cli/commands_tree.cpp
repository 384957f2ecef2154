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

nlohmann::json CopyJson(const CopyResult &result) {
    return {{"files", result.files}, {"bytes", result.bytes}, {"skipped", result.skipped}};
}

// The end of a many-file command: the summary, and exit 1 when files were left out.
int Finish(Context &context, const char *command, const CopyResult &result, nlohmann::json document,
           const std::string &text) {
    if (!result.outcome.ok) return context.FailOperation(command, result.outcome);
    for (const std::string &skipped : result.skipped)
        std::fprintf(ConsoleErr(), "cebridge: skipped %s\n", skipped.c_str());
    int code = kExitOk;
    if (!result.skipped.empty())  // the copy is made, and its document says what it lacks
        code = context.Fail(Outcome::Failed(0, std::to_string(result.skipped.size()) + " of the files were left out"));
    context.Emit(text, document);
    return code;
}

}  // namespace

int CmdGetMany(Context &context, const std::string &remote, const std::string &local, TreeOptions options) {
    std::vector<std::string> typed = context.ResolveDevicePath(remote);
    if (int code = RefuseBadName(context, "get", typed, true)) return code;
    bool wildcard = !typed.empty() && HasWildcard(typed.back());
    if (local == "-") return context.FailUsage("get: many files cannot go to standard output");
    if (local.empty() && typed.empty()) return context.FailUsage("get: name the PC folder (LOCAL) for the whole phone");
    // A folder named whole lands in LOCAL (default: its own name here); matches land inside LOCAL.
    std::string into = !local.empty() ? local : wildcard ? "." : DeviceToTerminal(typed.back());
    if (int code = context.Connect()) return code;
    PhoneSelection selection;
    Outcome outcome = SelectPhoneFiles(context.link, typed, options.recursive, &selection);
    if (!outcome.ok) return context.Fail(outcome);
    if (local.empty() && !wildcard && selection.folders.empty()) into = ".";  // -r naming one file
    for (const std::string &folder : selection.leftOut)
        std::fprintf(ConsoleErr(), "cebridge: left out the folder %s (-r copies folders)\n", folder.c_str());
    std::vector<PlannedDownload> plan;
    for (PhoneFile &file : selection.files) plan.push_back({file, LocalPathFor(into, file.relative)});
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
    return Finish(context, "get", result, document, "");
}

int CmdPutTree(Context &context, const std::string &local, const std::string &remote) {
    std::error_code failure;
    const fs::path root = LocalPath(local);
    if (!fs::is_directory(root, failure)) return context.FailLocal("put: " + local + ": not a folder");
    // The folder's content lands in REMOTE (default: a folder of its own name here).
    std::vector<std::string> into = context.ResolveDevicePath(remote);
    if (remote.empty()) {
        fs::path name = fs::absolute(root, failure).lexically_normal();
        if (!name.has_filename()) name = name.parent_path();
        into.push_back(TerminalToDeviceName(name.filename().string()));
    }
    std::vector<PlannedUpload> plan;
    std::vector<std::vector<std::string>> folders = {into};
    std::vector<std::string> skipped;
    for (fs::recursive_directory_iterator walk(root, failure), end; !failure && walk != end; walk.increment(failure)) {
        std::vector<std::string> target = into;
        // (lexically: a symbolic link keeps its own name)
        for (const fs::path &part : walk->path().lexically_relative(root))
            target.push_back(TerminalToDeviceName(part.string()));
        if (int code = RefuseBadName(context, "put", target)) return code;
        if (std::string why = LinkLeftOut(*walk); !why.empty()) {
            skipped.push_back(walk->path().string() + ": " + why);
            continue;
        }
        if (walk->is_directory()) {
            folders.push_back(target);
            continue;
        }
        std::string name = target.back();
        target.pop_back();
        plan.push_back({walk->path().string(), target, name});
    }
    if (failure) return context.FailLocal("put: " + local + ": " + failure.message());
    if (int code = context.LockPhoneForWriting("put")) return code;
    if (int code = context.Connect()) return code;
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
    return Finish(context, "put", result, document, "");
}

}  // namespace host
