#include "cache/signature_store.h"

#include <chrono>
#include <cstdio> // before jpeglib.h, which needs FILE
#include <cstring>
#include <filesystem>
#include <functional>
#include <string_view>
#include <thread>

#include <QtGlobal>
#include <jpeglib.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cache/record_checksum.h"
#include "cache/signature_codec.h"
#include "cache/sqlite_statement.h"
#include "common/log_categories.h"

namespace {

// "ZELV": marks a database as ours, so that --cache pointed at some other
// program's database never changes it.
constexpr int32_t kApplicationId = 0x5A454C56;

// Long enough for another search's batch to commit, short enough that a
// process holding the lock does not hold up a search.
constexpr int kBusyTimeoutMs = 1000;

// Records per transaction: a killed search loses at most one batch.
constexpr std::size_t kBatchRecords = 64;
// Lookups that share one read transaction: short enough that a writer's
// checkpoint or another process's vacuum is never kept waiting for long.
constexpr int32_t kReadsPerTransaction = 64;

// One record per path: the version of the file it was made from (any change
// of content moves one of those fields), the versions it was made under, the
// picture's size as the decoder read it from the header, and either the load
// failure or the two engines' signatures (NULL: too small for that engine).
constexpr const char* kCreateSchema =
    "CREATE TABLE IF NOT EXISTS pictures ("
    " path BLOB NOT NULL UNIQUE,"
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " decoder INTEGER NOT NULL, identical_version INTEGER NOT NULL, similar_version INTEGER NOT NULL,"
    " width INTEGER NOT NULL, height INTEGER NOT NULL,"
    " failure INTEGER NOT NULL, error TEXT NOT NULL,"
    " identical BLOB, similar BLOB, checksum INTEGER NOT NULL)";

// The size ReadPictureSize gave for one version of a file, under the
// version of that reader: a picture-size search reads no header it has.
constexpr const char* kCreateSizeSchema =
    "CREATE TABLE IF NOT EXISTS header_sizes ("
    " path BLOB NOT NULL UNIQUE,"
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL,"
    " reader INTEGER NOT NULL, width INTEGER NOT NULL, height INTEGER NOT NULL, checksum INTEGER NOT NULL)";

constexpr const char* kFindSizeSql =
    "SELECT device, inode, size, mtime_ns, ctime_ns, reader, width, height, checksum FROM header_sizes"
    " WHERE path = ?1";

constexpr const char* kWriteSizeSql =
    "INSERT OR REPLACE INTO header_sizes (path, device, inode, size, mtime_ns, ctime_ns, reader, width, height,"
    " checksum) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";

// The checksum of a kept size, made with the records' own and bound to its
// path and file version in the same way.
int64_t sizeChecksum(const std::string& path, const FileVersion& version, int32_t reader, const PictureSize& size)
{
    return keyedChecksum(path, version,
                         recordChecksum(reader, 0, 0, size.width, size.height, LoadFailure::None, {}, {}, {}));
}

constexpr const char* kFindSql =
    "SELECT device, inode, size, mtime_ns, ctime_ns, decoder, identical_version, similar_version,"
    " width, height, failure, error, identical, similar, checksum FROM pictures WHERE path = ?1";

constexpr const char* kWriteSql =
    "INSERT OR REPLACE INTO pictures (path, device, inode, size, mtime_ns, ctime_ns, decoder,"
    " identical_version, similar_version, width, height, failure, error, identical, similar,"
    " checksum) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)";

// Failures only a change of the file mends. A refused read or a system
// error may pass, and a picture too large may have been refused for want of
// memory at that moment.
bool isLastingFailure(LoadFailure failure)
{
    return failure == LoadFailure::Damaged || failure == LoadFailure::Empty;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

} // namespace

int64_t decoderVersion()
{
    return ((static_cast<int64_t>(kPictureReaderVersion) * 10'000'000 + LIBJPEG_TURBO_VERSION_NUMBER) * 100
            + JPEG_LIB_VERSION)
               * 10'000'000
           + QT_VERSION;
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
    int code = sqlite3_open_v2(m_file.c_str(), &m_db, flags, nullptr);
    if (code != SQLITE_OK)
        return fail(code, "cannot open it");
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
    // SQLite quietly opens a write-protected file for reading only; a cache
    // that cannot keep what a search finds is set aside like any other fault.
    if (sqlite3_db_readonly(m_db, "main") == 1)
        return fail(SQLITE_READONLY, "it is read-only");

    // Reading the header finds a file that is no database at all.
    int32_t applicationId = 0;
    int32_t layout = 0;
    int64_t tables = 0;
    {
        SqliteStatement check(m_db,
                        "SELECT (SELECT application_id FROM pragma_application_id),"
                        " (SELECT user_version FROM pragma_user_version), (SELECT count(*) FROM sqlite_master)",
                        code);
        if (code != SQLITE_OK)
            return fail(code, "cannot read it");
        code = sqlite3_step(check.get());
        if (code != SQLITE_ROW)
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
    // Signature records of about 1.4 KB fill large pages best; the size can
    // only be chosen before the first table and before WAL.
    if (tables == 0 && !executeWaiting("PRAGMA page_size=16384"))
        return false;
    // WAL lets a search read while another writes; a file system without
    // shared memory keeps the rollback journal, which is slower but as safe.
    if (!executeWaiting("PRAGMA journal_mode=WAL") || !execute("PRAGMA synchronous=NORMAL"))
        return false;
    if (tables == 0 || layout < kStoreLayoutVersion) {
        // A new file, or an older layout: a cache can simply start again.
        // Another process may be doing the same; the transaction and IF NOT
        // EXISTS make that harmless.
        if (!executeWaiting("BEGIN IMMEDIATE"))
            return false;
        int32_t current = 0;
        {
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
        const std::string setVersions = "PRAGMA application_id=" + std::to_string(kApplicationId)
                                        + "; PRAGMA user_version=" + std::to_string(kStoreLayoutVersion);
        if (current != kStoreLayoutVersion
            && (!execute("DROP TABLE IF EXISTS pictures") || !execute("DROP TABLE IF EXISTS header_sizes")))
            return false;
        if (!execute(kCreateSchema) || !execute(kCreateSizeSchema) || !execute(setVersions.c_str())
            || !execute("COMMIT"))
            return false;
    }
    if (!prepare(m_find, kFindSql) || !prepare(m_write, kWriteSql) || !prepare(m_findSize, kFindSizeSql)
        || !prepare(m_writeSize, kWriteSizeSql))
        return false;
    m_open.store(true, std::memory_order_release);
    return true;
}

bool SignatureStore::prepare(sqlite3_stmt*& statement, const char* sql)
{
    const int code = sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
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

namespace {

// An encoded signature, or no bytes when the record has none.
std::string_view blobView(const std::optional<std::string>& blob)
{
    return blob ? std::string_view(*blob) : std::string_view();
}

// A record as its row holds it, copied out of SQLite's buffers.
struct StoredRow {
    int32_t identicalVersion = 0;
    int32_t similarVersion = 0;
    int32_t width = 0;
    int32_t height = 0;
    int failure = 0;
    std::string error;
    std::optional<std::string> identical; // empty when the column is NULL
    std::optional<std::string> similar;
    int64_t checksum = 0;
};

// Steps the find statement for `path`: SQLITE_ROW or SQLITE_DONE, or the
// error. `row` is set when the record is for exactly this version and the
// current decoder.
// Whether the file version in a row's first five columns (device, inode,
// size, modification and change time) is `version`.
bool isVersion(sqlite3_stmt* q, const FileVersion& version)
{
    return static_cast<uint64_t>(sqlite3_column_int64(q, 0)) == version.device
           && static_cast<uint64_t>(sqlite3_column_int64(q, 1)) == version.inode
           && sqlite3_column_int64(q, 2) == version.size && sqlite3_column_int64(q, 3) == version.mtimeNs
           && sqlite3_column_int64(q, 4) == version.ctimeNs;
}

// Binds a write's first six parameters: the path and the file version.
void bindPathAndVersion(sqlite3_stmt* w, const std::string& path, const FileVersion& version)
{
    sqlite3_bind_blob(w, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_int64(w, 2, static_cast<int64_t>(version.device));
    sqlite3_bind_int64(w, 3, static_cast<int64_t>(version.inode));
    sqlite3_bind_int64(w, 4, version.size);
    sqlite3_bind_int64(w, 5, version.mtimeNs);
    sqlite3_bind_int64(w, 6, version.ctimeNs);
}

int readRow(sqlite3_stmt* q, const std::string& path, const FileVersion& version, std::optional<StoredRow>& row)
{
    sqlite3_bind_blob(q, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    const int code = sqlite3_step(q);
    if (code == SQLITE_ROW) {
        if (isVersion(q, version) && sqlite3_column_int64(q, 5) == decoderVersion()) {
            StoredRow r;
            r.identicalVersion = sqlite3_column_int(q, 6);
            r.similarVersion = sqlite3_column_int(q, 7);
            r.width = sqlite3_column_int(q, 8);
            r.height = sqlite3_column_int(q, 9);
            r.failure = sqlite3_column_int(q, 10);
            r.error = std::string(sqliteColumnBytes(q, 11));
            if (!sqliteColumnIsNull(q, 12))
                r.identical = std::string(sqliteColumnBytes(q, 12));
            if (!sqliteColumnIsNull(q, 13))
                r.similar = std::string(sqliteColumnBytes(q, 13));
            r.checksum = sqlite3_column_int64(q, 14);
            row = std::move(r);
        }
    }
    sqlite3_reset(q);
    sqlite3_clear_bindings(q);
    return code;
}

// A read through a connection whose open read transaction has served
// `reads` lookups (none open when 0).
int readBatched(sqlite3* db, int32_t& reads, const std::function<int()>& read)
{
    // A read transaction of its own would cost each lookup two stats of the
    // file and a round of locks, as much as the lookup itself.
    if (reads == 0 && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return read();
    const int code = read();
    if (++reads >= kReadsPerTransaction || (code != SQLITE_ROW && code != SQLITE_DONE)) {
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        reads = 0;
    }
    return code;
}

} // namespace

bool SignatureStore::openReader(Reader& reader)
{
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(m_file.c_str(), &reader.db, flags, nullptr) == SQLITE_OK) {
        sqlite3_extended_result_codes(reader.db, 1);
        sqlite3_busy_timeout(reader.db, kBusyTimeoutMs);
        if (sqlite3_prepare_v3(reader.db, kFindSql, -1, SQLITE_PREPARE_PERSISTENT, &reader.find, nullptr) == SQLITE_OK
            && sqlite3_prepare_v3(reader.db, kFindSizeSql, -1, SQLITE_PREPARE_PERSISTENT, &reader.findSize, nullptr)
                   == SQLITE_OK)
            return true;
    }
    closeReader(reader);
    return false;
}

void SignatureStore::closeReader(Reader& reader)
{
    if (reader.reads > 0)
        sqlite3_exec(reader.db, "COMMIT", nullptr, nullptr, nullptr);
    reader.reads = 0;
    sqlite3_finalize(reader.find);
    sqlite3_finalize(reader.findSize);
    reader.find = nullptr;
    reader.findSize = nullptr;
    sqlite3_close_v2(reader.db);
    reader.db = nullptr;
}

void SignatureStore::endReads()
{
    for (Reader& reader : m_readers) {
        std::lock_guard lock(reader.mutex);
        if (reader.reads > 0)
            sqlite3_exec(reader.db, "COMMIT", nullptr, nullptr, nullptr);
        reader.reads = 0;
    }
}

void SignatureStore::lookupFailed(int code, const char* doing)
{
    std::lock_guard lock(m_mutex);
    if (m_db)
        fail(code, doing);
}

std::optional<int> SignatureStore::lookUp(Lookup lookup, const std::function<int(sqlite3_stmt*)>& read)
{
    // Each thread that looks up at the same time reads through a connection
    // of its own.
    for (Reader& reader : m_readers) {
        std::unique_lock lock(reader.mutex, std::try_to_lock);
        if (!lock.owns_lock() || reader.unusable)
            continue;
        if (reader.db == nullptr && !openReader(reader)) {
            reader.unusable = true; // the main connection serves instead
            continue;
        }
        return readBatched(reader.db, reader.reads,
                           [&] { return read(lookup == Lookup::HeaderSize ? reader.findSize : reader.find); });
    }
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return std::nullopt;
    return read(lookup == Lookup::HeaderSize ? m_findSize : m_find);
}

std::optional<PictureSize> SignatureStore::findHeaderSize(const std::string& path, const FileVersion& version)
{
    if (!m_open.load(std::memory_order_acquire))
        return std::nullopt;
    std::optional<PictureSize> found;
    std::optional<int64_t> checksum;
    const std::optional<int> code = lookUp(Lookup::HeaderSize, [&](sqlite3_stmt* q) {
        sqlite3_bind_blob(q, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        const int step = sqlite3_step(q);
        if (step == SQLITE_ROW && isVersion(q, version) && sqlite3_column_int(q, 5) == kHeaderReaderVersion) {
            found = PictureSize {sqlite3_column_int(q, 6), sqlite3_column_int(q, 7)};
            checksum = sqlite3_column_int64(q, 8);
        }
        sqlite3_reset(q);
        sqlite3_clear_bindings(q);
        return step;
    });
    if (!code)
        return std::nullopt;
    if (*code != SQLITE_ROW && *code != SQLITE_DONE) {
        lookupFailed(*code, "cannot read it");
        return std::nullopt;
    }
    // Header sizes are unsigned 16-bit numbers: anything else was not
    // written by this store, whatever its checksum says.
    const auto inRange = [](int32_t side) { return side >= 0 && side <= 0xFFFF; };
    if (found
        && (*checksum != sizeChecksum(path, version, kHeaderReaderVersion, *found) || !inRange(found->width) || !inRange(found->height))) {
        lookupFailed(SQLITE_CORRUPT, "a record fails its check");
        return std::nullopt;
    }
    return found;
}

void SignatureStore::addHeaderSize(const std::string& path, const FileVersion& version, const PictureSize& size)
{
    if (changedTooRecently(version))
        return;
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return;
    m_pendingSizes.push_back(PendingSize {path, version, size});
    if (m_pending.size() + m_pendingSizes.size() >= kBatchRecords)
        flushLocked();
}

std::optional<PictureOutcome> SignatureStore::find(const std::string& path, const FileVersion& version,
                                                   Reductions decode)
{
    if (!m_open.load(std::memory_order_acquire))
        return std::nullopt;
    // The check and the decoding, which cost far more than the read, run
    // outside every lock.
    std::optional<StoredRow> row;
    const std::optional<int> code =
        lookUp(Lookup::Record, [&](sqlite3_stmt* q) { return readRow(q, path, version, row); });
    if (!code)
        return std::nullopt;
    if (*code != SQLITE_ROW && *code != SQLITE_DONE) {
        lookupFailed(*code, "cannot read it");
        return std::nullopt;
    }
    if (!row)
        return std::nullopt;

    const std::string_view identical = blobView(row->identical);
    const std::string_view similar = blobView(row->similar);
    bool damaged = row->checksum
            != keyedChecksum(path, version,
                             recordChecksum(decoderVersion(), row->identicalVersion, row->similarVersion, row->width,
                                            row->height, static_cast<LoadFailure>(row->failure), row->error,
                                            identical, similar))
        || row->failure < static_cast<int>(LoadFailure::None) || row->failure > static_cast<int>(LoadFailure::SystemError);
    std::optional<PictureOutcome> found;
    if (!damaged) {
        PictureOutcome outcome;
        outcome.failure = static_cast<LoadFailure>(row->failure);
        outcome.status =
            outcome.failure == LoadFailure::None ? PictureOutcome::Status::Loaded : PictureOutcome::Status::Failed;
        outcome.error = std::move(row->error);
        outcome.width = row->width;
        outcome.height = row->height;
        // A part of another engine version is left out: the pipeline then
        // decodes the file again. A part the search does not read is only
        // marked kept (the check above covers it all the same).
        if (row->identicalVersion == kIdenticalSignatureVersion && row->identical) {
            if (decode.identical) {
                const std::optional<IdenticalSignature> signature = decodeIdenticalSignature(identical);
                damaged = !signature;
                if (signature) {
                    outcome.identical = *signature;
                    outcome.hasIdentical = true;
                }
            } else {
                outcome.kept.identical = true;
            }
        }
        if (row->similarVersion == kSimilarSignatureVersion && row->similar) {
            if (decode.similar) {
                const std::optional<SimilarSignature> signature = decodeSimilarSignature(similar);
                damaged = damaged || !signature;
                if (signature) {
                    outcome.similar = *signature;
                    outcome.hasSimilar = true;
                }
            } else {
                outcome.kept.similar = true;
            }
        }
        if (!damaged)
            found = std::move(outcome);
    }
    if (damaged) {
        lookupFailed(SQLITE_CORRUPT, "a record fails its check");
        return std::nullopt;
    }
    return found;
}

void SignatureStore::add(const std::string& path, const FileVersion& version, const PictureOutcome& outcome)
{
    const bool failed = outcome.status == PictureOutcome::Status::Failed;
    if (changedTooRecently(version) || outcome.status == PictureOutcome::Status::Interrupted
        || (failed && !isLastingFailure(outcome.failure)))
        return;
    Pending pending;
    pending.path = path;
    pending.version = version;
    if (failed) {
        pending.failure = outcome.failure == LoadFailure::None ? LoadFailure::Damaged : outcome.failure;
        pending.error = outcome.error;
    } else {
        pending.width = outcome.width;
        pending.height = outcome.height;
        // An engine's part is known when its signature is there or the
        // picture is too small for it; a reduction that did not run is not.
        if (outcome.hasIdentical)
            pending.identical = encodeIdenticalSignature(outcome.identical);
        if (outcome.hasIdentical || !canComputeSignature(outcome.width, outcome.height))
            pending.identicalVersion = kIdenticalSignatureVersion;
        if (outcome.hasSimilar) {
            pending.similar = encodeSimilarSignature(outcome.similar);
            if (pending.similar)
                pending.similarVersion = kSimilarSignatureVersion; // else: decoded again next time
        } else if (outcome.width < kMinSimilarPictureSide || outcome.height < kMinSimilarPictureSide) {
            pending.similarVersion = kSimilarSignatureVersion;
        }
    }
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return;
    m_pending.push_back(std::move(pending));
    if (m_pending.size() + m_pendingSizes.size() >= kBatchRecords)
        flushLocked();
}

void SignatureStore::flush()
{
    std::lock_guard lock(m_mutex);
    flushLocked();
}

bool SignatureStore::flushLocked()
{
    if (!m_db || (m_pending.empty() && m_pendingSizes.empty())) {
        m_pending.clear();
        m_pendingSizes.clear();
        return m_db != nullptr;
    }
    std::vector<Pending> batch;
    batch.swap(m_pending);
    std::vector<PendingSize> sizes;
    sizes.swap(m_pendingSizes);
    if (!execute("BEGIN IMMEDIATE"))
        return false;
    const auto rollBack = [this] {
        if (m_db)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    for (const Pending& pending : batch) {
        if (!writePending(pending))
            return rollBack();
    }
    for (const PendingSize& pending : sizes) {
        if (!writePendingSize(pending))
            return rollBack();
    }
    if (!execute("COMMIT"))
        return false;
    // Lookups from here on see what was written.
    endReads();
    return true;
}

bool SignatureStore::writePending(const Pending& pending)
{
    const int64_t decoder = decoderVersion();
    const std::string_view identical = blobView(pending.identical);
    const std::string_view similar = blobView(pending.similar);
    sqlite3_stmt* const w = m_write;
    auto bindBytes = [w](int index, std::string_view bytes, bool present) {
        if (present)
            sqlite3_bind_blob(w, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_STATIC);
        else
            sqlite3_bind_null(w, index);
    };
    bindPathAndVersion(w, pending.path, pending.version);
    sqlite3_bind_int64(w, 7, decoder);
    sqlite3_bind_int(w, 8, pending.identicalVersion);
    sqlite3_bind_int(w, 9, pending.similarVersion);
    sqlite3_bind_int(w, 10, pending.width);
    sqlite3_bind_int(w, 11, pending.height);
    sqlite3_bind_int(w, 12, static_cast<int>(pending.failure));
    sqlite3_bind_text(w, 13, pending.error.data(), static_cast<int>(pending.error.size()), SQLITE_STATIC);
    bindBytes(14, identical, pending.identical.has_value());
    bindBytes(15, similar, pending.similar.has_value());
    sqlite3_bind_int64(w, 16,
                       keyedChecksum(pending.path, pending.version,
                                     recordChecksum(decoder, pending.identicalVersion, pending.similarVersion,
                                                    pending.width, pending.height, pending.failure, pending.error,
                                                    identical, similar)));
    const int code = sqlite3_step(w);
    sqlite3_reset(w);
    sqlite3_clear_bindings(w);
    return code == SQLITE_DONE || fail(code, "cannot write it");
}

bool SignatureStore::writePendingSize(const PendingSize& pending)
{
    sqlite3_stmt* const w = m_writeSize;
    bindPathAndVersion(w, pending.path, pending.version);
    sqlite3_bind_int(w, 7, kHeaderReaderVersion);
    sqlite3_bind_int(w, 8, pending.size.width);
    sqlite3_bind_int(w, 9, pending.size.height);
    sqlite3_bind_int64(w, 10, sizeChecksum(pending.path, pending.version, kHeaderReaderVersion, pending.size));
    const int code = sqlite3_step(w);
    sqlite3_reset(w);
    sqlite3_clear_bindings(w);
    return code == SQLITE_DONE || fail(code, "cannot write it");
}

std::optional<CacheStats> SignatureStore::stats()
{
    std::lock_guard lock(m_mutex);
    if (!flushLocked())
        return std::nullopt;
    int code = SQLITE_OK;
    const std::string sql =
        "SELECT count(*), total(failure <> 0), total(identical IS NOT NULL), total(similar IS NOT NULL),"
        " total(decoder <> " + std::to_string(decoderVersion()) + " OR identical_version NOT IN (0, "
        + std::to_string(kIdenticalSignatureVersion) + ") OR similar_version NOT IN (0, "
        + std::to_string(kSimilarSignatureVersion) + ")), (SELECT count(*) FROM header_sizes),"
        " (SELECT count(*) FROM (SELECT path FROM pictures UNION SELECT path FROM header_sizes)) FROM pictures";
    SqliteStatement count(m_db, sql.c_str(), code);
    if (code != SQLITE_OK || (code = sqlite3_step(count.get())) != SQLITE_ROW) {
        fail(code, "cannot read it");
        return std::nullopt;
    }
    CacheStats stats;
    stats.records = sqlite3_column_int64(count.get(), 0);
    stats.failures = sqlite3_column_int64(count.get(), 1);
    stats.identicalSignatures = sqlite3_column_int64(count.get(), 2);
    stats.similarSignatures = sqlite3_column_int64(count.get(), 3);
    stats.otherVersion = sqlite3_column_int64(count.get(), 4);
    stats.headerSizes = sqlite3_column_int64(count.get(), 5);
    stats.pictures = sqlite3_column_int64(count.get(), 6);
    for (const std::string& part : {m_file, m_file + "-wal"}) {
        struct stat st {};
        if (::stat(part.c_str(), &st) == 0)
            stats.fileBytes += static_cast<int64_t>(st.st_size);
    }
    return stats;
}

std::optional<PruneResult> SignatureStore::prune()
{
    std::lock_guard lock(m_mutex);
    if (!flushLocked())
        return std::nullopt;
    endReads();
    struct Kept {
        std::string path;
        FileVersion version;
    };
    PruneResult result;
    for (const std::string table : {"pictures", "header_sizes"}) {
        std::vector<Kept> records;
        int code = SQLITE_OK;
        {
            const std::string sql = "SELECT path, device, inode, size, mtime_ns, ctime_ns FROM " + table;
            SqliteStatement all(m_db, sql.c_str(), code);
            while (code == SQLITE_OK && (code = sqlite3_step(all.get())) == SQLITE_ROW) {
                Kept kept;
                kept.path = std::string(sqliteColumnBytes(all.get(), 0));
                kept.version.device = static_cast<uint64_t>(sqlite3_column_int64(all.get(), 1));
                kept.version.inode = static_cast<uint64_t>(sqlite3_column_int64(all.get(), 2));
                kept.version.size = sqlite3_column_int64(all.get(), 3);
                kept.version.mtimeNs = sqlite3_column_int64(all.get(), 4);
                kept.version.ctimeNs = sqlite3_column_int64(all.get(), 5);
                records.push_back(std::move(kept));
                code = SQLITE_OK;
            }
            if (code != SQLITE_DONE) {
                fail(code, "cannot read it");
                return std::nullopt;
            }
        }
        const std::string sql = "DELETE FROM " + table + " WHERE path = ?1";
        SqliteStatement drop(m_db, sql.c_str(), code);
        if (code != SQLITE_OK || !execute("BEGIN IMMEDIATE")) {
            if (code != SQLITE_OK)
                fail(code, "cannot write it");
            return std::nullopt;
        }
        for (const Kept& kept : records) {
            const std::optional<FileVersion> now = readFileVersion(kept.path);
            if (now && now->sameFile(kept.version)) {
                ++result.kept;
                continue;
            }
            sqlite3_bind_blob(drop.get(), 1, kept.path.data(), static_cast<int>(kept.path.size()), SQLITE_STATIC);
            code = sqlite3_step(drop.get());
            sqlite3_reset(drop.get());
            if (code != SQLITE_DONE) {
                sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
                fail(code, "cannot write it");
                return std::nullopt;
            }
            ++result.dropped;
        }
        if (!execute("COMMIT"))
            return std::nullopt;
    }
    giveSpaceBack();
    return result;
}

bool SignatureStore::clear()
{
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    m_pendingSizes.clear();
    endReads();
    if (!m_db || !execute("DELETE FROM pictures") || !execute("DELETE FROM header_sizes"))
        return false;
    giveSpaceBack();
    return true;
}

void SignatureStore::giveSpaceBack()
{
    // Needs the file to itself: while another search reads it, the space is
    // simply reused by later records instead.
    if (const int code = sqlite3_exec(m_db, "VACUUM", nullptr, nullptr, nullptr); code != SQLITE_OK)
        qCDebug(zelvicCache, "%s not compacted: %s", m_file.c_str(), sqlite3_errstr(code));
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
    for (sqlite3_stmt** statement : {&m_find, &m_write, &m_findSize, &m_writeSize}) {
        sqlite3_finalize(*statement);
        *statement = nullptr;
    }
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
