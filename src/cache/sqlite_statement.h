#pragma once

#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// A one-off prepared statement, finalised however its function ends.
class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const char* sql, int& code);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    sqlite3_stmt* get() const { return m_statement; }

private:
    sqlite3_stmt* m_statement = nullptr;
};

// A column of the current row as bytes (empty for NULL), valid until the
// statement steps on.
std::string_view sqliteColumnBytes(sqlite3_stmt* statement, int column);

bool sqliteColumnIsNull(sqlite3_stmt* statement, int column);
