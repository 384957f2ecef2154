// `cebridge serve`: the phone manager in a browser. An HTTP server on the loopback
// address that serves the page (static files compiled into the program) and a JSON
// API under /api/ whose documents have the same shapes as the command line's --json.
//
// Every request passes the guard first: the Host header must name this server, once
// (a page on another site cannot reach it through DNS rebinding); every /api/ request
// carries the run's token in an `Authorization: Bearer` header, which a page of
// another site cannot send without a preflight this server never grants. No cookie
// carries it: cookies are not kept apart by port, so one would reach every other
// server on this address. The page gets the token from the printed address's
// fragment (never sent to a server, nor in a Referer) and keeps it in its tab's
// session storage. A plain link (a download) carries a ticket instead: one use, for
// one GET, within a minute of being asked for with the token.
#ifndef CEBRIDGE_HOST_WEB_WEB_H
#define CEBRIDGE_HOST_WEB_WEB_H

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "serve_options.h"

namespace web {

// A random token of 32 hexadecimal digits, from the system's random source.
std::string NewToken();

// What the guard needs of one request.
struct RequestFacts {
    std::string method, path;                 // path without the query
    std::string host, origin, authorization;  // headers ("" when absent)
    size_t hostHeaders = 1;                   // how many Host headers it carried
    bool ticket = false;                      // it carried a ticket this server issued, now used up
};

enum class Verdict {
    kAllowed,
    kWrongHost,    // 403: the Host header names another server, or there is not exactly one
    kNoToken,      // 401: an /api/ request without the run's token
    kWrongOrigin,  // 403: a request from a page of another site
};

// Who this server is: the names a Host or Origin header may carry, the port, the token.
struct Identity {
    std::vector<std::string> hostNames;  // "127.0.0.1", "localhost", "[::1]", the --bind address
    int port = 0;
    std::string token;
};
Verdict Judge(const RequestFacts &request, const Identity &identity);
// The answer's status and message for a refusal.
int VerdictStatus(Verdict verdict);
std::string VerdictMessage(Verdict verdict);

// Tickets for plain links: each taken once, by a GET, within kTicketLife of its issue.
class TicketBook {
public:
    static constexpr std::chrono::seconds kTicketLife{60};
    std::string Issue();
    // True once for a ticket issued within its life; it is gone afterwards.
    bool Redeem(const std::string &ticket);

private:
    std::mutex m_mutex;
    std::map<std::string, std::chrono::steady_clock::time_point> m_issued;  // ticket -> expiry
};

// One file of the page, compiled in.
struct StaticFile {
    const char *path;  // "/index.html", "/js/app.js", ...
    const char *mediaType;
    const unsigned char *bytes;
    size_t size;
};
// The page's files; nullptr when `path` names none ("/" is "/index.html").
const StaticFile *FindStaticFile(const std::string &path);

using ServeOptions = host::ServeOptions;

}  // namespace web

#endif  // CEBRIDGE_HOST_WEB_WEB_H
