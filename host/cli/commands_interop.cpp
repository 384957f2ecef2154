// The export and import commands: files other programs read (the core's interop.h).
#include <cstdio>

#include "commands.h"
#include "interop.h"
#include "pim_results.h"
#include "progress.h"
#include "shortfall.h"

namespace host {
namespace {

struct ExportKind {
    const char *kind;
    const char *noun;
    Outcome (*run)(PhoneSession &, const std::string &, InteropReport *);
};
const ExportKind kExports[] = {{"contacts", "contacts", ExportContacts},
                               {"calendar", "appointments", ExportCalendar},
                               {"calls", "calls", ExportCalls},
                               {"sms", "messages", ExportMessages}};

// The failure under the command's name, its kind kept (a front end answers by it).
int Failed(Context &context, Outcome outcome, const std::string &what) {
    outcome.message = what + ": " + outcome.message;
    if (IsPcFailure(outcome.kind)) return context.FailLocal(outcome.message, outcome.kind);
    return context.Fail(outcome);
}

}  // namespace

int CmdExport(Context &context, const std::string &kind, const std::string &path, bool force) {
    const ExportKind *chosen = nullptr;
    for (const ExportKind &candidate : kExports)
        if (kind == candidate.kind) chosen = &candidate;
    if (!chosen) return context.FailUsage("export: unknown kind " + kind);
    if (int code = context.Connect()) return code;
    InteropReport report;
    report.force = force;
    Outcome outcome = chosen->run(context, path, &report);
    if (!outcome.ok) return Failed(context, outcome, kind + " export");
    context.jsonToStderr = path == "-";  // standard output carries the file
    std::string shown =
        path == "-" ? "" : "wrote " + std::to_string(report.written) + " " + chosen->noun + " to " + path + "\n";
    for (const std::string &line : report.mayBeCutLines) {
        if (path == "-" && !context.options.json) std::fprintf(ConsoleErr(), "cebridge: %s\n", line.c_str());
        if (path != "-") shown += line + "\n";
    }
    context.Emit(shown, ExportResultJson(kind, path, report));
    return kExitOk;
}

int CmdImport(Context &context, const std::string &kind, const std::string &path, bool skipExisting) {
    if (int code = context.LockPhoneForPimWriting(kind + " import")) return code;
    if (int code = context.Connect()) return code;
    InteropReport report;
    ItemProgress progress(context.options.json, context.options.progress);
    Outcome outcome = kind == "contacts" ? ImportContacts(context, path, skipExisting, progress, &report)
                                         : ImportCalendar(context, path, skipExisting, progress, &report);
    if (!outcome.ok) return Failed(context, outcome, kind + " import");
    std::string shown;
    for (const std::string &note : report.notes) shown += note + "\n";
    shown += "added " + std::to_string(report.added) + ", skipped " + std::to_string(report.skipped) + ", refused " +
             std::to_string(report.refused) + "\n";
    context.Emit(shown, ImportResultJson(kind, path, report));
    const Outcome shortfall = RefusedItems(kind + " import", report.refused);
    return shortfall.ok ? kExitOk : context.Fail(shortfall);
}

}  // namespace host
