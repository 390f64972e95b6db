#pragma once

// SQLite's statements and write transactions, each released once, whatever happens.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace search {

class sqlite_statement {
public:
    sqlite_statement() = default;
    ~sqlite_statement();
    sqlite_statement(const sqlite_statement&) = delete;
    sqlite_statement& operator=(const sqlite_statement&) = delete;

    // False, with the database's message there, when sql does not compile.
    bool prepare(sqlite3* database, const char* sql);
    explicit operator bool() const { return handle != nullptr; }
    sqlite3_stmt* get() const { return handle; }

private:
    sqlite3_stmt* handle = nullptr;
};

// One execution of a prepared statement: its values bound, its rows stepped through, and the
// statement reset with its bindings cleared when the execution goes. Bound texts and blobs are
// not copied: they must outlive it.
class statement_run {
public:
    explicit statement_run(const sqlite_statement& statement) : handle(statement.get()) {}
    ~statement_run();
    statement_run(const statement_run&) = delete;
    statement_run& operator=(const statement_run&) = delete;

    statement_run& bind_text(int index, std::string_view text);
    statement_run& bind_blob(int index, const void* bytes, std::size_t size);
    statement_run& bind_integer(int index, std::int64_t value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    std::int64_t integer(int column) const;
    std::string_view blob(int column) const;

private:
    sqlite3_stmt* handle;
};

// BEGIN IMMEDIATE when made; COMMIT by commit, or ROLLBACK when it goes without one.
class write_transaction {
public:
    explicit write_transaction(sqlite3* database);
    ~write_transaction();
    write_transaction(const write_transaction&) = delete;
    write_transaction& operator=(const write_transaction&) = delete;

    // SQLITE_OK when the transaction began, else why not (SQLITE_BUSY: another writer held it).
    int began() const { return begin_result; }
    // SQLITE_OK when it was committed.
    int commit();

private:
    sqlite3* database;
    int begin_result;
    bool open;
};

// Writes count rows in one transaction, write_one(i) writing the row i and giving its SQLite
// result; waits at most wait_ms for another writer. SQLITE_OK when all were committed,
// SQLITE_BUSY when another writer held the database (nothing is written), else the error.
int write_rows(sqlite3* database, int wait_ms, std::size_t count,
               const std::function<int(std::size_t)>& write_one);

// What a step that writes came to: SQLITE_OK, or the database's error.
int written(statement_run& run, sqlite3* database);

// Why a write failed, in words: the system's error when there was one, else SQLite's.
const char* write_failure(sqlite3* database, int result);

// Runs sql, which returns one integer; false when it cannot be run or returns no row.
bool single_integer(sqlite3* database, const char* sql, std::int64_t& value);

} // namespace search
