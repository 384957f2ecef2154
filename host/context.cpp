#include "context.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "pc_setup.h"
#include "text.h"

namespace host {

std::atomic<bool> g_interrupted{false};

namespace {

void SetEnvironment(const char *name, const std::string &value) {
    if (value.empty()) return;
#if defined(_WIN32)
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void TracePacket(const char *direction, const AgentPacket &packet) {
    std::fprintf(stderr, "%s command 0x%x sub 0x%x status 0x%x (%s) body %u tid %u\n", direction, packet.command,
                 packet.subCommand, packet.nStatus, StatusName(packet.nStatus).c_str(), packet.nBodyLength, packet.tid);
}

}  // namespace

int Context::Connect() {
    if (connected) return kExitOk;
    if (!pluginOpen) {
        SetEnvironment("CEBRIDGE_DEVICE", options.device);
        SetEnvironment("CEBRIDGE_RAPI", options.rapi);
        std::string error;
        if (!InstallDtdsAndSaPath(&error)) std::fprintf(stderr, "cebridge: warning: %s\n", error.c_str());
        std::string logDir = options.logDir.empty() ? DefaultLogDirectory() : options.logDir;
        MakeDirectories(logDir);
        std::string plugin = options.plugin.empty() ? DefaultPluginPath() : options.plugin;
        if (options.verbose) client.trace = TracePacket;
        if (!client.Open(plugin, logDir, &error)) {
            std::fprintf(stderr, "cebridge: cannot load the plug-in: %s\n", error.c_str());
            return kExitNoConnection;
        }
        pluginOpen = true;
    }
    Outcome outcome = link.Connect();
    if (!outcome.ok) {
        if (g_interrupted.load()) return Fail(outcome);
        std::fprintf(stderr, "cebridge: %s\n", outcome.message.c_str());
        return kExitNoConnection;
    }
    connected = true;
    return kExitOk;
}

int Context::Fail(const Outcome &outcome) {
    if (g_interrupted.load()) {
        std::fprintf(stderr, "cebridge: interrupted\n");
        return kExitInterrupted;
    }
    if (outcome.status != 0)
        std::fprintf(stderr, "cebridge: %s (status 0x%x)\n", DeviceToTerminal(outcome.message).c_str(), outcome.status);
    else
        std::fprintf(stderr, "cebridge: %s\n", DeviceToTerminal(outcome.message).c_str());
    if (options.json) {
        nlohmann::json error = {{"error", DeviceToTerminal(outcome.message)}, {"status", outcome.status},
                                {"statusName", StatusName(outcome.status)}};
        std::cout << error.dump(2) << std::endl;
    }
    return kExitFailed;
}

int Context::FailUsage(const std::string &message) {
    std::fprintf(stderr, "cebridge: %s\n", message.c_str());
    return kExitUsage;
}

int Context::FailLocal(const std::string &message) {
    std::fprintf(stderr, "cebridge: %s\n", message.c_str());
    return kExitLocalFile;
}

void Context::Emit(const std::string &tableText, const nlohmann::json &document) {
    if (options.json)
        std::cout << document.dump(2) << std::endl;
    else
        std::cout << tableText << std::flush;
}

std::vector<std::string> Context::ResolveDevicePath(const std::string &typed) const {
    std::vector<std::string> parts;
    bool absolute = !typed.empty() && (typed[0] == '/' || typed[0] == '\\');
    if (!absolute) parts = currentFolder;
    for (const std::string &part : SplitDevicePath(TerminalToDevice(typed))) {
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
