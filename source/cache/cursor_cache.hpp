#pragma once

// The cursor cache of --cache DIR and --cache-remote URL: for each file and argument list, the
// records of its last parse, with the content hashes of what they depend on. A search whose
// files and headers hold the same bytes answers from it without loading libclang. It joins two
// tiers, a local one and a shared one, each an entry_store (either may be none).

#include "cache/cursor_records.hpp"
#include "cache/entry_format.hpp"
#include "cache/entry_secret.hpp"
#include "cache/entry_store.hpp"
#include "cache/file_dependencies.hpp"
#include "cache/file_fingerprints.hpp"
#include "cache/tree_root.hpp"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace search {

class content_index;
class remote_store;
class sqlite_store;

using records_use = std::function<void(const records_view&)>;

struct pair_hash {
    std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& both) const {
        return static_cast<std::size_t>(both.first ^ both.second);
    }
};

class cursor_cache {
public:
    // Opens the cache in dir (cache/sqlite_store.hpp); nothing, after one line on standard
    // error, when it cannot be used. Paths below root (absolute, lexically normal) are keyed
    // relative to it.
    static std::unique_ptr<cursor_cache> open(const std::string& dir, const std::string& root);
    // A cache without a local tier, for a remote one alone: hashes are taken again each run.
    static std::unique_ptr<cursor_cache> without_directory(const std::string& root);
    // Lookups that the local tier cannot answer go to store, and every entry stored goes there
    // too.
    void add_remote(std::unique_ptr<remote_store> store);
    // From now on entries are stored with a MAC under secret, and only entries whose MAC holds
    // are taken, from either tier.
    void authenticate_with(const entry_secret& secret);
    // Writes what waits, then keeps the hashes this run found.
    ~cursor_cache();
    cursor_cache(const cursor_cache&) = delete;
    cursor_cache& operator=(const cursor_cache&) = delete;

    // The key of a file's entry: its path, its libclang arguments, the directory pyrn runs in
    // (relative arguments mean it), each relative to the root where below it, the hash of the
    // libclang library's bytes and the mode of its parse (empty for the full parse).
    cache_key key_for(std::string_view absolute_path, const std::vector<const char*>& arguments,
                      std::string_view parse_mode = {}) const;

    // Hands use the records of the key's entry, valid for the call only, when the entry is
    // whole, fits the content and was made from it (by its hash) with every file it depends on
    // as it is now; false, without a call, when there is no such entry. Records of which none
    // could be a match under rules are not handed, and the content is not taken: use gets none.
    bool find(const cache_key& key, std::uint64_t content_hash, const content_source& content,
              const match_rules& rules, const records_use& use);
    // find, in the local tier only.
    bool find_local(const cache_key& key, std::uint64_t content_hash, const content_source& content,
                    const match_rules& rules, const records_use& use);

    // Stores the records of a parse that started at parse_start (CLOCK_REALTIME_COARSE). Not
    // stored when a file it read changed from then on, since the parse may have seen either.
    void store(const cache_key& key, std::uint64_t content_hash, const std::string& absolute_path,
               const file_records& records, const file_dependencies& dependencies,
               const timespec& parse_start);

    // States of files that this run's walk took, which the checks of entries' dependencies
    // take instead of their own (file_fingerprints::take_listed_states).
    void take_listed_states(const listed_state* listed) { files.take_listed_states(listed); }

    // The index of the contents of files, beside the local tier when SQLite has what it needs.
    content_index* index() const { return contents.get(); }

    // Hands the local tier's value under a key of the caller's own to use, in place; false when
    // there is none or use returns false. store_value stores one there.
    bool read_value(const cache_key& key, const value_use& use);
    void store_value(const cache_key& key, std::string_view value);

private:
    cursor_cache(std::unique_ptr<sqlite_store> database, const std::string& root);

    bool find_remote(const cache_key& key, std::uint64_t content_hash,
                     const content_source& content, const match_rules& rules,
                     const records_use& use);
    bool still_valid(const cursor_entry& entry);
    const entry_secret* key_secret() const { return secret ? &*secret : nullptr; }
    const std::string& identity() const;

    // The tiers; the local one is the database, when there is one.
    sqlite_store* database = nullptr;
    std::unique_ptr<entry_store> local;
    std::unique_ptr<entry_store> remote;
    remote_store* server = nullptr;  // the remote tier when there is one, told what it gave in vain
    mutable file_fingerprints files; // a memo, which finding the identity fills too
    // The dependencies (a stored path with its hash) that an entry's check found unchanged
    // in this run, and the absences it found absent (a stored path), by a 128-bit hash: most
    // entries share most of their headers and of their missing includes.
    std::mutex unchanged_lock;
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, pair_hash> unchanged;
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, pair_hash> found_absent;
    std::unique_ptr<content_index> contents;
    tree_root root;
    std::optional<entry_secret> secret;
    mutable std::once_flag identity_taken;
    mutable std::string identity_text; // of the libclang library and the working directory
};

} // namespace search
