#include "serve_streams.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "local_files.h"
#include "server.h"

namespace host::serve {

namespace fs = std::filesystem;

std::string Query(const httplib::Request &request, const char *name) {
    return request.has_param(name) ? request.get_param_value(name) : "";
}

// RFC 5987: a download keeps its phone name, whatever characters it holds.
std::string AttachmentHeader(const std::string &name) {
    std::string encoded;
    for (unsigned char c : name) {
        if (std::isalnum(c) || std::strchr("-._~", c)) {
            encoded += char(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return "attachment; filename*=UTF-8''" + encoded;
}

std::string LastName(const std::string &path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Spool::Spool() {
    std::error_code failure;
    std::string pattern = (fs::temp_directory_path(failure) / "cebridge-XXXXXX").string();
    if (!failure && mkdtemp(pattern.data()))
        m_folder = pattern;
    else
        m_problem = "no private temporary folder for the transfer";
}

Spool::~Spool() {
    std::error_code ignored;
    if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
}

FifoStream::~FifoStream() {
    if (m_in >= 0) close(m_in);
}

bool FifoStream::Open(std::string *error) {
    if (!m_spool.Ready()) {
        *error = m_spool.Problem();
        return false;
    }
    m_path = m_spool.File("download").string();
    if (mkfifo(m_path.c_str(), 0600) != 0 || (m_in = open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        *error = SystemReason(m_path);
        return false;
    }
#if defined(F_SETPIPE_SZ)
    fcntl(m_in, F_SETPIPE_SZ, int(kBuffer));  // (the default 64 KiB if refused)
#endif
    return true;
}

bool FifoStream::Pass(httplib::DataSink &sink, const std::shared_future<Outcome> &copied) {
    for (;;) {
        // Asked before reading: what the plug-in wrote before it ended is read first.
        const bool ended = copied.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        const ssize_t got = ReadAvailable();
        if (got > 0) return sink.write(m_buffer.data(), size_t(got));
        if (got < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (got == 0 && ended) {
            if (!copied.get().ok) return false;
            sink.done();
            return true;
        }
        pollfd in = {m_in, POLLIN, 0};
        if (got < 0)
            poll(&in, 1, 100);  // the plug-in has the FIFO open: wait for its bytes
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // not open yet: poll would not wait
    }
}

void FifoStream::Drain(const std::shared_future<Outcome> &copied) {
    while (copied.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        while (read(m_in, m_buffer.data(), m_buffer.size()) > 0) {
        }
}

ssize_t FifoStream::ReadAvailable() {
    size_t filled = 0;
    while (filled < m_buffer.size()) {
        const ssize_t got = read(m_in, m_buffer.data() + filled, m_buffer.size() - filled);
        if (got <= 0) return filled > 0 ? ssize_t(filled) : got;
        filled += size_t(got);
    }
    return ssize_t(filled);
}

void TakeBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
              const std::function<void(const UploadSource &)> &upload) {
    SpoolBody(reader, name, response, [&](const fs::path &taken) {
        UploadSource source;
        if (Outcome prepared = source.Prepare(taken.string()); !prepared.ok)
            return web::SendError(response, 500, prepared.message);
        upload(source);
    });
}

void SpoolBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
               const std::function<void(const fs::path &)> &use) {
    Spool spool;
    if (!spool.Ready()) return web::SendError(response, 500, spool.Problem());
    if (name.empty() || name == "." || name == "..") return web::SendError(response, 400, "name the file (name=...)");
    const fs::path taken = spool.File(name);
    {
        std::ofstream out(taken, std::ios::binary);
        const bool whole = reader([&](const char *data, size_t length) {
            out.write(data, std::streamsize(length));
            return bool(out);
        });
        out.close();
        if (!whole || !out) return web::SendError(response, whole ? 500 : 400, "the upload did not arrive whole");
    }
    use(taken);
}

}  // namespace host::serve
