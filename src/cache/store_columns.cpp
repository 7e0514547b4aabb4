#include "cache/store_columns.h"

#include <span>

#include <sqlite3.h>

namespace {

std::span<const ColumnDefinition> ownColumns(StoreTable table)
{
    switch (table) {
    case StoreTable::Records:
        return kRecordColumns;
    case StoreTable::Sizes:
        return kSizeColumns;
    case StoreTable::Turned:
        break;
    }
    return kTurnedColumns;
}

// The names (with their types when `typed`) of the key and the table's own
// columns, each after ", ".
std::string columnList(StoreTable table, bool typed, bool keyOnly = false)
{
    std::string list;
    const auto add = [&](const ColumnDefinition& column) {
        list += list.empty() ? "" : ", ";
        list += column.name;
        if (typed)
            list += std::string(" ") + column.type;
    };
    for (const ColumnDefinition& column : kKeyColumns)
        add(column);
    if (!keyOnly) {
        for (const ColumnDefinition& column : ownColumns(table))
            add(column);
    }
    return list;
}

std::string pathClause()
{
    return std::string(" WHERE ") + kKeyColumns[0].name + " = ?1";
}

} // namespace

const char* tableName(StoreTable table)
{
    switch (table) {
    case StoreTable::Records:
        return "pictures";
    case StoreTable::Sizes:
        return "header_sizes";
    case StoreTable::Turned:
        break;
    }
    return "turned";
}

const char* columnName(KeyColumn column)
{
    return kKeyColumns[static_cast<std::size_t>(indexOf(column))].name;
}

const char* columnName(RecordColumn column)
{
    return kRecordColumns[static_cast<std::size_t>(indexOf(column) - kKeyColumnCount)].name;
}

std::string createTableSql(StoreTable table)
{
    return std::string("CREATE TABLE IF NOT EXISTS ") + tableName(table) + " ( " + columnList(table, true) + ")";
}

std::string findSql(StoreTable table)
{
    return "SELECT " + columnList(table, false) + " FROM " + tableName(table) + pathClause();
}

std::string writeSql(StoreTable table)
{
    const int columns = kKeyColumnCount + static_cast<int>(ownColumns(table).size());
    std::string values;
    for (int i = 1; i <= columns; ++i)
        values += (i > 1 ? ", ?" : "?") + std::to_string(i);
    return std::string("INSERT OR REPLACE INTO ") + tableName(table) + " (" + columnList(table, false) + ") VALUES ("
           + values + ")";
}

std::string keysSql(StoreTable table)
{
    return "SELECT " + columnList(table, false, true) + " FROM " + tableName(table);
}

std::string deleteSql(StoreTable table)
{
    return std::string("DELETE FROM ") + tableName(table) + pathClause();
}

void bindKey(sqlite3_stmt* write, const std::string& path, const FileVersion& version)
{
    sqlite3_bind_blob(write, parameterOf(KeyColumn::Path), path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    sqlite3_bind_int64(write, parameterOf(KeyColumn::Device), static_cast<int64_t>(version.device));
    sqlite3_bind_int64(write, parameterOf(KeyColumn::Inode), static_cast<int64_t>(version.inode));
    sqlite3_bind_int64(write, parameterOf(KeyColumn::Size), version.size);
    sqlite3_bind_int64(write, parameterOf(KeyColumn::MtimeNs), version.mtimeNs);
    sqlite3_bind_int64(write, parameterOf(KeyColumn::CtimeNs), version.ctimeNs);
}

FileVersion rowVersion(sqlite3_stmt* row)
{
    FileVersion version;
    version.device = static_cast<uint64_t>(sqlite3_column_int64(row, indexOf(KeyColumn::Device)));
    version.inode = static_cast<uint64_t>(sqlite3_column_int64(row, indexOf(KeyColumn::Inode)));
    version.size = sqlite3_column_int64(row, indexOf(KeyColumn::Size));
    version.mtimeNs = sqlite3_column_int64(row, indexOf(KeyColumn::MtimeNs));
    version.ctimeNs = sqlite3_column_int64(row, indexOf(KeyColumn::CtimeNs));
    return version;
}

bool rowIsVersion(sqlite3_stmt* row, const FileVersion& version)
{
    return rowVersion(row).sameFile(version);
}
