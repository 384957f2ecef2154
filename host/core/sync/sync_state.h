// What a sync remembers between runs, in one SQLite file of the user's data folder:
// the pairs (a phone and PC folders), and per pair and item which phone item goes with
// which PC item and how both looked when they last agreed. Every change is committed
// on its own, so a run cut off anywhere leaves the state of the items it finished.
#ifndef CEBRIDGE_HOST_SYNC_STATE_H
#define CEBRIDGE_HOST_SYNC_STATE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "outcome.h"

struct sqlite3;

namespace host {

struct SyncPair {
    std::string name;
    std::string contacts, calendar;  // the PC's folders or collections' URLs; "" where that kind is not synced
    std::string phone;               // the phone it was first synced with ("" before the first sync)
    // For collections: the user, the file that holds the password ("": the environment's;
    // the password itself is never stored) and trusted certificates ("": the system's).
    std::string user = {}, passwordFile = {}, caFile = {};
};

// One phone item and the PC item that goes with it, as they were when they last agreed.
struct SyncMapping {
    int64_t row = 0;  // 0 until saved
    std::string phoneId, otherId;
    std::string otherVersion;  // the PC item's version tag when last read
    std::string phoneHash, otherHash;
    std::string phoneForm = {};  // the phone item's contact fields then (JSON; "" when not remembered)
};

class SyncState {
public:
    SyncState() = default;
    SyncState(const SyncState &) = delete;
    SyncState &operator=(const SyncState &) = delete;
    ~SyncState();

    // Opens (creating it and its folder) the state file. Each call fails with kPcFile
    // and what SQLite said, under "the sync state: ".
    Outcome Open(const std::string &path);

    Outcome SavePair(const SyncPair &pair);
    // *found false when there is no such pair.
    Outcome LoadPair(const std::string &name, SyncPair *pair, bool *found);
    Outcome Pairs(std::vector<SyncPair> *pairs);
    // The pair and everything remembered of its items.
    Outcome RemovePair(const std::string &name);

    // `kind`: "contacts" or "calendar".
    Outcome Mappings(const std::string &pair, const std::string &kind, std::vector<SyncMapping> *mappings);
    Outcome SaveMapping(const std::string &pair, const std::string &kind, SyncMapping *mapping);
    Outcome ForgetMapping(int64_t row);

    // The phone gave the item `oldId` of `kind` a new ID (an update is a delete and an
    // add): every pair with that phone follows it to `newId`.
    Outcome SaveRenamed(const std::string &phone, const std::string &kind, const std::string &oldId,
                        const std::string &newId);
    // The IDs renamed on `phone`, old ID to new, in the order they were renamed.
    Outcome Renamed(const std::string &phone, const std::string &kind,
                    std::vector<std::pair<std::string, std::string>> *renamed);

private:
    bool Run(const char *sql);
    Outcome CheckVersion();  // a new file takes this layout's version; a file of another is refused
    // Ok when `done`, else what SQLite said of the last call.
    Outcome Done(bool done) const;

    sqlite3 *m_db = nullptr;
};

// $XDG_DATA_HOME/cebridge/sync.sqlite (on Windows, under %LOCALAPPDATA%).
std::string DefaultSyncStatePath();

}  // namespace host

#endif  // CEBRIDGE_HOST_SYNC_STATE_H
