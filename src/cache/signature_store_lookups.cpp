// Lookups: records and header sizes, read through connections of their own
// in shared read transactions, checked and decoded outside every lock.
#include "cache/signature_store.h"

#include <sqlite3.h>

#include "cache/record_checksum.h"
#include "cache/signature_codec.h"

namespace {

// Lookups that share one read transaction: short enough that a writer's
// checkpoint or another process's vacuum is never kept waiting for long.
constexpr int32_t kReadsPerTransaction = 64;

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

// Steps a find statement for `path`; `onRow` reads the row when there is
// one. SQLITE_ROW or SQLITE_DONE, or the error.
int stepFind(sqlite3_stmt* find, const std::string& path, const std::function<void()>& onRow)
{
    sqlite3_bind_blob(find, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    const int code = sqlite3_step(find);
    if (code == SQLITE_ROW)
        onRow();
    sqlite3_reset(find);
    sqlite3_clear_bindings(find);
    return code;
}

template <typename Column>
std::optional<std::string> optionalBlob(sqlite3_stmt* row, Column column)
{
    if (sqliteColumnIsNull(row, indexOf(column)))
        return std::nullopt;
    return std::string(sqliteColumnBytes(row, indexOf(column)));
}

// An encoded signature, or no bytes when the record has none.
std::string_view blobView(const std::optional<std::string>& blob)
{
    return blob ? std::string_view(*blob) : std::string_view();
}

} // namespace

bool SignatureStore::openReader(Reader& reader)
{
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(m_file.c_str(), &reader.db, flags, nullptr) == SQLITE_OK) {
        sqlite3_extended_result_codes(reader.db, 1);
        sqlite3_busy_timeout(reader.db, kBusyTimeoutMs);
        int code = SQLITE_OK;
        reader.find = SqliteStatement::persistent(reader.db, findSql(StoreTable::Records).c_str(), code);
        if (code == SQLITE_OK)
            reader.findSize = SqliteStatement::persistent(reader.db, findSql(StoreTable::Sizes).c_str(), code);
        if (code == SQLITE_OK)
            reader.findTurned = SqliteStatement::persistent(reader.db, findSql(StoreTable::Turned).c_str(), code);
        if (code == SQLITE_OK)
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
    reader.find.finalize();
    reader.findSize.finalize();
    reader.findTurned.finalize();
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

bool SignatureStore::lookupRead(const std::optional<int>& code)
{
    if (!code)
        return false;
    if (*code != SQLITE_ROW && *code != SQLITE_DONE) {
        lookupFailed(*code, "cannot read it");
        return false;
    }
    return true;
}

void SignatureStore::lookupFailed(int code, const char* doing)
{
    std::lock_guard lock(m_mutex);
    if (m_db)
        fail(code, doing);
}

std::optional<int> SignatureStore::lookUp(Lookup lookup, const std::function<int(sqlite3_stmt*)>& read)
{
    const auto statementFor = [lookup](SqliteStatement& record, SqliteStatement& size, SqliteStatement& turned) {
        return lookup == Lookup::HeaderSize ? size.get() : lookup == Lookup::Turned ? turned.get() : record.get();
    };
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
        return readBatched(reader.db, reader.reads, [&] {
            return read(statementFor(reader.find, reader.findSize, reader.findTurned));
        });
    }
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return std::nullopt;
    return read(statementFor(m_find, m_findSize, m_findTurned));
}

std::optional<PictureSize> SignatureStore::findHeaderSize(const std::string& path, const FileVersion& version)
{
    if (!m_open.load(std::memory_order_acquire))
        return std::nullopt;
    std::optional<PictureSize> found;
    int64_t checksum = 0;
    const std::optional<int> code = lookUp(Lookup::HeaderSize, [&](sqlite3_stmt* q) {
        return stepFind(q, path, [&] {
            if (!rowIsVersion(q, version) || sqlite3_column_int(q, indexOf(SizeColumn::Reader)) != kHeaderReaderVersion)
                return;
            found = PictureSize {sqlite3_column_int(q, indexOf(SizeColumn::Width)),
                                 sqlite3_column_int(q, indexOf(SizeColumn::Height))};
            checksum = sqlite3_column_int64(q, indexOf(SizeColumn::Checksum));
        });
    });
    if (!lookupRead(code))
        return std::nullopt;
    // Header sizes are unsigned 16-bit numbers: anything else was not
    // written by this store, whatever its checksum says.
    const auto inRange = [](int32_t side) { return side >= 0 && side <= 0xFFFF; };
    if (found
        && (checksum != headerSizeChecksum(path, version, kHeaderReaderVersion, found->width, found->height)
            || !inRange(found->width) || !inRange(found->height))) {
        lookupFailed(SQLITE_CORRUPT, "a record fails its check");
        return std::nullopt;
    }
    return found;
}

std::optional<PictureOutcome> SignatureStore::find(const std::string& path, const FileVersion& version,
                                                   Reductions decode)
{
    if (!m_open.load(std::memory_order_acquire))
        return std::nullopt;
    // The check and the decoding, which cost far more than the read, run
    // outside every lock.
    std::optional<StoredRow> row;
    if (!readRecord(path, version, row) || !row)
        return std::nullopt;
    std::optional<PictureOutcome> outcome;
    if (passesCheck(*row, path, version))
        outcome = outcomeOf(std::move(*row), decode);
    if (!outcome) {
        lookupFailed(SQLITE_CORRUPT, "a record fails its check");
        return std::nullopt;
    }
    // A plain search never reads the turned rows.
    const bool hasUpright =
        outcome->hasIdentical || outcome->kept.identical || outcome->hasSimilar || outcome->kept.similar;
    if (!decode.turned || !hasUpright)
        return outcome;
    std::optional<StoredTurned> turned;
    if (!readTurned(path, version, turned))
        return std::nullopt;
    if (turned) {
        if (!passesTurnedCheck(*turned, path, version) || !addTurned(std::move(*turned), decode, *outcome)) {
            lookupFailed(SQLITE_CORRUPT, "a record fails its check");
            return std::nullopt;
        }
    }
    return outcome;
}

bool SignatureStore::readTurned(const std::string& path, const FileVersion& version, std::optional<StoredTurned>& row)
{
    const std::optional<int> code = lookUp(Lookup::Turned, [&](sqlite3_stmt* q) {
        return stepFind(q, path, [&] {
            if (!rowIsVersion(q, version) || sqlite3_column_int64(q, indexOf(TurnedColumn::Decoder)) != decoderVersion())
                return;
            StoredTurned r;
            r.identicalVersion = sqlite3_column_int(q, indexOf(TurnedColumn::IdenticalVersion));
            r.similarVersion = sqlite3_column_int(q, indexOf(TurnedColumn::SimilarVersion));
            r.identical = optionalBlob(q, TurnedColumn::Identical);
            r.similar = optionalBlob(q, TurnedColumn::Similar);
            r.checksum = sqlite3_column_int64(q, indexOf(TurnedColumn::Checksum));
            row = std::move(r);
        });
    });
    return lookupRead(code);
}

bool SignatureStore::passesTurnedCheck(const StoredTurned& row, const std::string& path, const FileVersion& version)
{
    const int64_t content = turnedChecksum(decoderVersion(), row.identicalVersion, row.similarVersion,
                                           blobView(row.identical), blobView(row.similar));
    return row.checksum == keyedChecksum(path, version, content);
}

bool SignatureStore::addTurned(StoredTurned&& row, Reductions decode, PictureOutcome& outcome)
{
    // Each engine whose upright signature the outcome has needs its turned
    // ones at the same engine version; without them the picture is decoded
    // again, as for a record that lacks a part.
    const bool identicalUp = outcome.hasIdentical || outcome.kept.identical;
    const bool similarUp = outcome.hasSimilar || outcome.kept.similar;
    if ((identicalUp && (row.identicalVersion != kIdenticalSignatureVersion || !row.identical))
        || (similarUp && (row.similarVersion != kSimilarSignatureVersion || !row.similar)))
        return true;
    if (identicalUp && decode.identical) {
        std::optional<std::vector<IdenticalSignature>> signatures = decodeTurnedIdentical(*row.identical);
        if (!signatures)
            return false;
        outcome.turnedIdentical = std::move(*signatures);
    }
    if (similarUp && decode.similar) {
        std::optional<std::vector<SimilarSignature>> signatures = decodeTurnedSimilar(*row.similar);
        if (!signatures)
            return false;
        outcome.turnedSimilar = std::move(*signatures);
    }
    outcome.kept.turned = true;
    return true;
}

bool SignatureStore::readRecord(const std::string& path, const FileVersion& version, std::optional<StoredRow>& row)
{
    const std::optional<int> code = lookUp(Lookup::Record, [&](sqlite3_stmt* q) {
        return stepFind(q, path, [&] {
            if (!rowIsVersion(q, version) || sqlite3_column_int64(q, indexOf(RecordColumn::Decoder)) != decoderVersion())
                return;
            StoredRow r;
            r.identicalVersion = sqlite3_column_int(q, indexOf(RecordColumn::IdenticalVersion));
            r.similarVersion = sqlite3_column_int(q, indexOf(RecordColumn::SimilarVersion));
            r.width = sqlite3_column_int(q, indexOf(RecordColumn::Width));
            r.height = sqlite3_column_int(q, indexOf(RecordColumn::Height));
            r.failure = sqlite3_column_int(q, indexOf(RecordColumn::Failure));
            r.error = std::string(sqliteColumnBytes(q, indexOf(RecordColumn::Error)));
            r.identical = optionalBlob(q, RecordColumn::Identical);
            r.similar = optionalBlob(q, RecordColumn::Similar);
            r.checksum = sqlite3_column_int64(q, indexOf(RecordColumn::Checksum));
            row = std::move(r);
        });
    });
    return lookupRead(code);
}

bool SignatureStore::passesCheck(const StoredRow& row, const std::string& path, const FileVersion& version)
{
    const int64_t content =
        recordChecksum(decoderVersion(), row.identicalVersion, row.similarVersion, row.width, row.height,
                       static_cast<LoadFailure>(row.failure), row.error, blobView(row.identical), blobView(row.similar));
    return row.checksum == keyedChecksum(path, version, content)
           && row.failure >= static_cast<int>(LoadFailure::None)
           && row.failure <= static_cast<int>(LoadFailure::SystemError);
}

std::optional<PictureOutcome> SignatureStore::outcomeOf(StoredRow&& row, Reductions decode)
{
    PictureOutcome outcome;
    outcome.failure = static_cast<LoadFailure>(row.failure);
    outcome.status =
        outcome.failure == LoadFailure::None ? PictureOutcome::Status::Loaded : PictureOutcome::Status::Failed;
    outcome.error = std::move(row.error);
    outcome.width = row.width;
    outcome.height = row.height;
    // A part of another engine version is left out: the pipeline then
    // decodes the file again. A part the search does not read is only
    // marked kept (the checksum covers it all the same).
    if (row.identicalVersion == kIdenticalSignatureVersion && row.identical) {
        if (!decode.identical) {
            outcome.kept.identical = true;
        } else if (const std::optional<IdenticalSignature> signature = decodeIdenticalSignature(*row.identical)) {
            outcome.identical = *signature;
            outcome.hasIdentical = true;
        } else {
            return std::nullopt;
        }
    }
    if (row.similarVersion == kSimilarSignatureVersion && row.similar) {
        if (!decode.similar) {
            outcome.kept.similar = true;
        } else if (const std::optional<SimilarSignature> signature = decodeSimilarSignature(*row.similar)) {
            outcome.similar = *signature;
            outcome.hasSimilar = true;
        } else {
            return std::nullopt;
        }
    }
    return outcome;
}
