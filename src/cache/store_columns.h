#pragma once

#include <array>
#include <string>

#include "cache/file_version.h"

struct sqlite3_stmt;

// The cache's tables, each column named once here: the schema, the
// statements' text and the bind and read positions all come from these
// lists. A row read by findSql holds every column in table order, so a
// column's index in it is its place in the table, and its parameter in
// writeSql is one more.

struct ColumnDefinition {
    const char* name;
    const char* type;
};

// Every table begins with the key: the path and the version of the file a
// row was made from (any change of content moves one of those fields).
enum class KeyColumn { Path, Device, Inode, Size, MtimeNs, CtimeNs };
inline constexpr std::array<ColumnDefinition, 6> kKeyColumns {{
    {"path", "BLOB NOT NULL UNIQUE"},
    {"device", "INTEGER NOT NULL"},
    {"inode", "INTEGER NOT NULL"},
    {"size", "INTEGER NOT NULL"},
    {"mtime_ns", "INTEGER NOT NULL"},
    {"ctime_ns", "INTEGER NOT NULL"},
}};
inline constexpr int kKeyColumnCount = static_cast<int>(kKeyColumns.size());

// "pictures", one record per path: the versions it was made under, the
// picture's size as the decoder read it from the header, and either the
// load failure or the two engines' signatures (NULL: too small for that
// engine); the checksum covers them and the key.
enum class RecordColumn {
    Decoder = kKeyColumnCount,
    IdenticalVersion,
    SimilarVersion,
    Width,
    Height,
    Failure,
    Error,
    Identical,
    Similar,
    Checksum,
};
inline constexpr std::array<ColumnDefinition, 10> kRecordColumns {{
    {"decoder", "INTEGER NOT NULL"},
    {"identical_version", "INTEGER NOT NULL"},
    {"similar_version", "INTEGER NOT NULL"},
    {"width", "INTEGER NOT NULL"},
    {"height", "INTEGER NOT NULL"},
    {"failure", "INTEGER NOT NULL"},
    {"error", "TEXT NOT NULL"},
    {"identical", "BLOB"},
    {"similar", "BLOB"},
    {"checksum", "INTEGER NOT NULL"},
}};
static_assert(static_cast<int>(RecordColumn::Checksum) + 1 == kKeyColumnCount + static_cast<int>(kRecordColumns.size()));

// "header_sizes": the size ReadPictureSize gave for one version of a file,
// under the version of that reader: a picture-size search reads no header
// it has.
enum class SizeColumn { Reader = kKeyColumnCount, Width, Height, Checksum };
inline constexpr std::array<ColumnDefinition, 4> kSizeColumns {{
    {"reader", "INTEGER NOT NULL"},
    {"width", "INTEGER NOT NULL"},
    {"height", "INTEGER NOT NULL"},
    {"checksum", "INTEGER NOT NULL"},
}};
static_assert(static_cast<int>(SizeColumn::Checksum) + 1 == kKeyColumnCount + static_cast<int>(kSizeColumns.size()));

// "turned": the signatures of a picture's seven other orientations, apart
// from its record so that a plain search reads records as small as ever.
// Each engine's part under that engine's version (0: not known, NULL: too
// small for that engine), made by one decoder; the checksum covers them and
// the key.
enum class TurnedColumn { Decoder = kKeyColumnCount, IdenticalVersion, SimilarVersion, Identical, Similar, Checksum };
inline constexpr std::array<ColumnDefinition, 6> kTurnedColumns {{
    {"decoder", "INTEGER NOT NULL"},
    {"identical_version", "INTEGER NOT NULL"},
    {"similar_version", "INTEGER NOT NULL"},
    {"identical", "BLOB"},
    {"similar", "BLOB"},
    {"checksum", "INTEGER NOT NULL"},
}};
static_assert(static_cast<int>(TurnedColumn::Checksum) + 1 == kKeyColumnCount + static_cast<int>(kTurnedColumns.size()));

enum class StoreTable { Records, Sizes, Turned };
inline constexpr std::array<StoreTable, 3> kStoreTables {StoreTable::Records, StoreTable::Sizes, StoreTable::Turned};

template <typename Column>
constexpr int indexOf(Column column)
{
    return static_cast<int>(column);
}
template <typename Column>
constexpr int parameterOf(Column column)
{
    return static_cast<int>(column) + 1;
}

const char* tableName(StoreTable table);
const char* columnName(KeyColumn column);
const char* columnName(RecordColumn column);

// The statements' text. findSql and deleteSql take the path as ?1.
std::string createTableSql(StoreTable table); // CREATE TABLE IF NOT EXISTS
std::string findSql(StoreTable table);        // every column of one row
std::string writeSql(StoreTable table);       // INSERT OR REPLACE of every column
std::string keysSql(StoreTable table);        // the key of every row
std::string deleteSql(StoreTable table);

// Binds the path and the file version of a write (SQLITE_STATIC: they must
// outlive the step).
void bindKey(sqlite3_stmt* write, const std::string& path, const FileVersion& version);
// The file version in the key of the row a statement stands on.
FileVersion rowVersion(sqlite3_stmt* row);
// Whether it is `version` (the time it was seen aside).
bool rowIsVersion(sqlite3_stmt* row, const FileVersion& version);
