// Results that hold less than was asked: a backup without parts the phone could not
// give or files it left out, a restore that could not put everything back, an import
// or a sync whose items the phone refused. Such a result is answered whole all the
// same (it names what is missing), and it is a failure: its exit code and HTTP status
// are those of the outcome these give (ok when nothing is missing). Both front ends
// take them from here, so a page never reads success where the command line fails.
#ifndef CEBRIDGE_HOST_SHORTFALL_H
#define CEBRIDGE_HOST_SHORTFALL_H

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "outcome.h"

namespace host {

// A backup's summary ("skipped", "unread", "generation", "latest").
Outcome BackupShortfall(const nlohmann::json &summary);
// A restore's report ("notRestored", and "refused" of "contacts" and "calendar").
Outcome RestoreShortfall(const nlohmann::json &report);
// `refused` items of `command` ("contacts import", "sync") the phone did not take.
Outcome RefusedItems(const std::string &command, size_t refused);
// The answer of a result with a shortfall: the result's document with the failure
// document's fields ("error", "exitCode", "kind") added.
nlohmann::json WithShortfall(nlohmann::json result, const Outcome &shortfall);

}  // namespace host

#endif  // CEBRIDGE_HOST_SHORTFALL_H
