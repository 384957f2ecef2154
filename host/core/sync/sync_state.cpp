#include "sync_state.h"

#include <filesystem>
#include <functional>

#include <sqlite3.h>

#include "local_files.h"
#include "pc_setup.h"

namespace host {
namespace {

// The state's tables; a file of another layout is refused by its user_version.
constexpr int64_t kSchemaVersion = 1;
const char kSchema[] =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS pairs(name TEXT PRIMARY KEY, contacts TEXT NOT NULL, calendar TEXT NOT NULL,"
    " phone TEXT NOT NULL, user TEXT NOT NULL DEFAULT '', password_file TEXT NOT NULL DEFAULT '',"
    " ca_file TEXT NOT NULL DEFAULT '');"
    "CREATE TABLE IF NOT EXISTS items(row INTEGER PRIMARY KEY, pair TEXT NOT NULL, kind TEXT NOT NULL,"
    " phone_id TEXT NOT NULL, other_id TEXT NOT NULL, other_version TEXT NOT NULL, phone_hash TEXT NOT NULL,"
    " other_hash TEXT NOT NULL, phone_form TEXT NOT NULL DEFAULT '');"
    "CREATE INDEX IF NOT EXISTS items_of_pair ON items(pair, kind);"
    // The phone's renamed items, which the pairs on one phone share.
    "CREATE TABLE IF NOT EXISTS renamed(row INTEGER PRIMARY KEY, phone TEXT NOT NULL, kind TEXT NOT NULL,"
    " old_id TEXT NOT NULL, new_id TEXT NOT NULL);";

const char kPairColumns[] = "SELECT name, contacts, calendar, phone, user, password_file, ca_file FROM pairs";

// One prepared statement with its text arguments bound in order.
class Statement {
public:
    Statement(sqlite3 *db, const char *sql, const std::vector<std::string> &arguments) {
        if (sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr) != SQLITE_OK) return;
        for (size_t i = 0; i < arguments.size(); ++i)
            sqlite3_bind_text(m_statement, int(i + 1), arguments[i].c_str(), int(arguments[i].size()),
                              SQLITE_TRANSIENT);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    // Calls `row` for each row; false when the statement failed.
    bool Each(const std::function<void(Statement &)> &row = {}) {
        if (!m_statement) return false;
        int result;
        while ((result = sqlite3_step(m_statement)) == SQLITE_ROW)
            if (row) row(*this);
        return result == SQLITE_DONE;
    }
    std::string Text(int column) const {
        const unsigned char *text = sqlite3_column_text(m_statement, column);
        return text ? std::string(reinterpret_cast<const char *>(text),
                                  size_t(sqlite3_column_bytes(m_statement, column)))
                    : std::string();
    }
    int64_t Integer(int column) const { return sqlite3_column_int64(m_statement, column); }

private:
    sqlite3_stmt *m_statement = nullptr;
};

SyncPair PairOf(const Statement &row) {
    return {row.Text(0), row.Text(1), row.Text(2), row.Text(3), row.Text(4), row.Text(5), row.Text(6)};
}

}  // namespace

SyncState::~SyncState() { sqlite3_close(m_db); }

Outcome SyncState::Open(const std::string &path) {
    std::error_code ignored;
    std::filesystem::create_directories(LocalPath(path).parent_path(), ignored);
    if (sqlite3_open(path.c_str(), &m_db) == SQLITE_OK) sqlite3_busy_timeout(m_db, 5000);
    Outcome opened = !m_db           ? PcFailure("cannot open")
                     : !Run(kSchema) ? PcFailure(sqlite3_errmsg(m_db))
                                     : CheckVersion();
    if (!opened.ok) opened.message = path + ": " + opened.message;
    return opened;
}

Outcome SyncState::CheckVersion() {
    int64_t version = 0;
    if (!Statement(m_db, "PRAGMA user_version", {}).Each([&](Statement &row) { version = row.Integer(0); }) ||
        (version == 0 && !Run(("PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";").c_str())))
        return PcFailure(sqlite3_errmsg(m_db));
    if (version == 0 || version == kSchemaVersion) return Outcome::Ok();
    return PcFailure("written by another version of cebridge (its layout " + std::to_string(version) + ", this one's " +
                     std::to_string(kSchemaVersion) + ")");
}

bool SyncState::Run(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

Outcome SyncState::Done(bool done) const {
    return done ? Outcome::Ok() : PcFailure(std::string("the sync state: ") + sqlite3_errmsg(m_db));
}

Outcome SyncState::SavePair(const SyncPair &pair) {
    return Done(
        Statement(m_db,
                  "INSERT OR REPLACE INTO pairs(name, contacts, calendar, phone, user, password_file, ca_file)"
                  " VALUES(?,?,?,?,?,?,?)",
                  {pair.name, pair.contacts, pair.calendar, pair.phone, pair.user, pair.passwordFile, pair.caFile})
            .Each());
}

Outcome SyncState::LoadPair(const std::string &name, SyncPair *pair, bool *found) {
    *found = false;
    return Done(
        Statement(m_db, (std::string(kPairColumns) + " WHERE name=?").c_str(), {name}).Each([&](Statement &row) {
            *pair = PairOf(row);
            *found = true;
        }));
}

Outcome SyncState::Pairs(std::vector<SyncPair> *pairs) {
    return Done(Statement(m_db, (std::string(kPairColumns) + " ORDER BY name").c_str(), {}).Each([&](Statement &row) {
        pairs->push_back(PairOf(row));
    }));
}

Outcome SyncState::RemovePair(const std::string &name) {
    return Done(Statement(m_db, "DELETE FROM items WHERE pair=?", {name}).Each() &&
                Statement(m_db, "DELETE FROM pairs WHERE name=?", {name}).Each());
}

Outcome SyncState::Mappings(const std::string &pair, const std::string &kind, std::vector<SyncMapping> *mappings) {
    return Done(Statement(m_db,
                          "SELECT row, phone_id, other_id, other_version, phone_hash, other_hash, phone_form FROM items"
                          " WHERE pair=? AND kind=? ORDER BY row",
                          {pair, kind})
                    .Each([&](Statement &row) {
                        mappings->push_back({row.Integer(0), row.Text(1), row.Text(2), row.Text(3), row.Text(4),
                                             row.Text(5), row.Text(6)});
                    }));
}

Outcome SyncState::SaveMapping(const std::string &pair, const std::string &kind, SyncMapping *mapping) {
    const std::vector<std::string> values = {mapping->phoneId,   mapping->otherId,   mapping->otherVersion,
                                             mapping->phoneHash, mapping->otherHash, mapping->phoneForm};
    if (mapping->row) {
        std::vector<std::string> arguments = values;
        arguments.push_back(std::to_string(mapping->row));
        return Done(Statement(m_db,
                              "UPDATE items SET phone_id=?, other_id=?, other_version=?, phone_hash=?, other_hash=?,"
                              " phone_form=? WHERE row=CAST(? AS INTEGER)",
                              arguments)
                        .Each());
    }
    std::vector<std::string> arguments = {pair, kind};
    arguments.insert(arguments.end(), values.begin(), values.end());
    if (!Statement(m_db,
                   "INSERT INTO items(pair, kind, phone_id, other_id, other_version, phone_hash, other_hash,"
                   " phone_form) VALUES(?,?,?,?,?,?,?,?)",
                   arguments)
             .Each())
        return Done(false);
    mapping->row = sqlite3_last_insert_rowid(m_db);
    return Outcome::Ok();
}

Outcome SyncState::ForgetMapping(int64_t row) {
    return Done(Statement(m_db, "DELETE FROM items WHERE row=CAST(? AS INTEGER)", {std::to_string(row)}).Each());
}

Outcome SyncState::SaveRenamed(const std::string &phone, const std::string &kind, const std::string &oldId,
                               const std::string &newId) {
    return Done(
        Statement(m_db, "INSERT INTO renamed(phone, kind, old_id, new_id) VALUES(?,?,?,?)", {phone, kind, oldId, newId})
            .Each());
}

Outcome SyncState::Renamed(const std::string &phone, const std::string &kind,
                           std::vector<std::pair<std::string, std::string>> *renamed) {
    return Done(
        Statement(m_db, "SELECT old_id, new_id FROM renamed WHERE phone=? AND kind=? ORDER BY row", {phone, kind})
            .Each([&](Statement &row) { renamed->emplace_back(row.Text(0), row.Text(1)); }));
}

std::string DefaultSyncStatePath() { return UserDataDirectory() + "/sync.sqlite"; }

}  // namespace host
