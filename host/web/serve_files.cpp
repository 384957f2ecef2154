// The routes of the phone's information, its files and its packages.
#include <cstdlib>
#include <future>
#include <memory>

#include "encoding.h"
#include "file_results.h"
#include "phone_files.h"
#include "phone_operations.h"
#include "phone_rename.h"
#include "serve_api.h"
#include "serve_streams.h"

namespace host::serve {
namespace {

// The progress of a download to a page; a page that went away cancels it.
class PageDownload : public TransferSink {
public:
    PageDownload(TransferSink &sink, PhoneWorker &worker, const std::atomic<bool> &abandoned)
        : m_sink(sink), m_worker(worker), m_abandoned(abandoned) {}
    void Begin(uint64_t totalBytes, uint64_t files) override { m_sink.Begin(totalBytes, files); }
    void StartFile(const std::string &shown) override { m_sink.StartFile(shown); }
    void Add(uint64_t bytes) override {
        if (m_abandoned) m_worker.CancelCurrent();
        m_sink.Add(bytes);
    }
    void Finish(bool ok) override { m_sink.Finish(ok); }

private:
    TransferSink &m_sink;
    PhoneWorker &m_worker;
    const std::atomic<bool> &m_abandoned;
};

// The largest file a page previews: a preview is read whole into the page.
constexpr uint64_t kLargestPreview = 4 << 20;

// The content type a page may preview a file of `name` as: images a browser draws
// without running anything (no SVG), and text, which the page shows as text; "" for
// any other file.
std::string PreviewType(const std::string &name) {
    static const std::pair<const char *, const char *> kTypes[] = {
        {".PNG", "image/png"},  {".JPG", "image/jpeg"}, {".JPEG", "image/jpeg"}, {".GIF", "image/gif"},
        {".BMP", "image/bmp"},  {".TXT", "text/plain"}, {".LOG", "text/plain"},  {".CSV", "text/plain"},
        {".INI", "text/plain"}, {".XML", "text/plain"}, {".HTM", "text/plain"},  {".HTML", "text/plain"}};
    const size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : AsciiUpper(name.substr(dot));
    for (const auto &[known, type] : kTypes)
        if (extension == known) return type;
    return {};
}

// The download job: the file found (`checked` is set then), then its bytes into the stream.
// A preview (`largest` > 0) refuses a file listed larger before its first byte (the
// listing tells sizes modulo 4 GiB: the page stops reading at the same limit).
Outcome CopyToPage(PhoneWorker &worker, PhoneSession &session, const std::string &path, StreamedDownload &download,
                   std::promise<void> &checked, TransferSink &sink, uint64_t largest) {
    FoundFile file;
    const Outcome found = FindDownload(session.link, session.ResolveDevicePath(path), &file);
    if (!found.ok) return found;
    if (largest && file.entry.Size() > largest)
        return Outcome::Failed(0,
                               file.entry.name + " is too large to preview (" + std::to_string(file.entry.Size()) +
                                   " bytes; a preview takes up to " + std::to_string(largest) + "): download it",
                               ErrorKind::kBadInput);
    checked.set_value();
    PageDownload progress(sink, worker, download.abandoned);
    return FetchFile(session.link, file, PluginPcPath(download.stream.Path()), progress);
}

// GET /api/file: the file goes to the page as it comes from the phone. The checks
// before the first byte answer as `get` does; a failure or a cancel after it cuts
// the answer short (no last chunk), so the browser keeps no partial file; a page
// that goes away cancels the copy. A preview (`previewType` not "") goes with that
// content type, still as an attachment (an address opened in a tab downloads it).
void SendDownload(PhoneRoutes &routes, const std::string &path, httplib::Response &response,
                  const std::string &previewType = "") {
    const uint64_t largest = previewType.empty() ? 0 : kLargestPreview;
    auto download = std::make_shared<StreamedDownload>();
    std::string error;
    if (!download->stream.Open(&error)) return web::SendError(response, 500, error);
    // Set once the file is found; else dropped unset with the job (only the job holds it).
    auto checked = std::make_shared<std::promise<void>>();
    std::future<void> check = checked->get_future();
    download->copied = routes.worker
                           .Submit(routes.PhoneJob(Access::Reads(),
                                                   [&routes, download, checked = std::move(checked), path, largest](
                                                       PhoneSession &session, TransferSink &sink) {
                                                       return CopyToPage(routes.worker, session, path, *download,
                                                                         *checked, sink, largest);
                                                   }),
                                   web::Server::RequestOperation())
                           .share();
    try {
        check.get();
    } catch (const std::future_error &) {
        return ReplyFailure(response, "get", download->copied.get());
    }
    response.set_header("Content-Disposition", AttachmentHeader(LastName(path)));
    response.set_chunked_content_provider(
        previewType.empty() ? "application/octet-stream" : previewType,
        [download](size_t, httplib::DataSink &sink) { return download->stream.Pass(sink, download->copied); },
        [download](bool whole) {
            if (whole) return;
            download->abandoned = true;
            download->stream.Drain(download->copied);
        });
}

// An upload the phone's store cannot hold is refused before its body comes: a page
// need not send gigabytes to hear that. Anything else but a cancel the put itself says.
Outcome RoomForUpload(PhoneRoutes &routes, const std::string &path, uint64_t size) {
    return routes.OnPhone(Access::Reads(), [&](PhoneSession &session, TransferSink &) {
        const std::vector<std::string> target = session.ResolveDevicePath(path);
        if (target.empty()) return Outcome::Ok();
        std::vector<FolderEntry> listing;
        const std::vector<std::string> folder(target.begin(), target.end() - 1);
        const Outcome entered = session.link.EnterFolder(folder, &listing);
        if (!entered.ok) return entered.kind == ErrorKind::kInterrupted ? entered : Outcome::Ok();
        return CheckRoom(session.link, target, size, FindEntry(listing, target.back()));
    });
}

}  // namespace

void AddFileRoutes(web::Server &server, PhoneRoutes &routes) {
    httplib::Server &http = server.Http();
    http.Get("/api/info", [&routes](const httplib::Request &, httplib::Response &response) {
        routes.Respond(response, "info", Access::Reads(),
                       [](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           Capability capability;
                           const Outcome outcome = session.link.ReadCapability(&capability);
                           *document = InfoJson(capability);
                           return outcome;
                       });
    });
    http.Get("/api/files", [&routes](const httplib::Request &request, httplib::Response &response) {
        routes.Respond(response, "ls", Access::Reads(),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           const std::vector<std::string> path = session.ResolveDevicePath(Query(request, "path"));
                           std::vector<FolderEntry> entries;
                           const Outcome outcome = ListPhonePath(session.link, path, &entries);
                           *document = ListingJson(path, entries);
                           return outcome;
                       });
    });
    http.Get("/api/apps", [&routes](const httplib::Request &, httplib::Response &response) {
        routes.Respond(response, "apps", Access::Reads(),
                       [](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           std::vector<ContentItem> packages;
                           const Outcome outcome = ListApps(session.link, &packages);
                           *document = AppsJson(packages);
                           return outcome;
                       });
    });

    http.Post("/api/apps", [&routes](const httplib::Request &request, httplib::Response &response,
                                     const httplib::ContentReader &reader) {
        const std::string name = Query(request, "name");
        TakeBody(reader, name, response, [&](const UploadSource &source) {
            routes.Respond(response, "install", Access::Writes("phone"),
                           [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                               std::string installed;
                               const Outcome outcome =
                                   InstallPcPackage(session.link, source, LastName(name), sink, &installed);
                               *document = InstallJson(installed);
                               return outcome;
                           });
        });
    });

    http.Get("/api/file", [&routes](const httplib::Request &request, httplib::Response &response) {
        SendDownload(routes, Query(request, "path"), response);
    });
    http.Get("/api/preview", [&routes](const httplib::Request &request, httplib::Response &response) {
        const std::string path = Query(request, "path"), type = PreviewType(LastName(path));
        if (type.empty())
            return ReplyFailure(
                response, "preview",
                Outcome::Failed(0, "no preview of this kind of file: download it", ErrorKind::kBadInput));
        SendDownload(routes, path, response, type);
    });
    http.Put("/api/file", [&routes](const httplib::Request &request, httplib::Response &response,
                                    const httplib::ContentReader &reader) {
        const std::string path = Query(request, "path");
        const std::string length = request.get_header_value("Content-Length");
        Outcome room = RoomForUpload(routes, path, std::strtoull(length.c_str(), nullptr, 10));
        if (!room.ok) return ReplyFailure(response, "put", room);
        TakeBody(reader, "upload", response, [&](const UploadSource &source) {
            routes.Respond(response, "put", Access::Writes("files"),
                           [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                               std::vector<std::string> stored;
                               const Outcome outcome =
                                   UploadFile(session.link, source, session.ResolveUploadTarget(path, "upload"),
                                              "upload", sink, &stored);
                               *document = UploadJson(source, stored);
                               (*document)["local"] = LastName(path);  // the page's file, not the spool's
                               return outcome;
                           });
        });
    });
    http.Delete("/api/file", [&routes](const httplib::Request &request, httplib::Response &response) {
        routes.Respond(response, "rm", Access::Writes("files"),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           Removal removal;
                           const bool recursive = Query(request, "recursive") == "true";  // rm -r
                           const Outcome outcome = RemovePhoneFiles(
                               session.link, session.ResolveDevicePath(Query(request, "path")), recursive, &removal);
                           *document = RemovalJson(removal);
                           return outcome;
                       });
    });
    // ?path=PATH&name=NEW: the file gets the new name in its folder (phone_rename.h).
    http.Post("/api/rename", [&routes](const httplib::Request &request, httplib::Response &response) {
        routes.Respond(response, "rename", Access::Writes("files"),
                       [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                           std::vector<std::string> renamed;
                           const std::vector<std::string> path = session.ResolveDevicePath(Query(request, "path"));
                           const Outcome outcome = RenamePhoneFile(
                               session.link, path, TerminalToDeviceName(Query(request, "name")), sink, &renamed);
                           *document = {{"renamed", ShownPath(path)}, {"to", ShownPath(renamed)}};
                           return outcome;
                       });
    });
    http.Post("/api/folder", [&routes](const httplib::Request &request, httplib::Response &response) {
        routes.Respond(response, "mkdir", Access::Writes("files"),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           const std::vector<std::string> folder = session.ResolveDevicePath(Query(request, "path"));
                           *document = NewFolderJson(folder);
                           return MakePhoneFolder(session.link, folder);
                       });
    });
    server.AllowLargeBodies("PUT", "/api/file");
    server.AllowLargeBodies("POST", "/api/apps");
}

}  // namespace host::serve
