// The HTTP side of `cebridge serve`: binds, guards every request (web.h), serves the
// page's files, and gives handlers the JSON answers of the API.
#ifndef CEBRIDGE_HOST_WEB_SERVER_H
#define CEBRIDGE_HOST_WEB_SERVER_H

#include <functional>
#include <string>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "web.h"

namespace web {

class Server {
public:
    // The requests served at once; an event stream holds one for as long as it is open.
    static constexpr size_t kWorkers = 64;

    Server(ServeOptions options, std::string token);

    // Binds the address and port; false with `error` set.
    bool Bind(std::string *error);
    // The address to open, with the token: "http://127.0.0.1:PORT/?token=TOKEN".
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

private:
    httplib::Server::HandlerResponse Guard(const httplib::Request &request, httplib::Response &response);
    bool ServeStatic(const httplib::Request &request, httplib::Response &response);

    ServeOptions m_options;
    Identity m_identity;
    httplib::Server m_http;
};

// An API answer: the document with the status; an error is {"error": message}.
void SendJson(httplib::Response &response, int status, const nlohmann::json &document);
void SendError(httplib::Response &response, int status, const std::string &message);

}  // namespace web

#endif  // CEBRIDGE_HOST_WEB_SERVER_H
