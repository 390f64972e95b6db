#pragma once

// The bytes of what the cache keeps under a key: a file's cursor entry and a compilation
// database's commands. Both are read by one bounds-checked reader, since a value may come from a
// shared server: any bytes decode to an entry or to a refusal, never outside the value.

#include "cache/cursor_records.hpp"
#include "cache/entry_secret.hpp"
#include "clang/compile_database.hpp"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace search {

using cache_key = std::array<unsigned char, 16>;

// Raised whenever an entry's layout changes: entries of another version are never read.
inline constexpr std::uint32_t cursor_entry_version = 9;
inline constexpr std::uint32_t database_entry_version = 2;

// A file's records with what they were made from: the files the parse included (kept path and
// content hash) and those whose appearance would have changed it. The records and paths view
// storage that outlives the entry's use; a decoded entry's view the storage it was decoded into.
struct cursor_entry {
    records_view records;
    std::vector<std::pair<std::string_view, std::uint64_t>> included;
    std::vector<std::string_view> absent;
};

// Bytes that entries are decompressed into, one after another: it grows to the largest and
// stays, so that no entry costs fresh pages but a larger one than before.
class decode_buffer {
public:
    // At least size bytes, of any value; throws std::bad_alloc when they cannot be had.
    char* at_least(std::size_t size);

private:
    struct releaser {
        void operator()(char* bytes) const { std::free(bytes); }
    };
    std::unique_ptr<char, releaser> bytes;
    std::size_t capacity = 0;
};

// What a stored value is to a lookup: its entry, one made from other content (which a parse
// replaces), one without a MAC that holds under the search's secret, or no entry of this
// format and key at all.
enum class fit { whole, stale, unauthenticated, broken };

// Where a lookup takes the file's bytes from: called at most once, and only for records that
// could be a match. Nothing when the bytes cannot be had as the entry's content hash says.
using content_source = std::function<std::optional<std::string_view>()>;

// The entry's bytes, followed by their MAC under secret when there is one.
std::string encode_cursor_entry(const cache_key& key, std::uint64_t content_hash,
                                const cursor_entry& entry, const entry_secret* secret);

// The entry in blob, if it is whole, of this version, of this key and content, and, when there
// is a secret, authenticated under it; its records must fit the content (records_fit), stale
// when it has none. With wanted, an entry whose records hold no possible match under it
// (any_may_match) has none, and takes no content. Its body is decompressed into storage.
fit decode_cursor_entry(std::string_view blob, const cache_key& key, std::uint64_t content_hash,
                        const content_source& content, const entry_secret* secret,
                        const match_rules* wanted, decode_buffer& storage, cursor_entry& out);

// The commands of a compilation database made from bytes of content_hash.
std::string encode_database_entry(std::uint64_t content_hash, const database_commands& found);

// The commands in value, if it is whole, of this version and made from content of this hash.
bool decode_database_entry(std::string_view value, std::uint64_t content_hash,
                           database_commands& out);

} // namespace search
