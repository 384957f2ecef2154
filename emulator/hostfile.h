// Host files behind the phone's file handles: descriptors, item facts, errno mapping.
#ifndef CEEMU_HOSTFILE_H
#define CEEMU_HOSTFILE_H

#include "device.h"

#include <optional>
#include <system_error>

namespace ceemu {

// What the phone reports about one item of fs/.
struct HostItem {
    bool folder = false;
    bool readOnly = false;
    uint64_t size = 0;
    FILETIME created{};
    FILETIME accessed{};
    FILETIME written{};
};
// Fails 2 when the item vanished.
HostItem StatItem(const std::filesystem::path &path);

// The device error for a failed host call's errno.
uint32_t DeviceErrorFromErrno(int error);
uint32_t DeviceErrorFrom(const std::error_code &error);

// An open host file; closes its descriptor when destroyed.
class HostFile {
public:
    enum class Mode { Read, ReadWrite, Create, CreateNew, Truncate, Append };
    // What other processes serving the same image are kept from while the file is
    // open (a phone's sharing across processes): nothing, writers, or everyone.
    enum class Lock { None, Shared, Exclusive };
    // Fails with the device error; a lock another process holds fails with a
    // sharing violation before anything is truncated.
    HostFile(const std::filesystem::path &path, Mode mode, Lock lock = Lock::None);
    ~HostFile();
    HostFile(const HostFile &) = delete;
    HostFile &operator=(const HostFile &) = delete;

    size_t Read(void *buffer, size_t bytes);
    void Write(const void *buffer, size_t bytes);
    void Sync();
    uint64_t Size() const;
    uint64_t Position() const;

private:
    // The size as of the last look or write, kept while no one else can write the
    // file (a lock that keeps other writers out); else looked up each time.
    bool KeepsSize() const { return m_lock != Lock::None && m_mode != Mode::Append; }

    int m_fd = -1;
    Mode m_mode;
    Lock m_lock;
    uint64_t m_position = 0;  // where the next read or write starts (but in Append mode)
    mutable std::optional<uint64_t> m_size;
};

void SetReadOnly(const std::filesystem::path &path);
// True when another process has the file open with a lock (see HostFile::Lock).
bool LockedElsewhere(const std::filesystem::path &path);

}  // namespace ceemu

#endif  // CEEMU_HOSTFILE_H
