#include "serve_api.h"

#include <fstream>
#include <memory>
#include <vector>

#include "failure.h"
#include "serve_streams.h"
#include "shortfall.h"
#include "text.h"

namespace host::serve {

namespace fs = std::filesystem;

Outcome PhoneRoutes::OnPhone(Access access, const Operation &operation) {
    return worker.Run(PhoneJob(access, operation), web::Server::RequestOperation());
}

PhoneWorker::Job PhoneRoutes::PhoneJob(Access access, Operation operation) {
    return [this, access, operation](PhoneSession &session, const JobSinks &sinks) {
        const Outcome locked = access.writes() ? session.LockForWriting(m_options) : Outcome::Ok();
        Outcome outcome = locked;
        ConnectReport report;
        if (outcome.ok) outcome = session.Connect(m_options, &report);
        for (const std::string &warning : report.warnings) PrintWarning(warning);
        if (outcome.ok) outcome = operation(session, sinks.transfer);
        if (!outcome.ok && session.link.Interrupted()) outcome.kind = ErrorKind::kInterrupted;
        session.ReleaseWriteLock();
        events.Publish({{"event", "connection"}, {"connected", session.connected}});
        // (A write that failed midway may have changed part of it all the same.)
        if (access.writes() && locked.ok) events.Publish({{"event", "changed"}, {"part", access.part()}});
        return outcome;
    };
}

void PhoneRoutes::Respond(httplib::Response &response, const char *command, Access access, const Documented &operation,
                          const Shortfall &shortfall) {
    nlohmann::json document;
    const Outcome outcome =
        OnPhone(access, [&](PhoneSession &session, TransferSink &sink) { return operation(session, sink, &document); });
    if (!outcome.ok) return ReplyFailure(response, command, outcome);
    ReplyResult(response, document, shortfall ? shortfall(document) : Outcome::Ok());
}

void PhoneRoutes::SendProduced(const std::string &name, httplib::Response &response, const std::string &command,
                               const std::function<Outcome(PhoneSession &, const std::string &)> &produce) {
    auto spool = std::make_shared<Spool>();
    if (!spool->Ready()) return web::SendError(response, 500, spool->Problem());
    const fs::path produced = spool->File(name);
    const Outcome outcome = OnPhone(
        Access::Reads(), [&](PhoneSession &session, TransferSink &) { return produce(session, produced.string()); });
    if (!outcome.ok) return ReplyFailure(response, command.c_str(), Named(command, outcome));
    std::error_code failure;
    const uintmax_t size = fs::file_size(produced, failure);
    if (failure)
        return ReplyFailure(
            response, command.c_str(),
            Outcome::Failed(0, "the file it made could not be read: " + failure.message(), ErrorKind::kPcFile));
    auto file = std::make_shared<std::ifstream>(produced, std::ios::binary);
    response.set_header("Content-Disposition", AttachmentHeader(name));
    response.set_content_provider(size, "application/octet-stream",
                                  [spool, file](size_t offset, size_t length, httplib::DataSink &sink) {
                                      std::vector<char> buffer(std::min<size_t>(length, 1 << 16));
                                      file->seekg(std::streamoff(offset));
                                      file->read(buffer.data(), std::streamsize(buffer.size()));
                                      return file->gcount() > 0 && sink.write(buffer.data(), size_t(file->gcount()));
                                  });
}

void ReplyResult(httplib::Response &response, const nlohmann::json &result, const Outcome &shortfall) {
    if (shortfall.ok) return web::SendJson(response, 200, result);
    web::SendJson(response, HttpStatusFor(shortfall.kind), WithShortfall(result, shortfall));
}

void ReplyFailure(httplib::Response &response, const char *command, const Outcome &outcome) {
    web::SendJson(response, HttpStatusFor(outcome.kind), FailureDocument(FailureText(command, outcome), outcome));
}

Outcome Named(const std::string &command, Outcome outcome) {
    if (!HostWorded(outcome.kind)) outcome.message = command + ": " + outcome.message;
    return outcome;
}

void AddControlRoutes(web::Server &server, PhoneRoutes &routes) {
    httplib::Server &http = server.Http();
    // ?operation=NAME cancels the operation a request named so (X-Operation), in
    // flight or waiting, and nothing else; without it, whatever runs now.
    http.Post("/api/cancel", [&routes](const httplib::Request &request, httplib::Response &response) {
        const std::string operation = Query(request, "operation");
        const bool cancelled = operation.empty() ? routes.worker.CancelCurrent() : routes.worker.Cancel(operation);
        web::SendJson(response, 200, {{"cancelled", cancelled}});
    });
    http.Get("/api/events",
             [&routes](const httplib::Request &, httplib::Response &response) { routes.events.Stream(response); });
    // A plain link cannot carry the token's header: the page asks for a ticket first.
    http.Post("/api/ticket", [&server](const httplib::Request &, httplib::Response &response) {
        web::SendJson(response, 200, {{"ticket", server.IssueTicket()}});
    });
}

}  // namespace host::serve
