// Batched writes: records and header sizes collected and written together,
// a batch in one transaction.
#include "cache/signature_store.h"

#include <sqlite3.h>

#include "cache/record_checksum.h"
#include "cache/signature_codec.h"

namespace {

// Records per transaction: a killed search loses at most one batch.
constexpr std::size_t kBatchRecords = 64;

// Failures only a change of the file mends. A refused read or a system
// error may pass, and a picture too large may have been refused for want of
// memory at that moment.
bool isLastingFailure(LoadFailure failure)
{
    return failure == LoadFailure::Damaged || failure == LoadFailure::Empty;
}

void bindBlob(sqlite3_stmt* write, int parameter, const std::optional<std::string>& blob)
{
    if (blob)
        sqlite3_bind_blob(write, parameter, blob->data(), static_cast<int>(blob->size()), SQLITE_STATIC);
    else
        sqlite3_bind_null(write, parameter);
}

// Steps a write whose parameters are bound, and makes it ready for the next.
int stepWrite(sqlite3_stmt* write)
{
    const int code = sqlite3_step(write);
    sqlite3_reset(write);
    sqlite3_clear_bindings(write);
    return code;
}

} // namespace

void SignatureStore::addTurnedParts(const PictureOutcome& outcome, Pending& pending)
{
    if (outcome.turnedIdentical.empty() && outcome.turnedSimilar.empty())
        return;
    // A part is kept only beside its upright signature, as the lookup wants
    // it; one that cannot be encoded leaves that engine unknown, so that
    // the next search for turned copies decodes the picture again.
    if (pending.identical && (pending.turnedIdentical = encodeTurnedIdentical(outcome.turnedIdentical)))
        pending.turnedIdenticalVersion = kIdenticalSignatureVersion;
    if (pending.similar && (pending.turnedSimilar = encodeTurnedSimilar(outcome.turnedSimilar)))
        pending.turnedSimilarVersion = kSimilarSignatureVersion;
    pending.turned = pending.turnedIdentical || pending.turnedSimilar;
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
        addTurnedParts(outcome, pending);
    }
    std::lock_guard lock(m_mutex);
    if (!m_db)
        return;
    m_pending.push_back(std::move(pending));
    if (m_pending.size() + m_pendingSizes.size() >= kBatchRecords)
        flushLocked();
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
        if (!writePending(pending) || (pending.turned && !writePendingTurned(pending)))
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
    const std::string_view identical = pending.identical ? std::string_view(*pending.identical) : std::string_view();
    const std::string_view similar = pending.similar ? std::string_view(*pending.similar) : std::string_view();
    const int64_t content = recordChecksum(decoder, pending.identicalVersion, pending.similarVersion, pending.width,
                                           pending.height, pending.failure, pending.error, identical, similar);
    sqlite3_stmt* const w = m_write.get();
    bindKey(w, pending.path, pending.version);
    sqlite3_bind_int64(w, parameterOf(RecordColumn::Decoder), decoder);
    sqlite3_bind_int(w, parameterOf(RecordColumn::IdenticalVersion), pending.identicalVersion);
    sqlite3_bind_int(w, parameterOf(RecordColumn::SimilarVersion), pending.similarVersion);
    sqlite3_bind_int(w, parameterOf(RecordColumn::Width), pending.width);
    sqlite3_bind_int(w, parameterOf(RecordColumn::Height), pending.height);
    sqlite3_bind_int(w, parameterOf(RecordColumn::Failure), static_cast<int>(pending.failure));
    sqlite3_bind_text(w, parameterOf(RecordColumn::Error), pending.error.data(), static_cast<int>(pending.error.size()),
                      SQLITE_STATIC);
    bindBlob(w, parameterOf(RecordColumn::Identical), pending.identical);
    bindBlob(w, parameterOf(RecordColumn::Similar), pending.similar);
    sqlite3_bind_int64(w, parameterOf(RecordColumn::Checksum), keyedChecksum(pending.path, pending.version, content));
    const int code = stepWrite(w);
    return code == SQLITE_DONE || fail(code, "cannot write it");
}

bool SignatureStore::writePendingTurned(const Pending& pending)
{
    const int64_t decoder = decoderVersion();
    const std::string_view identical =
        pending.turnedIdentical ? std::string_view(*pending.turnedIdentical) : std::string_view();
    const std::string_view similar = pending.turnedSimilar ? std::string_view(*pending.turnedSimilar) : std::string_view();
    const int64_t content =
        turnedChecksum(decoder, pending.turnedIdenticalVersion, pending.turnedSimilarVersion, identical, similar);
    sqlite3_stmt* const w = m_writeTurned.get();
    bindKey(w, pending.path, pending.version);
    sqlite3_bind_int64(w, parameterOf(TurnedColumn::Decoder), decoder);
    sqlite3_bind_int(w, parameterOf(TurnedColumn::IdenticalVersion), pending.turnedIdenticalVersion);
    sqlite3_bind_int(w, parameterOf(TurnedColumn::SimilarVersion), pending.turnedSimilarVersion);
    bindBlob(w, parameterOf(TurnedColumn::Identical), pending.turnedIdentical);
    bindBlob(w, parameterOf(TurnedColumn::Similar), pending.turnedSimilar);
    sqlite3_bind_int64(w, parameterOf(TurnedColumn::Checksum), keyedChecksum(pending.path, pending.version, content));
    const int code = stepWrite(w);
    return code == SQLITE_DONE || fail(code, "cannot write it");
}

bool SignatureStore::writePendingSize(const PendingSize& pending)
{
    sqlite3_stmt* const w = m_writeSize.get();
    bindKey(w, pending.path, pending.version);
    sqlite3_bind_int(w, parameterOf(SizeColumn::Reader), kHeaderReaderVersion);
    sqlite3_bind_int(w, parameterOf(SizeColumn::Width), pending.size.width);
    sqlite3_bind_int(w, parameterOf(SizeColumn::Height), pending.size.height);
    sqlite3_bind_int64(w, parameterOf(SizeColumn::Checksum),
                       headerSizeChecksum(pending.path, pending.version, kHeaderReaderVersion, pending.size.width,
                                          pending.size.height));
    const int code = stepWrite(w);
    return code == SQLITE_DONE || fail(code, "cannot write it");
}
