// Maintenance: the counts of `cache stats`, dropping the records of files
// gone or changed, dropping everything, and giving the space back.
#include "cache/signature_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include "common/log_categories.h"

std::optional<CacheStats> SignatureStore::stats()
{
    std::lock_guard lock(m_mutex);
    if (!flushLocked())
        return std::nullopt;
    const auto name = [](RecordColumn column) { return std::string(columnName(column)); };
    const std::string path = columnName(KeyColumn::Path);
    const std::string records = tableName(StoreTable::Records);
    const std::string sizes = tableName(StoreTable::Sizes);
    const std::string sql =
        "SELECT count(*), total(" + name(RecordColumn::Failure) + " <> 0), total(" + name(RecordColumn::Identical)
        + " IS NOT NULL), total(" + name(RecordColumn::Similar) + " IS NOT NULL), total(" + name(RecordColumn::Decoder)
        + " <> " + std::to_string(decoderVersion()) + " OR " + name(RecordColumn::IdenticalVersion) + " NOT IN (0, "
        + std::to_string(kIdenticalSignatureVersion) + ") OR " + name(RecordColumn::SimilarVersion) + " NOT IN (0, "
        + std::to_string(kSimilarSignatureVersion) + ")), (SELECT count(*) FROM " + sizes + "), (SELECT count(*) FROM"
        + " (SELECT " + path + " FROM " + records + " UNION SELECT " + path + " FROM " + sizes + ")), (SELECT count(*) FROM "
        + tableName(StoreTable::Turned) + ") FROM " + records;
    int code = SQLITE_OK;
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
    stats.turnedRecords = sqlite3_column_int64(count.get(), 7);
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
    PruneResult result;
    for (const StoreTable table : kStoreTables) {
        if (!pruneTable(table, result))
            return std::nullopt;
    }
    giveSpaceBack();
    return result;
}

bool SignatureStore::pruneTable(StoreTable table, PruneResult& result)
{
    struct Kept {
        std::string path;
        FileVersion version;
    };
    std::vector<Kept> rows;
    int code = SQLITE_OK;
    {
        SqliteStatement all(m_db, keysSql(table).c_str(), code);
        while (code == SQLITE_OK && (code = sqlite3_step(all.get())) == SQLITE_ROW) {
            rows.push_back(Kept {std::string(sqliteColumnBytes(all.get(), indexOf(KeyColumn::Path))),
                                 rowVersion(all.get())});
            code = SQLITE_OK;
        }
        if (code != SQLITE_DONE)
            return fail(code, "cannot read it");
    }
    SqliteStatement drop(m_db, deleteSql(table).c_str(), code);
    if (code != SQLITE_OK)
        return fail(code, "cannot write it");
    if (!execute("BEGIN IMMEDIATE"))
        return false;
    for (const Kept& kept : rows) {
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
            return fail(code, "cannot write it");
        }
        ++result.dropped;
    }
    return execute("COMMIT");
}

bool SignatureStore::clear()
{
    std::lock_guard lock(m_mutex);
    m_pending.clear();
    m_pendingSizes.clear();
    endReads();
    if (!m_db)
        return false;
    for (const StoreTable table : kStoreTables) {
        if (!execute((std::string("DELETE FROM ") + tableName(table)).c_str()))
            return false;
    }
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
