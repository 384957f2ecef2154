// cebridge: the agent side of the plug-in, for people and scripts.
#include <csignal>
#include <cstdlib>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "console.h"
#include "pc_setup.h"

#if defined(_WIN32)
#include <windows.h>
// (after windows.h, which it needs)
#include <shellapi.h>

#include "text.h"
#endif

namespace {

extern "C" void OnInterrupt(int) { host::g_interrupted = true; }

#if defined(_WIN32)
// The arguments as typed, in any script: read as UTF-16, kept as UTF-8 like every
// text of the host (the C library's argv would hold only what the ANSI code page spells).
std::vector<std::string> Arguments(int, char **) {
    SetConsoleOutputCP(CP_UTF8);  // the host writes UTF-8
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(host::Utf8FromWide(wide[i]));
    LocalFree(wide);
    return arguments;
}
#else
std::vector<std::string> Arguments(int argc, char **argv) { return std::vector<std::string>(argv + 1, argv + argc); }
#endif

}  // namespace

int main(int argc, char **argv) {
    host::KeepConsole();
    host::Options defaults;
    defaults.device = host::Environment("CEBRIDGE_DEVICE");
    defaults.rapi = host::Environment("CEBRIDGE_RAPI");
    defaults.plugin = host::Environment("CEBRIDGE_PLUGIN");
    defaults.logDir = host::Environment("CEBRIDGE_LOG_DIR");
    host::Context context(defaults);
    host::Options &options = context.options;

    CLI::App app("cebridge: reach a Windows Mobile phone through the cebridge plug-in", "cebridge");
    app.add_flag("--json", options.json, "one JSON document per command (progress as NDJSON on stderr)");
    app.add_flag("-v,--verbose", options.verbose, "show each request and answer on stderr");
    app.add_flag("--progress", options.progress, "show transfer progress even when stderr is not a terminal");
    app.add_option("--device", options.device, "the phone image folder for the emulator (CEBRIDGE_DEVICE)");
    app.add_option("--rapi", options.rapi, "the RAPI provider library (CEBRIDGE_RAPI)");
    app.add_option("--plugin", options.plugin, "the plug-in library (CEBRIDGE_PLUGIN)");
    app.add_option("--log-dir", options.logDir, "where the plug-in writes its daily log (CEBRIDGE_LOG_DIR)");

    app.fallthrough();  // global options may also follow the command
    int exitCode = host::kExitOk;
    host::AddCommands(app, context, exitCode, false);

    app.set_version_flag("--version", std::string("cebridge ") + CEBRIDGE_VERSION);

#if defined(_WIN32)
    std::signal(SIGINT, OnInterrupt);
#else
    // Not restarted: a read at the shell's prompt returns, so Ctrl-C ends the line.
    // TERM and HUP (a closed terminal) stop a command as Ctrl-C does, cleaning up
    // the same way; so does PIPE (the reader of standard output went away), which
    // would otherwise end the process with a temporary left behind.
    struct sigaction interrupt = {};
    interrupt.sa_handler = OnInterrupt;
    sigemptyset(&interrupt.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(signal, &interrupt, nullptr);
#endif
    return host::ParseAndRun(app, context, exitCode, Arguments(argc, argv));
}
