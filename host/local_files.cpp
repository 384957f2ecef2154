#include "local_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "text.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

std::string Reason(const fs::path &path, const std::error_code &error) {
    return path.string() + ": " + error.message();
}

// A new empty file with a name of its own in `folder`.
bool CreateTemporary(const fs::path &folder, std::string *path, std::string *error) {
    static std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 50; ++attempt) {
        char name[48];
        std::snprintf(name, sizeof name, ".cebridge-%08x.part", static_cast<unsigned>(random()));
        fs::path candidate = folder / name;
        std::error_code failure;
        if (fs::exists(candidate, failure)) continue;
        if (failure) {
            *error = Reason(candidate, failure);
            return false;
        }
        std::FILE *file = OpenLocal(candidate.string(), "wb");
        if (!file) {
            *error = SystemReason(candidate.string());
            return false;
        }
        std::fclose(file);
        *path = candidate.string();
        return true;
    }
    *error = folder.string() + ": no free temporary name";
    return false;
}

bool SpoolFolder(fs::path *folder, std::string *error) {
    std::error_code failure;
    *folder = fs::temp_directory_path(failure);
    if (failure) *error = "the temporary folder: " + failure.message();
    return !failure;
}

// Copies everything from `in` to `out`; false with *error naming the side that failed.
bool CopyStream(std::FILE *in, const std::string &inName, std::FILE *out, const std::string &outName,
                std::string *error) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, out) != got) {
            *error = SystemReason(outName);
            return false;
        }
        if (got < buffer.size()) break;
    }
    if (std::ferror(in)) {
        *error = SystemReason(inName);
        return false;
    }
    if (std::fflush(out) != 0) {
        *error = SystemReason(outName);
        return false;
    }
    return true;
}

bool CopyFileTo(const std::string &from, std::FILE *out, const std::string &outName, std::string *error) {
    std::FILE *in = OpenLocal(from, "rb");
    if (!in) {
        *error = SystemReason(from);
        return false;
    }
    bool ok = CopyStream(in, from, out, outName, error);
    std::fclose(in);
    return ok;
}

bool CopyFileToPath(const std::string &from, const std::string &to, std::string *error) {
    std::FILE *out = OpenLocal(to, "wb");
    if (!out) {
        *error = SystemReason(to);
        return false;
    }
    bool ok = CopyFileTo(from, out, to, error);
    if (std::fclose(out) != 0 && ok) {
        *error = SystemReason(to);
        ok = false;
    }
    return ok;
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

bool DownloadTarget::Prepare(const std::string &typed, const std::string &fileName, std::string *error) {
    fs::path folder;
    if (typed == "-") {
        m_toStdout = true;
        return SpoolFolder(&folder, error) && CreateTemporary(folder, &m_temporary, error);
    }
    std::error_code failure;
    fs::path target = LocalPath(typed.empty() ? fileName : typed);
    fs::file_status status = fs::status(target, failure);
    if (fs::is_directory(status)) {
        target /= LocalPath(fileName);
        status = fs::status(target, failure);
    }
    if (failure && failure != std::errc::no_such_file_or_directory) {
        *error = Reason(target, failure);
        return false;
    }
    target = fs::absolute(target, failure);
    if (failure) {
        *error = Reason(target, failure);
        return false;
    }
    m_destination = target.string();
    if (fs::is_directory(status)) {
        *error = m_destination + ": is a folder";
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // A FIFO or a device is written in place once the copy is complete.
        m_stream = true;
        return SpoolFolder(&folder, error) && CreateTemporary(folder, &m_temporary, error);
    }
    if (fs::exists(status)) {
        std::FILE *probe = OpenLocal(m_destination, "ab");  // writable? (changes nothing)
        if (!probe) {
            *error = SystemReason(m_destination);
            return false;
        }
        std::fclose(probe);
    }
    folder = target.parent_path();
    if (!fs::is_directory(fs::status(folder, failure))) {
        *error = folder.string() + ": " + (failure ? failure.message() : "not a folder");
        return false;
    }
    if (!CreateTemporary(folder, &m_beside, error)) return false;
    if (!PluginPcPath(m_beside).empty()) {
        m_temporary = m_beside;
        m_beside.clear();
        return true;
    }
    // The plug-in cannot take this path: it writes a spool file that is copied beside.
    return SpoolFolder(&folder, error) && CreateTemporary(folder, &m_temporary, error);
}

bool DownloadTarget::Commit(std::string *error) {
    std::error_code failure;
    m_bytes = fs::file_size(LocalPath(m_temporary), failure);
    if (failure) {
        *error = Reason(m_temporary, failure);
        return false;
    }
    if (m_toStdout || m_stream) {
        bool ok;
        if (m_toStdout) {
#if defined(_WIN32)
            _setmode(_fileno(stdout), _O_BINARY);
#endif
            ok = CopyFileTo(m_temporary, stdout, "standard output", error);
        } else {
            ok = CopyFileToPath(m_temporary, m_destination, error);
        }
        RemoveQuietly(m_temporary);
        return ok;
    }
    if (!m_beside.empty()) {
        if (!CopyFileToPath(m_temporary, m_beside, error)) return false;
        RemoveQuietly(m_temporary);
        m_temporary = m_beside;
        m_beside.clear();
    }
    // An existing destination keeps its permissions.
    fs::file_status old = fs::status(LocalPath(m_destination), failure);
    if (fs::exists(old)) fs::permissions(LocalPath(m_temporary), old.permissions(), failure);
    fs::rename(LocalPath(m_temporary), LocalPath(m_destination), failure);
    if (failure) {
        *error = Reason(m_destination, failure);
        return false;
    }
    m_temporary.clear();
    return true;
}

void DownloadTarget::Discard() {
    RemoveQuietly(m_temporary);
    RemoveQuietly(m_beside);
}

UploadSource::~UploadSource() { RemoveQuietly(m_spool); }

bool UploadSource::Prepare(const std::string &typed, std::string *error) {
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
        if (failure) {
            *error = Reason(path, failure);
            return false;
        }
        if (fs::is_directory(status)) {
            *error = typed + ": is a folder";
            return false;
        }
        std::FILE *probe = OpenLocal(typed, "rb");
        if (!probe) {
            *error = SystemReason(typed);
            return false;
        }
        if (fs::is_regular_file(status)) {
            std::fclose(probe);
            m_path = fs::absolute(path, failure).string();
            m_size = fs::file_size(path, failure);
            if (failure) {
                *error = Reason(path, failure);
                return false;
            }
            if (!PathForPlugin().empty()) return true;
            in = OpenLocal(typed, "rb");
        } else {
            in = probe;  // a FIFO or a device: read it once, into the spool
        }
    }
    fs::path folder;
    bool ok = SpoolFolder(&folder, error) && CreateTemporary(folder, &m_spool, error);
    if (ok) {
        std::FILE *out = OpenLocal(m_spool, "wb");
        ok = out && CopyStream(in, inName, out, m_spool, error);
        if (!out) *error = SystemReason(m_spool);
        if (out && std::fclose(out) != 0 && ok) {
            *error = SystemReason(m_spool);
            ok = false;
        }
    }
    if (in && in != stdin) std::fclose(in);
    if (!ok) return false;
    std::error_code failure;
    m_path = m_spool;
    m_size = fs::file_size(LocalPath(m_spool), failure);
    return !failure;
}

}  // namespace host
