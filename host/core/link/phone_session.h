// One phone as a front end holds it: the plug-in's session, the phone's connection,
// the current device folder (for the shell) and the last listings (IDs belong to the
// last listing of their kind), and the lock that keeps a second process from writing
// to the same phone.
#ifndef CEBRIDGE_HOST_PHONE_SESSION_H
#define CEBRIDGE_HOST_PHONE_SESSION_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "agent_client.h"
#include "device_link.h"
#include "safeguards.h"

namespace host {

// Where the phone and the plug-in are; empty: the environment's or the default.
struct SessionOptions {
    std::string device;  // CEBRIDGE_DEVICE
    std::string rapi;    // CEBRIDGE_RAPI
    std::string plugin;  // CEBRIDGE_PLUGIN
    std::string logDir;  // CEBRIDGE_LOG_DIR
    // The plug-in prints on the process's standard output and error: they go to a file
    // of the log folder (console.h). Off where the process's own must stay (a test).
    bool routeProcessOutput = true;
    // The plug-in's log in the default folder starts again past this many bytes.
    uint64_t logCapBytes = uint64_t(64) << 20;
};

// What a connect has to say besides its outcome.
struct ConnectReport {
    std::vector<std::string> warnings;  // what did not stop it: no log, the DTD files not installed
    std::string phoneSaid;              // what the phone's side printed when it refused the link
};

class PhoneSession {
public:
    explicit PhoneSession(const std::atomic<bool> &interrupted) : link(client, interrupted) {}

    // Loads the plug-in (once) and connects the phone (once). Fails with kBadInput
    // (no such code page), kNoConnection or kInterrupted.
    Outcome Connect(const SessionOptions &options, ConnectReport *report);
    // One process at a time writes to a phone: fails with kBusy while another does
    // (kPcFile when the lock cannot be made). Held until ReleaseWriteLock.
    Outcome LockForWriting(const SessionOptions &options);
    // The same, waiting up to `wait` for another process's write to end (`waiting`
    // is called once when it starts to wait); kInterrupted when cancelled meanwhile.
    Outcome LockForWriting(const SessionOptions &options, std::chrono::milliseconds wait,
                           const std::function<void()> &waiting);
    void ReleaseWriteLock() { m_phoneLock.reset(); }

    // A device path as typed (relative to the current folder) split into parts, in
    // the device's code page.
    std::vector<std::string> ResolveDevicePath(const std::string &typed) const;
    // The phone file an upload of the PC file `pcName` (device text, "" for standard
    // input) makes of a typed target: a folder (typed empty, or ending in a slash)
    // takes the PC file's name.
    std::vector<std::string> ResolveUploadTarget(const std::string &typed, const std::string &pcName) const;

    AgentClient client;
    DeviceLink link;
    bool pluginOpen = false;
    bool connected = false;
    std::vector<std::string> currentFolder;                        // device code page
    std::map<std::string, std::vector<ContentItem>> lastListings;  // by object type

private:
    // Keeps the plug-in's log in `folder` under `capBytes` (when not 0), and takes its
    // growth as a sign of a plug-in at work.
    void WatchLog(const std::string &folder, uint64_t capBytes);

    std::unique_ptr<ProcessLock> m_phoneLock;
    uint64_t m_logBytes = 0;  // the plug-in's log when last looked at
    bool m_logCutTold = false;
};

}  // namespace host

#endif  // CEBRIDGE_HOST_PHONE_SESSION_H
