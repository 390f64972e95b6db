#include "cache/content_index.hpp"

#include "base/messages.hpp"
#include "cache/cache_place.hpp"

#include <fmt/format.h>
#include <sqlite3.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace search {

namespace {

constexpr const char* index_name = "trigrams.sqlite";
// Raised whenever the index's tables change: an index of another version is emptied.
constexpr std::int64_t index_version = 1;
constexpr std::int64_t application_id = 0x7079726e; // "pyrn", as the cursors' database
// Files waiting to be indexed are written once they come to this many bytes, and dropped beyond
// the limit while another process holds the index.
constexpr std::size_t write_batch = 8u << 20;
constexpr std::size_t waiting_limit = 64u << 20;
// Documents of files' earlier states stay in a contentless index; once they outnumber the live
// ones by this much, the index starts again.
constexpr std::int64_t dead_allowance = 4096;

constexpr const char* create_tables =
    "DROP TABLE IF EXISTS file_trigrams; DROP TABLE IF EXISTS file_states; "
    "CREATE TABLE file_states (document INTEGER PRIMARY KEY AUTOINCREMENT, "
    "device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL, "
    "modified INTEGER NOT NULL, changed INTEGER NOT NULL, hash INTEGER NOT NULL, "
    "UNIQUE (device, inode)); "
    "CREATE VIRTUAL TABLE file_trigrams USING fts5(content, content='', detail='none', "
    "columnsize=0, tokenize='trigram case_sensitive 1');";

// How rare each printable ASCII byte is in C and C++ sources, from space to tilde: about
// -log2 of its share of the bytes of two real trees.
constexpr std::uint8_t byte_rarity[95] = {
    2,  10, 7,  10, 15, 11, 9,  11, 6,  6,  7,  10, 6,  8,  7,  7, 7,  8, 9,  9, 9,  10, 9, 11,
    10, 11, 7,  7,  9,  8,  8,  13, 13, 8,  8,  7,  8,  7,  8,  9, 10, 8, 11, 9, 8,  9,  8, 8,
    8,  11, 7,  7,  7,  9,  10, 10, 11, 11, 13, 10, 10, 10, 15, 5, 13, 5, 7,  5, 6,  4,  6, 7,
    6,  5,  10, 7,  5,  6,  5,  5,  6,  10, 5,  5,  4,  6,  7,  8, 7,  7, 9,  8, 10, 8,  14};

int rarity(std::string_view trigram) {
    int sum = 0;
    for (const char byte : trigram) {
        sum += byte >= ' ' && byte <= '~' ? byte_rarity[byte - ' '] : 15;
    }
    return sum;
}

// Up to this many of a needle's trigrams are asked of the index.
constexpr std::size_t trigrams_asked = 6;

// The positions of the needle's trigrams that the index is asked for: the rarest first, and
// those that overlap none chosen before the others, as they rule out files more apart.
std::vector<std::size_t> chosen_trigrams(std::string_view needle) {
    std::vector<std::size_t> by_rarity;
    for (std::size_t at = 0; at + 3 <= needle.size(); ++at) {
        by_rarity.push_back(at);
    }
    std::stable_sort(by_rarity.begin(), by_rarity.end(), [&](std::size_t a, std::size_t b) {
        return rarity(needle.substr(a, 3)) > rarity(needle.substr(b, 3));
    });
    std::vector<std::size_t> chosen;
    auto choose = [&](bool apart) {
        for (const std::size_t at : by_rarity) {
            const bool taken = std::find(chosen.begin(), chosen.end(), at) != chosen.end();
            const bool overlaps = std::any_of(chosen.begin(), chosen.end(), [at](std::size_t c) {
                return at + 3 > c && c + 3 > at;
            });
            if (chosen.size() < trigrams_asked && !taken && !(apart && overlaps)) {
                chosen.push_back(at);
            }
        }
    };
    choose(true);
    choose(false);
    return chosen;
}

// The chosen trigrams in FTS5's query syntax: a file holding the needle holds them all, and
// the index reads only their lists of files, the shortest ones; the files they let through
// are confirmed on their bytes.
std::string trigram_query(std::string_view needle) {
    std::string query;
    for (const std::size_t at : chosen_trigrams(needle)) {
        query += query.empty() ? "\"" : " AND \"";
        for (const char byte : needle.substr(at, 3)) {
            query += byte == '"' ? std::string("\"\"") : std::string(1, byte);
        }
        query += '"';
    }
    return query;
}

} // namespace

// Trigrams of ASCII characters, which the tokenizer reads as they are, whatever bytes stand
// around them.
bool content_index::narrows_by(std::string_view needle) {
    if (needle.size() < 3) {
        return false;
    }
    for (const char byte : needle) {
        if (byte <= 0) { // NUL, or not ASCII
            return false;
        }
    }
    return true;
}

bool content_index::available() {
    // The trigram tokenizer came with 3.34.
    return sqlite3_libversion_number() >= 3'034'000 && sqlite3_compileoption_used("ENABLE_FTS5");
}

std::unique_ptr<content_index> content_index::open(const std::string& database,
                                                   const std::string& dir) {
    refusal why;
    const std::string file = private_database_beside(database, dir, index_name, why);
    if (file.empty()) {
        report(why.subject, why.reason);
        return nullptr;
    }
    sqlite3* connection = nullptr;
    const int opened = sqlite3_open_v2(
        file.c_str(), &connection,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
    std::unique_ptr<content_index> index(
        new content_index((std::filesystem::path(dir) / index_name).native(), connection));
    std::string reason;
    if (opened != SQLITE_OK || !index->take_format(reason)) {
        report(index->shown, reason.empty() ? sqlite3_errmsg(connection) : reason);
        return nullptr;
    }
    return index;
}

content_index::~content_index() {
    std::vector<waiting_file> files;
    files.swap(waiting);
    write(files, 100);
    sqlite3_close_v2(database);
}

// An index of this version is used as it is; pyrn's of another version, or a new one, gets
// these tables; any other database is refused.
bool content_index::take_format(std::string& reason) {
    sqlite3_busy_timeout(database, 10'000);
    std::int64_t id = 0;
    std::int64_t version = 0;
    std::int64_t objects = 0;
    if (!single_integer(database, "PRAGMA application_id", id) ||
        !single_integer(database, "PRAGMA user_version", version) ||
        !single_integer(database, "SELECT count(*) FROM sqlite_master", objects)) {
        return false;
    }
    if (id != application_id && (id != 0 || objects != 0)) {
        reason = "not a database of pyrn's cache";
        return false;
    }
    if (id != application_id || version != index_version) {
        write_transaction transaction(database);
        const std::string set_up =
            fmt::format("{} PRAGMA application_id = {}; PRAGMA user_version = {};", create_tables,
                        application_id, index_version);
        if (transaction.began() != SQLITE_OK ||
            sqlite3_exec(database, set_up.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
            transaction.commit() != SQLITE_OK) {
            return false;
        }
    }
    if (sqlite3_exec(database,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                     "PRAGMA mmap_size=1073741824;",
                     nullptr, nullptr, nullptr) != SQLITE_OK) {
        return false;
    }
    sqlite3_busy_timeout(database, 0);
    return insert_state.prepare(database,
                                "INSERT OR REPLACE INTO file_states (device, inode, size, "
                                "modified, changed, hash) VALUES (?, ?, ?, ?, ?, ?)") &&
           insert_trigrams.prepare(database,
                                   "INSERT INTO file_trigrams (rowid, content) VALUES (?, ?)");
}

void content_index::prepare(std::string_view needle) {
    drop_dead_documents();
    // One snapshot: a state read has its document.
    sqlite3_exec(database, "BEGIN", nullptr, nullptr, nullptr);
    load_states();
    if (narrows_by(needle)) {
        mark_candidates(needle);
    }
    sqlite3_exec(database, "COMMIT", nullptr, nullptr, nullptr);
}

void content_index::drop_dead_documents() {
    std::int64_t live = 0;
    std::int64_t made = 0;
    if (!single_integer(database, "SELECT count(*) FROM file_states", live) ||
        !single_integer(database, "SELECT seq FROM sqlite_sequence WHERE name = 'file_states'",
                        made) ||
        made - live <= live + dead_allowance) {
        return;
    }
    write_transaction transaction(database);
    if (transaction.began() == SQLITE_OK &&
        sqlite3_exec(database,
                     "INSERT INTO file_trigrams (file_trigrams) VALUES ('delete-all'); "
                     "DELETE FROM file_states;",
                     nullptr, nullptr, nullptr) == SQLITE_OK) {
        transaction.commit();
    }
}

void content_index::load_states() {
    sqlite_statement select;
    if (!select.prepare(database, "SELECT document, device, inode, size, modified, changed, hash "
                                  "FROM file_states")) {
        return;
    }
    statement_run run(select);
    while (run.step() == SQLITE_ROW) {
        known_state found;
        found.document = run.integer(0);
        found.hash = static_cast<std::uint64_t>(run.integer(6));
        found.state = {true,
                       static_cast<std::uint64_t>(run.integer(3)),
                       run.integer(4),
                       run.integer(5),
                       static_cast<std::uint64_t>(run.integer(2)),
                       static_cast<std::uint64_t>(run.integer(1))};
        known[{found.state.device, found.state.inode}] = found;
    }
}

void content_index::mark_candidates(std::string_view needle) {
    sqlite_statement select;
    if (!select.prepare(database, "SELECT rowid FROM file_trigrams WHERE file_trigrams MATCH ?")) {
        return;
    }
    const std::string query = trigram_query(needle);
    std::unordered_map<std::int64_t, bool> candidates;
    statement_run run(select);
    run.bind_text(1, query);
    int result = SQLITE_ROW;
    while ((result = run.step()) == SQLITE_ROW) {
        candidates[run.integer(0)] = true;
    }
    if (result != SQLITE_DONE) {
        return; // every file is read, as without an index
    }
    std::size_t ruled_out = 0;
    for (auto& [id, file] : known) {
        file.may_hold = candidates.count(file.document) != 0;
        ruled_out += file.may_hold ? 0 : 1;
    }
    // Taking a file's state costs a system call more for each file read: worth it only when
    // the index rules out a good part of the files.
    narrowing = ruled_out > 0 && ruled_out * 4 >= known.size();
}

bool content_index::cannot_hold(const file_state& state) const {
    if (!narrowing) {
        return false;
    }
    const auto found = known.find({state.device, state.inode});
    return found != known.end() && !found->second.may_hold && found->second.state == state;
}

bool content_index::known_hash(const file_state& state, std::uint64_t& hash) const {
    if (!narrowing) {
        return false;
    }
    const auto found = known.find({state.device, state.inode});
    if (found == known.end() || !(found->second.state == state)) {
        return false;
    }
    hash = found->second.hash;
    return true;
}

void content_index::add(const file_state& state, std::int64_t tick_start,
                        std::string_view content) {
    const auto found = known.find({state.device, state.inode});
    if ((found != known.end() && found->second.state == state) ||
        !settled_before(state, tick_start) ||
        std::memchr(content.data(), '\0', content.size()) != nullptr) {
        return;
    }
    waiting_file file{state, XXH3_64bits(content.data(), content.size()), std::string(content)};
    std::vector<waiting_file> full;
    {
        const std::lock_guard<std::mutex> hold(waiting_lock);
        if (waiting_bytes + content.size() > waiting_limit) {
            return;
        }
        waiting_bytes += content.size();
        waiting.push_back(std::move(file));
        if (waiting_bytes < write_batch) {
            return;
        }
        full.swap(waiting);
        waiting_bytes = 0;
    }
    write(full, 0);
}

// Writes the files in one transaction, unless another process holds the index for longer
// than wait_ms: then they are left for a later run to index.
void content_index::write(std::vector<waiting_file>& files, int wait_ms) {
    const std::lock_guard<std::mutex> hold(write_lock);
    if (files.empty() || write_failed) {
        return;
    }
    const int result = write_rows(database, wait_ms, files.size(), [&](std::size_t i) {
        const waiting_file& file = files[i];
        statement_run state(insert_state);
        state.bind_integer(1, static_cast<std::int64_t>(file.state.device))
            .bind_integer(2, static_cast<std::int64_t>(file.state.inode))
            .bind_integer(3, static_cast<std::int64_t>(file.state.size))
            .bind_integer(4, file.state.modified_ns)
            .bind_integer(5, file.state.changed_ns)
            .bind_integer(6, static_cast<std::int64_t>(file.hash));
        int row = written(state, database);
        if (row == SQLITE_OK) {
            statement_run trigrams(insert_trigrams);
            trigrams.bind_integer(1, sqlite3_last_insert_rowid(database))
                .bind_text(2, file.content);
            row = written(trigrams, database);
        }
        return row;
    });
    if (result != SQLITE_OK && result != SQLITE_BUSY) {
        write_failed = true;
        report(shown, write_failure(database, result));
    }
}

} // namespace search
