#include "context.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "console.h"
#include "local_files.h"
#include "pc_setup.h"
#include "text.h"

namespace fs = std::filesystem;

namespace host {

std::atomic<bool> g_interrupted{false};

namespace {

constexpr int kKeptLogDays = 7;
constexpr uint64_t kKeptLogBytes = uint64_t(64) << 20;

void TracePacket(const char *direction, const AgentPacket &packet) {
    std::fprintf(ConsoleErr(), "%s command 0x%x sub 0x%x status 0x%x (%s) body %u tid %u\n", direction, packet.command,
                 packet.subCommand, packet.nStatus, StatusName(packet.nStatus).c_str(), packet.nBodyLength, packet.tid);
}

// Why the link did not come up, as far as the agent's side can tell: the RAPI
// provider, the phone image the emulator was told to open, or the time it took.
std::string WhyNoLink(const Options &options, const std::string &pluginPath,
                      std::chrono::steady_clock::duration waited) {
    std::string provider = !options.rapi.empty() ? options.rapi : Environment("CEBRIDGE_RAPI");
#if !defined(_WIN32)
    if (provider.empty()) provider = (fs::path(pluginPath).parent_path() / "libceemu.so").string();
#endif
    std::string error;
    if (!provider.empty() && !ProbeLibrary(provider, &error)) return "no RAPI provider: " + error;
    std::string device = !options.device.empty() ? options.device : Environment("CEBRIDGE_DEVICE");
    if (!device.empty()) {
        std::error_code failure;
        fs::file_status status = fs::status(LocalPath(device), failure);
        if (!fs::exists(status)) return "the phone image is missing: " + device;
        if (!fs::is_directory(status)) return "the phone image is not a folder: " + device;
        fs::directory_iterator probe(LocalPath(device), failure);
        if (failure) return "the phone image is unreadable: " + device + ": " + failure.message();
    }
    if (waited >= std::chrono::seconds(29)) return "the phone's link did not come up within 30 seconds";
    return "the phone refused the link";
}

}  // namespace

int Context::Connect() {
    if (connected) return kExitOk;
    if (std::string problem = CodePageProblem(); !problem.empty()) return FailUsage(problem);
    if (!pluginOpen) {
        SetEnvironment("CEBRIDGE_DEVICE", options.device);
        SetEnvironment("CEBRIDGE_RAPI", options.rapi);
        std::string error;
        if (!InstallDtdsAndSaPath(&error)) std::fprintf(ConsoleErr(), "cebridge: warning: %s\n", error.c_str());
        std::string logDir = options.logDir.empty() ? DefaultLogDirectory() : options.logDir;
        if (std::string why = PrepareLogFolder(logDir); !why.empty())
            std::fprintf(ConsoleErr(), "cebridge: warning: no log this session: %s: %s\n", logDir.c_str(), why.c_str());
        if (options.logDir.empty())                               // (it holds CEBRIDGE_LOG_DIR when that is set)
            PruneDailyLogs(logDir, kKeptLogDays, kKeptLogBytes);  // a folder of one's own choosing is left alone
        RouteProcessOutputTo(ConsoleLogPath(logDir));             // (the null device when the folder is unusable)
        std::string plugin = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
        if (options.verbose) client.trace = TracePacket;
        std::string pluginLogDir = PluginPcPath(logDir);  // the plug-in's form, when it has one
        if (!client.Open(plugin, pluginLogDir.empty() ? logDir : pluginLogDir, &error))
            return FailConnect("cannot load the plug-in: " + error);
        pluginOpen = true;
        KeepLogsPrivate(logDir);
    }
    auto started = std::chrono::steady_clock::now();
    const uint64_t printedBefore = ProcessOutputMark();
    Outcome outcome = link.Connect();
    if (!outcome.ok) {
        if (g_interrupted.load()) return Fail(outcome);
        std::fputs(ProcessOutputSince(printedBefore).c_str(), ConsoleErr());  // the phone's side says why
        std::string plugin = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
        if (outcome.status == ST_CONNECT_FAILED && outcome.message.find("number") == std::string::npos)
            outcome.message =
                "could not connect: " + WhyNoLink(options, plugin, std::chrono::steady_clock::now() - started);
        return FailConnect(outcome.message);
    }
    connected = true;
    return kExitOk;
}

int Context::LockPhoneForWriting(const char *command) {
    if (m_phoneLock) return kExitOk;
    std::string device = !options.device.empty() ? options.device : Environment("CEBRIDGE_DEVICE"), error;
    std::error_code ignored;
    if (!device.empty()) device = fs::weakly_canonical(LocalPath(device), ignored).string();
    auto lock = std::make_unique<ProcessLock>();
    if (lock->Take("phone " + device, &error)) {
        m_phoneLock = std::move(lock);
        return kExitOk;
    }
    if (!error.empty()) return FailLocal(std::string(command) + ": " + error);
    return Report(kExitFailed,
                  std::string(command) + ": another cebridge is writing to this phone; try again when it is done", 0,
                  ErrorKind::kBusy);
}

int Context::Report(int exitCode, const std::string &message, uint32_t status, ErrorKind kind) {
    std::string text = batchLine > 0 ? "line " + std::to_string(batchLine) + ": " + message : message;
    if (!captured) {  // (else the failure document carries it)
        if (status != 0)
            std::fprintf(ConsoleErr(), "cebridge: %s (status 0x%x)\n", text.c_str(), status);
        else
            std::fprintf(ConsoleErr(), "cebridge: %s\n", text.c_str());
    }
    m_failure = message;
    m_failureStatus = status;
    m_failureKind = kind;
    return exitCode;
}

int Context::Fail(const Outcome &outcome) {
    std::string note = outcome.note.empty() ? "" : "; " + DeviceToTerminal(outcome.note);
    if (g_interrupted.load()) return Report(kExitInterrupted, "interrupted" + note, 0, ErrorKind::kInterrupted);
    return Report(kExitFailed, DeviceToTerminal(outcome.message) + note, outcome.status, outcome.kind);
}

int Context::FailUsage(const std::string &message) { return Report(kExitUsage, message, 0, ErrorKind::kBadInput); }
int Context::FailLocal(const std::string &message, ErrorKind kind) { return Report(kExitLocalFile, message, 0, kind); }
int Context::FailConnect(const std::string &message) {
    return Report(kExitNoConnection, message, 0, ErrorKind::kNoConnection);
}

void Context::Emit(const std::string &tableText, const nlohmann::json &document) {
    m_emitted = true;
    if (captured) {
        *captured = document;
        return;
    }
    if (!options.json) {
        std::cout << tableText << std::flush;
        return;
    }
    // PC names need not be UTF-8: such bytes are shown as U+FFFD rather than refused.
    const auto replace = nlohmann::json::error_handler_t::replace;
    std::string text = compactJson ? document.dump(-1, ' ', false, replace) : document.dump(2, ' ', false, replace);
    if (jsonToStderr)
        std::fprintf(ConsoleErr(), "%s\n", text.c_str());
    else
        std::cout << text << std::endl;
}

void Context::BeginCommand() {
    m_emitted = false;
    m_failure.clear();
    m_failureStatus = 0;
    m_failureKind = ErrorKind::kNone;
    jsonToStderr = false;
}

void Context::EndCommand(int exitCode) {
    m_phoneLock.reset();
    if (!options.json || m_emitted || exitCode == kExitOk) return;
    nlohmann::json document = {{"error", m_failure.empty() ? "failed" : m_failure}, {"exitCode", exitCode}};
    if (m_failureStatus != 0) {
        document["status"] = m_failureStatus;
        document["statusName"] = StatusName(m_failureStatus);
    }
    if (batchLine > 0) document["line"] = batchLine;
    Emit("", document);
}

std::vector<std::string> Context::ResolveDevicePath(const std::string &typed) const {
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

}  // namespace host
