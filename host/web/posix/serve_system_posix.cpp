#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "serve_system.h"

extern char **environ;

namespace host::serve {
namespace {

std::atomic<std::atomic<bool> *> g_stopOnSignal{nullptr};
std::atomic<std::atomic<bool> *> g_cancelOnSignal{nullptr};

extern "C" void OnStopSignal(int) {
    if (std::atomic<bool> *stop = g_stopOnSignal.load()) *stop = true;
    if (std::atomic<bool> *cancel = g_cancelOnSignal.load()) *cancel = true;
}

}  // namespace

std::string NewPrivateFolder(const char *prefix) {
    std::error_code failure;
    std::string pattern = (std::filesystem::temp_directory_path(failure) / (std::string(prefix) + "XXXXXX")).string();
    return !failure && mkdtemp(pattern.data()) ? pattern : std::string();  // (mode 0700)
}

void StopOnSignals(std::atomic<bool> &stop, std::atomic<bool> &cancel) {
    g_stopOnSignal = &stop;
    g_cancelOnSignal = &cancel;
    struct sigaction handler = {};
    handler.sa_handler = OnStopSignal;
    sigemptyset(&handler.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &handler, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

// The handlers stay (a signal after the server ended finds nothing to set).
void StopNoLongerOnSignals() {
    g_stopOnSignal = nullptr;
    g_cancelOnSignal = nullptr;
}

bool FileOpener::Open(const std::string &file, std::string *why) {
    const std::string url = "file://" + file;
    const char *argv[] = {"xdg-open", url.c_str(), nullptr};
    if (posix_spawnp(&m_child, "xdg-open", nullptr, nullptr, const_cast<char **>(argv), environ) == 0) return true;
    m_child = 0;
    *why = "cannot start xdg-open";
    return false;
}

void FileOpener::Reap() {
    if (m_child > 0 && waitpid(m_child, nullptr, WNOHANG) != 0) m_child = 0;
}

}  // namespace host::serve
