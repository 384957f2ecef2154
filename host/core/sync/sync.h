// Two-way sync of the phone's contacts and calendar with PC folders (sync_sides.h),
// remembering between runs what was in step (sync_state.h). Per item, against how
// both sides looked when they last agreed: changed on one side, the other side gets
// the change; changed on both, the conflict policy decides; deleted on one side, the
// other deletes it too (a change beats a deletion: the changed item comes back); new
// on either side, the other gets it. An item on both sides with nothing remembered
// (a run cut off between writing one side and remembering it) is paired by its form
// on the phone, never copied twice. When more than a quarter of one side's items
// would be deleted, nothing is deleted unless forced.
//
// The session must be connected; cancelled through its flag (kInterrupted), leaving
// every item done so far remembered.
#ifndef CEBRIDGE_HOST_SYNC_H
#define CEBRIDGE_HOST_SYNC_H

#include <cstddef>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "phone_session.h"
#include "progress_sink.h"
#include "sync_sides.h"
#include "sync_state.h"

namespace host {

// Changed on both sides: the phone's form wins, the PC's wins, or both are kept (each
// side gets the other's as a new item).
enum class ConflictPolicy { kPhone, kPc, kKeepBoth };
const char *ConflictPolicyName(ConflictPolicy policy);  // "phone", "pc", "keep-both"
bool ParseConflictPolicy(const std::string &name, ConflictPolicy *policy);

struct SyncOptions {
    bool dryRun = false;  // plan only: nothing is written, nothing remembered
    bool force = false;   // delete even more than a quarter of a side's items
    ConflictPolicy conflict = ConflictPolicy::kKeepBoth;
};

// One thing done (or, in a dry run, to be done) to one item.
struct SyncAction {
    std::string kind;    // "contacts", "calendar"
    std::string side;    // the side written: "phone", "pc"
    std::string action;  // "create", "update", "delete"
    std::string item;    // its name or title
    std::string why;     // "new on the pc", "changed on the phone", "conflict (keep-both)"...
};

struct SyncReport {
    std::string pair;
    bool dryRun = false;
    ConflictPolicy conflict = ConflictPolicy::kKeepBoth;
    std::vector<SyncAction> actions;
    size_t unchanged = 0;            // items in step before and after
    size_t conflicts = 0;            // items changed on both sides
    bool deletionsHeld = false;      // the safety stop held deletions back
    size_t refused = 0;              // items the phone refused (each has a note)
    std::vector<std::string> notes;  // items left alone and why, deletions held
};

// The phone as a pair remembers it: maker, model and number. Fails (kPhoneRefused)
// when the phone did not give its model or its number: a pair is never bound to, nor
// compared with, an identity that could not be read.
Outcome PhoneIdentity(PhoneSession &session, std::string *identity);

// Syncs the pair `name` of `state`. Refuses (kBadInput) a phone other than the one the
// pair was first synced with. A phone that refuses an item leaves a note and counts in
// `refused`; one that then can no longer read its store stops the run.
Outcome RunSync(PhoneSession &session, SyncState &state, const std::string &name, const SyncOptions &options,
                ItemSink &sink, SyncReport *report);

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_H
