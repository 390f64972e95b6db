#pragma once

// The cursor cache of --cache DIR: for each file and argument list, the records of its last
// parse, with the content hashes of what they depend on, in an SQLite database. A search whose
// files and headers hold the same bytes answers from it without loading libclang.

#include "cache/cursor_records.hpp"
#include "cache/entry_secret.hpp"
#include "cache/file_dependencies.hpp"
#include "cache/tree_root.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace search {

class remote_store;

using cache_key = std::array<unsigned char, 16>;

// What tells whether a file may have changed since it was hashed: one that changed in place
// has another size or time stamp, one that was replaced another inode.
struct file_state {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    std::uint64_t inode = 0;

    bool operator==(const file_state& other) const;
    bool operator!=(const file_state& other) const { return !(*this == other); }
};

// A file as this run found it: its state and, when it is a regular file that could be read,
// the hash of its bytes.
struct known_file {
    file_state state;
    bool hashed = false;
    std::uint64_t hash = 0;
};

class cursor_cache {
public:
    // Opens the cache in dir, creating dir (mode 0700) and its database (0600) if missing. When
    // the cache cannot be used, or others could change it (cache/cache_place.hpp), or its
    // database is not pyrn's, says why in one line on standard error and returns nothing.
    // Paths below root (absolute, lexically normal) are keyed relative to it.
    static std::unique_ptr<cursor_cache> open(const std::string& dir, const std::string& root);
    // A cache without a local tier, for a remote one alone: hashes are taken again each run.
    static std::unique_ptr<cursor_cache> without_directory(const std::string& root);
    // Lookups that the local tier cannot answer go to store, and every entry stored goes there
    // too.
    void add_remote(std::unique_ptr<remote_store> store);
    // From now on entries are stored with a MAC under secret, and only entries whose MAC holds
    // are taken, from either tier.
    void authenticate_with(const entry_secret& secret);
    // Keeps the hashes this run found for files whose state the database did not know.
    ~cursor_cache();
    cursor_cache(const cursor_cache&) = delete;
    cursor_cache& operator=(const cursor_cache&) = delete;

    // The key of a file's entry: its path, its libclang arguments, the directory pyrn runs in
    // (relative arguments mean it), each relative to the root where below it, the hash of the
    // libclang library's bytes and the road of its parse (empty for the full parse).
    cache_key key_for(std::string_view absolute_path, const std::vector<const char*>& arguments,
                      std::string_view road = {}) const;

    // The records of the key's entry, when it is whole, fits content and was made from it (by
    // its hash) with every file it depends on as it is now.
    bool find(const cache_key& key, std::uint64_t content_hash, std::string_view content,
              file_records& out);

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
    cursor_cache(std::string dir, const std::string& root);

    std::string dir;
    tree_root root;
    std::unique_ptr<remote_store> remote;
    std::optional<entry_secret> secret;
    std::string identity; // of the libclang library and the working directory
    sqlite3* database = nullptr;
    sqlite3_stmt* select = nullptr;
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* select_hash = nullptr;
    std::mutex database_lock;
    std::atomic<bool> failed{false}; // a write failed: said once, then no more writes
    // Entries not yet written, while another process held the database; up to the limit.
    static constexpr std::size_t unwritten_limit = 64u << 20;
    std::vector<std::pair<cache_key, std::string>> unwritten;
    std::size_t unwritten_size = 0;

    // Each file as found once per run: most files include the same headers. The hashes of
    // files whose state the database did not know wait in fresh until the cache closes.
    std::mutex files_lock;
    std::unordered_map<std::string, known_file> files;
    std::vector<std::pair<std::string, known_file>> fresh;

    bool prepare(std::string& reason);
    bool take_format(std::string& reason);
    std::string identity_of_run();
    bool find_remote(const cache_key& key, std::uint64_t content_hash, std::string_view content,
                     file_records& out);
    void write_unwritten(int wait_ms);
    const known_file& current(const std::string& path);
    bool remembered_hash(const std::string& path, const file_state& state, std::uint64_t& hash);
    void remember_fresh_hashes();
    bool still_valid(const std::vector<std::pair<std::string, std::uint64_t>>& included,
                     const std::vector<std::string>& absent);
    void fail(const char* reason);
};

} // namespace search
