#include "marks/mark_store.h"

#include <algorithm>

#include <sqlite3.h>

#include "cache/file_version.h"
#include "cache/sqlite_statement.h"

namespace {

// As the signature store's: long enough for a search's batch to commit.
constexpr int kBusyTimeoutMs = 1000;

constexpr const char* kCreateTables =
    "CREATE TABLE IF NOT EXISTS not_same ("
    " first BLOB NOT NULL, second BLOB NOT NULL, first_name BLOB NOT NULL, second_name BLOB NOT NULL,"
    " PRIMARY KEY (first, second)) WITHOUT ROWID;"
    "CREATE TABLE IF NOT EXISTS content_hashes ("
    " path BLOB NOT NULL PRIMARY KEY, device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL, hash BLOB NOT NULL)";

struct OrderedPair {
    const ContentHash& first;
    const ContentHash& second;
};

OrderedPair ordered(const ContentHash& a, const ContentHash& b)
{
    return b < a ? OrderedPair {b, a} : OrderedPair {a, b};
}

void bindBytes(sqlite3_stmt* statement, int parameter, const void* data, std::size_t size)
{
    sqlite3_bind_blob64(statement, parameter, data, size, SQLITE_STATIC);
}

void bindHash(sqlite3_stmt* statement, int parameter, const ContentHash& hash)
{
    bindBytes(statement, parameter, hash.data(), hash.size());
}

} // namespace

MarkStore::MarkStore(sqlite3* db) : m_db(db) {}

MarkStore::~MarkStore()
{
    sqlite3_close_v2(m_db);
}

std::unique_ptr<MarkStore> MarkStore::open(const std::string& file, std::string& problem)
{
    sqlite3* db = nullptr;
    const int code = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        problem = std::string("cannot open it: ") + sqlite3_errstr(code);
        sqlite3_close_v2(db);
        return nullptr;
    }
    std::unique_ptr<MarkStore> store(new MarkStore(db));
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // The signature store has put the file in WAL mode: each kept hash then
    // commits without waiting for the disk.
    sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
    // A table of the right name but another shape is found by the first
    // statement that reads it.
    if (!store->execute(kCreateTables) || !store->markCount()) {
        problem = store->m_problem;
        return nullptr;
    }
    return store;
}

bool MarkStore::fail(int code, const char* doing)
{
    m_problem = std::string(doing) + ": " + (m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(code));
    return false;
}

bool MarkStore::execute(const char* sql)
{
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || fail(code, "cannot set up its tables");
}

std::optional<int64_t> MarkStore::markCount()
{
    int code = SQLITE_OK;
    SqliteStatement count(m_db, "SELECT count(*) FROM not_same", code);
    if (code != SQLITE_OK || (code = sqlite3_step(count.get())) != SQLITE_ROW) {
        fail(code, "cannot read the marks");
        return std::nullopt;
    }
    return sqlite3_column_int64(count.get(), 0);
}

std::optional<bool> MarkStore::isMarked(const ContentHash& a, const ContentHash& b)
{
    const OrderedPair pair = ordered(a, b);
    int code = SQLITE_OK;
    SqliteStatement find(m_db, "SELECT 1 FROM not_same WHERE first = ?1 AND second = ?2", code);
    if (code != SQLITE_OK) {
        fail(code, "cannot read the marks");
        return std::nullopt;
    }
    bindHash(find.get(), 1, pair.first);
    bindHash(find.get(), 2, pair.second);
    code = sqlite3_step(find.get());
    if (code != SQLITE_ROW && code != SQLITE_DONE) {
        fail(code, "cannot read the marks");
        return std::nullopt;
    }
    return code == SQLITE_ROW;
}

std::optional<bool> MarkStore::add(const ContentHash& a, const ContentHash& b, const std::string& nameA,
                                   const std::string& nameB)
{
    const bool swapped = b < a;
    const OrderedPair pair = ordered(a, b);
    const std::string& firstName = swapped ? nameB : nameA;
    const std::string& secondName = swapped ? nameA : nameB;
    int code = SQLITE_OK;
    SqliteStatement insert(m_db, "INSERT OR IGNORE INTO not_same VALUES (?1, ?2, ?3, ?4)", code);
    if (code != SQLITE_OK) {
        fail(code, "cannot keep the mark");
        return std::nullopt;
    }
    bindHash(insert.get(), 1, pair.first);
    bindHash(insert.get(), 2, pair.second);
    bindBytes(insert.get(), 3, firstName.data(), firstName.size());
    bindBytes(insert.get(), 4, secondName.data(), secondName.size());
    if ((code = sqlite3_step(insert.get())) != SQLITE_DONE) {
        fail(code, "cannot keep the mark");
        return std::nullopt;
    }
    return sqlite3_changes(m_db) > 0;
}

std::optional<bool> MarkStore::remove(const ContentHash& a, const ContentHash& b)
{
    const OrderedPair pair = ordered(a, b);
    int code = SQLITE_OK;
    SqliteStatement erase(m_db, "DELETE FROM not_same WHERE first = ?1 AND second = ?2", code);
    if (code != SQLITE_OK) {
        fail(code, "cannot remove the mark");
        return std::nullopt;
    }
    bindHash(erase.get(), 1, pair.first);
    bindHash(erase.get(), 2, pair.second);
    if ((code = sqlite3_step(erase.get())) != SQLITE_DONE) {
        fail(code, "cannot remove the mark");
        return std::nullopt;
    }
    return sqlite3_changes(m_db) > 0;
}

std::optional<std::vector<NotSameMark>> MarkStore::list()
{
    int code = SQLITE_OK;
    SqliteStatement rows(m_db, "SELECT first, second, first_name, second_name FROM not_same ORDER BY first, second",
                         code);
    if (code != SQLITE_OK) {
        fail(code, "cannot read the marks");
        return std::nullopt;
    }
    std::vector<NotSameMark> marks;
    while ((code = sqlite3_step(rows.get())) == SQLITE_ROW) {
        const std::optional<ContentHash> first = contentHashFromBytes(sqliteColumnBytes(rows.get(), 0));
        const std::optional<ContentHash> second = contentHashFromBytes(sqliteColumnBytes(rows.get(), 1));
        if (!first || !second) {
            m_problem = "cannot read the marks: a mark is damaged";
            return std::nullopt;
        }
        marks.push_back(NotSameMark {*first, *second, std::string(sqliteColumnBytes(rows.get(), 2)),
                                     std::string(sqliteColumnBytes(rows.get(), 3))});
    }
    if (code != SQLITE_DONE) {
        fail(code, "cannot read the marks");
        return std::nullopt;
    }
    return marks;
}

std::optional<int64_t> MarkStore::clear()
{
    if (!execute("DELETE FROM not_same"))
        return std::nullopt;
    return sqlite3_changes64(m_db);
}

std::optional<ContentHash> MarkStore::contentHashOf(const std::string& path)
{
    const std::optional<FileVersion> version = readFileVersion(path);
    if (!version)
        return std::nullopt;
    int code = SQLITE_OK;
    {
        SqliteStatement find(m_db,
                             "SELECT hash FROM content_hashes WHERE path = ?1 AND device = ?2 AND inode = ?3"
                             " AND size = ?4 AND mtime_ns = ?5 AND ctime_ns = ?6",
                             code);
        if (code != SQLITE_OK) {
            fail(code, "cannot read the content hashes");
            return std::nullopt;
        }
        bindBytes(find.get(), 1, path.data(), path.size());
        sqlite3_bind_int64(find.get(), 2, static_cast<sqlite3_int64>(version->device));
        sqlite3_bind_int64(find.get(), 3, static_cast<sqlite3_int64>(version->inode));
        sqlite3_bind_int64(find.get(), 4, version->size);
        sqlite3_bind_int64(find.get(), 5, version->mtimeNs);
        sqlite3_bind_int64(find.get(), 6, version->ctimeNs);
        code = sqlite3_step(find.get());
        if (code == SQLITE_ROW) {
            if (const std::optional<ContentHash> kept = contentHashFromBytes(sqliteColumnBytes(find.get(), 0)))
                return kept;
        } else if (code != SQLITE_DONE) {
            fail(code, "cannot read the content hashes");
            return std::nullopt;
        }
    }
    const std::optional<ContentHash> hash = hashFileContent(path);
    // A version that may still change within the same clock tick is not
    // remembered, as the signatures are not.
    if (!hash || changedTooRecently(*version))
        return hash;
    SqliteStatement write(m_db, "INSERT OR REPLACE INTO content_hashes VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)", code);
    if (code != SQLITE_OK) {
        fail(code, "cannot keep a content hash");
        return std::nullopt;
    }
    bindBytes(write.get(), 1, path.data(), path.size());
    sqlite3_bind_int64(write.get(), 2, static_cast<sqlite3_int64>(version->device));
    sqlite3_bind_int64(write.get(), 3, static_cast<sqlite3_int64>(version->inode));
    sqlite3_bind_int64(write.get(), 4, version->size);
    sqlite3_bind_int64(write.get(), 5, version->mtimeNs);
    sqlite3_bind_int64(write.get(), 6, version->ctimeNs);
    bindHash(write.get(), 7, *hash);
    if ((code = sqlite3_step(write.get())) != SQLITE_DONE) {
        fail(code, "cannot keep a content hash");
        return std::nullopt;
    }
    return hash;
}
