// The PC side of transfers. The plug-in reads and writes PC files by path, so the
// host hands it paths it can use: a download goes to a temporary beside its
// destination and replaces the destination only once it is complete; standard
// streams, FIFOs, devices and paths too long for the plug-in go through a spool
// file. Every failure is the PC's, in the words "PATH: the system's reason".
//
// PC paths are UTF-8 text throughout the host, on Windows too (the arguments are read
// as UTF-16 there). The file system takes them through LocalPath and OpenLocal;
// std::filesystem::path::string() gives UTF-8 back on every build we make (the
// Windows standard library converts from UTF-16). The plug-in takes a path in the
// PC's ANSI code page on Windows, so what it is handed goes through PluginPcPath.
#ifndef CEBRIDGE_HOST_LOCAL_FILES_H
#define CEBRIDGE_HOST_LOCAL_FILES_H

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "outcome.h"

namespace host {

// The longest PC path the plug-in takes.
constexpr size_t kMaxPluginPcPath = 255;

std::filesystem::path LocalPath(const std::string &utf8);
std::FILE *OpenLocal(const std::string &utf8, const char *mode);
// The path as the plug-in takes it, or "" when it has no such form (a name the ANSI
// code page cannot spell) or is longer than the plug-in takes.
std::string PluginPcPath(const std::string &utf8);

class StdoutPipe;

// A private folder kept for a run of downloads into the same PC folders (get -r), so
// that each file does not make and remove one; removed once empty.
class SharedPrivateFolder {
public:
    SharedPrivateFolder() = default;
    ~SharedPrivateFolder();
    SharedPrivateFolder(const SharedPrivateFolder &) = delete;
    SharedPrivateFolder &operator=(const SharedPrivateFolder &) = delete;

    // Ours, in `parent` (a new one when `parent` changes).
    Outcome Beside(const std::string &parent, std::string *folder);
    // A name of its own for each file written in it: a download may be sent ahead
    // while the one before it is still in the folder.
    std::string NextFileName() { return std::to_string(m_files++); }

private:
    std::string m_parent, m_folder;
    uint64_t m_files = 0;
};

// Where a download lands. The temporary is removed unless Commit succeeds.
class DownloadTarget {
public:
    DownloadTarget();
    ~DownloadTarget();
    DownloadTarget(const DownloadTarget &) = delete;
    DownloadTarget &operator=(const DownloadTarget &) = delete;

    // `typed`: a path, a folder (the phone's name is kept), "" (the current
    // folder) or "-" (standard output: on POSIX a FIFO the plug-in writes into, copied
    // out as the bytes arrive). Makes the temporary. With `shared`, the file is
    // written in its folder.
    Outcome Prepare(const std::string &typed, const std::string &fileName, SharedPrivateFolder *shared = nullptr);
    const std::string &TemporaryPath() const { return m_temporary; }
    std::string TemporaryForPlugin() const { return PluginPcPath(m_temporary); }
    // Moves the complete temporary to the destination; after a failure the
    // destination is as it was.
    Outcome Commit();
    void Discard();
    // After a failed copy: whether the PC's side failed it. The plug-in answers a PC
    // file it could not create or write as it answers a phone file it could not read,
    // so the PC's side is looked at: a disk out of room for the `expected` bytes
    // (kNoRoomOnPc) or a temporary the PC will not let be written (kPcFile), naming
    // the file and the system's reason. Ok: the PC's side did not fail it.
    Outcome PcSideOfFailure(uint64_t expected) const;

    std::string Destination() const { return m_toStdout ? "-" : m_destination; }
    uint64_t Bytes() const { return m_bytes; }

private:
    void ReleaseFolder();

    std::string m_destination;
    std::string m_temporary;      // what the plug-in writes
    std::string m_privateFolder;  // ours, beside the destination: holds m_beside
    std::string m_beside;         // renamed to the destination (m_temporary, or a copy of it)
    bool m_ownsFolder = true;     // false: m_privateFolder is a SharedPrivateFolder's
    bool m_toStdout = false;
    bool m_stream = false;  // the destination is written in place (FIFO, device)
    uint64_t m_bytes = 0;
    std::unique_ptr<StdoutPipe> m_pipe;  // standard output fed as the bytes arrive (POSIX)
};

// What an upload reads: the file itself, or a spool copy of a stream or of a file
// whose path the plug-in cannot take.
class UploadSource {
public:
    UploadSource() = default;
    ~UploadSource();
    UploadSource(const UploadSource &) = delete;
    UploadSource &operator=(const UploadSource &) = delete;

    // `typed`: a file, a FIFO or device, or "-" (standard input).
    Outcome Prepare(const std::string &typed);
    std::string PathForPlugin() const { return PluginPcPath(m_path); }
    std::string Shown() const { return m_shown; }
    uint64_t Size() const { return m_size; }
    // After a failed upload: a failure naming the PC file read in place when it
    // changed its size since Prepare (the plug-in sends up to its end).
    Outcome ChangedOnPc() const;
    // Whether the PC file `other` holds the source's first bytes (all of it: no more
    // bytes than the source has); false too when either cannot be read.
    bool BeginsWith(const std::string &other) const;

private:
    std::string m_path;
    std::string m_shown;
    std::string m_spool;
    uint64_t m_size = 0;
};

// "PATH: reason" for the last failed C library call.
std::string SystemReason(const std::string &path);
// The last failed C library call on `path` as the PC's failure (kNoRoomOnPc for a full disk).
Outcome SystemFailure(const std::string &path);

// What `folder` holds, as far as it can be listed (none when it cannot be opened). A
// range-for over a directory_iterator throws when a step fails; this never throws.
std::vector<std::filesystem::path> FolderItems(const std::filesystem::path &folder);

}  // namespace host

#endif  // CEBRIDGE_HOST_LOCAL_FILES_H
