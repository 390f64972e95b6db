#include "cache/sqlite_statement.hpp"

#include <sqlite3.h>

#include <cstring>

namespace search {

sqlite_statement::~sqlite_statement() {
    sqlite3_finalize(handle);
}

bool sqlite_statement::prepare(sqlite3* database, const char* sql) {
    sqlite3_finalize(handle);
    handle = nullptr;
    return sqlite3_prepare_v2(database, sql, -1, &handle, nullptr) == SQLITE_OK;
}

statement_run::~statement_run() {
    sqlite3_reset(handle);
    sqlite3_clear_bindings(handle);
}

statement_run& statement_run::bind_text(int index, std::string_view text) {
    sqlite3_bind_text(handle, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    return *this;
}

statement_run& statement_run::bind_blob(int index, const void* bytes, std::size_t size) {
    sqlite3_bind_blob64(handle, index, bytes, size, SQLITE_STATIC);
    return *this;
}

statement_run& statement_run::bind_integer(int index, std::int64_t value) {
    sqlite3_bind_int64(handle, index, value);
    return *this;
}

int statement_run::step() {
    return sqlite3_step(handle);
}

std::int64_t statement_run::integer(int column) const {
    return sqlite3_column_int64(handle, column);
}

std::string_view statement_run::blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(handle, column));
    const auto size = static_cast<std::size_t>(sqlite3_column_bytes(handle, column));
    return bytes != nullptr ? std::string_view(bytes, size) : std::string_view();
}

write_transaction::write_transaction(sqlite3* database)
    : database(database),
      begin_result(sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr)),
      open(begin_result == SQLITE_OK) {}

write_transaction::~write_transaction() {
    if (open) {
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

int write_transaction::commit() {
    const int result = sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
    open = open && result != SQLITE_OK;
    return result;
}

int write_rows(sqlite3* database, int wait_ms, std::size_t count,
               const std::function<int(std::size_t)>& write_one) {
    sqlite3_busy_timeout(database, wait_ms);
    write_transaction transaction(database);
    int result = transaction.began();
    for (std::size_t i = 0; i < count && result == SQLITE_OK; ++i) {
        result = write_one(i);
    }
    return result == SQLITE_OK ? transaction.commit() : result;
}

int written(statement_run& run, sqlite3* database) {
    return run.step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(database);
}

const char* write_failure(sqlite3* database, int result) {
    const int system_error = sqlite3_system_errno(database);
    return system_error != 0 ? std::strerror(system_error) : sqlite3_errstr(result);
}

bool single_integer(sqlite3* database, const char* sql, std::int64_t& value) {
    sqlite_statement statement;
    if (!statement.prepare(database, sql)) {
        return false;
    }
    statement_run run(statement);
    const bool read = run.step() == SQLITE_ROW;
    value = read ? run.integer(0) : 0;
    return read;
}

} // namespace search
