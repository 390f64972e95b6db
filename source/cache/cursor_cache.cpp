#include "cache/cursor_cache.hpp"

#include "cache/content_index.hpp"
#include "cache/remote_store.hpp"
#include "cache/sqlite_store.hpp"
#include "clang/libclang_loader.hpp"

#include <fmt/format.h>
#include <xxhash.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <system_error>

namespace search {

namespace {

std::unique_ptr<entry_store> tier_or_none(std::unique_ptr<sqlite_store> database) {
    if (database) {
        return database;
    }
    return std::make_unique<null_store>();
}

// Where this thread decompresses entries. An entry's records are used before the thread's
// next lookup.
decode_buffer& decoded_body() {
    thread_local decode_buffer storage;
    return storage;
}

} // namespace

cursor_cache::cursor_cache(std::unique_ptr<sqlite_store> store, const std::string& root)
    : database(store.get()), local(tier_or_none(std::move(store))),
      remote(std::make_unique<null_store>()), files(database), root(root) {}

// What libclang and the working directory are known by, taken when the first key is made: a
// search that makes none reads no hash. The library by its bytes, whose hash the database
// remembers as any file's: the same build at another place shares the entries, and finding it
// out loads nothing.
const std::string& cursor_cache::identity() const {
    std::call_once(identity_taken, [this] {
        const known_file& library = files.fingerprint_of(libclang_library_path());
        std::error_code error;
        identity_text =
            fmt::format("{:016x}\n{}\n", library.hash,
                        root.stored_path(std::filesystem::current_path(error).native()));
    });
    return identity_text;
}

cursor_cache::~cursor_cache() {
    if (database != nullptr) {
        // Another search's write transaction is short; one that lasts longer costs the entries.
        database->write_waiting(100);
    }
}

std::unique_ptr<cursor_cache> cursor_cache::open(const std::string& dir, const std::string& root) {
    std::unique_ptr<sqlite_store> database = sqlite_store::open(dir);
    if (!database) {
        return nullptr;
    }
    const std::string file = database->file();
    std::unique_ptr<cursor_cache> cache(new cursor_cache(std::move(database), root));
    if (content_index::available()) {
        cache->contents = content_index::open(file, dir);
    }
    return cache;
}

std::unique_ptr<cursor_cache> cursor_cache::without_directory(const std::string& root) {
    return std::unique_ptr<cursor_cache>(new cursor_cache(nullptr, root));
}

void cursor_cache::add_remote(std::unique_ptr<remote_store> store) {
    server = store.get();
    remote = std::move(store);
}

void cursor_cache::authenticate_with(const entry_secret& key_secret) {
    secret = key_secret;
}

cache_key cursor_cache::key_for(std::string_view absolute_path,
                                const std::vector<const char*>& arguments,
                                std::string_view parse_mode) const {
    XXH3_state_t* state = XXH3_createState();
    XXH3_128bits_reset(state);
    auto add = [&](std::string_view text) {
        XXH3_128bits_update(state, text.data(), text.size());
        XXH3_128bits_update(state, "", 1); // the NUL keeps the pieces apart
    };
    add(identity());
    add(root.stored_path(absolute_path));
    for (const char* argument : arguments) {
        add(root.stored_argument(argument));
    }
    if (!parse_mode.empty()) {
        add(parse_mode);
    }
    const XXH128_hash_t hash = XXH3_128bits_digest(state);
    XXH3_freeState(state);
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, hash);
    cache_key key;
    std::memcpy(key.data(), canonical.digest, key.size());
    return key;
}

bool cursor_cache::find(const cache_key& key, std::uint64_t content_hash,
                        const content_source& content, const match_rules& rules,
                        const records_use& use) {
    return find_local(key, content_hash, content, rules, use) ||
           (server != nullptr && find_remote(key, content_hash, content, rules, use));
}

bool cursor_cache::find_local(const cache_key& key, std::uint64_t content_hash,
                              const content_source& content, const match_rules& rules,
                              const records_use& use) {
    return local->find(key, [&](std::string_view blob) {
        cursor_entry found;
        if (decode_cursor_entry(blob, key, content_hash, content, key_secret(), &rules,
                                decoded_body(), found) != fit::whole ||
            !still_valid(found)) {
            return false;
        }
        use(found.records);
        return true;
    });
}

// A remote entry is judged as a local one, and kept locally when it serves.
bool cursor_cache::find_remote(const cache_key& key, std::uint64_t content_hash,
                               const content_source& content, const match_rules& rules,
                               const records_use& use) {
    const auto judged = [&](std::string_view blob) {
        cursor_entry found;
        const fit judgement = decode_cursor_entry(blob, key, content_hash, content, key_secret(),
                                                  &rules, decoded_body(), found);
        if (judgement == fit::broken) {
            server->refuse_entry("an entry that is damaged or of another version was not used");
        } else if (judgement == fit::unauthenticated) {
            server->refuse_entry("an entry without a valid MAC under --cache-key was not used");
        }
        if (judgement != fit::whole || !still_valid(found)) {
            return false;
        }
        local->store(key, blob);
        use(found.records);
        return true;
    };
    return remote->find(key, judged);
}

bool cursor_cache::read_value(const cache_key& key, const value_use& use) {
    return local->find(key, use);
}

void cursor_cache::store_value(const cache_key& key, std::string_view value) {
    local->store(key, value);
}

void cursor_cache::store(const cache_key& key, std::uint64_t content_hash,
                         const std::string& absolute_path, const file_records& records,
                         const file_dependencies& dependencies, const timespec& parse_start) {
    // Nothing would keep the entry: its dependencies are not worth their hashes.
    if (server == nullptr && (database == nullptr || database->failed())) {
        return;
    }
    const std::int64_t start = nanoseconds(parse_start);
    auto too_new = [&](const file_state& state) {
        return state.modified_ns >= start || state.changed_ns >= start;
    };
    if (too_new(state_of(absolute_path.c_str()))) {
        return;
    }
    cursor_entry entry;
    std::deque<std::string> stored; // the entry's paths, which stay where they are
    for (const std::string& path : dependencies.included) {
        const known_file& file = files.fingerprint_of(path);
        if (!file.hashed || too_new(file.state)) {
            return;
        }
        entry.included.emplace_back(stored.emplace_back(root.stored_path(path)), file.hash);
    }
    for (const std::string& path : dependencies.absent) {
        entry.absent.push_back(stored.emplace_back(root.stored_path(path)));
    }
    entry.records = records.view();
    const std::string blob = encode_cursor_entry(key, content_hash, entry, key_secret());
    remote->store(key, blob);
    local->store(key, blob);
}

namespace {

// A dependency by a 128-bit hash of its stored path and its content's hash; an absence by that
// of its path alone.
std::pair<std::uint64_t, std::uint64_t> dependency_key(std::string_view stored,
                                                       std::uint64_t hash) {
    const XXH128_hash_t both = XXH3_128bits_withSeed(stored.data(), stored.size(), hash);
    return {both.low64, both.high64};
}

} // namespace

// The entry's files are checked in turn, up to the first that changed; those found unchanged
// (and the absences found absent) for an entry before are not checked again. The buffers are
// the thread's: an entry costs no allocation of its own.
bool cursor_cache::still_valid(const cursor_entry& entry) {
    thread_local std::vector<std::pair<std::uint64_t, std::uint64_t>> keys;
    thread_local std::vector<std::size_t> unknown; // of keys, by their place
    keys.clear();
    unknown.clear();
    for (const auto& [path, hash] : entry.included) {
        keys.push_back(dependency_key(path, hash));
    }
    for (const std::string_view path : entry.absent) {
        keys.push_back(dependency_key(path, 0));
    }
    // The set that holds the i-th key once it was checked.
    const auto checked = [&](std::size_t i) -> auto& {
        return i < entry.included.size() ? unchanged : found_absent;
    };
    {
        const std::lock_guard<std::mutex> hold(unchanged_lock);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (checked(i).count(keys[i]) == 0) {
                unknown.push_back(i);
            }
        }
    }
    for (const std::size_t i : unknown) {
        if (i < entry.included.size()) {
            const auto& [path, hash] = entry.included[i];
            const known_file& file = files.fingerprint_of(root.path_in_tree(path));
            if (!file.hashed || file.hash != hash) {
                return false;
            }
        } else if (files.exists(root.path_in_tree(entry.absent[i - entry.included.size()]))) {
            return false;
        }
    }
    if (!unknown.empty()) {
        const std::lock_guard<std::mutex> hold(unchanged_lock);
        for (const std::size_t i : unknown) {
            checked(i).insert(keys[i]);
        }
    }
    return true;
}

} // namespace search
