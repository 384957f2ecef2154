#if defined(_WIN32)
// Under wine the server is a Linux program all the same: wine starts a Linux program
// that a Windows one names (without a handle to wait on), so the server and the
// requests run through sh with the files they use named by their Linux paths.
#include <winsock2.h>  // (before any windows.h)

#include <windows.h>
#endif

#include "radicale_server.h"

#if !defined(_WIN32)
#include <fcntl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
const char kRadicale[] = "Z:\\usr\\bin\\radicale";
using socklen_t = int;
void CloseSocket(SOCKET socket) { closesocket(socket); }
bool SocketsReady() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

// The Linux path of a file of the wine PC.
std::string LinuxPath(const fs::path &path) {
    using Function = char *(CDECL *)(const wchar_t *);
    static const auto unixName = reinterpret_cast<Function>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char *name = unixName ? unixName(fs::absolute(path).wstring().c_str()) : nullptr;
    const std::string unixPath = name ? name : "";
    if (name) HeapFree(GetProcessHeap(), 0, name);
    return unixPath;
}

// Starts `script` in sh on the Linux side; it runs on after this returns.
bool StartScript(const fs::path &file, const std::string &script) {
    WriteFileText(file, script);
    std::wstring command = L"Z:\\bin\\sh " + fs::path(LinuxPath(file)).wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);
    return true;
}

// Waits (up to `seconds`) until `done` holds.
template <typename Condition>
bool WaitUntil(Condition done, int seconds) {
    for (int step = 0; step < seconds * 50; ++step) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}
#else
const char kRadicale[] = "/usr/bin/radicale";
using SOCKET = int;
void CloseSocket(SOCKET socket) { close(socket); }
bool SocketsReady() { return true; }
std::string LinuxPath(const fs::path &path) { return path.string(); }
#endif

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A port nothing listens on now (the kernel's pick).
int FreePort() {
    if (!SocketsReady()) return 0;
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(socket, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
        getsockname(socket, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    CloseSocket(socket);
    return port;
}

// `words` as one sh command line, each word quoted.
std::string Quoted(const std::vector<std::string> &words) {
    std::string line;
    for (const std::string &word : words) {
        line += " '";
        for (char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

bool Listening(int port) {
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Loopback(port);
    const bool connected = connect(socket, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    CloseSocket(socket);
    return connected;
}

}  // namespace

bool RadicaleServer::Installed() { return fs::exists(kRadicale); }

RadicaleServer::RadicaleServer() : RadicaleServer(fs::path(), 0) {}

RadicaleServer::RadicaleServer(const fs::path &home, int port)
    : m_home(home.empty() ? m_ownHome.path() : home), m_port(port ? port : FreePort()) {
    const fs::path root = m_home / "storage" / "collection-root" / kUser;
    if (!fs::exists(root)) {
        fs::create_directories(root / "contacts");
        fs::create_directories(root / "calendar");
        WriteFileText(root / "contacts" / ".Radicale.props", R"({"tag": "VADDRESSBOOK"})");
        WriteFileText(root / "calendar" / ".Radicale.props", R"({"tag": "VCALENDAR"})");
    }
    WriteFileText(m_home / "users", std::string(kUser) + ":" + kPassword + "\n");
    WriteFileText(m_home / "config",
                  "[server]\nhosts = 127.0.0.1:" + std::to_string(m_port) +
                      "\n[auth]\ntype = htpasswd\nhtpasswd_filename = " + LinuxPath(m_home / "users") +
                      "\nhtpasswd_encryption = plain\ndelay = 0\n[storage]\nfilesystem_folder = " +
                      LinuxPath(m_home / "storage") + "\n[rights]\ntype = owner_only\n");
#if defined(_WIN32)
    // (--config takes a list of files separated by ':', which wine's paths hold.)
    if (StartScript(m_home / "start.sh", "cd" + Quoted({LinuxPath(m_home)}) + " && echo $$ >pid && " +
                                             "exec /usr/bin/radicale --config config >log 2>&1\n"))
        m_pid = 1;  // (known to the stopping script by its file)
#else
    const std::string config = (m_home / "config").string(), log = (m_home / "log").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const char *argv[] = {kRadicale, "--config", config.c_str(), nullptr};
    if (posix_spawn(&m_pid, kRadicale, &actions, nullptr, const_cast<char **>(argv), environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
#endif
    for (int wait = 0; m_pid > 0 && wait < 200 && !m_ready; ++wait) {
        m_ready = Listening(m_port);
        if (!m_ready) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

RadicaleServer::~RadicaleServer() {
    if (m_pid <= 0) return;
#if defined(_WIN32)
    // Its storage goes with this object: the server is gone first.
    if (StartScript(m_home / "stop.sh", "kill $(cat " + Quoted({LinuxPath(m_home / "pid")}) + ")\n"))
        WaitUntil([this] { return !Listening(m_port); }, 30);
#else
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
#endif
}

std::string RadicaleServer::Url(const std::string &collection) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/" + kUser + "/" + collection + "/";
}

fs::path RadicaleServer::Storage(const std::string &collection) const {
    return m_home / "storage" / "collection-root" / kUser / collection;
}

int RadicaleServer::Request(const std::string &method, const std::string &url, const std::string &body) const {
    const fs::path file = m_home / "request-body";
    WriteFileText(file, body);
    const std::string code =
        "import sys, base64, urllib.request, urllib.error\n"
        "method, url, user, password, path = sys.argv[1:6]\n"
        "data = open(path, 'rb').read() if method == 'PUT' else None\n"
        "request = urllib.request.Request(url, data=data, method=method)\n"
        "request.add_header('Authorization', 'Basic ' + base64.b64encode((user + ':' + password).encode()).decode())\n"
        "try:\n    print(urllib.request.urlopen(request).status)\n"
        "except urllib.error.HTTPError as error:\n    print(error.code)\n";
    const std::string command =
        Quoted({"/usr/bin/python3", "-c", code, method, url, kUser, kPassword, LinuxPath(file)}) + " 2>&1";
    std::string out;
#if defined(_WIN32)
    const fs::path answer = m_home / "request-status", partial = m_home / "request-status.part";
    fs::remove(answer);
    if (StartScript(m_home / "request.sh", command + " >" + Quoted({LinuxPath(partial)}) + "; mv" +
                                               Quoted({LinuxPath(partial), LinuxPath(answer)}) + "\n") &&
        WaitUntil([&answer] { return fs::exists(answer); }, 60))
        out = ReadFileText(answer);
#else
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
#endif
    return std::atoi(out.c_str());
}

std::string RadicaleServer::Log() const { return ReadFileText(m_home / "log"); }
