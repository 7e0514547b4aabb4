#include "cleanup/batch_journal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sqlite3.h>
#include <sys/stat.h>

#include "cache/sqlite_statement.h"
#include "common/folder_path.h"

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS batches(id INTEGER PRIMARY KEY, started INTEGER NOT NULL, action TEXT NOT NULL,"
    " destination BLOB NOT NULL, state TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS entries(id INTEGER PRIMARY KEY, batch INTEGER NOT NULL, original BLOB NOT NULL,"
    " destination BLOB NOT NULL, info BLOB NOT NULL, copied INTEGER NOT NULL, device INTEGER NOT NULL,"
    " inode INTEGER NOT NULL, size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " state TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS entries_of_batch ON entries(batch, id);";

std::string errorOf(sqlite3* db)
{
    return std::string("the batch journal: ") + (db ? sqlite3_errmsg(db) : "out of memory");
}

int makeFolders(const std::string& path)
{
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '/')
            continue;
        if (::mkdir(path.substr(0, i).c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    return 0;
}

void bindBytes(sqlite3_stmt* statement, int column, const std::string& bytes)
{
    sqlite3_bind_blob(statement, column, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

std::string columnText(sqlite3_stmt* statement, int column)
{
    return std::string(sqliteColumnBytes(statement, column));
}

} // namespace

BatchJournal::~BatchJournal()
{
    sqlite3_close(m_db);
}

std::string BatchJournal::defaultPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/zelvic/batches.sqlite";
    const char* home = std::getenv("HOME");
    return std::string(home != nullptr ? home : "") + "/.local/state/zelvic/batches.sqlite";
}

std::unique_ptr<BatchJournal> BatchJournal::open(const std::string& path, std::string& problem)
{
    if (const int error = makeFolders(parentFolder(path))) {
        problem = "cannot make the folder of the batch journal " + parentFolder(path) + ": " + std::strerror(error);
        return nullptr;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        problem = errorOf(db) + " (" + path + ")";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 5000);
    std::unique_ptr<BatchJournal> journal(new BatchJournal(db));
    // WAL with NORMAL sync: each commit is in the file before the move it
    // announces, which a killed process cannot lose; the trash's own records
    // are synced for a power cut.
    if (!journal->run("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", problem) ||
        !journal->run(kSchema, problem))
        return nullptr;
    return journal;
}

bool BatchJournal::run(const char* sql, std::string& problem)
{
    char* message = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    problem = std::string("the batch journal: ") + (message ? message : "error");
    sqlite3_free(message);
    return false;
}

std::optional<int64_t> BatchJournal::beginBatch(const std::string& action, const std::string& destination,
                                                std::string& problem)
{
    int code = 0;
    SqliteStatement insert(m_db, "INSERT INTO batches(started, action, destination, state) VALUES(?, ?, ?, 'running')",
                           code);
    if (code != SQLITE_OK) {
        problem = errorOf(m_db);
        return std::nullopt;
    }
    sqlite3_bind_int64(insert.get(), 1, static_cast<int64_t>(std::time(nullptr)));
    sqlite3_bind_text(insert.get(), 2, action.c_str(), -1, SQLITE_TRANSIENT);
    bindBytes(insert.get(), 3, destination);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        problem = errorOf(m_db);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(m_db);
}

std::optional<int64_t> BatchJournal::writeAhead(int64_t batch, const std::string& original,
                                                const FileIdentity& identity, const std::string& destination,
                                                std::string& problem)
{
    int code = 0;
    SqliteStatement insert(m_db,
                           "INSERT INTO entries(batch, original, destination, info, copied, device, inode, size,"
                           " mtime_ns, ctime_ns, state) VALUES(?, ?, ?, x'', 0, ?, ?, ?, ?, ?, 'pending')",
                           code);
    if (code != SQLITE_OK) {
        problem = errorOf(m_db);
        return std::nullopt;
    }
    sqlite3_bind_int64(insert.get(), 1, batch);
    bindBytes(insert.get(), 2, original);
    bindBytes(insert.get(), 3, destination);
    sqlite3_bind_int64(insert.get(), 4, static_cast<int64_t>(identity.device));
    sqlite3_bind_int64(insert.get(), 5, static_cast<int64_t>(identity.inode));
    sqlite3_bind_int64(insert.get(), 6, identity.size);
    sqlite3_bind_int64(insert.get(), 7, identity.mtimeNs);
    sqlite3_bind_int64(insert.get(), 8, identity.ctimeNs);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
        problem = errorOf(m_db);
        return std::nullopt;
    }
    return sqlite3_last_insert_rowid(m_db);
}

bool BatchJournal::recordDone(int64_t entry, const std::string& destination, const std::string& infoPath,
                              bool copied, std::string& problem)
{
    int code = 0;
    SqliteStatement update(m_db, "UPDATE entries SET destination = ?, info = ?, copied = ?, state = 'done' WHERE id = ?",
                           code);
    if (code != SQLITE_OK) {
        problem = errorOf(m_db);
        return false;
    }
    bindBytes(update.get(), 1, destination);
    bindBytes(update.get(), 2, infoPath);
    sqlite3_bind_int(update.get(), 3, copied ? 1 : 0);
    sqlite3_bind_int64(update.get(), 4, entry);
    if (sqlite3_step(update.get()) != SQLITE_DONE) {
        problem = errorOf(m_db);
        return false;
    }
    return true;
}

bool BatchJournal::setEntryState(int64_t entry, const std::string& state, std::string& problem)
{
    int code = 0;
    SqliteStatement update(m_db, "UPDATE entries SET state = ? WHERE id = ?", code);
    if (code != SQLITE_OK) {
        problem = errorOf(m_db);
        return false;
    }
    sqlite3_bind_text(update.get(), 1, state.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(update.get(), 2, entry);
    if (sqlite3_step(update.get()) != SQLITE_DONE) {
        problem = errorOf(m_db);
        return false;
    }
    return true;
}

bool BatchJournal::setBatchState(int64_t batch, const std::string& state, std::string& problem)
{
    int code = 0;
    SqliteStatement update(m_db, "UPDATE batches SET state = ? WHERE id = ?", code);
    if (code != SQLITE_OK) {
        problem = errorOf(m_db);
        return false;
    }
    sqlite3_bind_text(update.get(), 1, state.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(update.get(), 2, batch);
    if (sqlite3_step(update.get()) != SQLITE_DONE) {
        problem = errorOf(m_db);
        return false;
    }
    return true;
}

void BatchJournal::sync()
{
    sqlite3_wal_checkpoint_v2(m_db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

std::vector<BatchSummary> BatchJournal::batches()
{
    std::vector<BatchSummary> out;
    int code = 0;
    SqliteStatement select(m_db,
                           "SELECT b.id, b.started, b.action, b.destination, b.state,"
                           " (SELECT count(*) FROM entries e WHERE e.batch = b.id AND e.state <> 'failed'),"
                           " (SELECT coalesce(sum(size), 0) FROM entries e WHERE e.batch = b.id AND e.state <> 'failed')"
                           " FROM batches b ORDER BY b.id",
                           code);
    if (code != SQLITE_OK)
        return out;
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
        BatchSummary batch;
        batch.id = sqlite3_column_int64(select.get(), 0);
        batch.started = sqlite3_column_int64(select.get(), 1);
        batch.action = columnText(select.get(), 2);
        batch.destination = columnText(select.get(), 3);
        batch.state = columnText(select.get(), 4);
        batch.files = sqlite3_column_int64(select.get(), 5);
        batch.bytes = sqlite3_column_int64(select.get(), 6);
        out.push_back(std::move(batch));
    }
    return out;
}

std::vector<JournalEntry> BatchJournal::entries(int64_t batch)
{
    std::vector<JournalEntry> out;
    int code = 0;
    SqliteStatement select(m_db,
                           "SELECT id, original, destination, info, copied, device, inode, size, mtime_ns, ctime_ns,"
                           " state FROM entries WHERE batch = ? ORDER BY id",
                           code);
    if (code != SQLITE_OK)
        return out;
    sqlite3_bind_int64(select.get(), 1, batch);
    while (sqlite3_step(select.get()) == SQLITE_ROW) {
        JournalEntry entry;
        entry.id = sqlite3_column_int64(select.get(), 0);
        entry.original = columnText(select.get(), 1);
        entry.destination = columnText(select.get(), 2);
        entry.infoPath = columnText(select.get(), 3);
        entry.copied = sqlite3_column_int(select.get(), 4) != 0;
        entry.identity.device = static_cast<uint64_t>(sqlite3_column_int64(select.get(), 5));
        entry.identity.inode = static_cast<uint64_t>(sqlite3_column_int64(select.get(), 6));
        entry.identity.size = sqlite3_column_int64(select.get(), 7);
        entry.identity.mtimeNs = sqlite3_column_int64(select.get(), 8);
        entry.identity.ctimeNs = sqlite3_column_int64(select.get(), 9);
        entry.state = columnText(select.get(), 10);
        out.push_back(std::move(entry));
    }
    return out;
}
