// Host files behind the phone's file handles.
#include "hostfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <cerrno>

#if defined(_WIN32)
#include <io.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace ceemu {
namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;

FILETIME FileTimeFrom(int64_t seconds, int64_t nanoseconds) {
    const int64_t ticks = seconds * 10000000 + nanoseconds / 100;
    const uint64_t value =
        ticks < -static_cast<int64_t>(kUnixEpochAsFileTime) ? 0 : kUnixEpochAsFileTime + static_cast<uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

#if defined(_WIN32)
using StatRecord = struct _stat64;
int StatPath(const fs::path &path, StatRecord *record) { return _wstat64(path.c_str(), record); }
int StatDescriptor(int fd, StatRecord *record) { return _fstat64(fd, record); }
int OpenPath(const fs::path &path, int flags) { return _wopen(path.c_str(), flags | _O_BINARY, _S_IREAD | _S_IWRITE); }
#else
using StatRecord = struct stat;
int StatPath(const fs::path &path, StatRecord *record) { return ::stat(path.c_str(), record); }
int StatDescriptor(int fd, StatRecord *record) { return ::fstat(fd, record); }
int OpenPath(const fs::path &path, int flags) { return ::open(path.c_str(), flags | O_CLOEXEC, 0666); }
#endif

int OpenFlags(HostFile::Mode mode) {
    switch (mode) {
    case HostFile::Mode::Read: return O_RDONLY;
    case HostFile::Mode::ReadWrite: return O_RDWR;
    case HostFile::Mode::Create: return O_RDWR | O_CREAT;
    case HostFile::Mode::CreateNew: return O_RDWR | O_CREAT | O_EXCL;
    case HostFile::Mode::Truncate: return O_RDWR | O_CREAT | O_TRUNC;
    case HostFile::Mode::Append: return O_WRONLY | O_CREAT | O_APPEND;
    }
    return O_RDONLY;
}

}  // namespace

uint32_t DeviceErrorFromErrno(int error) {
    switch (error) {
    case ENOENT: return CE_ERROR_PATH_NOT_FOUND;
    case EEXIST: return CE_ERROR_ALREADY_EXISTS;
    case ENOSPC: return CE_ERROR_DISK_FULL;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case ENOMEM: return kErrorOutOfMemory;
    case EINVAL: return CE_ERROR_INVALID_PARAMETER;
    default: return CE_ERROR_ACCESS_DENIED;
    }
}

uint32_t DeviceErrorFrom(const std::error_code &error) {
#if defined(_WIN32)
    // std::filesystem reports the host's own error codes, which the phone shares.
    if (error.category() == std::system_category()) return static_cast<uint32_t>(error.value());
#endif
    return DeviceErrorFromErrno(error.value());
}

HostItem StatItem(const fs::path &path) {
    StatRecord record{};
    if (StatPath(path, &record) != 0) Fail(CE_ERROR_FILE_NOT_FOUND);
    HostItem item;
    item.folder = (record.st_mode & S_IFMT) == S_IFDIR;
    item.size = item.folder ? 0 : static_cast<uint64_t>(record.st_size);
#if defined(_WIN32)
    item.readOnly = (record.st_mode & _S_IWRITE) == 0;
    item.created = FileTimeFrom(record.st_ctime, 0);  // creation time on Windows
    item.accessed = FileTimeFrom(record.st_atime, 0);
    item.written = FileTimeFrom(record.st_mtime, 0);
#else
    item.readOnly = (record.st_mode & S_IWUSR) == 0;
    // POSIX keeps no creation time; the last write stands in for it.
    item.created = FileTimeFrom(record.st_mtim.tv_sec, record.st_mtim.tv_nsec);
    item.accessed = FileTimeFrom(record.st_atim.tv_sec, record.st_atim.tv_nsec);
    item.written = FileTimeFrom(record.st_mtim.tv_sec, record.st_mtim.tv_nsec);
#endif
    return item;
}

#if defined(_WIN32)
HostFile::HostFile(const fs::path &path, Mode mode, Lock lock) : m_mode(mode), m_lock(lock) {
    m_fd = OpenPath(path, OpenFlags(mode));
    if (m_fd < 0) Fail(DeviceErrorFromErrno(errno));
}

bool LockedElsewhere(const fs::path &) { return false; }
#else
HostFile::HostFile(const fs::path &path, Mode mode, Lock lock) : m_mode(mode), m_lock(lock) {
    const bool truncates = mode == Mode::Truncate && lock != Lock::None;
    m_fd = OpenPath(path, truncates ? OpenFlags(mode) & ~O_TRUNC : OpenFlags(mode));
    if (m_fd < 0) Fail(DeviceErrorFromErrno(errno));
    if (lock != Lock::None && ::flock(m_fd, (lock == Lock::Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
        Fail(kErrorSharingViolation);
    }
    if (truncates && ::ftruncate(m_fd, 0) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        Fail(DeviceErrorFromErrno(error));
    }
}

bool LockedElsewhere(const fs::path &path) {
    const int fd = OpenPath(path, O_RDONLY);
    if (fd < 0) return false;
    const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    ::close(fd);
    return locked;
}
#endif

HostFile::~HostFile() {
    if (m_fd >= 0) ::close(m_fd);
}

size_t HostFile::Read(void *buffer, size_t bytes) {
    size_t done = 0;
    while (done < bytes) {
        const auto got = ::read(m_fd, static_cast<char *>(buffer) + done, static_cast<unsigned>(bytes - done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) Fail(DeviceErrorFromErrno(errno));
        if (got == 0) break;
        done += static_cast<size_t>(got);
        m_position += static_cast<size_t>(got);
    }
    return done;
}

void HostFile::Write(const void *buffer, size_t bytes) {
    size_t done = 0;
    while (done < bytes) {
        const auto put = ::write(m_fd, static_cast<const char *>(buffer) + done, static_cast<unsigned>(bytes - done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) Fail(put < 0 ? DeviceErrorFromErrno(errno) : CE_ERROR_DISK_FULL);
        done += static_cast<size_t>(put);
        m_position += static_cast<size_t>(put);
        if (m_size && m_position > *m_size) m_size = m_position;
    }
}

void HostFile::Sync() {
#if defined(_WIN32)
    if (_commit(m_fd) != 0) Fail(DeviceErrorFromErrno(errno));
#else
    // The data and what reading it back needs (the size), as O_DSYNC gives per write.
    if (::fdatasync(m_fd) != 0) Fail(DeviceErrorFromErrno(errno));
#endif
}

uint64_t HostFile::Size() const {
    if (m_size) return *m_size;
    StatRecord record{};
    if (StatDescriptor(m_fd, &record) != 0) Fail(DeviceErrorFromErrno(errno));
    if (KeepsSize()) m_size = static_cast<uint64_t>(record.st_size);
    return static_cast<uint64_t>(record.st_size);
}

uint64_t HostFile::Position() const {
    if (m_mode != Mode::Append) return m_position;
#if defined(_WIN32)
    const int64_t position = _lseeki64(m_fd, 0, SEEK_CUR);
#else
    const off_t position = ::lseek(m_fd, 0, SEEK_CUR);
#endif
    if (position < 0) Fail(DeviceErrorFromErrno(errno));
    return static_cast<uint64_t>(position);
}

void SetReadOnly(const fs::path &path) {
    std::error_code error;
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, error);
}

}  // namespace ceemu
