#include "cache/entry_format.hpp"

#include <lz4.h>
#include <sanitizer/asan_interface.h>
#include <xxhash.h>

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

namespace search {

namespace {

// Reads plain values from the front of a byte string; every read that would pass its end fails
// and takes nothing.
class byte_reader {
public:
    explicit byte_reader(std::string_view bytes) : bytes(bytes) {}

    template <class T> bool take(T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (bytes.size() < sizeof value) {
            return false;
        }
        std::memcpy(&value, bytes.data(), sizeof value);
        bytes.remove_prefix(sizeof value);
        return true;
    }

    // The bytes of count values of T, viewed where they lie.
    template <class T> bool take_values(std::size_t count, std::string_view& out) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (count > bytes.size() / sizeof(T)) {
            return false;
        }
        out = bytes.substr(0, count * sizeof(T));
        bytes.remove_prefix(out.size());
        return true;
    }

    // A length of 32 bits, then as many bytes.
    bool take_text(std::string& text) {
        std::uint32_t length = 0;
        if (!take(length) || bytes.size() < length) {
            return false;
        }
        text.assign(bytes.substr(0, length));
        bytes.remove_prefix(length);
        return true;
    }

    // A count of 32 bits, then as many texts.
    bool take_texts(std::vector<std::string>& texts) {
        std::uint32_t count = 0;
        if (!take(count) || count > bytes.size() / sizeof count) {
            return false;
        }
        texts.resize(count);
        for (std::string& text : texts) {
            if (!take_text(text)) {
                return false;
            }
        }
        return true;
    }

    std::string_view rest() const { return bytes; }

private:
    std::string_view bytes;
};

// Appends plain values, and texts as byte_reader takes them.
class byte_writer {
public:
    template <class T> void put(const T& value) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
    }

    template <class T> void put_array(const std::vector<T>& values) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
    }

    void put_bytes(std::string_view more) { bytes.append(more); }

    void put_text(std::string_view text) {
        put(static_cast<std::uint32_t>(text.size()));
        bytes.append(text);
    }

    void put_texts(const std::vector<std::string>& texts) {
        put(static_cast<std::uint32_t>(texts.size()));
        for (const std::string& text : texts) {
            put_text(text);
        }
    }

    std::string bytes;
};

// --- a file's cursor entry: header, then, compressed, records, dependencies, absences and
// arena, then the MAC ---------------------------------------------------------------------------

constexpr char cursor_magic[8] = {'p', 'y', 'r', 'n', 'c', 'u', 'r', 's'};

struct cursor_header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t record_count;
    std::uint64_t checksum; // of everything after the header and before the MAC
    cache_key key;          // an entry stored under another key is foreign
    std::uint64_t content_hash;
    std::uint32_t included_count;
    std::uint32_t absent_count;
    std::uint32_t arena_size;
    std::uint32_t mac_size;  // of the MAC after the body, 0 for an entry stored without a key
    std::uint32_t body_size; // before its compression
    std::uint32_t reserved;
};
static_assert(sizeof(cursor_header) == 72, "the header's layout is the entry's");

struct stored_dependency {
    std::uint32_t path_offset;
    std::uint32_t path_length;
    std::uint64_t hash; // of the file's bytes
};

struct stored_absence {
    std::uint32_t path_offset;
    std::uint32_t path_length;
};

std::uint32_t add_text(std::string& arena, std::string_view text) {
    const auto offset = static_cast<std::uint32_t>(arena.size());
    arena.append(text);
    return offset;
}

bool within(std::uint32_t offset, std::uint32_t length, std::size_t size) {
    return offset <= size && length <= size - offset;
}

// The index-th of the values of T that values holds.
template <class T> T value_at(std::string_view values, std::size_t index) {
    T value;
    std::memcpy(&value, values.data() + index * sizeof value, sizeof value);
    return value;
}

// The records and dependencies after a header that was found to be this entry's, viewed where
// they lie in body.
fit decode_cursor_body(std::string_view body, const cursor_header& header,
                       const content_source& content, const match_rules* wanted,
                       cursor_entry& out) {
    byte_reader reader(body);
    std::string_view records;
    std::string_view dependencies;
    std::string_view absences;
    if (!reader.take_values<cursor_record>(header.record_count, records) ||
        !reader.take_values<stored_dependency>(header.included_count, dependencies) ||
        !reader.take_values<stored_absence>(header.absent_count, absences) ||
        reader.rest().size() != header.arena_size) {
        return fit::broken;
    }
    const std::string_view arena = reader.rest();
    out.records = records_view(records, arena);
    out.included.reserve(header.included_count);
    for (std::size_t i = 0; i < header.included_count; ++i) {
        const auto d = value_at<stored_dependency>(dependencies, i);
        if (!within(d.path_offset, d.path_length, arena.size())) {
            return fit::broken;
        }
        out.included.emplace_back(arena.substr(d.path_offset, d.path_length), d.hash);
    }
    out.absent.reserve(header.absent_count);
    for (std::size_t i = 0; i < header.absent_count; ++i) {
        const auto a = value_at<stored_absence>(absences, i);
        if (!within(a.path_offset, a.path_length, arena.size())) {
            return fit::broken;
        }
        out.absent.push_back(arena.substr(a.path_offset, a.path_length));
    }
    // Records of which none could be a match are not checked: no replay reads them.
    if (wanted != nullptr && !any_may_match(out.records, *wanted)) {
        out.records = {};
        return fit::whole;
    }
    if (out.records.size() == 0) {
        return fit::whole;
    }
    const std::optional<std::string_view> bytes = content();
    if (!bytes) {
        return fit::stale;
    }
    return records_fit(out.records, *bytes) ? fit::whole : fit::broken;
}

// LZ4 writes at most this many bytes for each byte it reads.
constexpr std::size_t most_expansion = 255;

// The body, compressed: a third of the pages to read, which costs more than the decompression.
std::string compressed(std::string_view body) {
    std::string out(LZ4_compressBound(static_cast<int>(body.size())), '\0');
    const int size = LZ4_compress_default(body.data(), out.data(), static_cast<int>(body.size()),
                                          static_cast<int>(out.size()));
    out.resize(static_cast<std::size_t>(size));
    return out;
}

// The body of stored, of body_size bytes, decompressed into storage.
bool decompress(std::string_view stored, std::uint32_t body_size, decode_buffer& storage,
                std::string_view& body) {
    if (body_size > stored.size() * most_expansion || stored.size() > LZ4_MAX_INPUT_SIZE) {
        return false;
    }
    char* const into = storage.at_least(body_size);
    const int size = LZ4_decompress_safe(stored.data(), into, static_cast<int>(stored.size()),
                                         static_cast<int>(body_size));
    body = std::string_view(into, body_size);
    return size >= 0 && static_cast<std::uint32_t>(size) == body_size;
}

// Whether the entry's MAC, at the end of blob, holds under secret.
bool authentic(std::string_view blob, const cursor_header& header, const entry_secret& secret) {
    entry_mac mac;
    if (header.mac_size != sizeof mac || blob.size() < sizeof mac) {
        return false;
    }
    const std::size_t signed_size = blob.size() - sizeof mac;
    std::memcpy(mac.data(), blob.data() + signed_size, sizeof mac);
    return mac_holds(secret, blob.substr(0, signed_size), mac);
}

// --- a compilation database's commands: header, then each command and absent directory ------

constexpr char database_magic[8] = {'p', 'y', 'r', 'n', 'c', 'c', 'd', 'b'};

struct database_header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t command_count;
    std::uint32_t absent_count;
    std::uint32_t reserved;
    std::uint64_t checksum; // of everything after the header
    std::uint64_t content_hash;
};
static_assert(sizeof(database_header) == 40, "the header's layout is the entry's");

bool take_command(byte_reader& reader, compile_command& command) {
    return reader.take_text(command.directory) && reader.take_text(command.file) &&
           reader.take_texts(command.arguments) && reader.take_text(command.language);
}

// The size of a transparent huge page, and the steps the decode buffer grows in.
constexpr std::size_t huge_page = 2 << 20;

} // namespace

// In huge pages where the system has them: the first entries of a run would otherwise cost a
// page fault each 4 KiB, which most of a short lookup's time went to.
char* decode_buffer::at_least(std::size_t size) {
    if (size > capacity) {
        const std::size_t grown = (size + huge_page - 1) / huge_page * huge_page;
        bytes.reset(static_cast<char*>(std::aligned_alloc(huge_page, grown)));
        if (!bytes) {
            capacity = 0;
            throw std::bad_alloc();
        }
        capacity = grown;
        madvise(bytes.get(), capacity, MADV_HUGEPAGE); // a hint, which may not be taken
    }
    // Under AddressSanitizer, a read past the bytes asked for is caught as with a buffer of
    // their size.
    ASAN_UNPOISON_MEMORY_REGION(bytes.get(), size);
    ASAN_POISON_MEMORY_REGION(bytes.get() + size, capacity - size);
    return bytes.get(); // not zeroed: the decompression writes every byte used
}

std::string encode_cursor_entry(const cache_key& key, std::uint64_t content_hash,
                                const cursor_entry& entry, const entry_secret* secret) {
    std::string arena(entry.records.arena());
    std::vector<stored_dependency> dependencies;
    for (const auto& [path, hash] : entry.included) {
        dependencies.push_back(
            {add_text(arena, path), static_cast<std::uint32_t>(path.size()), hash});
    }
    std::vector<stored_absence> absences;
    for (const std::string_view path : entry.absent) {
        absences.push_back({add_text(arena, path), static_cast<std::uint32_t>(path.size())});
    }
    byte_writer body;
    body.put_bytes(entry.records.record_bytes());
    body.put_array(dependencies);
    body.put_array(absences);
    body.put_bytes(arena);

    cursor_header header{};
    std::memcpy(header.magic, cursor_magic, sizeof cursor_magic);
    header.version = cursor_entry_version;
    header.record_count = static_cast<std::uint32_t>(entry.records.size());
    const std::string stored = compressed(body.bytes);
    header.checksum = XXH3_64bits(stored.data(), stored.size());
    header.key = key;
    header.content_hash = content_hash;
    header.included_count = static_cast<std::uint32_t>(dependencies.size());
    header.absent_count = static_cast<std::uint32_t>(absences.size());
    header.arena_size = static_cast<std::uint32_t>(arena.size());
    header.mac_size = secret != nullptr ? sizeof(entry_mac) : 0;
    header.body_size = static_cast<std::uint32_t>(body.bytes.size());
    byte_writer blob;
    blob.put(header);
    blob.put_bytes(stored);
    if (secret != nullptr) {
        blob.put(mac_of(*secret, blob.bytes));
    }
    return std::move(blob.bytes);
}

fit decode_cursor_entry(std::string_view blob, const cache_key& key, std::uint64_t content_hash,
                        const content_source& content, const entry_secret* secret,
                        const match_rules* wanted, decode_buffer& storage, cursor_entry& out) {
    byte_reader reader(blob);
    cursor_header header;
    if (!reader.take(header) || std::memcmp(header.magic, cursor_magic, sizeof cursor_magic) != 0 ||
        header.version != cursor_entry_version || header.key != key ||
        header.mac_size > reader.rest().size()) {
        return fit::broken;
    }
    if (secret != nullptr && !authentic(blob, header, *secret)) {
        return fit::unauthenticated;
    }
    if (header.content_hash != content_hash) {
        return fit::stale;
    }
    const std::string_view stored = reader.rest().substr(0, reader.rest().size() - header.mac_size);
    std::string_view body;
    if (header.checksum != XXH3_64bits(stored.data(), stored.size()) ||
        !decompress(stored, header.body_size, storage, body)) {
        return fit::broken;
    }
    return decode_cursor_body(body, header, content, wanted, out);
}

std::string encode_database_entry(std::uint64_t content_hash, const database_commands& found) {
    byte_writer body;
    for (const compile_command& command : found.commands) {
        body.put_text(command.directory);
        body.put_text(command.file);
        body.put_texts(command.arguments);
        body.put_text(command.language);
    }
    for (const std::string& dir : found.absent_directories) {
        body.put_text(dir);
    }
    database_header header{};
    std::memcpy(header.magic, database_magic, sizeof database_magic);
    header.version = database_entry_version;
    header.command_count = static_cast<std::uint32_t>(found.commands.size());
    header.absent_count = static_cast<std::uint32_t>(found.absent_directories.size());
    header.checksum = XXH3_64bits(body.bytes.data(), body.bytes.size());
    header.content_hash = content_hash;
    byte_writer value;
    value.put(header);
    value.put_bytes(body.bytes);
    return std::move(value.bytes);
}

bool decode_database_entry(std::string_view value, std::uint64_t content_hash,
                           database_commands& out) {
    byte_reader reader(value);
    database_header header;
    if (!reader.take(header)) {
        return false;
    }
    const std::string_view body = reader.rest();
    // Each command and directory takes at least a byte: a count above that is no entry.
    if (std::memcmp(header.magic, database_magic, sizeof database_magic) != 0 ||
        header.version != database_entry_version || header.content_hash != content_hash ||
        header.checksum != XXH3_64bits(body.data(), body.size()) ||
        header.command_count > body.size() || header.absent_count > body.size()) {
        return false;
    }
    out.commands.resize(header.command_count);
    for (compile_command& command : out.commands) {
        if (!take_command(reader, command)) {
            return false;
        }
    }
    out.absent_directories.resize(header.absent_count);
    for (std::string& dir : out.absent_directories) {
        if (!reader.take_text(dir)) {
            return false;
        }
    }
    return reader.rest().empty();
}

} // namespace search
