// The documents of sync pairs and of a sync, as every front end answers them
// (`--json`, the web API). Built where the build has sync.
#ifndef CEBRIDGE_HOST_SYNC_RESULTS_H
#define CEBRIDGE_HOST_SYNC_RESULTS_H

#if defined(CEBRIDGE_HAVE_SYNC)
#include <nlohmann/json.hpp>

#include "sync.h"

namespace host {

// {"pair", "dryRun", "conflict", "unchanged", "conflicts", "deletionsHeld", "refused",
//  "created": {"phone", "pc"}, "updated": {...}, "deleted": {...}, "actions": [...], "notes": [...]}
nlohmann::json SyncReportJson(const SyncReport &report);
// A pair as `sync add`, `sync list` and serve give it: {"pair", "contacts", "calendar",
// "phone", "user", "passwordFile", "caFile"} (no password: it is never stored).
nlohmann::json SyncPairJson(const SyncPair &pair);

}  // namespace host
#endif

#endif  // CEBRIDGE_HOST_SYNC_RESULTS_H
