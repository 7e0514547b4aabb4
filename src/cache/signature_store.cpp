// Opening the store, bringing its layout up to date, and setting it aside
// after a fault. Lookups, batched writes and maintenance are in
// signature_store_lookups.cpp, signature_store_writes.cpp and
// signature_store_maintenance.cpp.
#include "cache/signature_store.h"

#include <chrono>
#include <cstdio> // before jpeglib.h, which needs FILE
#include <cstring>
#include <filesystem>
#include <thread>

#include <QtGlobal>
#include <jpeglib.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/record_checksum.h"
#include "common/log_categories.h"
#include "picture/format_libraries.h"

namespace {

// "ZELV": marks a database as ours, so that --cache pointed at some other
// program's database never changes it.
constexpr int32_t kApplicationId = 0x5A454C56;

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

int64_t decoderVersion()
{
    // Computed once: the libraries' versions do not change while we run.
    static const int64_t version = versionsChecksum(
        ((static_cast<int64_t>(kPictureReaderVersion) * 10'000'000 + LIBJPEG_TURBO_VERSION_NUMBER) * 100
         + JPEG_LIB_VERSION)
                * 10'000'000
            + QT_VERSION,
        formatLibraryVersions());
    return version;
}

SignatureStore::SignatureStore(std::string file, CacheWarning warning)
    : m_file(std::move(file)), m_warning(std::move(warning))
{
}

std::unique_ptr<SignatureStore> SignatureStore::open(const std::string& file, const CacheWarning& warning,
                                                     bool createFolder)
{
    std::unique_ptr<SignatureStore> store(new SignatureStore(file, warning));
    if (!store->openDatabase(createFolder))
        return nullptr;
    return store;
}

SignatureStore::~SignatureStore()
{
    // The lookup connections first: the last connection to close folds the
    // write-ahead log back into the file, and only the main one may write.
    for (Reader& reader : m_readers) {
        std::lock_guard lock(reader.mutex);
        closeReader(reader);
    }
    std::lock_guard lock(m_mutex);
    flushLocked();
    closeDatabase();
}

bool SignatureStore::usable() const
{
    std::lock_guard lock(m_mutex);
    return m_db != nullptr;
}

bool SignatureStore::openDatabase(bool createFolder)
{
    if (m_file.empty()) {
        setAside("no place for the signature cache (neither XDG_CACHE_HOME nor a home folder is set)");
        return false;
    }
    if (createFolder) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(m_file).parent_path(), error);
        if (error)
            qCWarning(zelvicCache, "cannot make the folder of %s: %s", m_file.c_str(), error.message().c_str());
    }
    struct stat st {};
    if (::stat(m_file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        setAside("the signature cache " + m_file + " is not a regular file; going on without it");
        return false;
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(m_file.c_str(), &m_db, flags, nullptr);
    if (code != SQLITE_OK)
        return fail(code, "cannot open it");
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // SQLite quietly opens a write-protected file for reading only; a cache
    // that cannot keep what a search finds is set aside like any other fault.
    if (sqlite3_db_readonly(m_db, "main") == 1)
        return fail(SQLITE_READONLY, "it is read-only");

    int32_t layout = 0;
    int64_t tables = 0;
    if (!checkHeader(layout, tables))
        return false;
    // Signature records of about 1.4 KB fill large pages best; the size can
    // only be chosen before the first table and before WAL.
    if (tables == 0 && !executeWaiting("PRAGMA page_size=16384"))
        return false;
    // WAL lets a search read while another writes; a file system without
    // shared memory keeps the rollback journal, which is slower but as safe.
    if (!executeWaiting("PRAGMA journal_mode=WAL") || !execute("PRAGMA synchronous=NORMAL"))
        return false;
    if ((tables == 0 || layout < kStoreLayoutVersion) && !migrate())
        return false;
    if (!prepareStatements())
        return false;
    m_open.store(true, std::memory_order_release);
    return true;
}

// Reading the header finds a file that is no database at all, some other
// program's database, or a newer layout; each is left as it is.
bool SignatureStore::checkHeader(int32_t& layout, int64_t& tables)
{
    int code = SQLITE_OK;
    int32_t applicationId = 0;
    {
        SqliteStatement check(m_db,
                              "SELECT (SELECT application_id FROM pragma_application_id),"
                              " (SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_master)",
                              code);
        if (code != SQLITE_OK || (code = sqlite3_step(check.get())) != SQLITE_ROW)
            return fail(code, "cannot read it");
        applicationId = sqlite3_column_int(check.get(), 0);
        layout = sqlite3_column_int(check.get(), 1);
        tables = sqlite3_column_int64(check.get(), 2);
    }
    if (tables > 0 && applicationId != kApplicationId) {
        closeDatabase();
        setAside("the file " + m_file + " is not a Zelvic signature cache; going on without it");
        return false;
    }
    if (layout > kStoreLayoutVersion) {
        closeDatabase();
        setAside("the signature cache " + m_file + " was written by a newer Zelvic; going on without it");
        return false;
    }
    return true;
}

// A new file, or an older layout: a cache can simply start again. Another
// process may be doing the same; the transaction and IF NOT EXISTS make that
// harmless.
bool SignatureStore::migrate()
{
    if (!executeWaiting("BEGIN IMMEDIATE"))
        return false;
    int32_t current = 0;
    {
        int code = SQLITE_OK;
        SqliteStatement version(m_db, "PRAGMA user_version", code);
        if (code != SQLITE_OK || (code = sqlite3_step(version.get())) != SQLITE_ROW)
            return fail(code, "cannot read it");
        current = sqlite3_column_int(version.get(), 0);
    }
    if (current > kStoreLayoutVersion) {
        // A newer Zelvic made it meanwhile: its records are not ours to drop.
        closeDatabase();
        setAside("the signature cache " + m_file + " was written by a newer Zelvic; going on without it");
        return false;
    }
    // A layout whose records are still good only lacks the newer tables.
    if (current < kOldestKeptLayout) {
        for (const StoreTable table : kStoreTables) {
            if (!execute((std::string("DROP TABLE IF EXISTS ") + tableName(table)).c_str()))
                return false;
        }
    }
    for (const StoreTable table : kStoreTables) {
        if (!execute(createTableSql(table).c_str()))
            return false;
    }
    const std::string setVersions = "PRAGMA application_id=" + std::to_string(kApplicationId)
                                    + "; PRAGMA user_version=" + std::to_string(kStoreLayoutVersion);
    return execute(setVersions.c_str()) && execute("COMMIT");
}

bool SignatureStore::prepareStatements()
{
    return prepare(m_find, findSql(StoreTable::Records)) && prepare(m_write, writeSql(StoreTable::Records))
           && prepare(m_findSize, findSql(StoreTable::Sizes)) && prepare(m_writeSize, writeSql(StoreTable::Sizes))
           && prepare(m_findTurned, findSql(StoreTable::Turned)) && prepare(m_writeTurned, writeSql(StoreTable::Turned));
}

bool SignatureStore::prepare(SqliteStatement& statement, const std::string& sql)
{
    int code = SQLITE_OK;
    statement = SqliteStatement::persistent(m_db, sql.c_str(), code);
    return code == SQLITE_OK || fail(code, "cannot read it");
}

bool SignatureStore::execute(const char* sql)
{
    const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
    return code == SQLITE_OK || fail(code, "cannot write it");
}

// Two searches opening a new cache at once both change its journal mode and
// create its table. SQLite answers such a statement SQLITE_BUSY at once,
// without its busy handler, where waiting could deadlock (the other
// connection holds the file while this one needs it alone); the other side
// finishes within moments, so the statement is tried again for as long as
// the busy handler would have waited.
bool SignatureStore::executeWaiting(const char* sql)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyTimeoutMs);
    for (;;) {
        const int code = sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
        if (code == SQLITE_OK)
            return true;
        if (code != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline)
            return fail(code, "cannot write it");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool SignatureStore::fail(int code, const std::string& doing)
{
    const int primary = code & 0xFF;
    std::string reason;
    switch (primary) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: {
        closeDatabase();
        const std::string aside = setAsideCorrupt();
        setAside("the signature cache " + m_file + " is damaged (" + doing + "); "
                 + (aside.empty() ? std::string("it could not be renamed") : "it was renamed to " + aside)
                 + "; going on without it");
        return false;
    }
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = "another process holds it locked";
        break;
    case SQLITE_FULL:
        reason = "the disk is full";
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
    case SQLITE_AUTH:
    case SQLITE_IOERR: {
        const int systemError = m_db ? sqlite3_system_errno(m_db) : 0;
        reason = doing + ": " + sqlite3_errstr(code) + (systemError ? std::string(" (") + std::strerror(systemError) + ")" : "");
        break;
    }
    default:
        reason = doing + ": " + sqlite3_errstr(code);
        break;
    }
    closeDatabase();
    setAside("cannot use the signature cache " + m_file + " (" + reason + "); going on without it");
    return false;
}

void SignatureStore::setAside(const std::string& message)
{
    if (m_warning)
        m_warning(message);
    else
        qCWarning(zelvicCache, "%s", message.c_str());
    m_warning = nullptr; // one warning, however many faults follow; the log has the rest
}

void SignatureStore::closeDatabase()
{
    // Lookups stop here, and their connections close before the file may
    // be renamed: one left open would recreate or keep the write-ahead log
    // and its index beside a file set aside.
    m_open.store(false, std::memory_order_release);
    for (Reader& reader : m_readers) {
        std::lock_guard lock(reader.mutex);
        closeReader(reader);
        reader.unusable = true;
    }
    for (SqliteStatement* statement : {&m_find, &m_write, &m_findSize, &m_writeSize, &m_findTurned, &m_writeTurned})
        statement->finalize();
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
    m_pending.clear();
    m_pendingSizes.clear();
}

std::string SignatureStore::setAsideCorrupt()
{
    // Beside itself, under a name no other damaged copy holds; its log and
    // index go with it so that a new cache never meets them.
    for (int n = 1; n <= 100; ++n) {
        std::string aside = m_file + ".corrupt";
        if (n > 1)
            aside += '-' + std::to_string(n);
        if (exists(aside))
            continue;
        if (::rename(m_file.c_str(), aside.c_str()) != 0)
            return {};
        for (const char* suffix : {"-wal", "-shm"}) {
            const std::string part = m_file + suffix;
            if (exists(part))
                ::rename(part.c_str(), (aside + suffix).c_str());
        }
        return aside;
    }
    return {};
}
