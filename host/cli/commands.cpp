// The command vocabulary: one registration for the command line, the shell and
// batch files, so every command means the same everywhere.
#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "local_files.h"
#include "text.h"
#if defined(CEBRIDGE_HAVE_SERVE)
#include "pc_setup.h"
#include "serve_call.h"
#include "serve_loader.h"
#endif

namespace host {
namespace {

struct PimKind {
    const char *command;
    const char *type;  // the listing's object type
    const char *help;
};

const PimKind kPimKinds[] = {
    {"contacts", "phonebook/private", "list, show, add, remove, export and import contacts"},
    {"calendar", "schedule", "list, show, add, remove, export and import appointments"},
};

// `KIND export FILE`: the kind's items into a file other programs read.
void AddExport(CLI::App *parent, Context &context, int &exitCode, const std::string &kind, const char *help) {
    auto path = std::make_shared<std::string>();
    auto force = std::make_shared<bool>(false);
    CLI::App *command = parent->add_subcommand("export", help);
    command->add_option("FILE", *path, "the file to write, - for standard output")->required();
    command->add_flag("--force", *force, "replace a file that holds something even when the phone lists nothing");
    command->callback([&context, &exitCode, kind, path, force] { exitCode = CmdExport(context, kind, *path, *force); });
}

void AddImport(CLI::App *parent, Context &context, int &exitCode, const std::string &kind, const char *help) {
    auto path = std::make_shared<std::string>();
    auto skipExisting = std::make_shared<bool>(false);
    CLI::App *command = parent->add_subcommand("import", help);
    command->add_option("FILE", *path, "the file to read, - for standard input")->required();
    command->add_flag("--skip-existing", *skipExisting, "leave out what the phone has already");
    command->callback(
        [&context, &exitCode, kind, path, skipExisting] { exitCode = CmdImport(context, kind, *path, *skipExisting); });
}

void AddPimCommand(CLI::App &app, Context &context, int &exitCode, const PimKind &kind) {
    CLI::App *parent = app.add_subcommand(kind.command, kind.help);
    parent->require_subcommand(0, 1);
    const std::string name = kind.command, type = kind.type;
    parent->callback([&context, &exitCode, parent, name] {
        if (parent->get_subcommands().empty()) exitCode = CmdPimList(context, name);
    });
    parent->add_subcommand("list", "list them (IDs for show and rm)")->callback([&context, &exitCode, name] {
        exitCode = CmdPimList(context, name);
    });
    auto id = std::make_shared<std::string>();
    CLI::App *show = parent->add_subcommand("show", "show one as its fields");
    show->add_option("ID", *id, "the ID from the listing")->required();
    show->callback([&context, &exitCode, type, id] { exitCode = CmdPimShow(context, type, *id); });
    auto fields = std::make_shared<std::vector<std::string>>();
    CLI::App *add = parent->add_subcommand("add", "add one from FIELD=VALUE pairs");
    add->add_option("FIELD=VALUE", *fields, "e.g. FIRSTNAME=Ann MOBILETELEPHONENUMBER=010-1234-5678")->required();
    add->callback([&context, &exitCode, type, fields] { exitCode = CmdPimAdd(context, type, *fields); });
    auto editId = std::make_shared<std::string>();
    auto changed = std::make_shared<std::vector<std::string>>();
    CLI::App *edit = parent->add_subcommand(
        "edit", "change one: FIELD=VALUE pairs (FIELD= clears); the phone gets a new one, then loses the old");
    edit->add_option("ID", *editId, "the ID from the listing")->required();
    edit->add_option("FIELD=VALUE", *changed, "the fields to change; the others are kept")->required();
    edit->callback(
        [&context, &exitCode, type, editId, changed] { exitCode = CmdPimEdit(context, type, *editId, *changed); });
    auto removeId = std::make_shared<std::string>();
    CLI::App *remove = parent->add_subcommand("rm", "remove one by its ID");
    remove->add_option("ID", *removeId, "the ID from the listing")->required();
    remove->callback([&context, &exitCode, type, removeId] { exitCode = CmdPimRemove(context, type, *removeId); });
    const bool contacts = name == "contacts";
    AddExport(
        parent, context, exitCode, name,
        contacts ? "every contact into a vCard 3.0 file (.vcf)" : "every appointment into an iCalendar file (.ics)");
    AddImport(parent, context, exitCode, name,
              contacts ? "add the cards of a vCard file (2.1, 3.0, 4.0)" : "add the events of an iCalendar file");
}

void AddCallsCommand(CLI::App &app, Context &context, int &exitCode) {
    CLI::App *calls = app.add_subcommand("calls", "list the call history; export it");
    calls->require_subcommand(0, 1);
    calls->callback([&context, &exitCode, calls] {
        if (calls->get_subcommands().empty()) exitCode = CmdPimList(context, "calls");
    });
    AddExport(calls, context, exitCode, "calls", "the call history into FILE.csv or FILE.json");
}

void AddMessageCommand(CLI::App &app, Context &context, int &exitCode) {
    CLI::App *sms = app.add_subcommand("sms", "list received or sent messages; show or remove one");
    auto box = std::make_shared<std::string>("recv");
    sms->add_option("BOX", *box, "recv (default) or sent")->check(CLI::IsMember({"recv", "sent"}));
    sms->require_subcommand(0, 1);
    sms->callback([&context, &exitCode, sms, box] {
        if (sms->get_subcommands().empty()) exitCode = CmdSmsList(context, *box == "sent");
    });
    auto showId = std::make_shared<std::string>();
    auto showSent = std::make_shared<bool>(false);
    CLI::App *show = sms->add_subcommand("show", "show one message whole");
    show->add_option("ID", *showId, "the ID from the listing")->required();
    show->add_flag("--sent", *showSent, "the ID is a sent message's");
    // The box is named before the subcommand (`sms sent show ID`) or by --sent.
    show->callback([&context, &exitCode, showId, showSent, box] {
        exitCode = CmdSmsShow(context, *showSent || *box == "sent", *showId);
    });
    auto removeId = std::make_shared<std::string>();
    auto removeSent = std::make_shared<bool>(false);
    CLI::App *remove = sms->add_subcommand("rm", "remove a message by its ID");
    remove->add_option("ID", *removeId, "the ID from the listing")->required();
    remove->add_flag("--sent", *removeSent, "the ID is a sent message's");
    remove->callback([&context, &exitCode, removeId, removeSent, box] {
        exitCode = CmdPimRemove(context, SmsType(*removeSent || *box == "sent"), *removeId);
    });
    AddExport(sms, context, exitCode, "sms", "received and sent messages into FILE.csv or FILE.json (a box column)");
}

// A command with up to two positional arguments; `optional` says how many may be left out.
void AddSimple(CLI::App &app, const char *name, const char *help, std::vector<const char *> argumentNames,
               size_t required, std::function<int(const std::vector<std::string> &)> run, int &exitCode) {
    CLI::App *command = app.add_subcommand(name, help);
    auto values = std::make_shared<std::vector<std::string>>(argumentNames.size());
    for (size_t i = 0; i < argumentNames.size(); ++i) {
        CLI::Option *option = command->add_option(argumentNames[i], (*values)[i]);
        if (i < required) option->required();
    }
    command->callback([values, run, &exitCode] { exitCode = run(*values); });
}

// get, put and rm, with -r (and -p for get).
void AddTransferCommands(CLI::App &app, Context &context, int &exitCode) {
    auto get = std::make_shared<std::pair<std::string, std::string>>();
    auto getOptions = std::make_shared<TreeOptions>();
    CLI::App *getCommand = app.add_subcommand("get", "copy files from the phone ('*' and '?' in the last name)");
    getCommand->add_option("REMOTE", get->first)->required();
    getCommand->add_option("LOCAL", get->second);
    getCommand->add_flag("-r,--recursive", getOptions->recursive, "folders with everything in them");
    getCommand->add_flag("-p,--preserve", getOptions->keepTimes, "keep the phone's modification times");
    getCommand->add_flag("-f,--force", getOptions->replace, "with -r or a wildcard: replace existing PC files");
    getCommand->callback(
        [&context, &exitCode, get, getOptions] { exitCode = CmdGet(context, get->first, get->second, *getOptions); });
    auto put = std::make_shared<std::pair<std::string, std::string>>();
    auto putOptions = std::make_shared<TreeOptions>();
    CLI::App *putCommand = app.add_subcommand("put", "copy a file, or with -r a folder, to the phone");
    putCommand->add_option("LOCAL", put->first)->required();
    putCommand->add_option("REMOTE", put->second);
    putCommand->add_flag("-r,--recursive", putOptions->recursive, "a folder with everything in it");
    putCommand->add_flag("-f,--force", putOptions->replace, "with -r: replace existing phone files");
    putCommand->callback([&context, &exitCode, put, putOptions] {
        exitCode = putOptions->recursive ? CmdPutTree(context, put->first, put->second, *putOptions)
                                         : CmdPut(context, put->first, put->second);
    });
    auto remove = std::make_shared<std::string>();
    auto removeOptions = std::make_shared<TreeOptions>();
    CLI::App *removeCommand = app.add_subcommand("rm", "delete phone files ('*' and '?' in the last name)");
    removeCommand->add_option("REMOTE", *remove)->required();
    removeCommand->add_flag("-r,--recursive", removeOptions->recursive, "every file below a folder");
    removeCommand->callback(
        [&context, &exitCode, remove, removeOptions] { exitCode = CmdRemove(context, *remove, *removeOptions); });
}

void AddBackupCommands(CLI::App &app, Context &context, int &exitCode) {
    auto backupFolder = std::make_shared<std::string>();
    auto options = std::make_shared<BackupOptions>();
    CLI::App *backup =
        app.add_subcommand("backup", "the whole phone into a new generation in a folder (unchanged files shared)");
    backup->add_option("DIR", *backupFolder, "the backup folder")->required();
    backup->add_flag("--verify", options->verify, "check a generation against its manifest instead");
    backup->add_flag("--list", options->list, "list the generations instead");
    backup->add_option("--generation", options->generation, "the generation --verify checks (default: the latest)");
    const CLI::Validator atLeastOne(
        [](std::string &value) {
            return value.find_first_not_of("0123456789") == std::string::npos &&
                           value.find_first_not_of('0') != std::string::npos
                       ? std::string()
                       : "--keep takes the number of generations to keep, 1 or more (without it, all are kept)";
        },
        "N>=1");
    backup->add_option("--keep", options->keep, "after a whole backup, remove the oldest generations beyond N")
        ->check(atLeastOne);
    backup->add_flag("--accept-fewer", options->acceptFewer,
                     "back up although the phone lists far fewer files, messages or calls, or fewer contacts or "
                     "appointments, than the latest backup");
    backup->add_flag("--force", options->force,
                     "with --keep: remove also an older generation holding the last copy of a file the phone lacks");
    backup->callback(
        [&context, &exitCode, backupFolder, options] { exitCode = CmdBackup(context, *backupFolder, *options); });
    auto restoreFolder = std::make_shared<std::string>();
    auto parts = std::make_shared<RestoreParts>();
    auto generation = std::make_shared<std::string>();
    CLI::App *restore =
        app.add_subcommand("restore", "put a backup's files, contacts and appointments back (adds only)");
    restore->add_option("DIR", *restoreFolder, "the backup folder")->required();
    restore->add_flag("--files", parts->files, "only files (with the others chosen: those too)");
    restore->add_flag("--contacts", parts->contacts, "only contacts");
    restore->add_flag("--calendar", parts->calendar, "only appointments");
    restore->add_option("--generation", *generation, "the generation restored (default: the latest)");
    restore->callback([&context, &exitCode, restoreFolder, parts, generation] {
        exitCode = CmdRestore(context, *restoreFolder, *parts, *generation);
    });
}

#if defined(CEBRIDGE_HAVE_SERVE)
// The server is loaded only for serve: its HTTP and TLS libraries set themselves up
// when loaded, which every other command would pay for at its start. The module
// stays loaded until the program ends.
int ServeFromModule(Context &context, const ServeOptions &options) {
    std::string why;
    const auto serve = LoadServeModule(ServeModulePath(), &why);
    if (!serve) return context.FailLocal("serve: cannot load the server (" + why + ")");
    ServeCall call{context, context.options, g_interrupted, options, Outcome::Ok()};
    serve(&call);
    if (call.outcome.kind == ErrorKind::kBadInput) return context.FailUsage("serve: " + call.outcome.message);
    return call.outcome.ok ? kExitOk : context.FailOperation("serve", call.outcome);
}
#endif

void AddServeCommand(CLI::App &app, Context &context, int &exitCode) {
#if defined(CEBRIDGE_HAVE_SERVE)
    auto options = std::make_shared<ServeOptions>();
    CLI::App *serve = app.add_subcommand("serve", "manage the phone in a web browser (on this PC only by default)");
    serve->add_option("--port", options->port, "the port (default: a free one)")->check(CLI::Range(0, 65535));
    serve->add_option("--bind", options->bind, "the address to listen on (default 127.0.0.1)");
    serve->add_flag("--open", options->open, "open the page in the browser");
    serve->callback([&context, &exitCode, options] { exitCode = ServeFromModule(context, *options); });
#else
    (void)app, (void)context, (void)exitCode;
#endif
}

}  // namespace

void AddCommands(CLI::App &app, Context &context, int &exitCode, bool interactive) {
    // Phone paths start with '/': on Windows they must stay arguments, not "/option"s.
    // Subcommands take the setting when they are added, so it comes first.
    app.allow_windows_style_options(false);
    app.require_subcommand(1, 1);
    AddSimple(
        app, "info", "model, phone number and memories", {}, 0, [&](auto &) { return CmdInfo(context); }, exitCode);
    AddSimple(
        app, "ls", "list a folder of the phone", {"PATH"}, 0, [&](auto &a) { return CmdList(context, a[0]); },
        exitCode);
    AddTransferCommands(app, context, exitCode);
    AddSimple(
        app, "mkdir", "create a folder on the phone (and its parents)", {"REMOTE"}, 1,
        [&](auto &a) { return CmdMakeDirectory(context, a[0]); }, exitCode);
    AddSimple(
        app, "install", "install a CAB package (a local file is uploaded first)", {"PACKAGE"}, 1,
        [&](auto &a) { return CmdInstall(context, a[0]); }, exitCode);
    AddSimple(
        app, "apps", "list installed packages", {}, 0, [&](auto &) { return CmdApps(context); }, exitCode);
    for (const PimKind &kind : kPimKinds) AddPimCommand(app, context, exitCode, kind);
    AddCallsCommand(app, context, exitCode);
    AddMessageCommand(app, context, exitCode);
    AddBackupCommands(app, context, exitCode);
    AddSyncCommand(app, context, exitCode);
    if (interactive) {
        AddSimple(
            app, "cd", "change the current folder", {"PATH"}, 0,
            [&](auto &a) { return CmdChangeDirectory(context, a[0]); }, exitCode);
        AddSimple(
            app, "pwd", "show the current folder", {}, 0, [&](auto &) { return CmdPrintDirectory(context); }, exitCode);
    } else {
        AddSimple(
            app, "shell", "an interactive session", {}, 0, [&](auto &) { return RunShell(context); }, exitCode);
        AddSimple(
            app, "batch", "run commands from a file, or - for standard input", {"FILE"}, 1,
            [&](auto &a) { return RunBatch(context, a[0]); }, exitCode);
        AddServeCommand(app, context, exitCode);
    }
}

namespace {

// The first word that stands where a command belongs but names none; "" when the
// words hold a known command (or none at all).
std::string UnknownCommand(CLI::App &app, const std::vector<std::string> &words) {
    static const char *const valueOptions[] = {"--device", "--rapi", "--plugin", "--log-dir"};
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string &word = words[i];
        if (std::find(std::begin(valueOptions), std::end(valueOptions), word) != std::end(valueOptions)) {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-') continue;
        for (const CLI::App *command : app.get_subcommands([](const CLI::App *) { return true; }))
            if (command->get_name() == word) return {};
        return word;
    }
    return {};
}

}  // namespace

int ParseAndRun(CLI::App &app, Context &context, int &exitCode, std::vector<std::string> words) {
    context.BeginCommand();
    std::vector<std::string> reversed(words.rbegin(), words.rend());
    try {
        app.parse(reversed);
        if (g_interrupted.load() && exitCode == kExitOk) exitCode = context.Fail(Outcome::Failed(0, "interrupted"));
    } catch (const CLI::ParseError &error) {
        if (error.get_exit_code() == 0) {  // --help, --version
            if (!context.options.json && std::find(words.begin(), words.end(), "--json") == words.end()) {
                app.exit(error);
                return kExitOk;
            }
            // Scripts that asked for JSON get one document here too.
            std::ostringstream text;
            app.exit(error, text, text);
            const bool version = dynamic_cast<const CLI::CallForVersion *>(&error) != nullptr;
            context.options.json = true;
            std::string shown = text.str();
            while (!shown.empty() && shown.back() == '\n') shown.pop_back();
            context.Emit("", {{version ? "version" : "help", shown}});
            return kExitOk;
        }
        std::string unknown = UnknownCommand(app, words);
        exitCode = context.FailUsage(unknown.empty() ? std::string(error.what())
                                                     : "unknown command '" + unknown + "' (--help lists the commands)");
    } catch (const std::filesystem::filesystem_error &error) {
        // A last guard: a PC file-system error is the PC's, never a crash.
        exitCode = context.FailLocal(error.path1().string() + ": " + error.code().message());
    } catch (const std::exception &error) {
        exitCode = context.Fail(Outcome::Failed(0, error.what()));
    }
    context.EndCommand(exitCode);
    return exitCode;
}

namespace {

// A backslash is a path separator, of phone paths as the prompt shows them and of
// Windows PC paths (C:\Users, \\server\share); it escapes only what would otherwise
// end or quote a word: in double quotes just '"'.
bool IsEscapedOutsideQuotes(char next) {
    return next == ' ' || next == '\t' || next == '"' || next == '\'' || next == '#';
}

}  // namespace

std::vector<std::string> SplitWords(const std::string &line, bool *ok) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && i + 1 < line.size() && line[i + 1] == '"')
                word += line[++i];
            else
                word += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
            inWord = true;
        } else if (c == '\\' && i + 1 < line.size() && IsEscapedOutsideQuotes(line[i + 1])) {
            word += line[++i];
            inWord = true;
        } else if (c == '#' && !inWord) {
            break;
        } else if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    *ok = quote == 0;
    return words;
}

std::vector<std::string> CommandNames(Context &context, bool interactive) {
    CLI::App app;
    int exitCode = kExitOk;
    AddCommands(app, context, exitCode, interactive);
    std::vector<std::string> names;
    for (const CLI::App *command : app.get_subcommands([](const CLI::App *) { return true; }))
        names.push_back(command->get_name());
    return names;
}

namespace {

bool IsCommandName(Context &context, const std::string &word) {
    std::vector<std::string> names = CommandNames(context, true);
    return std::find(names.begin(), names.end(), word) != names.end();
}

}  // namespace

int RunLine(Context &context, const std::string &line) {
    bool ok = true;
    std::vector<std::string> words = SplitWords(line, &ok);
    context.BeginCommand();
    if (!ok) {
        int code = context.FailUsage("unbalanced quotes");
        context.EndCommand(code);
        return code;
    }
    if (words.empty()) return kExitOk;
    // "help" and "help COMMAND" as the --help of the line's vocabulary.
    if (words[0] == "help" && words.size() > 1 && !IsCommandName(context, words[1])) {
        int code = context.FailUsage("help: no command '" + words[1] + "' (help lists the commands)");
        context.EndCommand(code);
        return code;
    }
    if (words[0] == "help")
        words = words.size() > 1 ? std::vector<std::string>{words[1], "--help"} : std::vector<std::string>{"--help"};
    CLI::App app("cebridge shell: every command of cebridge, plus cd, pwd, help and exit", "");
    int exitCode = kExitOk;
    AddCommands(app, context, exitCode, true);
    return ParseAndRun(app, context, exitCode, words);
}

// What editors that save "UTF-8 with BOM" put before the first line.
constexpr const char *kUtf8ByteOrderMark = "\xEF\xBB\xBF";

int RunBatch(Context &context, const std::string &file) {
    std::ifstream named;
    if (file != "-") {
        named.open(LocalPath(file));
        if (!named) return context.FailLocal("batch: " + SystemReason(file));
    }
    std::istream &in = file == "-" ? std::cin : named;
    context.compactJson = true;
    int code = kExitOk;
    int number = 0;
    for (std::string line; code == kExitOk && std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (number == 1 && line.rfind(kUtf8ByteOrderMark, 0) == 0) line.erase(0, std::strlen(kUtf8ByteOrderMark));
        context.batchLine = number;
        code = RunLine(context, line);  // stops at the first failure
        if (code == kExitOk && g_interrupted.load()) code = kExitInterrupted;
    }
    context.batchLine = 0;
    return code;
}

}  // namespace host
