// The server's life: it binds, says its address, opens a browser when asked, serves
// until a stop signal, and ends its phone worker before the routes it calls.
#include "serve.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "console.h"
#include "phone_worker.h"
#include "serve_api.h"
#include "serve_events.h"
#include "server.h"

#if !defined(_WIN32)
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <csignal>
#include <cstdlib>
extern char **environ;
#endif

namespace fs = std::filesystem;

namespace host {
namespace {

// Set by Ctrl-C, TERM and HUP: the server ends, and the operation in flight with it
// (through the session's cancel flag). A page's cancel goes through the phone's
// worker, which ends the operation alone.
std::atomic<bool> g_stopServing{false};
std::atomic<std::atomic<bool> *> g_cancelOnStop{nullptr};

extern "C" void OnStopSignal(int) {
    g_stopServing = true;
    if (std::atomic<bool> *cancel = g_cancelOnStop.load()) *cancel = true;
}

void StopOnSignals(std::atomic<bool> &cancel) {
    g_cancelOnStop = &cancel;
    struct sigaction stop = {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &stop, nullptr);
    signal(SIGPIPE, SIG_IGN);  // a page that goes away is the server's to notice, not a stop
}

// `serve --open`: the browser is handed a private file that leads it to the address,
// so the token is on no command line any local user could read. The opener is not
// waited for (a browser may stay in the foreground); Reap collects it once it ends.
class BrowserOpener {
public:
    ~BrowserOpener() {
        Reap();
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(m_folder, ignored);
    }
    void Open(const std::string &address) {
#if defined(_WIN32)
        (void)address;
#else
        std::error_code failure;
        std::string folder = (fs::temp_directory_path(failure) / "cebridge-open-XXXXXX").string();
        if (failure || !mkdtemp(folder.data())) return Say("no private temporary folder for the opener");
        m_folder = folder;
        const std::string page = (fs::path(folder) / "open.html").string();
        {
            std::ofstream out(page, std::ios::binary);
            out << "<!doctype html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
                << "<meta http-equiv=\"refresh\" content=\"0;url=" << address << "\"><title>cebridge</title>";
            if (!out) return Say("cannot write the opener's page in " + folder);
        }
        chmod(page.c_str(), 0600);
        const std::string url = "file://" + page;
        const char *argv[] = {"xdg-open", url.c_str(), nullptr};
        if (posix_spawnp(&m_child, "xdg-open", nullptr, nullptr, const_cast<char **>(argv), environ) != 0) {
            m_child = 0;
            Say("cannot start xdg-open");
        }
#endif
    }
    // Collects the opener if it has ended; asked about ten times a second.
    void Reap() {
#if !defined(_WIN32)
        if (m_child > 0 && waitpid(m_child, nullptr, WNOHANG) != 0) m_child = 0;
#endif
    }

private:
    static void Say(const std::string &why) {
        std::fprintf(ConsoleErr(), "cebridge: serve: %s; open the address above yourself\n", why.c_str());
    }
    std::string m_folder;
#if !defined(_WIN32)
    pid_t m_child = 0;
#endif
};

}  // namespace

void Serve(ServeCall &call) {
    const web::ServeOptions &options = call.options;
    web::Server server(options, web::NewToken());
    std::string error;
    if (!server.Bind(&error)) {
        call.outcome = Outcome::Failed(0, error, ErrorKind::kBadInput);
        return;
    }
    if (options.bind != "127.0.0.1" && options.bind != "localhost" && options.bind != "::1")
        std::fprintf(ConsoleErr(),
                     "cebridge: warning: serving on %s: whoever reaches it with the token can use the phone\n",
                     options.bind.c_str());
    serve::EventHub events;
    serve::PageProgress pageProgress(events);  // (outlives the worker that calls it)
    PhoneWorker worker(call.session, call.cancel);
    worker.Subscribe(&pageProgress, nullptr);
    serve::PhoneRoutes routes(worker, events, call.sessionOptions);
    serve::AddFileRoutes(server, routes);
    serve::AddPimRoutes(server, routes);
    serve::AddBackupRoutes(server, routes);
    serve::AddSyncRoutes(server, routes);
    serve::AddControlRoutes(server, routes);
    std::fprintf(ConsoleOut(), "cebridge: serving %s\n", server.OpeningAddress().c_str());
    std::fflush(ConsoleOut());
    StopOnSignals(call.cancel);
    BrowserOpener opener;
    if (options.open) opener.Open(server.OpeningAddress());
    server.Run([&] {
        opener.Reap();
        const bool stop = g_stopServing.load();
        if (stop) {
            events.Close();  // the event streams end first: the server waits for them
            worker.Stop();   // the operation in flight is cancelled, the waiting ones refused
        }
        return stop;
    });
    worker.Stop();  // (joined before the routes its jobs call go)
    g_cancelOnStop = nullptr;
    call.cancel = false;  // Ctrl-C is how a server ends: it ended well
    call.outcome = Outcome::Ok();
}

}  // namespace host

void cebridge_serve(host::ServeCall *call) { host::Serve(*call); }
