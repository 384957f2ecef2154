// The PC side of `cebridge serve`'s transfers: bodies spooled into private folders,
// downloads streamed as the phone's bytes come, names in headers.
#ifndef CEBRIDGE_HOST_WEB_SERVE_STREAMS_H
#define CEBRIDGE_HOST_WEB_SERVE_STREAMS_H

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include <httplib.h>

#include "local_files.h"
#include "outcome.h"

namespace host::serve {

std::string Query(const httplib::Request &request, const char *name);
// RFC 5987: a download keeps its phone name, whatever characters it holds.
std::string AttachmentHeader(const std::string &name);
std::string LastName(const std::string &path);
// A PC path as the host's text (UTF-8).
std::string Utf8(const std::filesystem::path &path);

// A private folder for the transfers' PC side, removed with everything in it.
class Spool {
public:
    Spool();
    ~Spool();
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;
    bool Ready() const { return !m_folder.empty(); }
    const std::string &Problem() const { return m_problem; }
    // A file of the folder under the last name of `name`.
    std::filesystem::path File(const std::string &name) const {
        return LocalPath(m_folder) / LocalPath(LastName(name));
    }

private:
    std::string m_folder, m_problem;
};

// A download on its way to a page: the plug-in writes the phone's bytes into a file
// of a private folder, and the answer's body reads them out as they come. The
// plug-in never waits for the page: on POSIX the file is a FIFO whose reading end is
// open from the start and never blocks; on Windows it is a plain file that grows
// (the download's size on the PC's disk until the answer ends).
// (posix/serve_streams_posix.cpp, win32/serve_streams_win32.cpp)
class DownloadStream {
public:
    static constexpr size_t kBuffer = 1 << 20;

    DownloadStream() = default;
    DownloadStream(const DownloadStream &) = delete;
    DownloadStream &operator=(const DownloadStream &) = delete;
    ~DownloadStream();
    bool Open(std::string *error);
    // Where the plug-in writes (UTF-8).
    const std::string &Path() const { return m_path; }
    // The next bytes into `sink`, or its end once `copied` ended well. False cuts the
    // answer short (the copy failed, or the page went away).
    bool Pass(httplib::DataSink &sink, const std::shared_future<Outcome> &copied);
    // Waits for `copied` to end, taking what comes meanwhile, so the plug-in never
    // waits for a page that went away.
    void Drain(const std::shared_future<Outcome> &copied);

private:
    // What the file holds now past what was read, up to a buffer's worth (few large
    // chunks go out faster than many small ones); 0 when nothing came yet, -1 when
    // it cannot be read.
    ptrdiff_t ReadAvailable();

    Spool m_spool;
    std::string m_path;
#if defined(_WIN32)
    void *m_in = nullptr;  // (a HANDLE)
#else
    int m_in = -1;
#endif
    std::vector<char> m_buffer = std::vector<char>(kBuffer);
};

// What the handler, the job and the answer's body of one download share.
struct StreamedDownload {
    DownloadStream stream;
    std::shared_future<Outcome> copied;
    std::atomic<bool> abandoned{false};  // the page went away: the copy is cancelled
};

// A request's body into a private folder as `name`, then `use` of it; a body that did
// not arrive whole is answered 400 (500 when the PC could not hold it).
void SpoolBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
               const std::function<void(const std::filesystem::path &)> &use);
// As SpoolBody, the whole body handed to `upload` as an upload's source.
void TakeBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
              const std::function<void(const UploadSource &)> &upload);

}  // namespace host::serve

#endif  // CEBRIDGE_HOST_WEB_SERVE_STREAMS_H
