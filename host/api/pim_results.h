// The documents of contacts, appointments, calls and messages, and of their exports
// and imports, as every front end answers them (`--json`, the web API).
#ifndef CEBRIDGE_HOST_PIM_RESULTS_H
#define CEBRIDGE_HOST_PIM_RESULTS_H

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "interop.h"
#include "pim_operations.h"

namespace host {

// {"kind", "items": [{"id", "title", "type", ...}]}
nlohmann::json PimListingJson(const PimListing &listing);
// {"id", "fields", "mayBeCut"}
nlohmann::json ShownItemJson(const std::string &type, const ShownItem &shown);
// {"added": true, "changes": [...]}
nlohmann::json AddedJson(const KeptItem &kept);
nlohmann::json RemovedJson(const std::string &id);  // {"removed"}
// {"edited": the old ID, "id": the new one, "changes": [...]}
nlohmann::json EditedJson(const EditedItem &edited);
// One message of `sent`'s box, with what may have been cut ({"id", "box", "number",
// "time", "text", "mayBeCut"}), and a box's listing ({"kind": "sms", "box", "items"});
// with `names`, each message also {"names": the contacts that hold its number}.
nlohmann::json MessageJson(const SmsMessage &message, bool sent);
nlohmann::json MessageListJson(const std::vector<SmsMessage> &messages, bool sent,
                               const NamesByNumber *names = nullptr);
// The results as every front end answers them (`export --json`, `import --json`):
// {"kind", "file", "written", "mayBeCut"} and
// {"kind", "file", "added", "skipped", "refused", "notes", "items"}.
nlohmann::json ExportResultJson(const std::string &kind, const std::string &path, const InteropReport &report);
nlohmann::json ImportResultJson(const std::string &kind, const std::string &path, const InteropReport &report);

}  // namespace host

#endif  // CEBRIDGE_HOST_PIM_RESULTS_H
