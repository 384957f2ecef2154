#include "safeguards.h"

#include <cstdio>
#include <filesystem>

#include "local_files.h"
#include "pc_setup.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

// A file name for any key: FNV-1a of its bytes, so paths and names of any length fit.
std::string LockFileName(const std::string &key) {
    uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.lock", static_cast<unsigned long long>(hash));
    return name;
}

Outcome HeldElsewhere() { return Outcome::Failed(0, "another process holds the lock", ErrorKind::kBusy); }

}  // namespace

std::string StateFolder() {
#if defined(_WIN32)
    std::string base = Environment("LOCALAPPDATA");
    return (LocalPath(base.empty() ? "." : base) / "cebridge").string();
#else
    std::string base = Environment("XDG_STATE_HOME");
    if (base.empty()) base = Environment("HOME") + "/.local/state";
    return (fs::path(base) / "cebridge").string();
#endif
}

std::string KeptFolder() {
    std::string folder = (LocalPath(StateFolder()) / "kept").string();
    MakeDirectories(folder);
    return folder;
}

#if defined(_WIN32)
ProcessLock::~ProcessLock() {
    if (m_handle) CloseHandle(m_handle);
}

Outcome ProcessLock::Take(const std::string &key) {
    fs::path folder = LocalPath(StateFolder()) / "locks";
    MakeDirectories(folder.string());
    fs::path path = folder / LockFileName(key);
    // No sharing: a second open fails while this handle lives.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? HeldElsewhere()
                                                         : PcFailure(path.string() + ": cannot be opened");
    m_handle = handle;
    return Outcome::Ok();
}
#else
ProcessLock::~ProcessLock() {
    if (m_fd >= 0) close(m_fd);  // closing lets the lock go
}

Outcome ProcessLock::Take(const std::string &key) {
    fs::path folder = fs::path(StateFolder()) / "locks";
    MakeDirectories(folder.string());
    fs::path path = folder / LockFileName(key);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return SystemFailure(path.string());
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return HeldElsewhere();
    }
    m_fd = fd;
    return Outcome::Ok();
}
#endif

}  // namespace host
