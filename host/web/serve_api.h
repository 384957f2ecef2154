// `cebridge serve`'s API: each route runs an operation of the host's core on the
// phone's worker (one at a time on the phone's single session, whichever tab or
// script sent it) and answers the document the command line's --json gives, or its
// failure document. The routes come in groups, one file each.
#ifndef CEBRIDGE_HOST_WEB_SERVE_API_H
#define CEBRIDGE_HOST_WEB_SERVE_API_H

#include <functional>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "phone_session.h"
#include "phone_worker.h"
#include "serve_events.h"
#include "server.h"

namespace host::serve {

// What an operation does to the phone, which every route says. One that writes runs
// under the phone's write lock, as the command line's writes do (another cebridge
// writing meanwhile: kBusy, nothing done), and then tells every page the part it
// changed: {"event": "changed", "part": "files"|"contacts"|"calendar"|"messages"|
// "phone" (any of them)}.
class Access {
public:
    static Access Reads() { return Access(nullptr); }
    static Access Writes(const char *part) { return Access(part); }
    bool writes() const { return m_part != nullptr; }
    const char *part() const { return m_part; }

private:
    explicit Access(const char *part) : m_part(part) {}
    const char *m_part;
};

// What every route uses: the phone's worker, the events, the session's options.
class PhoneRoutes {
public:
    PhoneRoutes(PhoneWorker &worker, EventHub &events, const SessionOptions &options)
        : worker(worker), events(events), m_options(options) {}

    // An operation of the host's core on the phone (connected first), on the worker.
    using Operation = std::function<Outcome(PhoneSession &, TransferSink &)>;
    Outcome OnPhone(Access access, const Operation &operation);
    PhoneWorker::Job PhoneJob(Access access, Operation operation);
    // Answers the document an operation of `command` makes, or its failure document;
    // a document `shortfall` finds less than was asked in answers with its failure
    // (shortfall.h).
    using Documented = std::function<Outcome(PhoneSession &, TransferSink &, nlohmann::json *)>;
    using Shortfall = std::function<Outcome(const nlohmann::json &)>;
    void Respond(httplib::Response &response, const char *command, Access access, const Documented &operation,
                 const Shortfall &shortfall = {});
    // Runs `produce` (an operation of the core that writes the PC file it is given)
    // and sends that file as `name`; the file lives in a private folder that goes
    // when the answer has gone.
    void SendProduced(const std::string &name, httplib::Response &response, const std::string &command,
                      const std::function<Outcome(PhoneSession &, const std::string &)> &produce);

    PhoneWorker &worker;
    EventHub &events;

private:
    const SessionOptions &m_options;
};

// A result whole (200), or with its shortfall (shortfall.h) and that failure's status.
void ReplyResult(httplib::Response &response, const nlohmann::json &result, const Outcome &shortfall);
// The failure document of `outcome`, with the HTTP status of its kind.
void ReplyFailure(httplib::Response &response, const char *command, const Outcome &outcome);
// An export's or import's failure as the command line says it: the phone's too
// under the command's name (FailureText names it for the PC's and bad input).
Outcome Named(const std::string &command, Outcome outcome);

// The route groups.
void AddFileRoutes(web::Server &server, PhoneRoutes &routes);     // info, files, apps
void AddPimRoutes(web::Server &server, PhoneRoutes &routes);      // contacts, calendar, calls, sms
void AddBackupRoutes(web::Server &server, PhoneRoutes &routes);   // backup, verify, restore
void AddSyncRoutes(web::Server &server, PhoneRoutes &routes);     // sync pairs (where the build has sync)
void AddControlRoutes(web::Server &server, PhoneRoutes &routes);  // cancel, events, tickets

}  // namespace host::serve

#endif  // CEBRIDGE_HOST_WEB_SERVE_API_H
