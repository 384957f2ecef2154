// What keeps a second process and a failed replace from costing the user a file:
// locks held for as long as a process runs (the system lets them go when it ends,
// also when it is killed), and the folder where a phone file about to be replaced
// is kept until its replacement is whole.
#ifndef CEBRIDGE_HOST_SAFEGUARDS_H
#define CEBRIDGE_HOST_SAFEGUARDS_H

#include <string>

#include "outcome.h"

namespace host {

// The user's cebridge state folder: $XDG_STATE_HOME/cebridge (~/.local/state/cebridge),
// %LOCALAPPDATA%\cebridge on Windows.
std::string StateFolder();
// Where originals of replaced phone files wait (StateFolder()/kept), made when missing.
std::string KeptFolder();

// An exclusive lock named by `key` (any text: a phone, a backup folder), held until
// the object goes. Taking it does not wait.
class ProcessLock {
public:
    ProcessLock() = default;
    ~ProcessLock();
    ProcessLock(const ProcessLock &) = delete;
    ProcessLock &operator=(const ProcessLock &) = delete;

    // Ok when this process holds it now; kBusy when another process does (the
    // caller says what is busy), kPcFile when the lock file cannot be opened.
    Outcome Take(const std::string &key);

private:
#if defined(_WIN32)
    void *m_handle = nullptr;
#else
    int m_fd = -1;
#endif
};

}  // namespace host

#endif  // CEBRIDGE_HOST_SAFEGUARDS_H
