#pragma once

#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// A prepared statement, finalised however its owner ends: a one-off one in
// a function, or one kept by a connection and run many times.
class SqliteStatement {
public:
    SqliteStatement() = default;
    // `code` is SQLite's result of the preparation.
    SqliteStatement(sqlite3* db, const char* sql, int& code);
    // Prepared to be kept: SQLite then does not take it from its lookaside
    // memory, which is meant for short-lived statements.
    static SqliteStatement persistent(sqlite3* db, const char* sql, int& code);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    sqlite3_stmt* get() const { return m_statement; }
    // Finalises it now, before its connection is closed.
    void finalize();

private:
    sqlite3_stmt* m_statement = nullptr;
};

// A column of the current row as bytes (empty for NULL), valid until the
// statement steps on.
std::string_view sqliteColumnBytes(sqlite3_stmt* statement, int column);

bool sqliteColumnIsNull(sqlite3_stmt* statement, int column);
