// `cebridge serve`: the phone manager in a browser. An HTTP server on the loopback
// address that serves the page (static files compiled into the program) and a JSON
// API under /api/ whose documents have the same shapes as the command line's --json.
//
// Every request passes the guard first: the Host header must name this server (a
// page on another site cannot reach it through DNS rebinding); every /api/ request
// carries the run's token (a bearer header for scripts, or the cookie the page gets
// when opened with ?token=); a request that changes anything and rides on the cookie
// must come from this server's own page (Origin).
#ifndef CEBRIDGE_HOST_WEB_WEB_H
#define CEBRIDGE_HOST_WEB_WEB_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace web {

// A random token of 32 hexadecimal digits, from the system's random source.
std::string NewToken();

// What the guard needs of one request.
struct RequestFacts {
    std::string method, path;                 // path without the query
    std::string host, origin, authorization;  // headers ("" when absent)
    std::string tokenCookie;                  // the value of the token cookie
};

enum class Verdict {
    kAllowed,
    kWrongHost,    // 403: the Host header names another server
    kNoToken,      // 401: an /api/ request without the run's token
    kWrongOrigin,  // 403: a change riding on the cookie from another page
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

// The name of the cookie that carries the token, and its Set-Cookie value.
extern const char *const kTokenCookie;
std::string TokenCookieHeader(const std::string &token);

// One file of the page, compiled in.
struct StaticFile {
    const char *path;  // "/index.html", "/js/app.js", ...
    const char *mediaType;
    const unsigned char *bytes;
    size_t size;
};
// The page's files; nullptr when `path` names none ("/" is "/index.html").
const StaticFile *FindStaticFile(const std::string &path);

struct ServeOptions {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: a free port
    bool open = false;
};

}  // namespace web

#endif  // CEBRIDGE_HOST_WEB_WEB_H
