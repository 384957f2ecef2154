#include "phone_session.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <utility>

#include "console.h"
#include "encoding.h"
#include "local_files.h"
#include "pc_setup.h"

namespace fs = std::filesystem;

namespace host {
namespace {

constexpr int kKeptLogDays = 7;

// The connect that `failed` as kNoConnection, saying why the link did not come up as
// far as the agent's side can tell: the RAPI provider, the phone image the emulator
// was told to open, or the time it took.
Outcome NoLink(const SessionOptions &options, const std::string &pluginPath, std::chrono::steady_clock::duration waited,
               Outcome failed) {
    auto because = [&failed](const std::string &why) {
        failed.message = "could not connect: " + why;
        failed.kind = ErrorKind::kNoConnection;
        return failed;
    };
    std::string provider = !options.rapi.empty() ? options.rapi : Environment("CEBRIDGE_RAPI");
#if !defined(_WIN32)
    if (provider.empty()) provider = (fs::path(pluginPath).parent_path() / "libceemu.so").string();
#endif
    if (!provider.empty()) {
        if (Outcome loaded = ProbeLibrary(provider); !loaded.ok) return because("no RAPI provider: " + loaded.message);
    }
    std::string device = !options.device.empty() ? options.device : Environment("CEBRIDGE_DEVICE");
    if (!device.empty()) {
        std::error_code failure;
        fs::file_status status = fs::status(LocalPath(device), failure);
        if (!fs::exists(status)) return because("the phone image is missing: " + device);
        if (!fs::is_directory(status)) return because("the phone image is not a folder: " + device);
        fs::directory_iterator probe(LocalPath(device), failure);
        if (failure) return because("the phone image is unreadable: " + device + ": " + failure.message());
    }
    if (waited >= std::chrono::seconds(29)) return because("the phone's link did not come up within 30 seconds");
    return because("the phone refused the link");
}

Outcome OpenPlugin(AgentClient &client, DeviceLink &link, const SessionOptions &options, ConnectReport *report) {
    SetEnvironment("CEBRIDGE_DEVICE", options.device);
    SetEnvironment("CEBRIDGE_RAPI", options.rapi);
    if (Outcome installed = InstallDtdsAndSaPath(); !installed.ok) report->warnings.push_back(installed.message);
    std::string logDir = options.logDir.empty() ? DefaultLogDirectory() : options.logDir;
    if (Outcome prepared = PrepareLogFolder(logDir); !prepared.ok) {
        report->warnings.push_back("no log this session: " + logDir + ": " + prepared.message);
        link.pluginLog.Watch("", logDir + ": " + prepared.message);
    } else {
        link.pluginLog.Watch(logDir, "");
    }
    if (options.logDir.empty())                                     // (it holds CEBRIDGE_LOG_DIR when that is set)
        PruneDailyLogs(logDir, kKeptLogDays, options.logCapBytes);  // a folder of one's own choosing is left alone
    if (options.routeProcessOutput)                                 // (to the null device when the folder is unusable)
        RouteProcessOutputTo(ConsoleLogPath(logDir));
    std::string plugin = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    std::string pluginLogDir = PluginPcPath(logDir);  // the plug-in's form, when it has one
    if (Outcome opened = client.Open(plugin, pluginLogDir.empty() ? logDir : pluginLogDir); !opened.ok)
        return Outcome::Failed(0, "cannot load the plug-in: " + opened.message, ErrorKind::kNoConnection);
    KeepLogsPrivate(logDir);
    return Outcome::Ok();
}

}  // namespace

Outcome PhoneSession::Connect(const SessionOptions &options, ConnectReport *report) {
    if (connected) return Outcome::Ok();
    if (Outcome usable = CheckCodePage(); !usable.ok) return usable;
    if (!pluginOpen) {
        Outcome opened = OpenPlugin(client, link, options, report);
        if (!opened.ok) return opened;
        pluginOpen = true;
        // (a folder of one's own choosing is never cut)
        WatchLog(options.logDir.empty() ? DefaultLogDirectory() : options.logDir,
                 options.logDir.empty() ? options.logCapBytes : 0);
    }
    auto started = std::chrono::steady_clock::now();
    const uint64_t printedBefore = ProcessOutputMark();
    Outcome outcome = link.Connect();
    if (outcome.ok) {
        connected = true;
        return outcome;
    }
    if (link.Interrupted()) {
        outcome.kind = ErrorKind::kInterrupted;
        return outcome;
    }
    // What the phone's side printed says why a link did not come up; a number it could
    // not read the message says already (its line stays in the console log).
    const bool noNumber = link.ConnectGaveNoNumber();
    if (!noNumber) report->phoneSaid = ProcessOutputSince(printedBefore);
    std::string plugin = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
    if (outcome.status == ST_CONNECT_FAILED && !noNumber)
        return NoLink(options, plugin, std::chrono::steady_clock::now() - started, outcome);
    outcome.kind = ErrorKind::kNoConnection;
    return outcome;
}

void PhoneSession::WatchLog(const std::string &folder, uint64_t capBytes) {
    // One session may write more than the cap (a large phone's listings trace every
    // field): the file starts again between two requests, said once.
    link.beforeRequest = [this, folder, capBytes] {
        bool cut = false;
        m_logBytes = DailyLogSize(folder, capBytes, &cut);
        if (cut && !std::exchange(m_logCutTold, true))
            std::fprintf(ConsoleErr(),
                         "cebridge: warning: the plug-in's log passed %.3g MiB in this session; it was emptied and "
                         "goes on (%s)\n",
                         double(capBytes) / (1 << 20), folder.c_str());
    };
    // A request the plug-in still works on writes its log: a long wait is no lost plug-in.
    client.working = [this, folder] {
        const uint64_t now = DailyLogSize(folder);
        return std::exchange(m_logBytes, now) != now;
    };
}

Outcome PhoneSession::LockForWriting(const SessionOptions &options) {
    if (m_phoneLock) return Outcome::Ok();
    std::string device = !options.device.empty() ? options.device : Environment("CEBRIDGE_DEVICE");
    std::error_code ignored;
    if (!device.empty()) device = fs::weakly_canonical(LocalPath(device), ignored).string();
    auto lock = std::make_unique<ProcessLock>();
    Outcome taken = lock->Take("phone " + device);
    if (taken.ok) m_phoneLock = std::move(lock);
    if (taken.kind == ErrorKind::kBusy)
        taken.message = "another cebridge is writing to this phone; try again when it is done";
    return taken;
}

Outcome PhoneSession::LockForWriting(const SessionOptions &options, std::chrono::milliseconds wait,
                                     const std::function<void()> &waiting) {
    const auto until = std::chrono::steady_clock::now() + wait;
    Outcome taken = LockForWriting(options);
    if (taken.kind == ErrorKind::kBusy && std::chrono::steady_clock::now() < until && waiting) waiting();
    while (taken.kind == ErrorKind::kBusy && std::chrono::steady_clock::now() < until) {
        if (link.Interrupted())
            return Outcome::Failed(0, "interrupted while waiting for the phone", ErrorKind::kInterrupted);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // (the lock file cannot be waited on portably)
        taken = LockForWriting(options);
    }
    return taken;
}

std::vector<std::string> PhoneSession::ResolveDevicePath(const std::string &typed) const {
    std::vector<std::string> parts;
    bool absolute = !typed.empty() && (typed[0] == '/' || typed[0] == '\\');
    if (!absolute) parts = currentFolder;
    for (const std::string &part : SplitDevicePath(TerminalToDeviceName(typed))) {
        if (part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    return parts;
}

std::vector<std::string> PhoneSession::ResolveUploadTarget(const std::string &typed, const std::string &pcName) const {
    std::vector<std::string> target = ResolveDevicePath(typed);
    if (typed.empty() || typed.back() == '/' || typed.back() == '\\' || target.empty()) target.push_back(pcName);
    return target;
}

}  // namespace host
