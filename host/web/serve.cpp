// The server's life: it binds, says its address, opens a browser when asked, serves
// until a stop signal, and ends its phone worker before the routes it calls.
#include "serve.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "console.h"
#include "local_files.h"
#include "phone_worker.h"
#include "serve_api.h"
#include "serve_events.h"
#include "serve_system.h"
#include "server.h"

namespace fs = std::filesystem;

namespace host {
namespace {

// `serve --open`: the browser is handed a private file that leads it to the address,
// so the token is on no command line any local user could read.
class BrowserOpener {
public:
    ~BrowserOpener() {
        m_opener.Reap();
        std::error_code ignored;
        if (!m_folder.empty()) fs::remove_all(LocalPath(m_folder), ignored);
    }
    void Open(const std::string &address) {
        m_folder = serve::NewPrivateFolder("cebridge-open-");
        if (m_folder.empty()) return Say("no private temporary folder for the opener");
        const std::string page = m_folder + char(fs::path::preferred_separator) + "open.html";
        {
            std::ofstream out(LocalPath(page), std::ios::binary);
            out << "<!doctype html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
                << "<meta http-equiv=\"refresh\" content=\"0;url=" << address << "\"><title>cebridge</title>";
            if (!out) return Say("cannot write the opener's page in " + m_folder);
        }
        std::error_code ignored;
        fs::permissions(LocalPath(page), fs::perms::owner_read | fs::perms::owner_write, ignored);
        std::string why;
        if (!m_opener.Open(page, &why)) Say(why);
    }
    void Reap() { m_opener.Reap(); }

private:
    static void Say(const std::string &why) {
        std::fprintf(ConsoleErr(), "cebridge: serve: %s; open the address above yourself\n", why.c_str());
    }
    std::string m_folder;
    serve::FileOpener m_opener;
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
    std::atomic<bool> stopServing{false};
    serve::StopOnSignals(stopServing, call.cancel);
    BrowserOpener opener;
    if (options.open) opener.Open(server.OpeningAddress());
    server.Run([&] {
        opener.Reap();
        const bool stop = stopServing.load();
        if (stop) {
            events.Close();  // the event streams end first: the server waits for them
            worker.Stop();   // the operation in flight is cancelled, the waiting ones refused
        }
        return stop;
    });
    worker.Stop();  // (joined before the routes its jobs call go)
    serve::StopNoLongerOnSignals();
    call.cancel = false;  // Ctrl-C is how a server ends: it ended well
    call.outcome = Outcome::Ok();
}

}  // namespace host

void cebridge_serve(host::ServeCall *call) { host::Serve(*call); }
