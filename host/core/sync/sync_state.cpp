#include "sync_state.h"

#include <filesystem>
#include <functional>

#include <sqlite3.h>

#include "local_files.h"
#include "pc_setup.h"

namespace host {
namespace {

const char kSchema[] =
    "PRAGMA journal_mode=WAL;"
    "PRAGMA synchronous=NORMAL;"
    "CREATE TABLE IF NOT EXISTS pairs(name TEXT PRIMARY KEY, contacts TEXT NOT NULL, calendar TEXT NOT NULL,"
    " phone TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS items(row INTEGER PRIMARY KEY, pair TEXT NOT NULL, kind TEXT NOT NULL,"
    " phone_id TEXT NOT NULL, other_id TEXT NOT NULL, other_version TEXT NOT NULL, phone_hash TEXT NOT NULL,"
    " other_hash TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS items_of_pair ON items(pair, kind);";

// What files of an earlier schema (user_version 0) lack: a collection's account.
const char kAccounts[] =
    "BEGIN;"
    "ALTER TABLE pairs ADD COLUMN user TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE pairs ADD COLUMN password_file TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE pairs ADD COLUMN ca_file TEXT NOT NULL DEFAULT '';"
    "PRAGMA user_version=1;"
    "COMMIT;";

// What files of schema 1 lack: the phone form last agreed on, and the phone's
// renamed items that pairs share.
const char kForms[] =
    "BEGIN;"
    "ALTER TABLE items ADD COLUMN phone_form TEXT NOT NULL DEFAULT '';"
    "CREATE TABLE IF NOT EXISTS renamed(row INTEGER PRIMARY KEY, phone TEXT NOT NULL, kind TEXT NOT NULL,"
    " old_id TEXT NOT NULL, new_id TEXT NOT NULL);"
    "PRAGMA user_version=2;"
    "COMMIT;";

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

bool SyncState::Open(const std::string &path, std::string *error) {
    std::error_code ignored;
    std::filesystem::create_directories(LocalPath(path).parent_path(), ignored);
    if (sqlite3_open(path.c_str(), &m_db) == SQLITE_OK) sqlite3_busy_timeout(m_db, 5000);
    if (!m_db || !Run(kSchema) || !Migrate()) {
        *error = path + ": " + (!m_db ? "cannot open" : !m_error.empty() ? m_error : sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

bool SyncState::Migrate() {
    const char *const steps[] = {kAccounts, kForms};  // step i brings version i to i + 1
    for (int64_t target = 1; target <= int64_t(std::size(steps)); ++target) {
        int64_t version = 0;
        if (!Statement(m_db, "PRAGMA user_version", {}).Each([&](Statement &row) { version = row.Integer(0); }))
            return Failed();
        if (version >= target || Run(steps[target - 1])) continue;
        const std::string why = m_error;
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        // Another process may have brought it up meanwhile.
        Statement(m_db, "PRAGMA user_version", {}).Each([&](Statement &row) { version = row.Integer(0); });
        m_error = why;
        if (version < target) return false;
    }
    return true;
}

bool SyncState::Run(const char *sql) {
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK || Failed();
}

bool SyncState::Failed() {
    m_error = sqlite3_errmsg(m_db);
    return false;
}

bool SyncState::SavePair(const SyncPair &pair) {
    return Statement(m_db,
                     "INSERT OR REPLACE INTO pairs(name, contacts, calendar, phone, user, password_file, ca_file)"
                     " VALUES(?,?,?,?,?,?,?)",
                     {pair.name, pair.contacts, pair.calendar, pair.phone, pair.user, pair.passwordFile, pair.caFile})
               .Each() ||
           Failed();
}

bool SyncState::LoadPair(const std::string &name, SyncPair *pair, bool *found) {
    *found = false;
    return Statement(m_db, (std::string(kPairColumns) + " WHERE name=?").c_str(), {name}).Each([&](Statement &row) {
        *pair = PairOf(row);
        *found = true;
    }) || Failed();
}

bool SyncState::Pairs(std::vector<SyncPair> *pairs) {
    return Statement(m_db, (std::string(kPairColumns) + " ORDER BY name").c_str(), {}).Each([&](Statement &row) {
        pairs->push_back(PairOf(row));
    }) || Failed();
}

bool SyncState::RemovePair(const std::string &name) {
    return (Statement(m_db, "DELETE FROM items WHERE pair=?", {name}).Each() &&
            Statement(m_db, "DELETE FROM pairs WHERE name=?", {name}).Each()) ||
           Failed();
}

bool SyncState::Mappings(const std::string &pair, const std::string &kind, std::vector<SyncMapping> *mappings) {
    return Statement(m_db,
                     "SELECT row, phone_id, other_id, other_version, phone_hash, other_hash, phone_form FROM items"
                     " WHERE pair=? AND kind=? ORDER BY row",
                     {pair, kind})
               .Each([&](Statement &row) {
                   mappings->push_back(
                       {row.Integer(0), row.Text(1), row.Text(2), row.Text(3), row.Text(4), row.Text(5), row.Text(6)});
               }) ||
           Failed();
}

bool SyncState::SaveMapping(const std::string &pair, const std::string &kind, SyncMapping *mapping) {
    const std::vector<std::string> values = {mapping->phoneId,   mapping->otherId,   mapping->otherVersion,
                                             mapping->phoneHash, mapping->otherHash, mapping->phoneForm};
    if (mapping->row) {
        std::vector<std::string> arguments = values;
        arguments.push_back(std::to_string(mapping->row));
        return Statement(m_db,
                         "UPDATE items SET phone_id=?, other_id=?, other_version=?, phone_hash=?, other_hash=?,"
                         " phone_form=? WHERE row=CAST(? AS INTEGER)",
                         arguments)
                   .Each() ||
               Failed();
    }
    std::vector<std::string> arguments = {pair, kind};
    arguments.insert(arguments.end(), values.begin(), values.end());
    if (!Statement(m_db,
                   "INSERT INTO items(pair, kind, phone_id, other_id, other_version, phone_hash, other_hash,"
                   " phone_form) VALUES(?,?,?,?,?,?,?,?)",
                   arguments)
             .Each())
        return Failed();
    mapping->row = sqlite3_last_insert_rowid(m_db);
    return true;
}

bool SyncState::ForgetMapping(int64_t row) {
    return Statement(m_db, "DELETE FROM items WHERE row=CAST(? AS INTEGER)", {std::to_string(row)}).Each() || Failed();
}

bool SyncState::SaveRenamed(const std::string &phone, const std::string &kind, const std::string &oldId,
                            const std::string &newId) {
    return Statement(m_db, "INSERT INTO renamed(phone, kind, old_id, new_id) VALUES(?,?,?,?)",
                     {phone, kind, oldId, newId})
               .Each() ||
           Failed();
}

bool SyncState::Renamed(const std::string &phone, const std::string &kind,
                        std::vector<std::pair<std::string, std::string>> *renamed) {
    return Statement(m_db, "SELECT old_id, new_id FROM renamed WHERE phone=? AND kind=? ORDER BY row", {phone, kind})
               .Each([&](Statement &row) { renamed->emplace_back(row.Text(0), row.Text(1)); }) ||
           Failed();
}

std::string DefaultSyncStatePath() { return UserDataDirectory() + "/sync.sqlite"; }

}  // namespace host
