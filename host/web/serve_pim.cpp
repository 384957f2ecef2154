// The routes of contacts, appointments, calls and messages.
#include <string>
#include <vector>

#include "failure.h"
#include "interop.h"
#include "pim_operations.h"
#include "pim_results.h"
#include "serve_api.h"
#include "serve_streams.h"
#include "shortfall.h"

namespace host::serve {
namespace {

namespace fs = std::filesystem;

// A failure of what a page uploaded: its spooled copy arrived whole, so a PC file
// failure is its content, the page's mistake (400). The message names the page's
// file (`shown`); the spool is the server's own business.
Outcome AsUpload(Outcome outcome, const fs::path &taken, const std::string &shown) {
    if (outcome.kind == ErrorKind::kPcFile) outcome.kind = ErrorKind::kBadInput;
    const std::string spooled = taken.string();
    for (size_t at; (at = outcome.message.find(spooled)) != std::string::npos;)
        outcome.message.replace(at, spooled.size(), shown);
    return outcome;
}

// {"FIRSTNAME": "Ann", ...} as the command line's FIELD=VALUE words.
bool AddFields(const std::string &body, std::vector<std::string> *words) {
    const nlohmann::json fields = nlohmann::json::parse(body, nullptr, false);
    if (!fields.is_object() || fields.empty()) return false;
    for (const auto &[field, value] : fields.items()) {
        if (!value.is_string()) return false;
        words->push_back(field + "=" + value.get<std::string>());
    }
    return true;
}

void RespondList(PhoneRoutes &routes, httplib::Response &response, const std::string &kind) {
    routes.Respond(response, "list", Access::Reads(),
                   [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                       PimListing listing;
                       const Outcome outcome = ListPimItems(session, kind, &listing);
                       *document = PimListingJson(listing);
                       return outcome;
                   });
}

void RespondRemove(PhoneRoutes &routes, httplib::Response &response, const char *part, const std::string &type,
                   const std::string &typedId) {
    routes.Respond(response, "rm", Access::Writes(part),
                   [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                       std::string id;
                       const Outcome outcome = RemovePimItem(session, type, typedId, &id);
                       *document = RemovedJson(id);
                       return outcome;
                   });
}

// The routes of contacts or appointments (`kind` "contacts" or "calendar").
void AddPimKind(httplib::Server &http, PhoneRoutes &routes, const std::string &kind) {
    const std::string base = "/api/" + kind, type = PimType(kind);
    http.Get(base, [&routes, kind](const httplib::Request &, httplib::Response &response) {
        RespondList(routes, response, kind);
    });
    http.Get(
        base + R"(/([0-9A-Fa-f]+))", [&routes, type](const httplib::Request &request, httplib::Response &response) {
            routes.Respond(response, "show", Access::Reads(),
                           [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                               ShownItem shown;
                               const Outcome outcome = ShowPimItem(session, type, request.matches[1].str(), &shown);
                               *document = ShownItemJson(type, shown);
                               return outcome;
                           });
        });
    http.Delete(base + R"(/([0-9A-Fa-f]+))",
                [&routes, kind, type](const httplib::Request &request, httplib::Response &response) {
                    RespondRemove(routes, response, kind.c_str(), type, request.matches[1].str());
                });
    http.Put(base + R"(/([0-9A-Fa-f]+))", [&routes, kind, type](const httplib::Request &request,
                                                                httplib::Response &response) {
        std::vector<std::string> words;
        if (!AddFields(request.body, &words))
            return web::SendError(response, 400, "send the fields as a JSON object of texts");
        routes.Respond(response, "edit", Access::Writes(kind.c_str()),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           EditedItem edited;
                           const Outcome outcome = EditPimItem(session, type, request.matches[1].str(), words, &edited);
                           *document = EditedJson(edited);
                           return outcome;
                       });
    });
    http.Post(base, [&routes, kind, type](const httplib::Request &request, httplib::Response &response) {
        std::vector<std::string> words;
        if (!AddFields(request.body, &words))
            return web::SendError(response, 400, "send the fields as a JSON object of texts");
        KeptItem kept;
        if (const Outcome prepared = PrepareAdd(type, words, &kept); !prepared.ok)
            return ReplyFailure(response, "add", prepared);
        routes.Respond(response, "add", Access::Writes(kind.c_str()),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           *document = AddedJson(kept);
                           return AddPimItem(session, type, kept);
                       });
    });
    const bool contacts = kind == "contacts";
    const std::string fileName = kind + (contacts ? ".vcf" : ".ics");
    http.Get(base + "/export", [&routes, kind, contacts, fileName](const httplib::Request &,
                                                                   httplib::Response &response) {
        routes.SendProduced(fileName, response, kind + " export", [&](PhoneSession &session, const std::string &file) {
            InteropReport report;
            return contacts ? ExportContacts(session, file, &report) : ExportCalendar(session, file, &report);
        });
    });
    http.Post(base + "/import", [&routes, kind, contacts](const httplib::Request &request, httplib::Response &response,
                                                          const httplib::ContentReader &reader) {
        const bool skipExisting = Query(request, "skipExisting") == "true";
        const std::string command = kind + " import";
        std::string pageFile = Query(request, "name");
        if (pageFile.empty()) pageFile = "the uploaded file";
        SpoolBody(reader, contacts ? "import.vcf" : "import.ics", response, [&](const fs::path &taken) {
            InteropReport report;
            ItemSink quiet;  // (the page shows the answer's per-item report)
            const Outcome outcome =
                routes.OnPhone(Access::Writes(kind.c_str()), [&](PhoneSession &session, TransferSink &) {
                    return contacts ? ImportContacts(session, taken.string(), skipExisting, quiet, &report)
                                    : ImportCalendar(session, taken.string(), skipExisting, quiet, &report);
                });
            if (!outcome.ok)
                return ReplyFailure(response, command.c_str(), Named(command, AsUpload(outcome, taken, pageFile)));
            // Items refused, the others added: the report answers, with the refusal.
            ReplyResult(response, ImportResultJson(kind, pageFile, report), RefusedItems(command, report.refused));
        });
    });
}

}  // namespace

void AddPimRoutes(web::Server &server, PhoneRoutes &routes) {
    httplib::Server &http = server.Http();
    for (const char *kind : {"contacts", "calendar"}) {
        AddPimKind(http, routes, kind);
        server.AllowLargeBodies("POST", std::string("/api/") + kind + "/import");
    }
    http.Get("/api/calls", [&routes](const httplib::Request &, httplib::Response &response) {
        RespondList(routes, response, "calls");
    });
    // With names=true, each message names the contacts that hold its number; when the
    // contacts cannot be read, the messages come without names and "namesUnread" says why.
    http.Get("/api/sms", [&routes](const httplib::Request &request, httplib::Response &response) {
        const bool sent = Query(request, "box") == "sent", named = Query(request, "names") == "true";
        routes.Respond(response, "sms", Access::Reads(),
                       [&](PhoneSession &session, TransferSink &, nlohmann::json *document) {
                           NamesByNumber names;
                           const Outcome namesRead = named ? ReadNamesByNumber(session, &names) : Outcome::Ok();
                           std::vector<SmsMessage> messages;
                           const Outcome outcome = ListMessages(session, sent, &messages);
                           *document = MessageListJson(messages, sent, named && namesRead.ok ? &names : nullptr);
                           if (!namesRead.ok) (*document)["namesUnread"] = FailureText("sms", namesRead);
                           return outcome;
                       });
    });
    http.Delete(R"(/api/sms/(\w+))", [&routes](const httplib::Request &request, httplib::Response &response) {
        RespondRemove(routes, response, "messages", SmsType(Query(request, "box") == "sent"), request.matches[1].str());
    });
}

}  // namespace host::serve
