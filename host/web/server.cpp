#include "server.h"

#include <chrono>
#include <thread>

namespace web {

namespace {

// The page may load only its own files and talk only to this server.
const char *const kContentPolicy =
    "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; frame-ancestors 'none'; base-uri 'none'";

std::string CookieValue(const std::string &cookies, const std::string &name) {
    size_t at = 0;
    while (at < cookies.size()) {
        size_t end = cookies.find(';', at);
        if (end == std::string::npos) end = cookies.size();
        std::string pair = cookies.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.rfind(name + "=", 0) == 0) return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return "";
}

// The names a Host header may carry; the bound address last (it is the one printed).
std::vector<std::string> HostNames(const std::string &bind) {
    std::vector<std::string> names = {"localhost", "[::1]", "127.0.0.1"};
    if (bind != "127.0.0.1") names.push_back(bind.find(':') != std::string::npos ? "[" + bind + "]" : bind);
    return names;
}

bool AnyAddress(const std::string &bind) { return bind == "0.0.0.0" || bind == "::" || bind.empty(); }

}  // namespace

void SendJson(httplib::Response &response, int status, const nlohmann::json &document) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json; charset=utf-8");
}

void SendError(httplib::Response &response, int status, const std::string &message) {
    SendJson(response, status, {{"error", message}});
}

Server::Server(ServeOptions options, std::string token) : m_options(std::move(options)) {
    m_identity.hostNames = HostNames(m_options.bind);
    m_identity.token = std::move(token);
    // Each open page holds a worker for its event stream as long as it stays open, and
    // a browser keeps a few more connections alive: the library's default of eight
    // workers hung the API with a few pages open.
    m_http.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    m_http.set_pre_routing_handler(
        [this](const httplib::Request &request, httplib::Response &response) { return Guard(request, response); });
}

bool Server::Bind(std::string *error) {
    // Every address at once would take Host headers this server cannot know to be its own.
    if (AnyAddress(m_options.bind)) {
        *error = "name one address of this PC with --bind (not " + m_options.bind + ")";
        return false;
    }
    const int port = m_options.port ? (m_http.bind_to_port(m_options.bind, m_options.port) ? m_options.port : -1)
                                    : m_http.bind_to_any_port(m_options.bind);
    if (port <= 0) {
        *error = "cannot listen on " + m_options.bind + " port " + std::to_string(m_options.port) +
                 " (in use, or not an address of this PC)";
        return false;
    }
    m_identity.port = port;
    return true;
}

std::string Server::OpeningAddress() const {
    return "http://" + m_identity.hostNames.back() + ":" + std::to_string(m_identity.port) +
           "/?token=" + m_identity.token;
}

void Server::Run(const std::function<bool()> &stopRequested) {
    std::thread watcher([&] {
        while (!stopRequested() && !m_http.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (!stopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        m_http.stop();
    });
    m_http.listen_after_bind();
    watcher.join();
}

namespace {
thread_local std::string t_requestOperation;  // (each request runs on one of the server's threads)
}  // namespace

const std::string &Server::RequestOperation() { return t_requestOperation; }

httplib::Server::HandlerResponse Server::Guard(const httplib::Request &request, httplib::Response &response) {
    using Handled = httplib::Server::HandlerResponse;
    t_requestOperation = request.get_header_value("X-Operation");
    response.set_header("X-Content-Type-Options", "nosniff");
    response.set_header("Referrer-Policy", "no-referrer");
    response.set_header("Content-Security-Policy", kContentPolicy);
    RequestFacts facts{request.method,
                       request.path,
                       request.get_header_value("Host"),
                       request.get_header_value("Origin"),
                       request.get_header_value("Authorization"),
                       CookieValue(request.get_header_value("Cookie"), kTokenCookie)};
    const Verdict verdict = Judge(facts, m_identity);
    if (verdict != Verdict::kAllowed) {
        SendError(response, VerdictStatus(verdict), VerdictMessage(verdict));
        return Handled::Handled;
    }
    if (request.path.rfind("/api/", 0) == 0) return Handled::Unhandled;
    if (request.method != "GET" && request.method != "HEAD") {
        SendError(response, 405, "the page's files can only be read");
        return Handled::Handled;
    }
    // Opened with the printed address: the token moves into the cookie and out of the
    // address bar (and the browser's history).
    if (request.has_param("token")) {
        if (request.get_param_value("token") != m_identity.token) {
            SendError(response, 401, VerdictMessage(Verdict::kNoToken));
            return Handled::Handled;
        }
        response.set_header("Set-Cookie", TokenCookieHeader(m_identity.token));
        response.set_redirect(request.path);
        return Handled::Handled;
    }
    if (!ServeStatic(request, response)) SendError(response, 404, "no such page: " + request.path);
    return Handled::Handled;
}

bool Server::ServeStatic(const httplib::Request &request, httplib::Response &response) {
    const StaticFile *file = FindStaticFile(request.path);
    if (!file) return false;
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char *>(file->bytes), file->size, file->mediaType);
    return true;
}

}  // namespace web
