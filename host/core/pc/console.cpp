#include "console.h"

#include <ext/stdio_sync_filebuf.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "encoding.h"
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace host {
namespace {

#if defined(_WIN32)
#define fileno _fileno
#endif

FILE *g_out = nullptr;
FILE *g_err = nullptr;
std::string g_routedTo;

// A second descriptor for the stream on `fd` as a stream of its own; null when the
// process was started without it.
FILE *CopyOf(int fd) {
#if defined(_WIN32)
    int copy = fd >= 0 ? _dup(fd) : -1;
    return copy >= 0 ? _fdopen(copy, "w") : nullptr;
#else
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return copy >= 0 ? fdopen(copy, "w") : nullptr;
#endif
}

int OpenForAppending(const std::string &file) {
#if defined(_WIN32)
    return _wopen(WideFromUtf8(file).c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    return open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
#endif
}

std::filesystem::path RoutedFile() {
#if defined(_WIN32)
    return WideFromUtf8(g_routedTo);
#else
    return g_routedTo;
#endif
}

int OpenNullDevice() {
#if defined(_WIN32)
    return _open("NUL", _O_WRONLY);
#else
    return open("/dev/null", O_WRONLY | O_CLOEXEC);
#endif
}

void PointStandardStreamsAt(int fd) {
    std::fflush(stdout);
    std::fflush(stderr);
#if defined(_WIN32)
    _dup2(fd, 1);
    _dup2(fd, 2);
    // A plug-in with a C runtime of its own takes these when it loads.
    SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(1)));
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(2)));
    _close(fd);
#else
    dup2(fd, STDOUT_FILENO);
    dup2(fd, STDERR_FILENO);
    close(fd);
#endif
}

}  // namespace

void KeepConsole() {
    if (g_out) return;
    std::fflush(stdout);
    g_out = CopyOf(fileno(stdout));
    if (!g_out) g_out = stdout;
    g_err = CopyOf(fileno(stderr));
    if (!g_err) g_err = stderr;
    std::setvbuf(g_err, nullptr, _IONBF, 0);
    // Never destroyed: std::cout is flushed at the very end of the process.
    std::cout.rdbuf(new __gnu_cxx::stdio_sync_filebuf<char>(g_out));
    std::cerr.rdbuf(new __gnu_cxx::stdio_sync_filebuf<char>(g_err));
}

FILE *ConsoleOut() { return g_out ? g_out : stdout; }
FILE *ConsoleErr() { return g_err ? g_err : stderr; }

std::string RouteProcessOutputTo(const std::string &file) {
    KeepConsole();
    int fd = OpenForAppending(file);
    std::string why = fd < 0 ? file + ": " + std::strerror(errno) : std::string();
    if (fd < 0) fd = OpenNullDevice();
    if (fd >= 0) PointStandardStreamsAt(fd);
    if (why.empty()) g_routedTo = file;
    return why;
}

uint64_t ProcessOutputMark() {
    std::error_code failure;
    uint64_t size = g_routedTo.empty() ? 0 : std::filesystem::file_size(RoutedFile(), failure);
    return failure ? 0 : size;
}

std::string ProcessOutputSince(uint64_t mark) {
    constexpr uint64_t kMostShown = 4096;
    const uint64_t end = ProcessOutputMark();
    if (end <= mark) return {};
    std::ifstream in(RoutedFile(), std::ios::binary);
    in.seekg(static_cast<std::streamoff>(std::max(mark, end > kMostShown ? end - kMostShown : 0)));
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace host
