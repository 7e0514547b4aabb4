#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cache/file_version.h"
#include "cache/sqlite_statement.h"
#include "cache/store_columns.h"
#include "compare/picture_outcome.h"
#include "picture/picture_size.h"

struct sqlite3;
struct sqlite3_stmt;

// Told once, in one sentence, when the cache is set aside.
using CacheWarning = std::function<void(const std::string& message)>;

// Versions a record is computed under; a record of any other is computed
// again. Raise an engine's number whenever its signature's values change.
// Layout 3 binds each checksum to its record's path and file version; a
// cache of an older layout is emptied and filled again. Layout 4 adds the
// table of turned signatures; a layout 3 cache keeps its records.
inline constexpr int32_t kStoreLayoutVersion = 4;      // PRAGMA user_version
inline constexpr int32_t kOldestKeptLayout = 3;
inline constexpr int32_t kIdenticalSignatureVersion = 1;
inline constexpr int32_t kSimilarSignatureVersion = 1;
// Raise whenever src/picture's readers change the pixels or failures they
// deliver.
inline constexpr int32_t kPictureReaderVersion = 1;
// Raise whenever ReadPictureSize reads a header differently.
inline constexpr int32_t kHeaderReaderVersion = 1;
// The decoders that produced the pixels: our readers', libjpeg-turbo's, Qt's
// (the bitmaps it reads) and the other formats' libraries' versions in one
// number. Any of them changing makes every record a miss, which is safe:
// a record is never trusted across a decoder it was not made by.
int64_t decoderVersion();

struct CacheStats {
    int64_t records = 0;
    int64_t failures = 0;            // records of files that could not be loaded
    int64_t identicalSignatures = 0;
    int64_t similarSignatures = 0;
    int64_t otherVersion = 0;        // records that will be computed again
    int64_t headerSizes = 0;         // picture sizes read from headers
    int64_t turnedRecords = 0;       // pictures with turned signatures kept
    int64_t pictures = 0;            // paths with a record, a size or both
    int64_t fileBytes = 0;           // the database with its write-ahead log
};

struct PruneResult {
    int64_t kept = 0;
    int64_t dropped = 0;
};

// The signature cache in SQLite: one record per picture path, valid for one
// version of the file, and apart from it the size a picture-size search read
// from the file's header and the signatures a search for turned copies took
// of the picture's other orientations. Safe to share between threads and between processes
// (write-ahead log, short busy timeout). Any fault (damage, no permission,
// full disk, a lock held too long, a newer layout) sets the store aside with
// one warning; afterwards it finds nothing and keeps nothing, so a search
// goes on exactly as without it.
class SignatureStore {
public:
    // Opens the file, creating it (and, with createFolder, its folder) when
    // missing. Nothing, after the warning, when it cannot be used.
    static std::unique_ptr<SignatureStore> open(const std::string& file, const CacheWarning& warning,
                                                bool createFolder = false);
    ~SignatureStore();
    SignatureStore(const SignatureStore&) = delete;
    SignatureStore& operator=(const SignatureStore&) = delete;

    const std::string& file() const { return m_file; }
    bool usable() const;

    // The outcome kept for this path and exactly this file version, made by
    // the current decoders: a Failed one, or a Loaded one with the
    // signatures whose engine version it has, decoded where `decode` asks
    // for them and marked kept otherwise. With decode.turned, also the turned
    // signatures, when they are kept for every engine whose upright
    // signature is: those of the engines `decode` names decoded, and
    // kept.turned set. Nothing when there is none. Safe to call from several
    // threads at once.
    std::optional<PictureOutcome> find(const std::string& path, const FileVersion& version,
                                       Reductions decode = Reductions {true, true});

    // Keeps a Failed or Loaded outcome, written with others in one
    // transaction; its turned signatures, when it has them, go to a row of
    // their own. Versions that changed too recently to be trusted, and
    // failures that may pass (a refused read, a system error, memory), are
    // not kept.
    void add(const std::string& path, const FileVersion& version, const PictureOutcome& outcome);

    // The size ReadPictureSize gave for this path and exactly this file
    // version, when kept. Safe to call from several threads at once.
    std::optional<PictureSize> findHeaderSize(const std::string& path, const FileVersion& version);
    // Keeps it, written with the records of add (not for a version that
    // changed too recently).
    void addHeaderSize(const std::string& path, const FileVersion& version, const PictureSize& size);

    // Writes what add has collected.
    void flush();

    // Ends the read transactions that lookups keep open (find reads a run of
    // records in one): until then, another process could not vacuum the file.
    void endReads();

    std::optional<CacheStats> stats();
    // Drops the records (and the sizes) whose file is gone or is no longer
    // the version kept.
    std::optional<PruneResult> prune();
    // Drops every record and every size.
    bool clear();

private:
    struct Pending {
        std::string path;
        FileVersion version;
        LoadFailure failure = LoadFailure::None; // None: loaded
        std::string error;
        int32_t width = 0;
        int32_t height = 0;
        int32_t identicalVersion = 0; // 0: that engine's part is not known
        int32_t similarVersion = 0;
        std::optional<std::string> identical; // encoded signatures
        std::optional<std::string> similar;
        // The turned signatures, when the outcome has some.
        bool turned = false;
        int32_t turnedIdenticalVersion = 0;
        int32_t turnedSimilarVersion = 0;
        std::optional<std::string> turnedIdentical;
        std::optional<std::string> turnedSimilar;
    };
    struct PendingSize {
        std::string path;
        FileVersion version;
        PictureSize size;
    };
    // A record as its row holds it, copied out of SQLite's buffers.
    struct StoredRow {
        int32_t identicalVersion = 0;
        int32_t similarVersion = 0;
        int32_t width = 0;
        int32_t height = 0;
        int failure = 0;
        std::string error;
        std::optional<std::string> identical; // nothing when the column is NULL
        std::optional<std::string> similar;
        int64_t checksum = 0;
    };
    struct StoredTurned {
        int32_t identicalVersion = 0;
        int32_t similarVersion = 0;
        std::optional<std::string> identical;
        std::optional<std::string> similar;
        int64_t checksum = 0;
    };

    // A connection for lookups alone: threads that look up at the same time
    // each take one, so that they do not wait for each other.
    struct Reader {
        std::mutex mutex;
        sqlite3* db = nullptr;
        SqliteStatement find;
        SqliteStatement findSize;
        SqliteStatement findTurned;
        bool unusable = false; // could not be opened, or the store is closed: the main connection serves
        int32_t reads = 0;     // lookups made in its open read transaction
    };
    static constexpr std::size_t kReaders = 4;
    // Long enough for another search's batch to commit, short enough that a
    // process holding the lock does not hold up a search.
    static constexpr int kBusyTimeoutMs = 1000;

    SignatureStore(std::string file, CacheWarning warning);

    // Opening (signature_store.cpp).
    bool openDatabase(bool createFolder);
    bool checkHeader(int32_t& layout, int64_t& tables);
    bool migrate();
    bool prepareStatements();
    bool prepare(SqliteStatement& statement, const std::string& sql);
    bool execute(const char* sql);
    bool executeWaiting(const char* sql);
    // Sets the store aside after an SQLite result that is not success; false.
    bool fail(int code, const std::string& doing);
    void setAside(const std::string& message);
    void closeDatabase();
    std::string setAsideCorrupt();

    // Lookups (signature_store_lookups.cpp).
    bool openReader(Reader& reader);
    static void closeReader(Reader& reader);
    // Runs `read` on a free lookup connection, in its shared read
    // transaction, with its statement for records or for sizes; else on the
    // main connection. Its result code; nothing once the store is closed.
    enum class Lookup { Record, HeaderSize, Turned };
    std::optional<int> lookUp(Lookup lookup, const std::function<int(sqlite3_stmt*)>& read);
    // fail() for a fault met by a lookup, which holds no lock.
    void lookupFailed(int code, const char* doing);
    // Whether lookUp's result is a row or none; a fault is reported.
    bool lookupRead(const std::optional<int>& code);
    // The row of `path` when it is for exactly this version and decoder;
    // false after a fault.
    bool readRecord(const std::string& path, const FileVersion& version, std::optional<StoredRow>& row);
    static bool passesCheck(const StoredRow& row, const std::string& path, const FileVersion& version);
    // The outcome a checked row holds; nothing when a signature it holds
    // cannot be decoded.
    static std::optional<PictureOutcome> outcomeOf(StoredRow&& row, Reductions decode);
    // The turned row of `path` when it is for exactly this version and
    // decoder; false after a fault.
    bool readTurned(const std::string& path, const FileVersion& version, std::optional<StoredTurned>& row);
    static bool passesTurnedCheck(const StoredTurned& row, const std::string& path, const FileVersion& version);
    // Adds a checked turned row to `outcome`; false when a part it needs
    // cannot be decoded. A row lacking a part the outcome needs adds nothing.
    static bool addTurned(StoredTurned&& row, Reductions decode, PictureOutcome& outcome);

    // Batched writes (signature_store_writes.cpp).
    bool flushLocked();
    bool writePending(const Pending& pending);
    bool writePendingSize(const PendingSize& pending);
    bool writePendingTurned(const Pending& pending);
    static void addTurnedParts(const PictureOutcome& outcome, Pending& pending);

    // Maintenance (signature_store_maintenance.cpp).
    bool pruneTable(StoreTable table, PruneResult& result);
    void giveSpaceBack();

    std::string m_file;
    CacheWarning m_warning;
    mutable std::mutex m_mutex;
    sqlite3* m_db = nullptr;
    SqliteStatement m_find;
    SqliteStatement m_write;
    SqliteStatement m_findSize;
    SqliteStatement m_writeSize;
    SqliteStatement m_findTurned;
    SqliteStatement m_writeTurned;
    std::vector<Pending> m_pending;
    std::vector<PendingSize> m_pendingSizes;
    std::atomic<bool> m_open {false}; // the store is usable
    std::array<Reader, kReaders> m_readers;
};
