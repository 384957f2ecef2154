#include "local_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>
#include <vector>

#include "console.h"
#include "encoding.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

// "PATH: reason" as a failure of the PC's side; a full disk is no room on the PC.
Outcome FileFailure(const fs::path &path, const std::error_code &error) {
    Outcome failed = PcFailure(path.string() + ": " + error.message());
    if (error == std::errc::no_space_on_device) failed.kind = ErrorKind::kNoRoomOnPc;
    return failed;
}

// Makes something new under a hidden name of its own in `folder` with `create`, which
// answers no error once it made it, file_exists when the name is taken (the next
// name is tried), or another error.
Outcome CreateUniquelyNamed(const fs::path &folder, const std::function<std::error_code(const fs::path &)> &create,
                            std::string *path) {
    static std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 50; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, ".cebridge-%08x.part", static_cast<unsigned>(random()));
        fs::path candidate = folder / name;
        std::error_code failure = create(candidate);
        if (!failure) {
            *path = candidate.string();
            return Outcome::Ok();
        }
        if (failure != std::errc::file_exists) return FileFailure(candidate, failure);
    }
    return PcFailure(folder.string() + ": no free temporary name");
}

// A new empty file in `folder`.
Outcome CreateTemporary(const fs::path &folder, std::string *path) {
    auto create = [](const fs::path &candidate) {
        std::error_code failure;
        if (fs::exists(candidate, failure)) return std::make_error_code(std::errc::file_exists);
        if (failure) return failure;
        std::FILE *file = OpenLocal(candidate.string(), "wb");
        if (!file) return std::error_code(errno, std::generic_category());
        std::fclose(file);
        return std::error_code();
    };
    return CreateUniquelyNamed(folder, create, path);
}

// A new empty folder in `parent`, made in one step.
Outcome CreatePrivateFolder(const fs::path &parent, std::string *path) {
    auto create = [](const fs::path &candidate) {
        std::error_code failure;
        if (fs::create_directory(candidate, failure)) return std::error_code();
        return failure ? failure : std::make_error_code(std::errc::file_exists);
    };
    return CreateUniquelyNamed(parent, create, path);
}

Outcome SpoolFolder(fs::path *folder) {
    std::error_code failure;
    *folder = fs::temp_directory_path(failure);
    return failure ? PcFailure("the temporary folder: " + failure.message()) : Outcome::Ok();
}

// A new empty file in the system's temporary folder.
Outcome CreateSpoolFile(std::string *path) {
    fs::path folder;
    Outcome made = SpoolFolder(&folder);
    return made.ok ? CreateTemporary(folder, path) : made;
}

// Copies everything from `in` to `out`; a failure names the side that failed.
Outcome CopyStream(std::FILE *in, const std::string &inName, std::FILE *out, const std::string &outName) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, out) != got) return SystemFailure(outName);
        if (got < buffer.size()) break;
    }
    if (std::ferror(in)) return SystemFailure(inName);
    if (std::fflush(out) != 0) return SystemFailure(outName);
    return Outcome::Ok();
}

Outcome CopyFileTo(const std::string &from, std::FILE *out, const std::string &outName) {
    std::FILE *in = OpenLocal(from, "rb");
    if (!in) return SystemFailure(from);
    Outcome copied = CopyStream(in, from, out, outName);
    std::fclose(in);
    return copied;
}

// Copies `from` into the file at `to`, created or truncated.
Outcome CopyFileToPath(const std::string &from, const std::string &to) {
    std::FILE *out = OpenLocal(to, "wb");
    if (!out) return SystemFailure(to);
    Outcome copied = CopyFileTo(from, out, to);
    if (std::fclose(out) != 0 && copied.ok) return SystemFailure(to);
    return copied;
}

void RemoveQuietly(std::string &path) {
    if (path.empty()) return;
    std::error_code ignored;
    fs::remove(LocalPath(path), ignored);
    path.clear();
}

}  // namespace

#if defined(_WIN32)
fs::path LocalPath(const std::string &utf8) { return fs::path(WideFromUtf8(utf8)); }
std::FILE *OpenLocal(const std::string &utf8, const char *mode) {
    return _wfopen(WideFromUtf8(utf8).c_str(), WideFromUtf8(mode).c_str());
}
std::string PluginPcPath(const std::string &utf8) {
    std::wstring wide = WideFromUtf8(utf8);
    if (wide.empty()) return {};
    BOOL lossy = FALSE;
    int length =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0, nullptr, &lossy);
    std::string ansi(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), ansi.data(), length, nullptr,
                        &lossy);
    return lossy || ansi.size() > kMaxPluginPcPath ? std::string() : ansi;
}
#else
fs::path LocalPath(const std::string &utf8) { return fs::path(utf8); }
std::FILE *OpenLocal(const std::string &utf8, const char *mode) { return std::fopen(utf8.c_str(), mode); }
std::string PluginPcPath(const std::string &utf8) { return utf8.size() > kMaxPluginPcPath ? std::string() : utf8; }
#endif

std::string SystemReason(const std::string &path) { return path + ": " + std::strerror(errno); }

std::vector<fs::path> FolderItems(const fs::path &folder) {
    std::vector<fs::path> items;
    std::error_code failure;
    for (fs::directory_iterator item(folder, failure), end; !failure && item != end; item.increment(failure))
        items.push_back(item->path());
    return items;
}

Outcome SystemFailure(const std::string &path) {
    const int reason = errno;
    Outcome failed = PcFailure(SystemReason(path));
    if (reason == ENOSPC) failed.kind = ErrorKind::kNoRoomOnPc;
    return failed;
}

#if defined(_WIN32)
class StdoutPipe {};  // (standard output is written from a spool file once the copy is complete)
#else
// Standard output fed while the plug-in writes: it writes into a FIFO in a private
// folder, and a thread copies what comes out of it to standard output. A reader
// that goes away closes the FIFO, which stops the plug-in's copy.
class StdoutPipe {
public:
    ~StdoutPipe() { Finish(); }
    Outcome Open(std::string *path) {
        std::error_code failure;
        std::string pattern = (fs::temp_directory_path(failure) / "cebridge-XXXXXX").string();
        if (failure) return PcFailure("the temporary folder: " + failure.message());
        if (!mkdtemp(pattern.data())) return SystemFailure(pattern);
        m_folder = pattern;
        m_fifo = m_folder + "/stdout";
        if (mkfifo(m_fifo.c_str(), 0600) != 0) return SystemFailure(m_fifo);
        m_thread = std::thread([this] { Copy(); });
        *path = m_fifo;
        return Outcome::Ok();
    }
    // Waits for the copy to end (also when the plug-in never opened the FIFO); fails
    // when standard output refused the bytes.
    Outcome Finish() {
        if (m_thread.joinable()) {
            while (!m_done.load()) {
                int wake =
                    open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // a reader still waits for a writer
                if (wake >= 0) close(wake);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            m_thread.join();
        }
        if (!m_fifo.empty()) unlink(m_fifo.c_str());
        if (!m_folder.empty()) rmdir(m_folder.c_str());
        m_fifo.clear();
        m_folder.clear();
        if (m_errno == 0) return Outcome::Ok();
        errno = m_errno;
        return SystemFailure("standard output");
    }
    uint64_t Bytes() const { return m_bytes; }

private:
    void Copy() {
        int in = open(m_fifo.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<char> buffer(1 << 16);
        // Once standard output refuses bytes the rest is read and dropped: a FIFO closed
        // under the plug-in's writes would end the process with SIGPIPE, and the PC's
        // refusal is what the copy reports.
        for (ssize_t got; in >= 0 && (got = read(in, buffer.data(), buffer.size())) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            if (m_errno == 0 && WriteAll(buffer.data(), size_t(got))) m_bytes += uint64_t(got);
        }
        if (in >= 0) close(in);
        m_done = true;
    }
    bool WriteAll(const char *bytes, size_t size) {
        while (size > 0) {
            ssize_t put = write(fileno(ConsoleOut()), bytes, size);
            if (put < 0 && errno == EINTR) continue;
            if (put < 0) {
                m_errno = errno;
                return false;
            }
            bytes += put;
            size -= size_t(put);
        }
        return true;
    }

    std::string m_folder, m_fifo;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    uint64_t m_bytes = 0;
    int m_errno = 0;
};
#endif

DownloadTarget::DownloadTarget() = default;
DownloadTarget::~DownloadTarget() { Discard(); }

SharedPrivateFolder::~SharedPrivateFolder() { RemoveQuietly(m_folder); }

Outcome SharedPrivateFolder::Beside(const std::string &parent, std::string *folder) {
    if (m_folder.empty() || parent != m_parent) {
        RemoveQuietly(m_folder);
        if (Outcome made = CreatePrivateFolder(LocalPath(parent), &m_folder); !made.ok) return made;
        m_parent = parent;
    }
    *folder = m_folder;
    return Outcome::Ok();
}

Outcome DownloadTarget::Prepare(const std::string &typed, const std::string &fileName, SharedPrivateFolder *shared) {
    if (typed == "-") {
        m_toStdout = true;
#if !defined(_WIN32)
        m_pipe = std::make_unique<StdoutPipe>();
        return m_pipe->Open(&m_temporary);
#else
        return CreateSpoolFile(&m_temporary);
#endif
    }
    std::error_code failure;
    fs::path target = LocalPath(typed.empty() ? fileName : typed);
    fs::file_status status = fs::status(target, failure);
    if (fs::is_directory(status)) {
        target /= LocalPath(fileName);
        status = fs::status(target, failure);
    }
    if (failure && failure != std::errc::no_such_file_or_directory) return FileFailure(target, failure);
    target = fs::absolute(target, failure);
    if (failure) return FileFailure(target, failure);
    m_destination = target.string();
    if (fs::is_directory(status)) return PcFailure(m_destination + ": is a folder");
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // A FIFO or a device is written in place once the copy is complete.
        m_stream = true;
        return CreateSpoolFile(&m_temporary);
    }
    if (fs::exists(status)) {
        std::FILE *probe = OpenLocal(m_destination, "ab");  // writable? (changes nothing)
        if (!probe) return SystemFailure(m_destination);
        std::fclose(probe);
    }
    const fs::path folder = target.parent_path();
    if (!fs::is_directory(fs::status(folder, failure)))
        return PcFailure(folder.string() + ": " + (failure ? failure.message() : "not a folder"));
    // The plug-in creates the file itself, in a folder of ours beside the destination:
    // a file it reopened with truncation would be written back to disk as it closes.
    m_ownsFolder = !shared;
    Outcome made =
        shared ? shared->Beside(folder.string(), &m_privateFolder) : CreatePrivateFolder(folder, &m_privateFolder);
    if (!made.ok) {
        // The temporary is ours, hidden: the user is told about the file they named.
        size_t reason = made.message.rfind(": ");
        if (reason != std::string::npos) made.message = m_destination + made.message.substr(reason);
        return made;
    }
    m_beside = (LocalPath(m_privateFolder) / LocalPath(shared ? shared->NextFileName() : "file")).string();
    if (!PluginPcPath(m_beside).empty()) {
        m_temporary = m_beside;
        return Outcome::Ok();
    }
    // The plug-in cannot take this path: it writes a spool file that is copied beside.
    return CreateSpoolFile(&m_temporary);
}

Outcome DownloadTarget::Commit() {
#if !defined(_WIN32)
    if (m_pipe) {
        Outcome finished = m_pipe->Finish();
        m_bytes = m_pipe->Bytes();
        m_pipe.reset();
        m_temporary.clear();
        return finished;
    }
#endif
    std::error_code failure;
    m_bytes = fs::file_size(LocalPath(m_temporary), failure);
    if (failure) return FileFailure(m_temporary, failure);
    if (m_toStdout || m_stream) {
        Outcome copied;
        if (m_toStdout) {
#if defined(_WIN32)
            _setmode(_fileno(ConsoleOut()), _O_BINARY);
#endif
            copied = CopyFileTo(m_temporary, ConsoleOut(), "standard output");
        } else {
            copied = CopyFileToPath(m_temporary, m_destination);
        }
        RemoveQuietly(m_temporary);
        return copied;
    }
    if (m_temporary != m_beside) {
        if (Outcome copied = CopyFileToPath(m_temporary, m_beside); !copied.ok) return copied;
        RemoveQuietly(m_temporary);
        m_temporary = m_beside;
    }
    // An existing destination keeps its permissions.
    fs::file_status old = fs::status(LocalPath(m_destination), failure);
    if (fs::exists(old)) fs::permissions(LocalPath(m_beside), old.permissions(), failure);
    fs::rename(LocalPath(m_beside), LocalPath(m_destination), failure);
    if (failure) return FileFailure(m_destination, failure);
    m_temporary.clear();
    m_beside.clear();
    ReleaseFolder();
    return Outcome::Ok();
}

Outcome DownloadTarget::PcSideOfFailure(uint64_t expected) const {
    if (m_temporary.empty() || m_pipe) return Outcome::Ok();  // (standard output's FIFO: its reader says what failed)
    std::error_code failure;
    const fs::path temporary = LocalPath(m_temporary);
    const bool beside = m_temporary == m_beside;
    const std::string shown = beside ? m_destination : "the temporary file " + m_temporary;
    const uint64_t written = fs::file_size(temporary, failure);
    if (!failure && written < expected) {
        const fs::space_info space = fs::space(temporary.parent_path(), failure);
        if (!failure && space.available < expected - written) {
            return Outcome::Failed(0,
                                   shown + ": " + std::strerror(ENOSPC) + " (" + std::to_string(expected - written) +
                                       " more bytes needed, " + std::to_string(space.available) + " free)",
                                   ErrorKind::kNoRoomOnPc);
        }
    }
    // (appending changes nothing of what is there; the temporary is discarded after a failure)
    std::FILE *probe = OpenLocal(m_temporary, "ab");
    if (probe) {
        std::fclose(probe);
        return Outcome::Ok();
    }
    return SystemFailure(shown);
}

void DownloadTarget::Discard() {
    if (m_pipe) {
        m_pipe.reset();  // (its FIFO and folder go with it, once its reader is done)
        m_temporary.clear();
    }
    if (m_temporary == m_beside) m_temporary.clear();
    RemoveQuietly(m_temporary);
    RemoveQuietly(m_beside);
    ReleaseFolder();
}

void DownloadTarget::ReleaseFolder() {
    if (m_ownsFolder)
        RemoveQuietly(m_privateFolder);  // (empty by now)
    else
        m_privateFolder.clear();
}

UploadSource::~UploadSource() { RemoveQuietly(m_spool); }

Outcome UploadSource::ChangedOnPc() const {
    if (!m_spool.empty() || m_path.empty()) return Outcome::Ok();  // (a spool copy is ours alone)
    std::error_code failure;
    const uint64_t now = fs::file_size(LocalPath(m_path), failure);
    if (failure || now == m_size) return Outcome::Ok();
    return PcFailure(m_shown + ": changed on the PC while it was sent (" + std::to_string(m_size) +
                     " bytes when it began, " + std::to_string(now) + " now); send it again once it is complete");
}

bool UploadSource::BeginsWith(const std::string &other) const {
    std::FILE *mine = OpenLocal(m_path, "rb");
    std::FILE *theirs = OpenLocal(other, "rb");
    bool same = mine && theirs;
    std::vector<char> a(65536), b(65536);
    while (same) {
        const size_t got = std::fread(b.data(), 1, b.size(), theirs);
        if (got == 0) {
            same = !std::ferror(theirs);
            break;
        }
        same = std::fread(a.data(), 1, got, mine) == got && std::equal(a.begin(), a.begin() + long(got), b.begin());
    }
    if (mine) std::fclose(mine);
    if (theirs) std::fclose(theirs);
    return same;
}

Outcome UploadSource::Prepare(const std::string &typed) {
    m_shown = typed;
    std::FILE *in = nullptr;
    std::string inName = typed;
    if (typed == "-") {
#if defined(_WIN32)
        _setmode(_fileno(stdin), _O_BINARY);
#endif
        in = stdin;
        inName = "standard input";
    } else {
        std::error_code failure;
        const fs::path path = LocalPath(typed);
        fs::file_status status = fs::status(path, failure);
        if (failure) return FileFailure(path, failure);
        if (fs::is_directory(status)) return PcFailure(typed + ": is a folder");
        std::FILE *probe = OpenLocal(typed, "rb");
        if (!probe) return SystemFailure(typed);
        if (fs::is_regular_file(status)) {
            std::fclose(probe);
            m_path = fs::absolute(path, failure).string();
            m_size = fs::file_size(path, failure);
            if (failure) return FileFailure(path, failure);
            if (!PathForPlugin().empty()) return Outcome::Ok();
            in = OpenLocal(typed, "rb");
        } else {
            in = probe;  // a FIFO or a device: read it once, into the spool
        }
    }
    Outcome spooled = CreateSpoolFile(&m_spool);
    if (spooled.ok) {
        std::FILE *out = OpenLocal(m_spool, "wb");
        spooled = out ? CopyStream(in, inName, out, m_spool) : SystemFailure(m_spool);
        if (out && std::fclose(out) != 0 && spooled.ok) spooled = SystemFailure(m_spool);
    }
    if (in && in != stdin) std::fclose(in);
    if (!spooled.ok) return spooled;
    std::error_code failure;
    m_path = m_spool;
    m_size = fs::file_size(LocalPath(m_spool), failure);
    return failure ? FileFailure(m_spool, failure) : Outcome::Ok();
}

}  // namespace host
