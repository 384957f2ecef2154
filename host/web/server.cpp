#include "server.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace web {

namespace {

// The page may load only its own files and talk only to this server.
const char *const kContentPolicy =
    "default-src 'self'; img-src 'self' data: blob:; object-src 'none'; frame-ancestors 'none'; base-uri 'none'";

// The names a Host header may carry; the bound address last (it is the one printed).
std::vector<std::string> HostNames(const std::string &bind) {
    std::vector<std::string> names = {"localhost", "[::1]", "127.0.0.1"};
    if (bind != "127.0.0.1") names.push_back(bind.find(':') != std::string::npos ? "[" + bind + "]" : bind);
    return names;
}

bool AnyAddress(const std::string &bind) { return bind == "0.0.0.0" || bind == "::" || bind.empty(); }

// Runs each connection on a thread of its own, up to `most` threads, made when no
// idle one is waiting and kept for later connections. (The library's pool makes a
// fixed number up front: 64 of them were all held by clients that sent a header
// line every few seconds, and no other request was read.)
class ConnectionThreads : public httplib::TaskQueue {
public:
    explicit ConnectionThreads(size_t most) : m_most(most) {}
    ~ConnectionThreads() override { shutdown(); }

    void enqueue(std::function<void()> connection) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.push_back(std::move(connection));
        if (m_waiting.size() > m_idle && m_threads.size() < m_most) {
            try {
                m_threads.emplace_back([this] { Serve(); });
                return;
            } catch (const std::system_error &) {  // no thread to be had now: it waits for one
            }
        }
        m_wake.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        for (std::thread &thread : m_threads)
            if (thread.joinable()) thread.join();
    }

private:
    void Serve() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            ++m_idle;
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            --m_idle;
            if (m_waiting.empty()) return;  // stopping, with nothing left to serve
            std::function<void()> connection = std::move(m_waiting.front());
            m_waiting.pop_front();
            lock.unlock();
            connection();
            lock.lock();
        }
    }

    const size_t m_most;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_waiting;
    std::vector<std::thread> m_threads;
    size_t m_idle = 0;
    bool m_stopping = false;
};

}  // namespace

void SendJson(httplib::Response &response, int status, const nlohmann::json &document) {
    response.status = status;
    response.set_header("Cache-Control", "no-store");
    response.set_content(document.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                         "application/json; charset=utf-8");
}

namespace {

// The kind a failure document of the server's own carries, as the core's failures do.
const char *KindOfStatus(int status) {
    if (status == 404) return "notFound";
    if (status == 503) return "busy";
    return status < 500 ? "badInput" : "internal";
}

}  // namespace

void SendError(httplib::Response &response, int status, const std::string &message) {
    SendJson(response, status, {{"error", message}, {"kind", KindOfStatus(status)}});
}

Server::Server(ServeOptions options, std::string token) : m_options(std::move(options)) {
    m_identity.hostNames = HostNames(m_options.bind);
    m_identity.token = std::move(token);
    m_http.new_task_queue = [] { return new ConnectionThreads(kMostConnections); };
    // What no route answers (an unknown /api/ path, a method a route lacks) is answered
    // as JSON as well.
    m_http.set_error_handler([](const httplib::Request &request, httplib::Response &response) {
        if (response.body.empty())
            SendError(response, response.status, "no such request: " + request.method + " " + request.path);
    });
    // A fault of the host while a route ran is answered as JSON too.
    m_http.set_exception_handler([](const httplib::Request &, httplib::Response &response, std::exception_ptr fault) {
        std::string what = "unknown";
        try {
            std::rethrow_exception(fault);
        } catch (const std::exception &exception) {
            what = exception.what();
        } catch (...) {
        }
        SendError(response, 500, "internal error of cebridge serve: " + what);
    });
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

std::string Server::Address() const {
    return "http://" + m_identity.hostNames.back() + ":" + std::to_string(m_identity.port) + "/";
}

std::string Server::OpeningAddress() const { return Address() + "#token=" + m_identity.token; }

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
                       request.get_header_value_count("Host"),
                       false};
    // (A ticket is used up by being shown, also by a request the guard then refuses.)
    if (request.method == "GET" && request.has_param("ticket"))
        facts.ticket = m_tickets.Redeem(request.get_param_value("ticket"));
    const Verdict verdict = Judge(facts, m_identity);
    if (verdict != Verdict::kAllowed) {
        SendError(response, VerdictStatus(verdict), VerdictMessage(verdict));
        return Handled::Handled;
    }
    if (BodyTooLarge(request)) {
        // (Closed after the answer: the unread body must not be taken for the next request.)
        response.set_header("Connection", "close");
        SendError(response, 413, "this request's body is too large");
        return Handled::Handled;
    }
    if (request.path.rfind("/api/", 0) == 0) return Handled::Unhandled;
    if (request.method != "GET" && request.method != "HEAD") {
        SendError(response, 405, "the page's files can only be read");
        return Handled::Handled;
    }
    if (!ServeStatic(request, response)) SendError(response, 404, "no such page: " + request.path);
    return Handled::Handled;
}

bool Server::BodyTooLarge(const httplib::Request &request) const {
    for (const auto &[method, prefix] : m_largeBodies)
        if (request.method == method && request.path.rfind(prefix, 0) == 0) return false;
    if (request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos) return true;
    const std::string length = request.get_header_value("Content-Length");
    if (length.empty()) return false;
    if (length.size() > 19 || length.find_first_not_of("0123456789") != std::string::npos) return true;
    return std::strtoull(length.c_str(), nullptr, 10) > kMostSmallBody;
}

bool Server::ServeStatic(const httplib::Request &request, httplib::Response &response) {
    const StaticFile *file = FindStaticFile(request.path);
    if (!file) return false;
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char *>(file->bytes), file->size, file->mediaType);
    return true;
}

}  // namespace web
