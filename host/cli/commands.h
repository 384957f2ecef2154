// The host's commands. Each runs against a Context and returns an exit code.
#ifndef CEBRIDGE_HOST_COMMANDS_H
#define CEBRIDGE_HOST_COMMANDS_H

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "backup.h"
#include "console.h"
#include "context.h"
#include "pim_items.h"

namespace host {

// Registers every command as a subcommand of `app`; the chosen one stores its exit
// code in `exitCode`. `interactive` adds the shell's own commands (cd, pwd).
void AddCommands(CLI::App &app, Context &context, int &exitCode, bool interactive);

// Exit 2 for a path holding a name the phone cannot hold, or the code page cannot
// say, or a path longer than the phone's link carries; 0 when the path can be used.
// `wildcardLast`: the last name may hold '*' and '?'.
int RefuseBadName(Context &context, const char *command, const std::vector<std::string> &parts,
                  bool wildcardLast = false);
// As RefuseBadName, for a folder that must also be listable afterwards (its path and "\*.*").
int RefuseUnlistableFolder(Context &context, const char *command, const std::vector<std::string> &folder);

int CmdInfo(Context &context);
int CmdList(Context &context, const std::string &path);
struct TreeOptions {
    bool recursive = false;  // -r: folders with everything in them
    bool keepTimes = false;  // -p: downloads keep the phone's modification times
    bool replace = false;    // -f: a recursive copy may replace existing files
};
// `get`: one file, or with a wildcard in the last name or -r, many (commands_tree.cpp).
int CmdGet(Context &context, const std::string &remote, const std::string &local, TreeOptions options = {});
int CmdGetMany(Context &context, const std::string &remote, const std::string &local, TreeOptions options);
int CmdPutTree(Context &context, const std::string &local, const std::string &remote, TreeOptions options);
int CmdPut(Context &context, const std::string &local, const std::string &remote);
// `rm`: one file, or with a wildcard in the last name or -r, what it selects.
int CmdRemove(Context &context, const std::string &remote, TreeOptions options = {});
int CmdMakeDirectory(Context &context, const std::string &remote);
int CmdInstall(Context &context, const std::string &package);
int CmdApps(Context &context);
int CmdChangeDirectory(Context &context, const std::string &path);
int CmdPrintDirectory(Context &context);

// `backup DIR`, `backup --verify DIR`, `backup --list DIR` and `restore DIR` (commands_backup.cpp).
struct BackupOptions {
    bool verify = false, list = false;  // read the backups instead of making one
    bool acceptFewer = false;           // fewer contacts or appointments than the latest backup are meant
    size_t keep = 0;                    // the generations kept after a whole backup (0: all)
    bool force = false;                 // --keep removes also the last copy of a file the phone lacks now
    std::string generation;             // the one --verify reads ("": the latest)
};
int CmdBackup(Context &context, const std::string &folder, const BackupOptions &options);
// `parts`: none chosen, all of them. `generation`: the one restored ("": the latest).
int CmdRestore(Context &context, const std::string &folder, RestoreParts parts, const std::string &generation);

// PIM kinds: "contacts", "calendar", "calls" (pim_operations.h).
int CmdPimList(Context &context, const std::string &kind);
int CmdPimShow(Context &context, const std::string &type, const std::string &id);
int CmdPimAdd(Context &context, const std::string &type, const std::vector<std::string> &fields);
int CmdPimRemove(Context &context, const std::string &type, const std::string &id);
int CmdPimEdit(Context &context, const std::string &type, const std::string &id,
               const std::vector<std::string> &fields);

// Files other programs read (see interop.h): contacts and calendar export and
// import, calls and messages export.
int CmdExport(Context &context, const std::string &kind, const std::string &path, bool force);
int CmdImport(Context &context, const std::string &kind, const std::string &path, bool skipExisting);

// `sync NAME`, `sync add`, `sync list`, `sync rm` (commands_sync.cpp).
void AddSyncCommand(CLI::App &app, Context &context, int &exitCode);

// Text messages, received or sent (pim_items.h): the listing and one message whole;
// removing one is CmdPimRemove with SmsType.
int CmdSmsList(Context &context, bool sent);
int CmdSmsShow(Context &context, bool sent, const std::string &id);

// Runs the interactive shell, or commands from a file ("-" for standard input).
int RunShell(Context &context);
int RunBatch(Context &context, const std::string &file);
// Runs one line of the shell or of a batch file; its exit code.
int RunLine(Context &context, const std::string &line);
// The names of the commands (with the shell's own when `interactive`).
std::vector<std::string> CommandNames(Context &context, bool interactive);

// Parses and runs one command line (argv without the program, or a shell line's
// words) with --json's promise kept: every outcome prints one document.
int ParseAndRun(CLI::App &app, Context &context, int &exitCode, std::vector<std::string> words);

// Splits a command line into words: blanks separate, quotes group, '\' escapes,
// and an unquoted '#' at the start of a word begins a comment.
std::vector<std::string> SplitWords(const std::string &line, bool *ok);

}  // namespace host

#endif  // CEBRIDGE_HOST_COMMANDS_H
