#include "cache/cursor_cache.hpp"

#include "base/messages.hpp"
#include "cache/cache_place.hpp"
#include "cache/remote_store.hpp"
#include "match/kinds.hpp"
#include "clang/libclang_loader.hpp"

#include <fmt/format.h>
#include <sqlite3.h>
#include <xxhash.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace search {

namespace {

namespace fs = std::filesystem;

// Raised whenever the layout of an entry or of the database changes: entries of another
// version are never read, and a database of another version is emptied.
constexpr std::uint32_t format_version = 8;
// What marks a database as pyrn's cache ("pyrn"); no other database is ever changed.
constexpr std::int32_t application_id = 0x7079726e;
constexpr const char* not_ours = "not a database of pyrn's cache";
// The tables pyrn creates; macros so that the statements holding them stay literals.
#define PYRN_ENTRIES_TABLE "CREATE TABLE entries (key BLOB PRIMARY KEY, value BLOB NOT NULL)"
#define PYRN_HASHES_TABLE                                                                          \
    "CREATE TABLE hashes (path TEXT PRIMARY KEY, size INTEGER, modified INTEGER, "                 \
    "changed INTEGER, inode INTEGER, hash INTEGER) WITHOUT ROWID"
constexpr char magic[8] = {'p', 'y', 'r', 'n', 'c', 'u', 'r', 's'};

struct entry_header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t record_count;
    std::uint64_t checksum; // of everything after the header
    cache_key key;          // an entry stored under another key is foreign
    std::uint64_t content_hash;
    std::uint32_t included_count;
    std::uint32_t absent_count;
    std::uint32_t arena_size;
    std::uint32_t mac_size; // of the MAC after the body, 0 for an entry stored without a key
};

struct stored_dependency {
    std::uint32_t path_offset;
    std::uint32_t path_length;
    std::uint64_t hash; // of the file's bytes
};

struct stored_absence {
    std::uint32_t path_offset;
    std::uint32_t path_length;
};

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

template <class T> void append(std::string& blob, const T& value) {
    blob.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads the next count values of T from blob at pos; false when the blob is too short.
template <class T>
bool take(std::string_view blob, std::size_t& pos, std::size_t count, std::vector<T>& out) {
    if (count > (blob.size() - pos) / sizeof(T)) {
        return false;
    }
    out.assign(count, T{});
    if (count > 0) { // an empty vector's data() may be null, which memcpy must not get
        std::memcpy(out.data(), blob.data() + pos, count * sizeof(T));
    }
    pos += count * sizeof(T);
    return true;
}

std::uint32_t add_text(std::string& arena, std::string_view text) {
    const auto offset = static_cast<std::uint32_t>(arena.size());
    arena.append(text);
    return offset;
}

bool within(std::uint32_t offset, std::uint32_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

// A decoded entry, before its dependencies are checked.
struct entry {
    file_records records;
    std::vector<std::pair<std::string, std::uint64_t>> included; // path and content hash
    std::vector<std::string> absent;
};

// The entry's bytes, followed by their MAC under secret when there is one.
std::string encode(const cache_key& key, std::uint64_t content_hash, const file_records& records,
                   const std::vector<std::pair<std::string, std::uint64_t>>& included,
                   const std::vector<std::string>& absent, const entry_secret* secret) {
    std::string arena = records.arena;
    std::vector<stored_dependency> dependencies;
    for (const auto& [path, hash] : included) {
        dependencies.push_back(
            {add_text(arena, path), static_cast<std::uint32_t>(path.size()), hash});
    }
    std::vector<stored_absence> absences;
    for (const std::string& path : absent) {
        absences.push_back({add_text(arena, path), static_cast<std::uint32_t>(path.size())});
    }
    entry_header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.version = format_version;
    header.record_count = static_cast<std::uint32_t>(records.records.size());
    header.key = key;
    header.content_hash = content_hash;
    header.included_count = static_cast<std::uint32_t>(dependencies.size());
    header.absent_count = static_cast<std::uint32_t>(absences.size());
    header.arena_size = static_cast<std::uint32_t>(arena.size());
    header.mac_size = secret != nullptr ? sizeof(entry_mac) : 0;
    std::string body;
    body.append(reinterpret_cast<const char*>(records.records.data()),
                records.records.size() * sizeof(cursor_record));
    body.append(reinterpret_cast<const char*>(dependencies.data()),
                dependencies.size() * sizeof(stored_dependency));
    body.append(reinterpret_cast<const char*>(absences.data()),
                absences.size() * sizeof(stored_absence));
    body.append(arena);
    header.checksum = XXH3_64bits(body.data(), body.size());
    std::string blob;
    append(blob, header);
    blob += body;
    if (secret != nullptr) {
        append(blob, mac_of(*secret, blob));
    }
    return blob;
}

// The records and dependencies after a header that was found to be this entry's.
bool decode_body(std::string_view blob, const entry_header& header, std::string_view content,
                 entry& out) {
    std::size_t pos = 0;
    std::vector<stored_dependency> dependencies;
    std::vector<stored_absence> absences;
    if (!take(blob, pos, header.record_count, out.records.records) ||
        !take(blob, pos, header.included_count, dependencies) ||
        !take(blob, pos, header.absent_count, absences) || blob.size() - pos != header.arena_size) {
        return false;
    }
    const std::string_view arena = blob.substr(pos);
    for (const stored_dependency& d : dependencies) {
        if (!within(d.path_offset, d.path_length, arena.size())) {
            return false;
        }
        out.included.emplace_back(std::string(arena.substr(d.path_offset, d.path_length)), d.hash);
    }
    for (const stored_absence& a : absences) {
        if (!within(a.path_offset, a.path_length, arena.size())) {
            return false;
        }
        out.absent.emplace_back(arena.substr(a.path_offset, a.path_length));
    }
    out.records.arena = std::string(arena);
    return records_fit(out.records, content);
}

// What a stored value is to a lookup: its entry, one made from other content (which a parse
// replaces), one without a MAC that holds under the search's secret, or no entry of this
// format and key at all.
enum class fit { whole, stale, unauthenticated, broken };

// Whether the entry's MAC, at the end of blob, holds under secret.
bool authentic(std::string_view blob, const entry_header& header, const entry_secret& secret) {
    entry_mac mac;
    if (header.mac_size != sizeof mac) {
        return false;
    }
    const std::size_t signed_size = blob.size() - sizeof mac;
    std::memcpy(mac.data(), blob.data() + signed_size, sizeof mac);
    return mac_holds(secret, blob.substr(0, signed_size), mac);
}

// The entry in blob, if it is whole, of this format, of this key and content, and, when there is
// a secret, authenticated under it.
fit decode(std::string_view blob, const cache_key& key, std::uint64_t content_hash,
           std::string_view content, const entry_secret* secret, entry& out) {
    entry_header header;
    if (blob.size() < sizeof header) {
        return fit::broken;
    }
    std::memcpy(&header, blob.data(), sizeof header);
    if (std::memcmp(header.magic, magic, sizeof magic) != 0 || header.version != format_version ||
        header.key != key || header.mac_size > blob.size() - sizeof header) {
        return fit::broken;
    }
    if (secret != nullptr && !authentic(blob, header, *secret)) {
        return fit::unauthenticated;
    }
    if (header.content_hash != content_hash) {
        return fit::stale;
    }
    const std::string_view body =
        blob.substr(sizeof header, blob.size() - sizeof header - header.mac_size);
    return header.checksum == XXH3_64bits(body.data(), body.size()) &&
                   decode_body(body, header, content, out)
               ? fit::whole
               : fit::broken;
}

file_state state_of(const struct stat& info) {
    return {true, static_cast<std::uint64_t>(info.st_size), nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim), static_cast<std::uint64_t>(info.st_ino)};
}

// The file's state, and whether it is a regular file, the only kind whose bytes are hashed:
// the others (a device, a FIFO) have no bytes that a parse read and kept.
file_state state_of(const char* path, bool& regular) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        regular = false;
        return {};
    }
    regular = S_ISREG(info.st_mode);
    return state_of(info);
}

file_state state_of(const char* path) {
    bool regular = false;
    return state_of(path, regular);
}

// The hash of the file's bytes, read in pieces, with the state of what was read; false when it
// cannot be read or is no longer a regular file. Opened without blocking, so that a FIFO put in
// its place holds nothing up.
bool hash_file(const char* path, file_state& state, std::uint64_t& hash) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    state = state_of(info);
    XXH3_state_t* hashing = XXH3_createState();
    XXH3_64bits_reset(hashing);
    char piece[1 << 16];
    ssize_t got = 0;
    while ((got = read(fd, piece, sizeof piece)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        XXH3_64bits_update(hashing, piece, static_cast<std::size_t>(got));
    }
    hash = XXH3_64bits_digest(hashing);
    XXH3_freeState(hashing);
    close(fd);
    return got == 0;
}

enum class database_state { current, outdated, empty, foreign };

bool single_integer(sqlite3* database, const char* sql, std::int64_t& value) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(database, sql, -1, &statement, nullptr) != SQLITE_OK) {
        return false;
    }
    const bool read = sqlite3_step(statement) == SQLITE_ROW;
    value = read ? sqlite3_column_int64(statement, 0) : 0;
    sqlite3_finalize(statement);
    return read;
}

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
        state = version == format_version ? database_state::current : database_state::outdated;
    } else if (id == 0 && version == 0 && objects == 0) {
        state = database_state::empty;
    } else {
        state = id == 0 && is_unmarked_cache(database) ? database_state::outdated
                                                       : database_state::foreign;
    }
    return true;
}

} // namespace

bool file_state::operator==(const file_state& other) const {
    return exists == other.exists && size == other.size && modified_ns == other.modified_ns &&
           changed_ns == other.changed_ns && inode == other.inode;
}

cursor_cache::cursor_cache(std::string dir, const std::string& root)
    : dir(std::move(dir)), root(root) {}

cursor_cache::~cursor_cache() {
    if (database != nullptr && select_hash != nullptr) {
        // Another search's write transaction is short; one that lasts longer costs the entries.
        write_unwritten(100);
        remember_fresh_hashes();
    }
    sqlite3_finalize(select_hash);
    sqlite3_finalize(select);
    sqlite3_finalize(insert);
    sqlite3_close(database);
}

std::unique_ptr<cursor_cache> cursor_cache::open(const std::string& dir, const std::string& root) {
    refusal why;
    const std::string file = private_database_path(dir, why);
    if (file.empty()) {
        report(why.subject, why.reason);
        return nullptr;
    }
    std::unique_ptr<cursor_cache> cache(new cursor_cache(dir, root));
    const std::string shown = (fs::path(dir) / database_name).native();
    // The file is there, made private: SQLite must neither create it nor follow a link to it.
    if (sqlite3_open_v2(file.c_str(), &cache->database,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                        nullptr) != SQLITE_OK) {
        report(shown, sqlite3_errmsg(cache->database));
        return nullptr;
    }
    std::string reason;
    if (!cache->prepare(reason)) {
        report(shown, reason);
        return nullptr;
    }
    cache->identity = cache->identity_of_run();
    return cache;
}

std::unique_ptr<cursor_cache> cursor_cache::without_directory(const std::string& root) {
    std::unique_ptr<cursor_cache> cache(new cursor_cache("", root));
    cache->identity = cache->identity_of_run();
    return cache;
}

void cursor_cache::add_remote(std::unique_ptr<remote_store> store) {
    remote = std::move(store);
}

void cursor_cache::authenticate_with(const entry_secret& key_secret) {
    secret = key_secret;
}

// WAL lets readers and one writer of several processes work at once, and a write that is cut
// off leaves the last whole state. Reads through a memory map copy each entry once.
bool cursor_cache::prepare(std::string& reason) {
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
                       sqlite3_prepare_v2(database, "SELECT value FROM entries WHERE key = ?", -1,
                                          &select, nullptr) == SQLITE_OK &&
                       sqlite3_prepare_v2(database, "INSERT OR REPLACE INTO entries VALUES (?, ?)",
                                          -1, &insert, nullptr) == SQLITE_OK &&
                       sqlite3_prepare_v2(database,
                                          "SELECT size, modified, changed, inode, hash "
                                          "FROM hashes WHERE path = ?",
                                          -1, &select_hash, nullptr) == SQLITE_OK;
    if (!ready) {
        reason = sqlite3_errmsg(database);
    }
    return ready;
}

// A database of this format is used as it is, pyrn's own of another format is emptied and
// takes this one, a new one is set up; any other database is refused and left as it is.
bool cursor_cache::take_format(std::string& reason) {
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
    if (sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
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
            application_id, format_version);
        done = sqlite3_exec(database, reset.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    if (!done || sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (reason.empty()) {
            reason = sqlite3_errmsg(database);
        }
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

// What libclang and the working directory are known by. The library by its bytes, whose hash the
// database remembers as any file's: the same build at another place shares the entries, and
// finding it out loads nothing.
std::string cursor_cache::identity_of_run() {
    const known_file& library = current(libclang_library_path());
    std::error_code error;
    return fmt::format("{:016x}\n{}\n", library.hash, root.kept(fs::current_path(error).native()));
}

cache_key cursor_cache::key_for(std::string_view absolute_path,
                                const std::vector<const char*>& arguments,
                                std::string_view road) const {
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    auto add = [&](std::string_view text) {
        XXH3_128bits_update(state, text.data(), text.size());
        XXH3_128bits_update(state, "", 1); // the NUL keeps the pieces apart
    };
    add(identity);
    add(root.kept(absolute_path));
    for (const char* argument : arguments) {
        add(root.kept_argument(argument));
    }
    if (!road.empty()) {
        add(road);
    }
    const XXH128_hash_t hash = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    cache_key key;
    std::memcpy(key.data(), canonical.digest, key.size());
    return key;
}

bool cursor_cache::find(const cache_key& key, std::uint64_t content_hash, std::string_view content,
                        file_records& out) {
    entry found;
    const auto decoded = [&](std::string_view blob) {
        return decode(blob, key, content_hash, content, secret ? &*secret : nullptr, found) ==
               fit::whole;
    };
    if (read_value(key, decoded) && still_valid(found.included, found.absent)) {
        out = std::move(found.records);
        return true;
    }
    return remote && find_remote(key, content_hash, content, out);
}

// A remote entry is judged as a local one, and kept locally when it serves.
bool cursor_cache::find_remote(const cache_key& key, std::uint64_t content_hash,
                               std::string_view content, file_records& out) {
    std::string blob;
    if (!remote->find(key, blob)) {
        return false;
    }
    entry found;
    const fit judged = decode(blob, key, content_hash, content, secret ? &*secret : nullptr, found);
    if (judged == fit::broken) {
        remote->refuse_entry("an entry that is damaged or of another version was not used");
    } else if (judged == fit::unauthenticated) {
        remote->refuse_entry("an entry without a valid MAC under --cache-key was not used");
    }
    if (judged != fit::whole || !still_valid(found.included, found.absent)) {
        return false;
    }
    store_value(key, blob);
    out = std::move(found.records);
    return true;
}

// The value is decoded where SQLite keeps it: an entry is copied once, into its records.
bool cursor_cache::read_value(const cache_key& key,
                              const std::function<bool(std::string_view)>& use) {
    if (database == nullptr) {
        return false;
    }
    const std::lock_guard<std::mutex> hold(database_lock);
    sqlite3_bind_blob(select, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
    bool used = false;
    if (sqlite3_step(select) == SQLITE_ROW) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select, 0));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select, 0));
        used = bytes != nullptr && size > 0 && use(std::string_view(bytes, size));
    }
    sqlite3_reset(select);
    return used;
}

void cursor_cache::store(const cache_key& key, std::uint64_t content_hash,
                         const std::string& absolute_path, const file_records& records,
                         const file_dependencies& dependencies, const timespec& parse_start) {
    if (failed && !remote) {
        return;
    }
    const std::int64_t start = nanoseconds(parse_start);
    auto too_new = [&](const file_state& state) {
        return state.modified_ns >= start || state.changed_ns >= start;
    };
    if (too_new(state_of(absolute_path.c_str()))) {
        return;
    }
    std::vector<std::pair<std::string, std::uint64_t>> included;
    for (const std::string& path : dependencies.included) {
        const known_file& file = current(path);
        if (!file.hashed || too_new(file.state)) {
            return;
        }
        included.emplace_back(root.kept(path), file.hash);
    }
    std::vector<std::string> absent;
    for (const std::string& path : dependencies.absent) {
        absent.push_back(root.kept(path));
    }
    const std::string blob =
        encode(key, content_hash, records, included, absent, secret ? &*secret : nullptr);
    if (remote) {
        remote->store(key, blob);
    }
    store_value(key, blob);
}

void cursor_cache::store_value(const cache_key& key, std::string_view blob) {
    if (database == nullptr || failed) {
        return;
    }
    const std::lock_guard<std::mutex> hold(database_lock);
    if (unwritten_size + blob.size() <= unwritten_limit) {
        unwritten_size += blob.size();
        unwritten.emplace_back(key, std::string(blob));
    }
    write_unwritten(0);
}

// Writes the entries waiting, in one transaction, unless another process holds the database
// for longer than wait_ms: a search never waits on another's lock, and what it could not
// write waits for its next store or its end. The database is held.
void cursor_cache::write_unwritten(int wait_ms) {
    if (unwritten.empty() || failed) {
        return;
    }
    sqlite3_busy_timeout(database, wait_ms);
    int result = sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (result == SQLITE_BUSY) {
        return;
    }
    for (std::size_t i = 0; i < unwritten.size() && result == SQLITE_OK; ++i) {
        const auto& [key, blob] = unwritten[i];
        sqlite3_bind_blob(insert, 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
        sqlite3_bind_blob64(insert, 2, blob.data(), blob.size(), SQLITE_STATIC);
        result = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(database);
        sqlite3_reset(insert);
        sqlite3_clear_bindings(insert);
    }
    if (result == SQLITE_OK) {
        result = sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
    }
    if (result == SQLITE_OK) {
        unwritten.clear();
        unwritten_size = 0;
        return;
    }
    const int system_error = sqlite3_system_errno(database);
    const std::string reason =
        system_error != 0 ? std::strerror(system_error) : sqlite3_errstr(result);
    sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    if (result != SQLITE_BUSY) {
        fail(reason.c_str());
    }
}

// A file's state and hash, taken once per run; the hash is read again only when the database
// does not know the file in this state.
const known_file& cursor_cache::current(const std::string& path) {
    {
        const std::lock_guard<std::mutex> hold(files_lock);
        const auto found = files.find(path);
        if (found != files.end()) {
            return found->second;
        }
    }
    // Read outside the lock: two workers hashing one header at once cost a read, not a wait.
    timespec before{};
    clock_gettime(CLOCK_REALTIME_COARSE, &before);
    known_file file;
    bool regular = false;
    file.state = state_of(path.c_str(), regular);
    bool fresh_hash = false;
    if (regular && remembered_hash(path, file.state, file.hash)) {
        file.hashed = true;
    } else if (regular) {
        file.hashed = hash_file(path.c_str(), file.state, file.hash);
        // A file changed within the clock's tick before its state was taken could change
        // again with the same state: its hash is not kept for later runs.
        const std::int64_t tick_start = nanoseconds(before);
        fresh_hash = file.hashed && file.state.modified_ns < tick_start &&
                     file.state.changed_ns < tick_start;
    }
    const std::lock_guard<std::mutex> hold(files_lock);
    const auto [found, added] = files.try_emplace(path, file);
    if (added && fresh_hash) {
        fresh.emplace_back(path, file);
    }
    return found->second;
}

bool cursor_cache::remembered_hash(const std::string& path, const file_state& state,
                                   std::uint64_t& hash) {
    if (database == nullptr) {
        return false;
    }
    const std::lock_guard<std::mutex> hold(database_lock);
    sqlite3_bind_text(select_hash, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
    bool known = false;
    if (sqlite3_step(select_hash) == SQLITE_ROW) {
        const file_state stored{
            true, static_cast<std::uint64_t>(sqlite3_column_int64(select_hash, 0)),
            sqlite3_column_int64(select_hash, 1), sqlite3_column_int64(select_hash, 2),
            static_cast<std::uint64_t>(sqlite3_column_int64(select_hash, 3))};
        known = stored == state;
        hash = static_cast<std::uint64_t>(sqlite3_column_int64(select_hash, 4));
    }
    sqlite3_reset(select_hash);
    return known;
}

// One transaction for all of them, and only when the database is free at once: a search never
// waits to keep hashes, which the next search can take again.
void cursor_cache::remember_fresh_hashes() {
    if (fresh.empty() || failed) {
        return;
    }
    sqlite3_busy_timeout(database, 0);
    sqlite3_stmt* insert_hash = nullptr;
    if (sqlite3_exec(database, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return;
    }
    if (sqlite3_prepare_v2(database, "INSERT OR REPLACE INTO hashes VALUES (?, ?, ?, ?, ?, ?)", -1,
                           &insert_hash, nullptr) == SQLITE_OK) {
        for (const auto& [path, file] : fresh) {
            sqlite3_bind_text(insert_hash, 1, path.data(), static_cast<int>(path.size()),
                              SQLITE_STATIC);
            sqlite3_bind_int64(insert_hash, 2, static_cast<sqlite3_int64>(file.state.size));
            sqlite3_bind_int64(insert_hash, 3, file.state.modified_ns);
            sqlite3_bind_int64(insert_hash, 4, file.state.changed_ns);
            sqlite3_bind_int64(insert_hash, 5, static_cast<sqlite3_int64>(file.state.inode));
            sqlite3_bind_int64(insert_hash, 6, static_cast<sqlite3_int64>(file.hash));
            sqlite3_step(insert_hash);
            sqlite3_reset(insert_hash);
        }
    }
    sqlite3_finalize(insert_hash);
    if (sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
        sqlite3_exec(database, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

bool cursor_cache::still_valid(const std::vector<std::pair<std::string, std::uint64_t>>& included,
                               const std::vector<std::string>& absent) {
    for (const auto& [path, hash] : included) {
        const known_file& file = current(root.here(path));
        if (!file.hashed || file.hash != hash) {
            return false;
        }
    }
    for (const std::string& path : absent) {
        if (current(root.here(path)).state.exists) {
            return false;
        }
    }
    return true;
}

void cursor_cache::fail(const char* reason) {
    if (!failed.exchange(true)) {
        report(dir, reason);
    }
}

} // namespace search
