#include "cache/sqlite_store.hpp"

#include "base/messages.hpp"
#include "cache/cache_place.hpp"

#include <fmt/format.h>
#include <sqlite3.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>

namespace search {

namespace {

// Raised whenever the database's tables change: a database of another version is emptied.
constexpr std::uint32_t schema_version = 8;
// What marks a database as pyrn's cache ("pyrn"); no other database is ever changed.
constexpr std::int32_t application_id = 0x7079726e;
constexpr const char* not_ours = "not a database of pyrn's cache";
// The tables pyrn creates; macros so that the statements holding them stay literals.
#define PYRN_ENTRIES_TABLE "CREATE TABLE entries (key BLOB PRIMARY KEY, value BLOB NOT NULL)"
#define PYRN_HASHES_TABLE                                                                          \
    "CREATE TABLE hashes (path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, "                 \
    "changed INTEGER, inode INTEGER, hash INTEGER) WITHOUT ROWID"

enum class database_state { current, outdated, empty, foreign };

// Caches written before databases were marked hold pyrn's entries table and, at most, its
// table of hashes, and nothing else.
bool is_unmarked_cache(sqlite3* database) {
    std::int64_t tables = 0;
    std::int64_t entries = 0;
    std::int64_t ours = 0;
    return single_integer(database, "SELECT count(*) FROM sqlite_master WHERE type = 'table'",
                          tables) &&
           single_integer(database,
                          "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND sql = "
                          "'" PYRN_ENTRIES_TABLE "'",
                          entries) &&
           single_integer(database,
                          "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND sql IN "
                          "('" PYRN_ENTRIES_TABLE "', '" PYRN_HASHES_TABLE "')",
                          ours) &&
           entries == 1 && tables == ours;
}

// What a database holds, read without changing it; false when it cannot be read.
bool read_state(sqlite3* database, database_state& state) {
    std::int64_t id = 0;
    std::int64_t version = 0;
    std::int64_t objects = 0;
    if (!single_integer(database, "PRAGMA application_id", id) ||
        !single_integer(database, "PRAGMA user_version", version) ||
        !single_integer(database, "SELECT count(*) FROM sqlite_master", objects)) {
        return false;
    }
    if (id == application_id) {
        state = version == schema_version ? database_state::current : database_state::outdated;
    } else if (id == 0 && version == 0 && objects == 0) {
        state = database_state::empty;
    } else {
        state = id == 0 && is_unmarked_cache(database) ? database_state::outdated
                                                       : database_state::foreign;
    }
    return true;
}

} // namespace

std::unique_ptr<sqlite_store> sqlite_store::open(const std::string& dir) {
    refusal why;
    const std::string file = private_database_path(dir, why);
    if (file.empty()) {
        report(why.subject, why.reason);
        return nullptr;
    }
    std::unique_ptr<sqlite_store> store(new sqlite_store(dir, file));
    const std::string shown = (std::filesystem::path(dir) / database_name).native();
    // The file is there, made private: SQLite must neither create it nor follow a link to it.
    if (sqlite3_open_v2(file.c_str(), &store->database,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        report(shown, sqlite3_errmsg(store->database));
        return nullptr;
    }
    std::string reason;
    if (!store->prepare(reason)) {
        report(shown, reason);
        return nullptr;
    }
    return store;
}

sqlite_store::~sqlite_store() {
    sqlite3_close_v2(database);
}

// WAL lets readers and one writer of several processes work at once, and a write that is cut
// off leaves the last whole state. Reads through a memory map copy each entry once.
bool sqlite_store::prepare(std::string& reason) {
    sqlite3_busy_timeout(database, 10'000);
    // Nothing is written to a database before it is known to be pyrn's.
    if (!take_format(reason)) {
        return false;
    }
    // Two processes creating the database at once can find the journal mode locked, which
    // the busy timeout does not cover: the set-up is tried again.
    int result = SQLITE_BUSY;
    for (int attempt = 0; attempt < 50 && (result == SQLITE_BUSY || result == SQLITE_LOCKED);
         ++attempt) {
        result = sqlite3_exec(database,
                              "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                              "PRAGMA mmap_size=1073741824;",
                              nullptr, nullptr, nullptr);
        if (result != SQLITE_OK) {
            usleep(20'000);
        }
    }
    // From now on nothing waits on another process: a read needs no lock but in the moment a
    // crashed writer's log is recovered, and writes wait for their turn in memory.
    sqlite3_busy_timeout(database, 0);
    const bool ready = result == SQLITE_OK &&
                       select.prepare(database, "SELECT value FROM entries WHERE key = ?") &&
                       insert.prepare(database, "INSERT OR REPLACE INTO entries VALUES (?, ?)") &&
                       select_hashes.prepare(database, "SELECT path, size, modified, changed, "
                                                       "inode, hash FROM hashes");
    if (!ready) {
        reason = sqlite3_errmsg(database);
    }
    return ready;
}

// A database of this format is used as it is, pyrn's own of another format is emptied and
// takes this one, a new one is set up; any other database is refused and left as it is.
bool sqlite_store::take_format(std::string& reason) {
    database_state state{};
    if (!read_state(database, state)) {
        reason = sqlite3_errmsg(database);
        return false;
    }
    if (state == database_state::current) {
        return true;
    }
    if (state == database_state::foreign) {
        reason = not_ours;
        return false;
    }
    // Taken only by a database that is still empty. An entry is some 20 KB: in pages of 8 KB it
    // spans half as many pages as in SQLite's 4 KB, which a search of hundreds of entries
    // feels; 16 KB gained nothing more.
    sqlite3_exec(database, "PRAGMA page_size = 8192", nullptr, nullptr, nullptr);
    write_transaction transaction(database);
    if (transaction.began() != SQLITE_OK) {
        reason = sqlite3_errmsg(database);
        return false;
    }
    // Another pyrn may have set it up in the meantime.
    bool done = read_state(database, state);
    if (done && state == database_state::foreign) {
        reason = not_ours;
        done = false;
    } else if (done && state != database_state::current) {
        const std::string reset = fmt::format(
            "DROP TABLE IF EXISTS entries; DROP TABLE IF EXISTS hashes; " PYRN_ENTRIES_TABLE
            "; " PYRN_HASHES_TABLE "; "
            "PRAGMA application_id = {}; PRAGMA user_version = {};",
            application_id, schema_version);
        done = sqlite3_exec(database, reset.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (!done || transaction.commit() != SQLITE_OK) {
        if (reason.empty()) {
            reason = sqlite3_errmsg(database);
        }
        return false;
    }
    return true;
}

// The statement is finalized after the close, which SQLite defers until it is.
sqlite_store::reader::~reader() {
    sqlite3_close_v2(connection);
}

// An idle reader, or a new one; nothing when none can be opened.
std::unique_ptr<sqlite_store::reader> sqlite_store::take_reader() {
    {
        const std::lock_guard<std::mutex> hold(readers_lock);
        if (!idle_readers.empty()) {
            std::unique_ptr<reader> idle = std::move(idle_readers.back());
            idle_readers.pop_back();
            return idle;
        }
    }
    auto opened = std::make_unique<reader>();
    if (sqlite3_open_v2(path.c_str(), &opened->connection,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK ||
        sqlite3_exec(opened->connection, "PRAGMA mmap_size=1073741824;", nullptr, nullptr,
                     nullptr) != SQLITE_OK ||
        !opened->select.prepare(opened->connection, "SELECT value FROM entries WHERE key = ?")) {
        return nullptr;
    }
    return opened;
}

// A read transaction spans many entries, whose reads then take no lock of their own; it ends
// after a moment, so that it holds back neither the log's checkpoints nor newer entries.
void sqlite_store::reader::keep_reading() {
    constexpr std::int64_t longest_ns = 100'000'000;
    const std::int64_t now = coarse_now_ns();
    if (now - reading_since_ns > longest_ns) {
        stop_reading();
    }
    if (reading_since_ns == 0 &&
        sqlite3_exec(connection, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {
        reading_since_ns = now;
    }
}

void sqlite_store::reader::stop_reading() {
    if (reading_since_ns != 0) {
        sqlite3_exec(connection, "COMMIT", nullptr, nullptr, nullptr);
        reading_since_ns = 0;
    }
}

// An idle reader's read transaction would keep a write's checkpoint from the log's end.
void sqlite_store::end_idle_reads() {
    const std::lock_guard<std::mutex> hold(readers_lock);
    for (const std::unique_ptr<reader>& idle : idle_readers) {
        idle->stop_reading();
    }
}

void sqlite_store::give_back(std::unique_ptr<reader> idle) {
    const std::lock_guard<std::mutex> hold(readers_lock);
    idle_readers.push_back(std::move(idle));
}

// Each thread reads on a connection of its own, as WAL lets them read side by side. The value
// is used where SQLite put it, which lasts until the statement is reset: an entry is copied
// once, not twice.
bool sqlite_store::find(const cache_key& key, const value_use& use) {
    std::unique_ptr<reader> own = take_reader();
    if (!own) {
        return find_shared(key, use);
    }
    own->keep_reading();
    bool used = false;
    {
        statement_run run(own->select);
        run.bind_blob(1, key.data(), key.size());
        if (run.step() == SQLITE_ROW) {
            const std::string_view value = run.blob(0);
            used = !value.empty() && use(value);
        }
    }
    give_back(std::move(own));
    return used;
}

// On the shared connection, under its lock; the value is used after it, since using it may
// read the database again.
bool sqlite_store::find_shared(const cache_key& key, const value_use& use) {
    std::string value;
    {
        const std::lock_guard<std::mutex> hold(lock);
        statement_run run(select);
        run.bind_blob(1, key.data(), key.size());
        if (run.step() == SQLITE_ROW) {
            value.assign(run.blob(0));
        }
    }
    return !value.empty() && use(value);
}

void sqlite_store::store(const cache_key& key, std::string_view value) {
    if (write_failed) {
        return;
    }
    const std::lock_guard<std::mutex> hold(lock);
    if (unwritten_size + value.size() <= unwritten_limit) {
        unwritten_size += value.size();
        unwritten.emplace_back(key, std::string(value));
    }
    write_unwritten(0);
}

void sqlite_store::write_waiting(int wait_ms) {
    const std::lock_guard<std::mutex> hold(lock);
    write_unwritten(wait_ms);
}

// Writes the entries waiting, in one transaction, unless another process holds the database
// for longer than wait_ms: a search never waits on another's lock, and what it could not
// write waits for its next store or its end. The lock is held.
void sqlite_store::write_unwritten(int wait_ms) {
    if (unwritten.empty() || write_failed) {
        return;
    }
    end_idle_reads();
    const int result = write_rows(database, wait_ms, unwritten.size(), [&](std::size_t i) {
        const auto& [key, value] = unwritten[i];
        statement_run run(insert);
        run.bind_blob(1, key.data(), key.size()).bind_blob(2, value.data(), value.size());
        return written(run, database);
    });
    if (result == SQLITE_OK) {
        unwritten.clear();
        unwritten_size = 0;
    } else if (result != SQLITE_BUSY) {
        fail(write_failure(database, result));
    }
}

bool sqlite_store::remembered_hash(const std::string& path, const file_state& state,
                                   std::uint64_t& hash) {
    // Read once, then only read: no lock but the database's while it is read.
    std::call_once(hashes_loaded, [this] {
        const std::lock_guard<std::mutex> hold(lock);
        load_hashes();
    });
    const auto found = hashes.find(path);
    if (found == hashes.end()) {
        return false;
    }
    // The table keeps no device: a path names one file of one file system at a time.
    file_state stored = found->second.state;
    stored.device = state.device;
    hash = found->second.hash;
    return stored == state;
}

// The hashes kept, all read at once: an entry's check asks for hundreds of headers, and a
// query each would cost a read transaction each.
void sqlite_store::load_hashes() {
    statement_run run(select_hashes);
    while (run.step() == SQLITE_ROW) {
        known_file file;
        file.state = {true,           static_cast<std::uint64_t>(run.integer(1)), run.integer(2),
                      run.integer(3), static_cast<std::uint64_t>(run.integer(4)), 0};
        file.hash = static_cast<std::uint64_t>(run.integer(5));
        file.hashed = true;
        hashes.emplace(std::string(run.blob(0)), file);
    }
}

void sqlite_store::remember_hashes(const std::vector<std::pair<std::string, known_file>>& files) {
    if (files.empty() || write_failed) {
        return;
    }
    const std::lock_guard<std::mutex> hold(lock);
    sqlite_statement insert_hash;
    if (!insert_hash.prepare(database, "INSERT OR REPLACE INTO hashes VALUES (?, ?, ?, ?, ?, ?)")) {
        return;
    }
    // A hash that is not kept is taken again by a later search.
    write_rows(database, 0, files.size(), [&](std::size_t i) {
        const auto& [path, file] = files[i];
        statement_run run(insert_hash);
        run.bind_text(1, path)
            .bind_integer(2, static_cast<std::int64_t>(file.state.size))
            .bind_integer(3, file.state.modified_ns)
            .bind_integer(4, file.state.changed_ns)
            .bind_integer(5, static_cast<std::int64_t>(file.state.inode))
            .bind_integer(6, static_cast<std::int64_t>(file.hash));
        run.step();
        return SQLITE_OK;
    });
}

void sqlite_store::fail(const char* reason) {
    if (!write_failed.exchange(true)) {
        report(dir, reason);
    }
}

} // namespace search
