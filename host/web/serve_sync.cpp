// The routes of sync pairs: the pairs the command line made, and a sync of one.
#include "serve_api.h"
#include "serve_streams.h"
#include "shortfall.h"
#include "sync_results.h"

#if defined(CEBRIDGE_HAVE_SYNC)
#include "sync.h"
#endif

namespace host::serve {

#if defined(CEBRIDGE_HAVE_SYNC)
namespace {

// dryRun, force and conflict, from the query or a JSON body (the body's win);
// what is wrong with them, or "".
std::string ReadSyncOptions(const httplib::Request &request, SyncOptions *options) {
    nlohmann::json given = nlohmann::json::object();
    for (const char *name : {"dryRun", "force", "conflict"}) {
        const std::string value = Query(request, name);
        if (value == "true" || value == "false")
            given[name] = value == "true";
        else if (!value.empty())
            given[name] = value;
    }
    if (!request.body.empty()) {
        const nlohmann::json body = nlohmann::json::parse(request.body, nullptr, false);
        if (!body.is_object()) return "send the options as a JSON object";
        given.update(body);
    }
    const nlohmann::json dryRun = given.value("dryRun", nlohmann::json(false));
    const nlohmann::json force = given.value("force", nlohmann::json(false));
    if (!dryRun.is_boolean() || !force.is_boolean()) return "dryRun and force are true or false";
    options->dryRun = dryRun.get<bool>();
    options->force = force.get<bool>();
    const nlohmann::json conflict = given.value("conflict", nlohmann::json("keep-both"));
    if (!conflict.is_string() || !ParseConflictPolicy(conflict.get<std::string>(), &options->conflict))
        return "conflict is phone, pc or keep-both";
    return "";
}

// Answers the sync's report; deletions the safety stop held back are in it, not a
// failure. A pair first synced with another phone is in the way (409), as is a
// cancel: every item done before it stays remembered, so a rerun goes on from there.
void Sync(PhoneRoutes &routes, const std::string &name, const SyncOptions &options, httplib::Response &response) {
    SyncState state;
    SyncPair pair;
    bool found = false;
    Outcome opened = state.Open(DefaultSyncStatePath());
    if (opened.ok) opened = state.LoadPair(name, &pair, &found);
    if (!opened.ok) return ReplyFailure(response, "sync", opened);
    if (!found)
        return ReplyFailure(response, "sync", Outcome::Failed(0, "no sync pair named " + name, ErrorKind::kNotFound));
    SyncReport report;
    const Access access = options.dryRun ? Access::Reads() : Access::Writes("phone");
    Outcome outcome = routes.OnPhone(access, [&](PhoneSession &session, TransferSink &) {
        ItemEvents progress(routes.events, name);
        return RunSync(session, state, name, options, progress, &report);
    });
    if (outcome.ok) return ReplyResult(response, SyncReportJson(report), RefusedItems("sync", report.refused));
    ReplyFailure(response, "sync", outcome);
}

}  // namespace

// The sync pairs the command line made, and a sync of one of them. The state file
// is opened per request: the command line may add, remove or sync pairs meanwhile
// (SQLite serialises the writers; the phone's write lock keeps two syncs apart).
void AddSyncRoutes(web::Server &server, PhoneRoutes &routes) {
    httplib::Server &http = server.Http();
    http.Get("/api/sync", [](const httplib::Request &, httplib::Response &response) {
        SyncState state;
        std::vector<SyncPair> pairs;
        Outcome opened = state.Open(DefaultSyncStatePath());
        if (opened.ok) opened = state.Pairs(&pairs);
        if (!opened.ok) return ReplyFailure(response, "sync list", opened);
        nlohmann::json list = nlohmann::json::array();
        for (const SyncPair &pair : pairs) list.push_back(SyncPairJson(pair));
        web::SendJson(response, 200, {{"pairs", list}});
    });
    http.Post(R"(/api/sync/([^/]+))", [&routes](const httplib::Request &request, httplib::Response &response) {
        SyncOptions options;
        if (const std::string problem = ReadSyncOptions(request, &options); !problem.empty())
            return web::SendError(response, 400, problem);
        Sync(routes, request.matches[1].str(), options, response);
    });
}

#else
void AddSyncRoutes(web::Server &, PhoneRoutes &) {}
#endif

}  // namespace host::serve
