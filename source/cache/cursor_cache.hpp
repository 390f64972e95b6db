#pragma once

// The cursor cache of --cache DIR: for each file and argument list, the records of its last
// parse, with what they depend on, in an SQLite database. A search whose files and headers are
// unchanged answers from it without loading libclang.

#include "cache/cursor_records.hpp"
#include "cache/file_dependencies.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace search {

using cache_key = std::array<unsigned char, 16>;

// What a file is judged by: one that changed in place has another size or time stamp, one
// that was replaced another inode.
struct file_state {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    std::uint64_t inode = 0;

    bool operator==(const file_state& other) const;
    bool operator!=(const file_state& other) const { return !(*this == other); }
};

class cursor_cache {
public:
    // Opens the cache in dir, creating dir (mode 0700) and its database (0600) if missing. When
    // the cache cannot be used, or others could change it (cache/cache_place.hpp), or its
    // database is not pyrn's, says why in one line on standard error and returns nothing.
    static std::unique_ptr<cursor_cache> open(const std::string& dir);
    ~cursor_cache();
    cursor_cache(const cursor_cache&) = delete;
    cursor_cache& operator=(const cursor_cache&) = delete;

    // The key of a file's entry: its absolute path, its libclang arguments, the directory pyrn
    // runs in (relative arguments mean it), the libclang library and the road of its parse
    // (empty for the full parse).
    cache_key key_for(std::string_view absolute_path, const std::vector<const char*>& arguments,
                      std::string_view road = {}) const;

    // The records of the key's entry, when it is whole and was made from this content (by
    // its hash) with every file it depends on as it is now.
    bool find(const cache_key& key, std::uint64_t content_hash, file_records& out);

    // Stores the records of a parse that started at parse_start (CLOCK_REALTIME_COARSE). Not
    // stored when a file it read changed from then on, since the parse may have seen either.
    void store(const cache_key& key, std::uint64_t content_hash, const std::string& absolute_path,
               const file_records& records, const file_dependencies& dependencies,
               const timespec& parse_start);

    // Hands the value stored under a key of the caller's own to use, in place, while the
    // database is held; false when there is none or use returns false. find keeps files'
    // entries this way, and store_value stores a value.
    bool read_value(const cache_key& key, const std::function<bool(std::string_view)>& use);
    void store_value(const cache_key& key, std::string_view value);

private:
    explicit cursor_cache(std::string dir);

    std::string dir;
    std::string identity; // of the libclang library and the working directory
    sqlite3* database = nullptr;
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* insert = nullptr;
    std::mutex database_lock;
    std::atomic<bool> failed{false}; // a write failed: said once, then no more writes

    // The state of each file, taken once per run: most files include the same headers.
    std::mutex states_lock;
    std::unordered_map<std::string, file_state> states;

    bool prepare(std::string& reason);
    bool take_format(std::string& reason);
    const file_state& current_state(const std::string& path);
    bool still_valid(const std::vector<std::pair<std::string, file_state>>& included,
                     const std::vector<std::string>& absent);
    void fail(const char* reason);
};

} // namespace search
