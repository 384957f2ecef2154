// PC files, the local heap and the message box on POSIX. PC paths arrive with '\'
// separators, as the agent and the plug-in compose them, and are mapped to '/'.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "support/support.h"

namespace platform {

void *LocalAllocZeroed(size_t bytes) { return std::calloc(1, bytes == 0 ? 1 : bytes); }

void LocalFree(void *block) { std::free(block); }

std::string NativePath(const char *path) {
    std::string native = path != nullptr ? path : "";
    for (char &c : native) {
        if (c == '\\') c = '/';
    }
    return native;
}

FILE *OpenPcFile(const char *path, const char *mode) { return std::fopen(NativePath(path).c_str(), mode); }

intptr_t OpenWriteThroughAppend(const char *path) {
    const int flags = O_RDWR | O_APPEND | O_CREAT | O_DSYNC | O_CLOEXEC;
    int descriptor;
    do {
        descriptor = open(NativePath(path).c_str(), flags, 0644);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

bool WriteAll(intptr_t file, const void *data, size_t bytes) {
    const char *next = static_cast<const char *>(data);
    while (bytes > 0) {
        ssize_t written = write(static_cast<int>(file), next, bytes);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        next += written;
        bytes -= static_cast<size_t>(written);
    }
    return true;
}

void CloseFile(intptr_t file) {
    if (file >= 0) close(static_cast<int>(file));
}

bool CreateOneDirectory(const char *path) {
    const std::string native = NativePath(path);
    if (mkdir(native.c_str(), 0755) == 0) return true;
    struct stat info {};
    return errno == EEXIST && stat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void ShowMessageBox(const char *text, const char *caption) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    LogLine(LOG_FAULT, "MessageBox %s: %s", caption, text);
}

}  // namespace platform
