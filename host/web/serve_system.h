// What `cebridge serve` asks of the operating system, with a POSIX half
// (posix/serve_system_posix.cpp) and a Windows half (win32/serve_system_win32.cpp).
#ifndef CEBRIDGE_HOST_WEB_SERVE_SYSTEM_H
#define CEBRIDGE_HOST_WEB_SERVE_SYSTEM_H

#include <atomic>
#include <string>

#if !defined(_WIN32)
#include <sys/types.h>
#endif

namespace host::serve {

// A new folder in the temporary folder that only this user can open (the temporary
// folder of a Windows user is private to that user already); "" when none was made.
std::string NewPrivateFolder(const char *prefix);

// Until StopNoLongerOnSignals, the console's stop sets `stop` and `cancel`: Ctrl-C,
// TERM and HUP on POSIX; Ctrl-C, Ctrl-Break and closing the console on Windows. A page
// that goes away mid-answer is the server's to notice, never a stop.
void StopOnSignals(std::atomic<bool> &stop, std::atomic<bool> &cancel);
void StopNoLongerOnSignals();

// Hands a file to the user's browser without waiting for the browser (which may stay
// in the foreground): xdg-open on POSIX, the shell's "open" on Windows. The file's
// path is all the opener's command line holds.
class FileOpener {
public:
    FileOpener() = default;
    FileOpener(const FileOpener &) = delete;
    FileOpener &operator=(const FileOpener &) = delete;
    ~FileOpener() { Reap(); }
    // False with `why` set when no opener started.
    bool Open(const std::string &file, std::string *why);
    // Collects an opener that has ended; asked about ten times a second.
    void Reap();

private:
#if !defined(_WIN32)
    pid_t m_child = 0;
#endif
};

}  // namespace host::serve

#endif  // CEBRIDGE_HOST_WEB_SERVE_SYSTEM_H
