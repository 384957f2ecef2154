// The serve page's server on the loopback address, through real HTTP: who may reach
// the page and the API (token, Host, Origin), and the page's own files.
#include "server.h"  // (first: on Windows its winsock2.h comes before any windows.h)

#include <gtest/gtest.h>

#include <thread>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
using Socket = SOCKET;
void CloseSocket(Socket sock) { closesocket(sock); }
#else
using Socket = int;
void CloseSocket(Socket sock) { close(sock); }
#endif

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(m_server.Bind(&error)) << error;
        m_server.Http().Get("/api/ping", [](const httplib::Request &, httplib::Response &response) {
            web::SendJson(response, 200, {{"pong", true}});
        });
        m_server.Http().Post("/api/ping", [](const httplib::Request &, httplib::Response &response) {
            web::SendJson(response, 200, {{"changed", true}});
        });
        m_server.Http().Post("/api/stream", [](const httplib::Request &, httplib::Response &response) {
            web::SendJson(response, 200, {{"taken", true}});
        });
        m_server.AllowLargeBodies("POST", "/api/stream");
        m_thread = std::thread([this] { m_server.Run([this] { return m_stop.load(); }); });
        while (!m_server.Http().is_running()) std::this_thread::yield();
    }
    void TearDown() override {
        m_stop = true;
        m_thread.join();
    }

    int Port() const { return m_server.Who().port; }
    std::string Self() const { return std::string("127.0.0.1:").append(std::to_string(Port())); }
    httplib::Result Send(const std::string &method, const std::string &path, httplib::Headers headers) {
        httplib::Client client("127.0.0.1", Port());
        if (!headers.count("Host")) headers.emplace("Host", Self());
        if (method == "POST") return client.Post(path, headers, "", "text/plain");
        return client.Get(path, headers);
    }

    // What the server answers a request head sent over a plain socket, up to its close.
    std::string AnswerToHead(const std::string &head) const {
        const Socket sock = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::string answer;
        if (connect(sock, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
            send(sock, head.data(), int(head.size()), 0) == int(head.size())) {
            char buffer[4096];
            for (int got; (got = int(recv(sock, buffer, sizeof buffer, 0))) > 0;) answer.append(buffer, size_t(got));
        }
        CloseSocket(sock);
        return answer;
    }

    const std::string m_token = web::NewToken();
    web::Server m_server{web::ServeOptions{}, m_token};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(ServerTest, TheApiAnswersTheBearerTokenAloneAndNoCookie) {
    const std::string otherPort = std::to_string(Port() + 1), port = std::to_string(Port()),
                      otherToken = web::NewToken(), bearer = "Bearer " + m_token;
    struct Case {
        const char *what, *method;
        httplib::Headers headers;
        int status;
    } cases[] = {
        {"no token", "GET", {}, 401},
        {"a wrong token", "GET", {{"Authorization", "Bearer " + otherToken}}, 401},
        {"the bearer token", "GET", {{"Authorization", bearer}}, 200},
        {"a change with the bearer token", "POST", {{"Authorization", bearer}}, 200},
        {"a change from this page", "POST", {{"Authorization", bearer}, {"Origin", "http://" + Self()}}, 200},
        // A cookie is sent to every port of the address: it must be worth nothing.
        {"the token in a cookie", "GET", {{"Cookie", "cebridge_token=" + m_token}}, 401},
        {"the token in a query", "GET", {}, 401},
        {"a page of another server",
         "GET",
         {{"Authorization", bearer}, {"Origin", "http://localhost:" + otherPort}},
         403},
        {"a page with no origin of its own", "POST", {{"Authorization", bearer}, {"Origin", "null"}}, 403},
        {"another host name (DNS rebinding)",
         "GET",
         {{"Authorization", bearer}, {"Host", "attacker.example:" + port}},
         403},
        {"two Host headers",
         "GET",
         {{"Authorization", bearer}, {"Host", "attacker.example:" + port}, {"Host", Self()}},
         403},
    };
    for (const Case &c : cases) {
        const std::string path =
            std::string(c.what) == "the token in a query" ? "/api/ping?token=" + m_token : "/api/ping";
        auto result = Send(c.method, path, c.headers);
        ASSERT_TRUE(result) << c.what;
        EXPECT_EQ(result->status, c.status) << c.what << ": " << result->body;
        EXPECT_TRUE(result->get_header_value("Set-Cookie").empty()) << c.what;
        if (c.status != 200) {
            EXPECT_NE(result->body.find("\"error\""), std::string::npos) << c.what;
        }
    }
}

TEST_F(ServerTest, ATicketOpensOneReadOnceAndNothingElse) {
    const std::string ticket = m_server.IssueTicket();
    EXPECT_EQ(Send("POST", "/api/ping?ticket=" + ticket, {})->status, 401);  // a change: never
    EXPECT_EQ(Send("GET", "/api/ping?ticket=" + ticket, {})->status, 200);
    EXPECT_EQ(Send("GET", "/api/ping?ticket=" + ticket, {})->status, 401);  // once
    EXPECT_EQ(Send("GET", "/api/ping?ticket=" + web::NewToken(), {})->status, 401);
}

TEST_F(ServerTest, LargeBodiesAreRefusedBeforeTheyAreReadExceptOnStreamedRoutes) {
    const httplib::Headers headers = {{"Host", Self()}, {"Authorization", "Bearer " + m_token}};
    const std::string small(1000, 'x'), large(web::Server::kMostSmallBody + 1, 'x');
    {
        httplib::Client client("127.0.0.1", Port());
        auto answered = client.Post("/api/ping", headers, small, "application/json");
        ASSERT_TRUE(answered);
        EXPECT_EQ(answered->status, 200);
    }
    // Only the head is sent: the answer comes without the body being waited for.
    const std::string refused =
        AnswerToHead("POST /api/ping HTTP/1.1\r\nHost: " + Self() + "\r\nAuthorization: Bearer " + m_token +
                     "\r\nContent-Length: " + std::to_string(large.size()) + "\r\n\r\n");
    EXPECT_EQ(refused.substr(0, refused.find("\r\n")), "HTTP/1.1 413 Payload Too Large");
    EXPECT_NE(refused.find("Connection: close"), std::string::npos) << refused;
    httplib::Client client("127.0.0.1", Port());
    auto streamed = client.Post("/api/stream", headers, large, "application/json");
    ASSERT_TRUE(streamed);
    EXPECT_EQ(streamed->status, 200);
}

TEST_F(ServerTest, ThePrintedAddressCarriesTheTokenInItsFragmentAndThePageIsPlain) {
    EXPECT_EQ(m_server.OpeningAddress(), "http://" + Self() + "/#token=" + m_token);
    auto page = Send("GET", "/?token=" + m_token, {});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_TRUE(page->get_header_value("Set-Cookie").empty());
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    EXPECT_NE(page->get_header_value("Content-Security-Policy").find("default-src 'self'"), std::string::npos);
    EXPECT_EQ(Send("GET", "/js/app.js", {})->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(Send("GET", "/nothing.js", {})->status, 404);
    EXPECT_EQ(Send("POST", "/index.html", {})->status, 405);
}

TEST(ServerBind, EveryAddressAtOnceIsRefused) {
    for (const char *any : {"0.0.0.0", "::"}) {
        web::Server server(web::ServeOptions{any, 0, false}, web::NewToken());
        std::string error;
        EXPECT_FALSE(server.Bind(&error));
        EXPECT_NE(error.find("--bind"), std::string::npos);
    }
}

}  // namespace
