// A Radicale server of a test's own: Debian's radicale on a free loopback port, with
// temporary storage, one user of plain htpasswd (so basic authentication is used) and
// an address book and a calendar of that user. Stopped when it goes.
#ifndef CEBRIDGE_TESTS_HOSTCORE_RADICALE_SERVER_H
#define CEBRIDGE_TESTS_HOSTCORE_RADICALE_SERVER_H

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "support/phone_copy.h"

class RadicaleServer {
public:
    static constexpr const char *kUser = "sync-user";
    static constexpr const char *kPassword = "s3cret-Pa55";
    static bool Installed();  // the test skips with a message when it is not

    RadicaleServer();
    // A server over the storage kept in `home` (made there the first time), on `port`
    // (0: any free one). A server started again on the same home and port serves the
    // same collections at the same addresses.
    RadicaleServer(const std::filesystem::path &home, int port);
    ~RadicaleServer();
    RadicaleServer(const RadicaleServer &) = delete;
    RadicaleServer &operator=(const RadicaleServer &) = delete;

    bool Ready() const { return m_ready; }
    int Port() const { return m_port; }
    // "http://127.0.0.1:PORT/sync-user/contacts/" ("contacts" or "calendar").
    std::string Url(const std::string &collection) const;
    // Where Radicale keeps that collection's items, one file each.
    std::filesystem::path Storage(const std::string &collection) const;
    // A request to the server as the user (python3's own client): its HTTP status.
    int Request(const std::string &method, const std::string &url, const std::string &body = "") const;
    std::string Log() const;

private:
    TempDir m_ownHome;
    std::filesystem::path m_home;
    int m_port = 0;
    pid_t m_pid = -1;
    bool m_ready = false;
};

#endif  // CEBRIDGE_TESTS_HOSTCORE_RADICALE_SERVER_H
