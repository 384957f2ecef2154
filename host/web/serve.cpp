// Each API request runs an operation of the host's core; its document is the one the
// core makes for the command line's --json too. The phone's worker runs one operation
// at a time on the phone's single session, whichever tab or script sent it.
#include "serve.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <thread>

#include "backup.h"
#include "console.h"
#include "encoding.h"
#include "file_tree.h"
#include "interop.h"
#include "local_files.h"
#include "pc_setup.h"
#include "phone_files.h"
#include "phone_operations.h"
#include "phone_worker.h"
#include "pim_operations.h"
#include "progress.h"
#include "server.h"
#include "text.h"
#if defined(CEBRIDGE_HAVE_SYNC)
#include "sync.h"
#endif

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#if !defined(_WIN32)
#include <spawn.h>
#include <sys/wait.h>
#include <csignal>
extern char **environ;
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

// Set by Ctrl-C, TERM and HUP: the server ends (and the operation in flight with it).
// A page's cancel goes through the phone's worker, which ends the operation alone.
std::atomic<bool> g_stopServing{false};

extern "C" void OnStopSignal(int) {
    g_stopServing = true;
    g_interrupted = true;
}

void StopOnSignals() {
    struct sigaction stop = {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a page that goes away is the server's to notice, not a stop
}

// Server-sent events: progress of the operation in flight and the connection state,
// to every page that listens.
class EventHub {
public:
    void Publish(const nlohmann::json &event) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        if (m_events.size() > kKept) m_events.pop_front();
        ++m_published;
        m_changed.notify_all();
    }
    // The events after the `seen`th, waiting up to `wait` for one; empty after Close.
    std::vector<std::string> After(uint64_t *seen, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, wait, [&] { return m_closed || m_published > *seen; });
        std::vector<std::string> events;
        const uint64_t first = m_published - m_events.size();
        for (uint64_t n = std::max(*seen, first); n < m_published; ++n) events.push_back(m_events[n - first]);
        *seen = m_published;
        return events;
    }
    uint64_t Published() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_published;
    }
    bool Closed() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_closed;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        m_changed.notify_all();
    }

private:
    static constexpr size_t kKept = 64;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_events;
    uint64_t m_published = 0;
    bool m_closed = false;
};

// The progress of the phone worker's jobs as the progress events of --json, to every
// page (a command's own Progress reaches them through g_progressEvents).
class PageProgress : public TransferSink {
public:
    void Begin(uint64_t totalBytes, uint64_t files) override {
        m_copy.emplace(true, false);
        m_copy->Begin(totalBytes, files);
    }
    void StartFile(const std::string &shown) override {
        if (m_copy) m_copy->StartFile(shown);
    }
    void Add(uint64_t bytes) override {
        if (m_copy) m_copy->Add(bytes);
    }
    void Finish(bool ok) override {
        if (m_copy) m_copy->Finish(ok);
        m_copy.reset();
    }

private:
    std::optional<Progress> m_copy;
};

// The HTTP status of a failure of this kind.
int HttpStatus(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::kBadInput: return 400;
    case ErrorKind::kReadOnly: return 403;
    case ErrorKind::kNotFound: return 404;
    case ErrorKind::kNoRoomOnPhone:
    case ErrorKind::kNoRoomOnPc: return 507;
    case ErrorKind::kPcFile: return 500;
    case ErrorKind::kNoConnection: return 503;
    default: return 409;  // refused, busy, interrupted, in the way
    }
}

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

// A private folder for the transfers' PC side, removed with everything in it.
class Spool {
public:
    Spool() {
        std::error_code failure;
        std::string pattern = (fs::temp_directory_path(failure) / "cebridge-XXXXXX").string();
        if (!failure && mkdtemp(pattern.data()))
            m_folder = pattern;
        else
            m_problem = "no private temporary folder for the transfer";
    }
    ~Spool() {
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
    }
    Spool(const Spool &) = delete;
    Spool &operator=(const Spool &) = delete;
    bool Ready() const { return !m_folder.empty(); }
    const std::string &Problem() const { return m_problem; }
    // A file of the folder under the last name of `name`.
    fs::path File(const std::string &name) const { return fs::path(m_folder) / LastName(name); }

private:
    std::string m_folder, m_problem;
};

// A download on its way to a page: the plug-in writes the phone's bytes into a FIFO
// of a private folder, and the answer's body reads them out as they come. Our end is
// open from the start and never blocks, so the plug-in never waits for a reader.
class FifoStream {
public:
    static constexpr size_t kBuffer = 1 << 20;

    ~FifoStream() {
        if (m_in >= 0) close(m_in);
    }
    bool Open(std::string *error) {
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
    const std::string &Path() const { return m_path; }

    // The next bytes into `sink`, or its end once `copied` ended well. False cuts the
    // answer short (the copy failed, or the page went away).
    bool Pass(httplib::DataSink &sink, const std::shared_future<Outcome> &copied) {
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
    // Reads and drops what comes until `copied` ended, so the plug-in never waits on
    // a full FIFO after the page went away.
    void Drain(const std::shared_future<Outcome> &copied) {
        while (copied.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready)
            while (read(m_in, m_buffer.data(), m_buffer.size()) > 0) {
            }
    }

private:
    // What the FIFO holds now, up to a buffer's worth: few large chunks go out faster
    // than many small ones. -1 (errno EAGAIN) when it holds nothing yet.
    ssize_t ReadAvailable() {
        size_t filled = 0;
        while (filled < m_buffer.size()) {
            const ssize_t got = read(m_in, m_buffer.data() + filled, m_buffer.size() - filled);
            if (got <= 0) return filled > 0 ? ssize_t(filled) : got;
            filled += size_t(got);
        }
        return ssize_t(filled);
    }

    Spool m_spool;
    std::string m_path;
    int m_in = -1;
    std::vector<char> m_buffer = std::vector<char>(kBuffer);
};

// What the handler, the job and the answer's body of one download share.
struct StreamedDownload {
    FifoStream fifo;
    std::shared_future<Outcome> copied;
    std::atomic<bool> abandoned{false};  // the page went away: the copy is cancelled
};

class Api {
public:
    Api(web::Server &server, Context &context, PhoneWorker &worker, EventHub &events)
        : m_context(context), m_worker(worker), m_events(events) {
        m_context.options.json = true;
        httplib::Server &http = server.Http();
        AddReads(http);
        AddFiles(http);
        AddPim(http);
        AddChanges(http);
#if defined(CEBRIDGE_HAVE_SYNC)
        AddSync(http);
#endif
        // ?operation=NAME cancels the operation a request named so (X-Operation), in
        // flight or waiting, and nothing else; without it, whatever runs now.
        http.Post("/api/cancel", [this](const httplib::Request &request, httplib::Response &response) {
            const std::string operation = Query(request, "operation");
            const bool cancelled = operation.empty() ? m_worker.CancelCurrent() : m_worker.Cancel(operation);
            web::SendJson(response, 200, {{"cancelled", cancelled}});
        });
        http.Get("/api/events", [this](const httplib::Request &, httplib::Response &response) { Stream(response); });
        // A plain link cannot carry the token's header: the page asks for a ticket first.
        http.Post("/api/ticket", [&server](const httplib::Request &, httplib::Response &response) {
            web::SendJson(response, 200, {{"ticket", server.IssueTicket()}});
        });
        server.AllowLargeBodies("PUT", "/api/file");
        server.AllowLargeBodies("POST", "/api/apps");
        for (const char *kind : {"contacts", "calendar"})
            server.AllowLargeBodies("POST", std::string("/api/") + kind + "/import");
    }

private:
    // An operation of the host's core on the phone (connected first), on the worker.
    // `writes`: under the phone's write lock, as the command line takes it.
    using Operation = std::function<Outcome(PhoneSession &, TransferSink &)>;
    Outcome OnPhone(const Operation &operation, bool writes = false) {
        return m_worker.Run(PhoneJob(operation, writes), web::Server::RequestOperation());
    }
    PhoneWorker::Job PhoneJob(Operation operation, bool writes = false) {
        return [this, operation, writes](PhoneSession &session, const JobSinks &sinks) {
            Outcome outcome = writes ? session.LockForWriting(m_context.options) : Outcome::Ok();
            ConnectReport report;
            if (outcome.ok) outcome = session.Connect(m_context.options, &report);
            for (const std::string &warning : report.warnings) PrintWarning(warning);
            if (outcome.ok) outcome = operation(session, sinks.transfer);
            if (!outcome.ok && session.link.Interrupted()) outcome.kind = ErrorKind::kInterrupted;
            session.ReleaseWriteLock();
            m_events.Publish({{"event", "connection"}, {"connected", session.connected}});
            return outcome;
        };
    }
    // Answers the document an operation of `command` makes, or its failure document.
    void Respond(httplib::Response &response, const char *command,
                 const std::function<Outcome(PhoneSession &, TransferSink &, nlohmann::json *)> &operation,
                 bool writes = false) {
        nlohmann::json document;
        const Outcome outcome = OnPhone(
            [&](PhoneSession &session, TransferSink &sink) { return operation(session, sink, &document); }, writes);
        if (outcome.ok) return web::SendJson(response, 200, document);
        ReplyFailure(response, command, outcome);
    }
    static void ReplyFailure(httplib::Response &response, const char *command, const Outcome &outcome) {
        web::SendJson(response, HttpStatus(outcome.kind),
                      FailureDocument(FailureText(command, outcome), ExitCodeFor(outcome), outcome.status));
    }

    void AddReads(httplib::Server &http) {
        http.Get("/api/info", [this](const httplib::Request &, httplib::Response &response) {
            Respond(response, "info", [](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                Capability capability;
                const Outcome outcome = session.link.ReadCapability(&capability);
                *document = InfoJson(capability);
                return outcome;
            });
        });
        http.Get("/api/files", [this](const httplib::Request &request, httplib::Response &response) {
            Respond(response, "ls", [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                const std::vector<std::string> path = session.ResolveDevicePath(Query(request, "path"));
                std::vector<FolderEntry> entries;
                const Outcome outcome = ListPhonePath(session.link, path, &entries);
                *document = ListingJson(path, entries);
                return outcome;
            });
        });
        http.Get("/api/apps", [this](const httplib::Request &, httplib::Response &response) {
            Respond(response, "apps", [](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                std::vector<ContentItem> packages;
                const Outcome outcome = ListApps(session.link, &packages);
                *document = AppsJson(packages);
                return outcome;
            });
        });
    }

    void AddChanges(httplib::Server &http) {
        http.Post("/api/apps", [this](const httplib::Request &request, httplib::Response &response,
                                      const httplib::ContentReader &reader) {
            const std::string name = Query(request, "name");
            TakeBody(reader, name, response, [&](const UploadSource &source) {
                Respond(
                    response, "install",
                    [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                        std::string installed;
                        const Outcome outcome =
                            InstallPcPackage(session.link, source, LastName(name), sink, &installed);
                        *document = InstallJson(installed);
                        return outcome;
                    },
                    true);
            });
        });
        http.Post("/api/backup", [this](const httplib::Request &request, httplib::Response &response) {
            Backup(request.body, response);
        });
    }

    void AddFiles(httplib::Server &http) {
        http.Get("/api/file", [this](const httplib::Request &request, httplib::Response &response) {
            SendDownload(Query(request, "path"), response);
        });
        http.Put("/api/file", [this](const httplib::Request &request, httplib::Response &response,
                                     const httplib::ContentReader &reader) {
            const std::string path = Query(request, "path");
            const std::string length = request.get_header_value("Content-Length");
            Outcome room = RoomForUpload(path, std::strtoull(length.c_str(), nullptr, 10));
            if (!room.ok) return web::SendError(response, HttpStatus(room.kind), DeviceToTerminal(room.message));
            TakeBody(reader, "upload", response, [&](const UploadSource &source) {
                Respond(
                    response, "put",
                    [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                        std::vector<std::string> stored;
                        const Outcome outcome = UploadFile(
                            session.link, source, session.ResolveUploadTarget(path, "upload"), "upload", sink, &stored);
                        *document = UploadJson(source, stored);
                        (*document)["local"] = LastName(path);  // the page's file, not the spool's
                        return outcome;
                    },
                    true);
            });
        });
        http.Delete("/api/file", [this](const httplib::Request &request, httplib::Response &response) {
            Respond(
                response, "rm",
                [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                    Removal removal;
                    const bool recursive = Query(request, "recursive") == "true";  // rm -r
                    const Outcome outcome = RemovePhoneFiles(
                        session.link, session.ResolveDevicePath(Query(request, "path")), recursive, &removal);
                    *document = RemovalJson(removal);
                    return outcome;
                },
                true);
        });
        http.Post("/api/folder", [this](const httplib::Request &request, httplib::Response &response) {
            Respond(
                response, "mkdir",
                [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                    const std::vector<std::string> folder = session.ResolveDevicePath(Query(request, "path"));
                    *document = NewFolderJson(folder);
                    return MakePhoneFolder(session.link, folder);
                },
                true);
        });
    }

    void AddPim(httplib::Server &http) {
        for (const char *kind : {"contacts", "calendar"}) AddPimKind(http, kind);
        http.Get("/api/calls",
                 [this](const httplib::Request &, httplib::Response &response) { RespondList(response, "calls"); });
        http.Get("/api/sms", [this](const httplib::Request &request, httplib::Response &response) {
            const bool sent = Query(request, "box") == "sent";
            Respond(response, "sms", [sent](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                std::vector<SmsMessage> messages;
                const Outcome outcome = ListMessages(session, sent, &messages);
                *document = MessageListJson(messages, sent);
                return outcome;
            });
        });
        http.Delete(R"(/api/sms/(\w+))", [this](const httplib::Request &request, httplib::Response &response) {
            RespondRemove(response, SmsType(Query(request, "box") == "sent"), request.matches[1].str());
        });
    }

    // The routes of contacts or appointments (`kind` "contacts" or "calendar").
    void AddPimKind(httplib::Server &http, const std::string &kind) {
        const std::string base = "/api/" + kind, type = PimType(kind);
        http.Get(base,
                 [this, kind](const httplib::Request &, httplib::Response &response) { RespondList(response, kind); });
        http.Get(base + R"(/(\d+))", [this, type](const httplib::Request &request, httplib::Response &response) {
            Respond(response, "show", [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                ShownItem shown;
                const Outcome outcome = ShowPimItem(session, type, request.matches[1].str(), &shown);
                *document = ShownItemJson(type, shown);
                return outcome;
            });
        });
        http.Delete(base + R"(/(\d+))", [this, type](const httplib::Request &request, httplib::Response &response) {
            RespondRemove(response, type, request.matches[1].str());
        });
        http.Post(base, [this, type](const httplib::Request &request, httplib::Response &response) {
            std::vector<std::string> words;
            if (!AddFields(request.body, &words))
                return web::SendError(response, 400, "send the fields as a JSON object of texts");
            KeptItem kept;
            if (const Outcome prepared = PrepareAdd(type, words, &kept); !prepared.ok)
                return ReplyFailure(response, "add", prepared);
            Respond(response, "add", [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                *document = AddedJson(kept);
                return AddPimItem(session, type, kept);
            });
        });
        const bool contacts = kind == "contacts";
        const std::string fileName = kind + (contacts ? ".vcf" : ".ics");
        http.Get(
            base + "/export", [this, kind, contacts, fileName](const httplib::Request &, httplib::Response &response) {
                SendProduced(fileName, response, kind + " export", [&](PhoneSession &session, const std::string &file) {
                    InteropReport report;
                    return contacts ? ExportContacts(session, file, &report) : ExportCalendar(session, file, &report);
                });
            });
        http.Post(base + "/import", [this, kind, contacts](const httplib::Request &request, httplib::Response &response,
                                                           const httplib::ContentReader &reader) {
            const bool skipExisting = Query(request, "skipExisting") == "true";
            const std::string command = kind + " import";
            std::string pageFile = Query(request, "name");
            if (pageFile.empty()) pageFile = "the uploaded file";
            SpoolBody(reader, contacts ? "import.vcf" : "import.ics", response, [&](const fs::path &taken) {
                InteropReport report;
                ItemSink quiet;  // (the page shows the answer's per-item report)
                const Outcome outcome = OnPhone([&](PhoneSession &session, TransferSink &) {
                    return contacts ? ImportContacts(session, taken.string(), skipExisting, quiet, &report)
                                    : ImportCalendar(session, taken.string(), skipExisting, quiet, &report);
                });
                if (!outcome.ok)
                    return ReplyFailure(response, command.c_str(), Named(command, AsUpload(outcome, taken, pageFile)));
                // Items refused, the others added: the report answers, as a refusal.
                web::SendJson(response, report.refused ? HttpStatus(ErrorKind::kPhoneRefused) : 200,
                              ImportResultJson(kind, pageFile, report));
            });
        });
    }

    void RespondList(httplib::Response &response, const std::string &kind) {
        Respond(response, "list", [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
            PimListing listing;
            const Outcome outcome = ListPimItems(session, kind, &listing);
            *document = PimListingJson(listing);
            return outcome;
        });
    }

    void RespondRemove(httplib::Response &response, const std::string &type, const std::string &typedId) {
        Respond(response, "rm", [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
            std::string id;
            const Outcome outcome = RemovePimItem(session, type, typedId, &id);
            *document = RemovedJson(id);
            return outcome;
        });
    }

#if defined(CEBRIDGE_HAVE_SYNC)
    // The sync pairs the command line made, and a sync of one of them. The state file
    // is opened per request: the command line may add, remove or sync pairs meanwhile
    // (SQLite serialises the writers; the phone's write lock keeps two syncs apart).
    void AddSync(httplib::Server &http) {
        http.Get("/api/sync", [](const httplib::Request &, httplib::Response &response) {
            SyncState state;
            std::vector<SyncPair> pairs;
            std::string error;
            if (!state.Open(DefaultSyncStatePath(), &error) || !state.Pairs(&pairs))
                return ReplyFailure(response, "sync list", SyncStateFailure(state, error));
            nlohmann::json list = nlohmann::json::array();
            for (const SyncPair &pair : pairs) list.push_back(SyncPairJson(pair));
            web::SendJson(response, 200, {{"pairs", list}});
        });
        http.Post(R"(/api/sync/([^/]+))", [this](const httplib::Request &request, httplib::Response &response) {
            SyncOptions options;
            if (const std::string problem = ReadSyncOptions(request, &options); !problem.empty())
                return web::SendError(response, 400, problem);
            Sync(request.matches[1].str(), options, response);
        });
    }

    static Outcome SyncStateFailure(const SyncState &state, const std::string &openError) {
        return Outcome::Failed(0, "the sync state: " + (openError.empty() ? state.Error() : openError),
                               ErrorKind::kPcFile);
    }

    // dryRun, force and conflict, from the query or a JSON body (the body's win);
    // what is wrong with them, or "".
    static std::string ReadSyncOptions(const httplib::Request &request, SyncOptions *options) {
        nlohmann::json given = nlohmann::json::object();
        for (const char *name : {"dryRun", "force", "conflict"}) {
            const std::string value = Query(request, name);
            if (value == "true" || value == "false")
                given[name] = value == "true";
            else if (!value.empty())
                given[name] = value;
        }
        if (!request.body.empty()) {
            const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
            if (!body.is_object()) return "send the options as a JSON object";
            given.update(body);
        }
        const nlohmann::json dryRun = given.value("dryRun", nlohmann::json(false));
        const nlohmann::json force = given.value("force", nlohmann::json(false));
        if (!dryRun.is_boolean() || !force.is_boolean()) return "dryRun and force are true or false";
        options->dryRun = dryRun.get<bool>();
        options->force = force.get<bool>();
        const nlohmann::json conflict = given.value("conflict", nlohmann::json("keep-both"));
        if (!conflict.is_string() || !ParseConflictPolicy(conflict.get<std::string>(), &options->conflict))
            return "conflict is phone, pc or keep-both";
        return "";
    }

    // Answers the sync's report; deletions the safety stop held back are in it, not a
    // failure. A pair first synced with another phone is in the way (409), as is a
    // cancel: every item done before it stays remembered, so a rerun goes on from there.
    void Sync(const std::string &name, const SyncOptions &options, httplib::Response &response) {
        SyncState state;
        SyncPair pair;
        bool found = false;
        std::string error;
        if (!state.Open(DefaultSyncStatePath(), &error) || !state.LoadPair(name, &pair, &found))
            return ReplyFailure(response, "sync", SyncStateFailure(state, error));
        if (!found)
            return ReplyFailure(response, "sync",
                                Outcome::Failed(0, "no sync pair named " + name, ErrorKind::kNotFound));
        SyncReport report;
        Outcome outcome = OnPhone(
            [&](PhoneSession &session, TransferSink &) {
                ItemEvents progress(m_events, name);
                return RunSync(session, state, name, options, progress, &report);
            },
            !options.dryRun);
        if (outcome.ok) return web::SendJson(response, 200, SyncReportJson(report));
        nlohmann::json document = FailureDocument(FailureText("sync", outcome), ExitCodeFor(outcome), outcome.status);
        web::SendJson(response, outcome.kind == ErrorKind::kBadInput ? 409 : HttpStatus(outcome.kind), document);
    }

    // A sync's items as events for the pages: {"event": "items", "pair": NAME, "label":
    // "contacts sync", "done": N, "total": M}, at most ten a second, and the last one.
    class ItemEvents : public ItemSink {
    public:
        ItemEvents(EventHub &events, const std::string &pair) : m_events(events), m_pair(pair) {}
        void Begin(const std::string &label, size_t total) override {
            m_label = label;
            m_total = total;
            m_done = 0;
            Publish();
        }
        void Step() override {
            ++m_done;
            const auto now = std::chrono::steady_clock::now();
            if (m_done < m_total && now - m_published < std::chrono::milliseconds(100)) return;
            Publish();
        }

    private:
        void Publish() {
            m_published = std::chrono::steady_clock::now();
            m_events.Publish(
                {{"event", "items"}, {"pair", m_pair}, {"label", m_label}, {"done", m_done}, {"total", m_total}});
        }

        EventHub &m_events;
        std::string m_pair, m_label;
        size_t m_total = 0, m_done = 0;
        std::chrono::steady_clock::time_point m_published;
    };
#endif

    // A failure of what a page uploaded: its spooled copy arrived whole, so a PC file
    // failure is its content, the page's mistake (400). The message names the page's
    // file (`shown`); the spool is the server's own business.
    static Outcome AsUpload(Outcome outcome, const fs::path &taken, const std::string &shown) {
        if (outcome.kind == ErrorKind::kPcFile) outcome.kind = ErrorKind::kBadInput;
        const std::string spooled = taken.string();
        for (size_t at; (at = outcome.message.find(spooled)) != std::string::npos;)
            outcome.message.replace(at, spooled.size(), shown);
        return outcome;
    }

    // An export's or import's failure as the command line says it: the phone's too
    // under the command's name (FailureText names it for the PC's and bad input).
    static Outcome Named(const std::string &command, Outcome outcome) {
        if (!IsPcFailure(outcome.kind) && outcome.kind != ErrorKind::kBadInput)
            outcome.message = command + ": " + outcome.message;
        return outcome;
    }

    // {"folder": PATH, "action": "backup"|"verify"|"restore"}: a backup of the whole
    // phone into a PC folder, its check, or putting it back.
    void Backup(const std::string &body, httplib::Response &response) {
        const nlohmann::json request = nlohmann::json::parse(body, nullptr, false);
        const auto text = [&](const char *name, const char *otherwise) -> std::string {
            if (!request.is_object() || !request.contains(name)) return otherwise;
            return request[name].is_string() ? request[name].get<std::string>() : "";
        };
        const std::string action = text("action", "backup");
        std::string folder = text("folder", "");
        if (folder.empty() || (action != "backup" && action != "verify" && action != "restore"))
            return web::SendError(response, 400, R"(send {"folder": PATH, "action": "backup"|"verify"|"restore"})");
        // The server's working folder is nowhere a user of the page can see: a folder is
        // a full path of this PC, or one in the home folder (~/...).
        if (folder == "~" || folder.rfind("~/", 0) == 0) {
            const std::string home = Environment("HOME");
            if (home.empty())
                return web::SendError(response, 400, "no home folder (HOME) to put ~ in: give a full path");
            folder = home + folder.substr(1);
        }
        if (!fs::path(LocalPath(folder)).is_absolute())
            return web::SendError(response, 400,
                                  "give the backup folder as a full path of this PC, or as ~/...: " + folder +
                                      " would be relative to the server's working folder");
        BackupFolder backup(folder);
        ProcessLock lock;
        const char *command = action == "verify" ? "backup --verify" : action.c_str();
        if (Outcome locked = LockBackupFolder(backup, &lock); !locked.ok)
            return ReplyFailure(response, command, locked);
        if (action == "verify") {
            nlohmann::json report;  // (a backup that does not match its manifest is an answer, not a failure)
            const Outcome outcome = VerifyBackup(backup, "", &report);
            return outcome.ok ? web::SendJson(response, 200, report) : ReplyFailure(response, command, outcome);
        }
        if (action == "restore") return Restore(backup, response);
        std::string error;
        if (!backup.PrepareForBackup(&error))
            return ReplyFailure(response, command, Outcome::Failed(0, error, ErrorKind::kPcFile));
        // A backup that left files out is made all the same: its summary names them.
        Respond(response, command, [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
            BackupResult result;
            const Outcome outcome = MakeBackup(session, backup, false, 0, sink, &result);
            *document = result.summary;
            return outcome;
        });
    }
    // Everything the phone lacks of the latest generation goes back on it.
    void Restore(BackupFolder &backup, httplib::Response &response) {
        fs::path generation;
        nlohmann::json manifest;
        if (Outcome read = ReadBackupGeneration(backup, "", &generation, &manifest); !read.ok)
            return web::SendJson(response, HttpStatus(read.kind),
                                 FailureDocument(FailureText("restore", read), ExitCodeFor(read), read.status));
        Respond(
            response, "restore",
            [&](PhoneSession &session, TransferSink &sink, nlohmann::json *document) {
                ItemSink items;
                return RestoreBackup(session, generation, manifest, {true, true, true}, sink, items, document);
            },
            true);
    }

    // {"FIRSTNAME": "Ann", ...} as the command line's FIELD=VALUE words.
    static bool AddFields(const std::string &body, std::vector<std::string> *words) {
        const nlohmann::json fields = nlohmann::json::parse(body, nullptr, false);
        if (!fields.is_object() || fields.empty()) return false;
        for (const auto &[field, value] : fields.items()) {
            if (!value.is_string()) return false;
            words->push_back(field + "=" + value.get<std::string>());
        }
        return true;
    }

    // GET /api/file: the file goes to the page as it comes from the phone. The checks
    // before the first byte answer as `get` does; a failure or a cancel after it cuts
    // the answer short (no last chunk), so the browser keeps no partial file; a page
    // that goes away cancels the copy.
    void SendDownload(const std::string &path, httplib::Response &response) {
        auto download = std::make_shared<StreamedDownload>();
        std::string error;
        if (!download->fifo.Open(&error)) return web::SendError(response, 500, error);
        // Set once the file is found; else dropped unset with the job (only the job holds it).
        auto checked = std::make_shared<std::promise<void>>();
        std::future<void> check = checked->get_future();
        download->copied = m_worker
                               .Submit(PhoneJob([this, download, checked = std::move(checked), path](
                                                    PhoneSession &session, TransferSink &sink) {
                                           return CopyToPage(session, path, *download, *checked, sink);
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
            "application/octet-stream",
            [download](size_t, httplib::DataSink &sink) { return download->fifo.Pass(sink, download->copied); },
            [download](bool whole) {
                if (whole) return;
                download->abandoned = true;
                download->fifo.Drain(download->copied);
            });
    }

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

    // The download job: the file found (`checked` is set then), then its bytes into the FIFO.
    Outcome CopyToPage(PhoneSession &session, const std::string &path, StreamedDownload &download,
                       std::promise<void> &checked, TransferSink &sink) {
        FoundFile file;
        const Outcome found = FindDownload(session.link, session.ResolveDevicePath(path), &file);
        if (!found.ok) return found;
        checked.set_value();
        PageDownload progress(sink, m_worker, download.abandoned);
        return FetchFile(session.link, file, PluginPcPath(download.fifo.Path()), progress);
    }

    // Runs `produce` (an operation of the core that writes the PC file it is given)
    // and sends that file as `name`; the file lives in a private folder that goes
    // when the answer has gone.
    void SendProduced(const std::string &name, httplib::Response &response, const std::string &command,
                      const std::function<Outcome(PhoneSession &, const std::string &)> &produce) {
        auto spool = std::make_shared<Spool>();
        if (!spool->Ready()) return web::SendError(response, 500, spool->Problem());
        const fs::path produced = spool->File(name);
        const Outcome outcome =
            OnPhone([&](PhoneSession &session, TransferSink &) { return produce(session, produced.string()); });
        if (!outcome.ok) return ReplyFailure(response, command.c_str(), Named(command, outcome));
        auto file = std::make_shared<std::ifstream>(produced, std::ios::binary);
        response.set_header("Content-Disposition", AttachmentHeader(name));
        response.set_content_provider(fs::file_size(produced), "application/octet-stream",
                                      [spool, file](size_t offset, size_t length, httplib::DataSink &sink) {
                                          std::vector<char> buffer(std::min<size_t>(length, 1 << 16));
                                          file->seekg(std::streamoff(offset));
                                          file->read(buffer.data(), std::streamsize(buffer.size()));
                                          return file->gcount() > 0 &&
                                                 sink.write(buffer.data(), size_t(file->gcount()));
                                      });
    }

    // An upload the phone's store cannot hold is refused before its body comes: a page
    // need not send gigabytes to hear that. Anything else but a cancel the put itself says.
    Outcome RoomForUpload(const std::string &path, uint64_t size) {
        return OnPhone([&](PhoneSession &session, TransferSink &) {
            const std::vector<std::string> target = session.ResolveDevicePath(path);
            if (target.empty()) return Outcome::Ok();
            std::vector<FolderEntry> listing;
            const std::vector<std::string> folder(target.begin(), target.end() - 1);
            const Outcome entered = session.link.EnterFolder(folder, &listing);
            if (!entered.ok) return entered.kind == ErrorKind::kInterrupted ? entered : Outcome::Ok();
            return CheckRoom(session.link, target, size, FindEntry(listing, target.back()));
        });
    }

    // As TakeBody, the whole body handed to `upload` as an upload's source.
    void TakeBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
                  const std::function<void(const UploadSource &)> &upload) {
        SpoolBody(reader, name, response, [&](const fs::path &taken) {
            UploadSource source;
            std::string error;
            if (!source.Prepare(taken.string(), &error)) return web::SendError(response, 500, error);
            upload(source);
        });
    }
    void SpoolBody(const httplib::ContentReader &reader, const std::string &name, httplib::Response &response,
                   const std::function<void(const fs::path &)> &use) {
        Spool spool;
        if (!spool.Ready()) return web::SendError(response, 500, spool.Problem());
        if (name.empty() || name == "." || name == "..")
            return web::SendError(response, 400, "name the file (name=...)");
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

    // Event streams leave workers for the requests: past this many open pages, one
    // more is told to close some rather than hang them all.
    static constexpr size_t kMostEventStreams = 48;

    void Stream(httplib::Response &response) {
        if (m_openStreams.fetch_add(1) >= kMostEventStreams) {
            --m_openStreams;
            return web::SendError(response, 503, "too many pages of this server are open: close some and reload");
        }
        uint64_t seen = m_events.Published();
        EventHub &events = m_events;
        response.set_header("Cache-Control", "no-store");
        response.set_chunked_content_provider(
            "text/event-stream",
            [&events, seen](size_t, httplib::DataSink &sink) mutable {
                std::string text;
                for (const std::string &event : events.After(&seen, std::chrono::seconds(15)))
                    text += "data: " + event + "\n\n";
                if (events.Closed()) {
                    sink.done();
                    return true;
                }
                if (text.empty()) text = ": still here\n\n";
                return sink.write(text.data(), text.size());
            },
            [this](bool) { --m_openStreams; });
    }

    Context &m_context;
    PhoneWorker &m_worker;
    EventHub &m_events;
    std::atomic<size_t> m_openStreams{0};
};

// `serve --open`: the browser is handed a private file that leads it to the address,
// so the token is on no command line any local user could read. The opener is not
// waited for (a browser may stay in the foreground); Reap collects it once it ends.
class BrowserOpener {
public:
    ~BrowserOpener() {
        Reap();
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
    }
    void Open(const std::string &address) {
#if defined(_WIN32)
        (void)address;
#else
        std::error_code failure;
        std::string folder = (fs::temp_directory_path(failure) / "cebridge-open-XXXXXX").string();
        if (failure || !mkdtemp(folder.data())) return Say("no private temporary folder for the opener");
        m_folder = folder;
        const std::string page = (fs::path(folder) / "open.html").string();
        {
            std::ofstream out(page, std::ios::binary);
            out << "<!doctype html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
                << "<meta http-equiv=\"refresh\" content=\"0;url=" << address << "\"><title>cebridge</title>";
            if (!out) return Say("cannot write the opener's page in " + folder);
        }
        chmod(page.c_str(), 0600);
        const std::string url = "file://" + page;
        const char *argv[] = {"xdg-open", url.c_str(), nullptr};
        if (posix_spawnp(&m_child, "xdg-open", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
            m_child = 0;
            Say("cannot start xdg-open");
        }
#endif
    }
    // Collects the opener if it has ended; asked about ten times a second.
    void Reap() {
#if !defined(_WIN32)
        if (m_child > 0 && waitpid(m_child, nullptr, WNOHANG) != 0) m_child = 0;
#endif
    }

private:
    static void Say(const std::string &why) {
        std::fprintf(ConsoleErr(), "cebridge: serve: %s; open the address above yourself\n", why.c_str());
    }
    std::string m_folder;
#if !defined(_WIN32)
    pid_t m_child = 0;
#endif
};

}  // namespace

int CmdServe(Context &context, const web::ServeOptions &options) {
    web::Server server(options, web::NewToken());
    std::string error;
    if (!server.Bind(&error)) return context.FailUsage("serve: " + error);
    if (options.bind != "127.0.0.1" && options.bind != "localhost" && options.bind != "::1")
        std::fprintf(ConsoleErr(),
                     "cebridge: warning: serving on %s: whoever reaches it with the token can use the phone\n",
                     options.bind.c_str());
    EventHub events;
    PageProgress pageProgress;  // (outlives the worker that calls it)
    PhoneWorker worker(context, g_interrupted);
    worker.Subscribe(&pageProgress, nullptr);
    Api api(server, context, worker, events);
    g_progressEvents = [&events](const nlohmann::json &event) { events.Publish(event); };
    std::fprintf(ConsoleOut(), "cebridge: serving %s\n", server.OpeningAddress().c_str());
    std::fflush(ConsoleOut());
    StopOnSignals();
    BrowserOpener opener;
    if (options.open) opener.Open(server.OpeningAddress());
    server.Run([&] {
        opener.Reap();
        const bool stop = g_stopServing.load();
        if (stop) {
            events.Close();  // the event streams end first: the server waits for them
            worker.Stop();   // the operation in flight is cancelled, the waiting ones refused
        }
        return stop;
    });
    g_progressEvents = nullptr;
    g_interrupted = false;  // Ctrl-C is how a server ends: it ended well
    return kExitOk;
}

}  // namespace host

int cebridge_serve(host::Context *context, const web::ServeOptions *options) {
    return host::CmdServe(*context, *options);
}
