// The HTTP side of `cebridge serve`: binds, guards every request (web.h), serves the
// page's files, and gives handlers the JSON answers of the API.
#ifndef CEBRIDGE_HOST_WEB_SERVER_H
#define CEBRIDGE_HOST_WEB_SERVER_H

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "web.h"

namespace web {

class Server {
public:
    // The connections served at once, each on a thread of its own (made when wanted,
    // kept for the next): a connection holds its thread while its client sends the
    // request, however slowly, so a few hundred slow clients must not take them all.
    // Past this many, connections wait for a thread. An event stream holds one too.
    static constexpr size_t kMostConnections = sizeof(void *) >= 8 ? 1024 : 256;

    Server(ServeOptions options, std::string token);

    // Binds the address and port; false with `error` set.
    bool Bind(std::string *error);
    // The page's address, "http://127.0.0.1:PORT/", and the one to open, with the
    // token in its fragment: "http://127.0.0.1:PORT/#token=TOKEN".
    std::string Address() const;
    std::string OpeningAddress() const;
    // Serves until `stopRequested` says so (asked about ten times a second).
    void Run(const std::function<bool()> &stopRequested);
    void Stop() { m_http.stop(); }

    // The API's routes are added here.
    httplib::Server &Http() { return m_http; }
    // The name the request being served on this thread gives its operation (its
    // X-Operation header, "" when none): a page cancels its own operations by it.
    static const std::string &RequestOperation();
    const Identity &Who() const { return m_identity; }
    // A ticket for one plain link (a download the browser fetches itself).
    std::string IssueTicket() { return m_tickets.Issue(); }
    // Bodies are refused past kMostSmallBody (413, before they are read) except on
    // routes that stream theirs to a file, named here (before Run).
    static constexpr uint64_t kMostSmallBody = 1 << 20;
    void AllowLargeBodies(const std::string &method, const std::string &pathPrefix) {
        m_largeBodies.emplace_back(method, pathPrefix);
    }

private:
    httplib::Server::HandlerResponse Guard(const httplib::Request &request, httplib::Response &response);
    bool ServeStatic(const httplib::Request &request, httplib::Response &response);
    bool BodyTooLarge(const httplib::Request &request) const;

    ServeOptions m_options;
    Identity m_identity;
    TicketBook m_tickets;
    std::vector<std::pair<std::string, std::string>> m_largeBodies;  // method, path prefix
    httplib::Server m_http;
};

// An API answer: the document with the status; an error is {"error": message}.
void SendJson(httplib::Response &response, int status, const nlohmann::json &document);
void SendError(httplib::Response &response, int status, const std::string &message);

}  // namespace web

#endif  // CEBRIDGE_HOST_WEB_SERVER_H
