// (first: cpp-httplib's winsock2.h must come before windows.h)
#include "serve_streams.h"
// (kept out of the unity build, as windows.h must not come before the others' winsock2.h)
#include <windows.h>

#include <chrono>

#include "encoding.h"

namespace host::serve {

DownloadStream::~DownloadStream() {
    if (m_in) CloseHandle(m_in);
}

// The file is made empty before the plug-in opens it, and read through a handle that
// lets the plug-in open, truncate and write it meanwhile.
bool DownloadStream::Open(std::string *error) {
    if (!m_spool.Ready()) {
        *error = m_spool.Problem();
        return false;
    }
    m_path = Utf8(m_spool.File("download"));
    HANDLE file =
        CreateFileW(WideFromUtf8(m_path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = m_path + ": error " + std::to_string(GetLastError());
        return false;
    }
    m_in = file;
    return true;
}

bool DownloadStream::Pass(httplib::DataSink &sink, const std::shared_future<Outcome> &copied) {
    for (;;) {
        // Asked before reading: what the plug-in wrote before it ended is read first.
        const bool ended = copied.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        const ptrdiff_t got = ReadAvailable();
        if (got > 0) return sink.write(m_buffer.data(), size_t(got));
        if (got < 0) return false;
        if (ended) {
            if (!copied.get().ok) return false;
            sink.done();
            return true;
        }
        // Nothing says when the plug-in wrote more: look again soon, or at its end.
        copied.wait_for(std::chrono::milliseconds(5));
    }
}

// The plug-in writes into a file, never into a full pipe: there is nothing to take.
void DownloadStream::Drain(const std::shared_future<Outcome> &copied) { copied.wait(); }

ptrdiff_t DownloadStream::ReadAvailable() {
    size_t filled = 0;
    while (filled < m_buffer.size()) {
        DWORD got = 0;
        const DWORD wanted = DWORD(m_buffer.size() - filled);
        if (!ReadFile(m_in, m_buffer.data() + filled, wanted, &got, nullptr))
            return filled > 0 ? ptrdiff_t(filled) : -1;
        if (got == 0) break;  // all the plug-in wrote so far
        filled += got;
    }
    return ptrdiff_t(filled);
}

}  // namespace host::serve
