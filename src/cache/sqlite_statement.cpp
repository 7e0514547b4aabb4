#include "cache/sqlite_statement.h"

#include <cstddef>
#include <utility>

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3* db, const char* sql, int& code)
{
    code = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
}

SqliteStatement SqliteStatement::persistent(sqlite3* db, const char* sql, int& code)
{
    SqliteStatement statement;
    code = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement.m_statement, nullptr);
    return statement;
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_statement(std::exchange(other.m_statement, nullptr))
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_statement);
        m_statement = std::exchange(other.m_statement, nullptr);
    }
    return *this;
}

void SqliteStatement::finalize()
{
    sqlite3_finalize(m_statement);
    m_statement = nullptr;
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
