// The host's own standard output and error, kept apart from the plug-in's.
//
// The plug-in shares the process's standard output and error and prints on them (a
// line when the phone number cannot be read, the text of a message box). Those lines
// belong in the log, not in front of a --json document: the host keeps copies of the
// streams it was started with (ConsoleOut, ConsoleErr; std::cout and std::cerr write
// to them too) and points the process's own at a file of the log folder before the
// plug-in is loaded.
#ifndef CEBRIDGE_HOST_CONSOLE_H
#define CEBRIDGE_HOST_CONSOLE_H

#include <cstdint>
#include <cstdio>
#include <string>

namespace host {

// Takes the copies (once; before anything is printed).
void KeepConsole();
// Where the host prints: the standard output and error it was started with.
FILE *ConsoleOut();
FILE *ConsoleErr();
// Points the process's standard output and error at `file` (appended), else at the
// null device; "" when it is the file, else why not.
std::string RouteProcessOutputTo(const std::string &file);
// A mark in what the process printed, and what it printed after a mark (at most the
// last 4 KiB): the phone's side says there why it refused a link.
uint64_t ProcessOutputMark();
std::string ProcessOutputSince(uint64_t mark);

}  // namespace host

#endif  // CEBRIDGE_HOST_CONSOLE_H
