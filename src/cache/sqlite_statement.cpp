#include "cache/sqlite_statement.h"

#include <cstddef>

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql, int& code)
{
    code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

std::string_view sqliteColumnBytes(sqlite3_stmt* statement, int column)
{
    const void* data = sqlite3_column_blob(statement, column);
    const int size = sqlite3_column_bytes(statement, column);
    return data ? std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size)) : std::string_view();
}

bool sqliteColumnIsNull(sqlite3_stmt* statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL;
}
