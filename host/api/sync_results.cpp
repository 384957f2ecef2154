#include "sync_results.h"

#if defined(CEBRIDGE_HAVE_SYNC)
namespace host {
namespace {

nlohmann::json CountsBySide(const SyncReport &report, const char *action) {
    nlohmann::json counts = {{"phone", 0}, {"pc", 0}};
    for (const SyncAction &done : report.actions)
        if (done.action == action) counts[done.side] = counts[done.side].get<size_t>() + 1;
    return counts;
}

}  // namespace

nlohmann::json SyncReportJson(const SyncReport &report) {
    nlohmann::json actions = nlohmann::json::array();
    for (const SyncAction &done : report.actions)
        actions.push_back({{"kind", done.kind},
                           {"side", done.side},
                           {"action", done.action},
                           {"item", done.item},
                           {"why", done.why}});
    return {{"pair", report.pair},
            {"dryRun", report.dryRun},
            {"conflict", ConflictPolicyName(report.conflict)},
            {"unchanged", report.unchanged},
            {"conflicts", report.conflicts},
            {"deletionsHeld", report.deletionsHeld},
            {"refused", report.refused},
            {"created", CountsBySide(report, "create")},
            {"updated", CountsBySide(report, "update")},
            {"deleted", CountsBySide(report, "delete")},
            {"actions", actions},
            {"notes", report.notes}};
}

nlohmann::json SyncPairJson(const SyncPair &pair) {
    return {{"pair", pair.name},    {"contacts", pair.contacts}, {"calendar", pair.calendar},
            {"phone", pair.phone},  {"user", pair.user},         {"passwordFile", pair.passwordFile},
            {"caFile", pair.caFile}};
}

}  // namespace host
#endif
