#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "serve_streams.h"

namespace host::serve {

DownloadStream::~DownloadStream() {
    if (m_in >= 0) close(m_in);
}

bool DownloadStream::Open(std::string *error) {
    if (!m_spool.Ready()) {
        *error = m_spool.Problem();
        return false;
    }
    m_path = Utf8(m_spool.File("download"));
    if (mkfifo(m_path.c_str(), 0600) != 0 || (m_in = open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0) {
        *error = SystemReason(m_path);
        return false;
    }
#if defined(F_SETPIPE_SZ)
    fcntl(m_in, F_SETPIPE_SZ, int(kBuffer));  // (the default 64 KiB if refused)
#endif
    return true;
}

bool DownloadStream::Pass(httplib::DataSink &sink, const std::shared_future<Outcome> &copied) {
    for (;;) {
        // Asked before reading: what the plug-in wrote before it ended is read first.
        const bool ended = copied.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        errno = 0;
        const ptrdiff_t got = ReadAvailable();
        if (got > 0) return sink.write(m_buffer.data(), size_t(got));
        if (got < 0) return false;
        const bool writerOpen = errno == EAGAIN;  // (a FIFO no one writes reads as its end)
        if (!writerOpen && ended) {
            if (!copied.get().ok) return false;
            sink.done();
            return true;
        }
        pollfd in = {m_in, POLLIN, 0};
        if (writerOpen)
            poll(&in, 1, 100);  // the plug-in has the FIFO open: wait for its bytes
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // not open yet: poll would not wait
    }
}

void DownloadStream::Drain(const std::shared_future<Outcome> &copied) {
    while (copied.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
        while (read(m_in, m_buffer.data(), m_buffer.size()) > 0) {
        }
}

// (errno EAGAIN with 0: the plug-in has the FIFO open and wrote nothing new yet)
ptrdiff_t DownloadStream::ReadAvailable() {
    size_t filled = 0;
    while (filled < m_buffer.size()) {
        const ssize_t got = read(m_in, m_buffer.data() + filled, m_buffer.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (filled > 0) return ptrdiff_t(filled);
            return got < 0 && errno != EAGAIN ? -1 : 0;
        }
        filled += size_t(got);
    }
    return ptrdiff_t(filled);
}

}  // namespace host::serve
