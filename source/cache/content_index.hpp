#pragma once

// The index of files' contents in the cache (trigrams.sqlite, beside the cursors): per file
// state (device, inode, size, modification and change times), the hash of the file's bytes and
// their trigrams, in SQLite's FTS5 with its trigram tokenizer (a contentless table, without
// positions). A search for bytes then reads only the files that may hold them and those it does
// not know in their present state; the search confirms each one read on its bytes.

#include "cache/file_state.hpp"
#include "cache/sqlite_statement.hpp"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;

namespace search {

class content_index {
public:
    // Whether this SQLite has FTS5 and its trigram tokenizer; without them there is no index.
    static bool available();
    // Opens the index beside database (a path of private_database_path), creating it; nothing,
    // after one line naming it below dir, when it cannot be used.
    static std::unique_ptr<content_index> open(const std::string& database, const std::string& dir);
    // Writes what waits, when the database is free within a moment.
    ~content_index();
    content_index(const content_index&) = delete;
    content_index& operator=(const content_index&) = delete;

    // Whether a needle can narrow a search: three bytes or more, ASCII without NUL.
    static bool narrows_by(std::string_view needle);
    // Takes the states known and, when needle can narrow the search (three bytes or more, ASCII
    // without NUL), which of their files may hold it. Once, before any file is read.
    void prepare(std::string_view needle);
    // Whether this run knows files that cannot hold the needle, a quarter of those it knows or
    // more: then the state of each file is taken before it is read.
    bool narrows() const { return narrowing; }
    // Whether the file in this state is known and cannot hold the needle: it need not be read.
    bool cannot_hold(const file_state& state) const;
    // The hash of the bytes of the file in this state, when it is known and the index narrows.
    bool known_hash(const file_state& state, std::uint64_t& hash) const;
    // A file read whole in state, taken at or after tick_start (coarse_now_ns): kept unless it
    // is known in that state, changed within the tick before, or holds a NUL byte (where the
    // tokenizer stops).
    void add(const file_state& state, std::int64_t tick_start, std::string_view content);

private:
    struct file_id {
        std::uint64_t device;
        std::uint64_t inode;
        bool operator==(const file_id& other) const {
            return device == other.device && inode == other.inode;
        }
    };
    struct file_id_hash {
        std::size_t operator()(const file_id& id) const {
            return std::hash<std::uint64_t>()(id.inode * 31 + id.device);
        }
    };
    struct known_state {
        file_state state;
        std::int64_t document = 0;
        std::uint64_t hash = 0;
        bool may_hold = true;
    };
    struct waiting_file {
        file_state state;
        std::uint64_t hash;
        std::string content;
    };

    content_index(std::string shown, sqlite3* database)
        : shown(std::move(shown)), database(database) {}
    bool take_format(std::string& reason);
    void drop_dead_documents();
    void load_states();
    void mark_candidates(std::string_view needle);
    void write(std::vector<waiting_file>& files, int wait_ms);

    std::string shown; // the index's path as said
    sqlite3* database;
    sqlite_statement insert_state;
    sqlite_statement insert_trigrams;
    // Read-only once prepared: the workers consult it without a lock.
    std::unordered_map<file_id, known_state, file_id_hash> known;
    bool narrowing = false;

    std::mutex waiting_lock;
    std::vector<waiting_file> waiting;
    std::size_t waiting_bytes = 0;
    std::mutex write_lock;
    bool write_failed = false; // said once; guarded by write_lock
};

} // namespace search
