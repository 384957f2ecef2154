// The serve page's server on the loopback address, through real HTTP: who may reach
// the page and the API (token, Host, Origin), and the page's own files.
#include <gtest/gtest.h>

#include <thread>

#include "server.h"

namespace {

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

    const std::string m_token = web::NewToken();
    web::Server m_server{web::ServeOptions{}, m_token};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(ServerTest, TheApiAnswersOnlyItsOwnPageOrTheToken) {
    const std::string cookie = std::string(web::kTokenCookie).append("=").append(m_token);
    const std::string otherPort = std::to_string(Port() + 1), port = std::to_string(Port()),
                      otherToken = web::NewToken();
    struct Case {
        const char *what, *method;
        httplib::Headers headers;
        int status;
    } cases[] = {
        {"no token", "GET", {}, 401},
        {"a wrong token", "GET", {{"Authorization", "Bearer " + otherToken}}, 401},
        {"the bearer token", "GET", {{"Authorization", "Bearer " + m_token}}, 200},
        {"a change with the bearer token", "POST", {{"Authorization", "Bearer " + m_token}}, 200},
        {"the cookie", "GET", {{"Cookie", "other=1; " + cookie}}, 200},
        {"a change on the cookie without Origin", "POST", {{"Cookie", cookie}}, 403},
        {"a change on the cookie from another page",
         "POST",
         {{"Cookie", cookie}, {"Origin", "http://localhost:" + otherPort}},
         403},
        {"a change on the cookie from this page", "POST", {{"Cookie", cookie}, {"Origin", "http://" + Self()}}, 200},
        {"another host name (DNS rebinding)",
         "GET",
         {{"Authorization", "Bearer " + m_token}, {"Host", "attacker.example:" + port}},
         403},
    };
    for (const Case &c : cases) {
        auto result = Send(c.method, "/api/ping", c.headers);
        ASSERT_TRUE(result) << c.what;
        EXPECT_EQ(result->status, c.status) << c.what << ": " << result->body;
        if (c.status != 200) {
            EXPECT_NE(result->body.find("\"error\""), std::string::npos) << c.what;
        }
    }
}

TEST_F(ServerTest, ThePrintedAddressSetsAStrictCookieAndLeavesTheAddressBar) {
    EXPECT_EQ(m_server.OpeningAddress(), "http://" + Self() + "/?token=" + m_token);
    const std::string otherToken = web::NewToken();
    auto wrong = Send("GET", "/?token=" + otherToken, {});
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->status, 401);
    auto opened = Send("GET", "/?token=" + m_token, {});
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->status, 302);
    EXPECT_EQ(opened->get_header_value("Location"), "/");
    const std::string cookie = opened->get_header_value("Set-Cookie");
    for (const char *part : {"HttpOnly", "SameSite=Strict", "Path=/"}) EXPECT_NE(cookie.find(part), std::string::npos);

    auto page = Send("GET", "/", {});
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
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
