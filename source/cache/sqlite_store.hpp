#pragma once

// The local tier of --cache DIR: an SQLite database of entries by key, and of the hashes of
// files by path and state. Searches of several processes share it; none waits on another's
// lock: a read needs none, and writes wait for their turn in memory.

#include "cache/entry_store.hpp"
#include "cache/file_state.hpp"
#include "cache/sqlite_statement.hpp"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;

namespace search {

class sqlite_store final : public entry_store {
public:
    // Opens the database in dir, creating dir (mode 0700) and the database (0600) if missing.
    // When it cannot be used, or others could change it (cache/cache_place.hpp), or it is not
    // pyrn's, says why in one line on standard error and returns nothing.
    static std::unique_ptr<sqlite_store> open(const std::string& dir);
    // What still waits is lost: its owner gives it a last chance with write_waiting.
    ~sqlite_store() override;
    sqlite_store(const sqlite_store&) = delete;
    sqlite_store& operator=(const sqlite_store&) = delete;

    // The value is handed where SQLite keeps it: an entry is copied once, by its user.
    bool find(const cache_key& key, const value_use& use) override;
    // Written at once, with those that wait, unless another process holds the database: then
    // it waits in memory, up to a limit, for the next store or the end.
    void store(const cache_key& key, std::string_view value) override;
    // Writes what waits, unless another process holds the database for longer than wait_ms.
    void write_waiting(int wait_ms);

    // The hash kept for the file at path when it was in this state.
    bool remembered_hash(const std::string& path, const file_state& state, std::uint64_t& hash);
    // Keeps the hashes, in one transaction, when the database is free at once: a search never
    // waits to keep hashes, which the next search can take again.
    void remember_hashes(const std::vector<std::pair<std::string, known_file>>& files);

    // The database's file, below the real path of the directory.
    const std::string& file() const { return path; }
    // A write failed (said once): nothing is written any more.
    bool failed() const { return write_failed; }

private:
    sqlite_store(std::string dir, std::string path) : dir(std::move(dir)), path(std::move(path)) {}
    bool prepare(std::string& reason);
    bool take_format(std::string& reason);
    // A connection that only reads entries, for one thread at a time.
    struct reader {
        ~reader();
        void keep_reading();
        void stop_reading();
        sqlite3* connection = nullptr;
        sqlite_statement select;
        std::int64_t reading_since_ns = 0; // of its read transaction, 0 while there is none
    };
    std::unique_ptr<reader> take_reader();
    bool find_shared(const cache_key& key, const value_use& use);
    void give_back(std::unique_ptr<reader> idle);
    void end_idle_reads();
    void write_unwritten(int wait_ms);
    void load_hashes();
    void fail(const char* reason);

    std::string dir;
    std::string path;
    sqlite3* database = nullptr;
    // Finalized after the destructor's close, which SQLite defers until they are.
    sqlite_statement select;
    sqlite_statement insert;
    sqlite_statement select_hashes;
    std::mutex readers_lock;
    std::vector<std::unique_ptr<reader>> idle_readers; // closed before the database
    std::mutex lock;                                   // of the database and what waits
    std::once_flag hashes_loaded;
    std::unordered_map<std::string, known_file> hashes; // as remembered when first asked

    std::atomic<bool> write_failed{false};
    static constexpr std::size_t unwritten_limit = 64u << 20;
    std::vector<std::pair<cache_key, std::string>> unwritten;
    std::size_t unwritten_size = 0;
};

} // namespace search
