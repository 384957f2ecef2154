// What an agent does on the PC before its first session: installs the three DTD
// files the plug-in puts in front of its XML answers, points the registry value
// SAPATH at them, and finds the plug-in and a folder for its log.
#ifndef CEBRIDGE_HOST_PC_SETUP_H
#define CEBRIDGE_HOST_PC_SETUP_H

#include <cstdint>
#include <string>

#include "outcome.h"

namespace host {

// Copies data/dtd/*.dtd to the user's data folder and stores that folder as SAPATH
// under HKEY_LOCAL_MACHINE\SOFTWARE\MERIDO 3.0\MERIDOAPI. A failure says what the
// plug-in is left without (a warning: the session goes on).
Outcome InstallDtdsAndSaPath();

// An environment variable's value as UTF-8, "" when it is not set (on Windows read
// as UTF-16, so any script arrives whole).
std::string Environment(const char *name);
// Sets a variable for this process and the libraries it loads; "" leaves it as it is.
void SetEnvironment(const char *name, const std::string &utf8);

std::string DefaultPluginPath();
// `cebridge serve`'s server, a module beside the program (POSIX builds).
std::string ServeModulePath();
// This user's data folder of cebridge: $XDG_DATA_HOME/cebridge (%LOCALAPPDATA%\cebridge).
std::string UserDataDirectory();
// CEBRIDGE_LOG_DIR, else a folder of this user's own in memory-backed storage
// ($XDG_RUNTIME_DIR/cebridge, else /dev/shm/cebridge-UID, 0700), else the user's
// state folder.
std::string DefaultLogDirectory();
// The file of `folder` that takes what the plug-in prints on standard output and error.
std::string ConsoleLogPath(const std::string &folder);
// Removes the plug-in's daily files (cebridge_YYYYMMDD.log) older than `keepDays`,
// and the oldest ones while all of them hold more than `keepBytes` (the newest
// alone over it is emptied); the console file starts again over an eighth of it.
void PruneDailyLogs(const std::string &folder, int keepDays, uint64_t keepBytes);
// The size of the plug-in's newest daily log in `folder` (0 when there is none). Over
// `capBytes` (when not 0), the file is first emptied and *cut set: the plug-in holds it
// open and writes each line at its end, so it goes on at the start. Only between two
// requests, when the plug-in writes no line.
uint64_t DailyLogSize(const std::string &folder, uint64_t capBytes = 0, bool *cut = nullptr);
// Makes the log folder; a failure says why the plug-in cannot write there.
Outcome PrepareLogFolder(const std::string &folder);
// The daily files readable by this user only (they hold contacts and messages).
void KeepLogsPrivate(const std::string &folder);
// Creates every missing folder of `path`; true when it exists afterwards.
bool MakeDirectories(const std::string &path);

}  // namespace host

#endif  // CEBRIDGE_HOST_PC_SETUP_H
