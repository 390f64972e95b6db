#include "cache/stored_database.hpp"

#include <xxhash.h>

#include <cstdint>
#include <cstring>

namespace search {

namespace {

constexpr char magic[8] = {'p', 'y', 'r', 'n', 'c', 'c', 'd', 'b'};
constexpr std::uint32_t format_version = 1;

// Beside the files' entries: no file is parsed without arguments.
cache_key key_of(const cursor_cache& cache, const std::string& absolute_path) {
    return cache.key_for(absolute_path, {}, "compile_commands.json");
}

struct stored_header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t entry_count;
    std::uint64_t checksum; // of everything after the header
    std::uint64_t content_hash;
};

void append_number(std::string& blob, std::uint32_t number) {
    blob.append(reinterpret_cast<const char*>(&number), sizeof number);
}

void append_text(std::string& blob, std::string_view text) {
    append_number(blob, static_cast<std::uint32_t>(text.size()));
    blob.append(text);
}

// Reads from the front of blob, which shrinks; false when it is too short.
bool take_number(std::string_view& blob, std::uint32_t& number) {
    if (blob.size() < sizeof number) {
        return false;
    }
    std::memcpy(&number, blob.data(), sizeof number);
    blob.remove_prefix(sizeof number);
    return true;
}

bool take_text(std::string_view& blob, std::string& text) {
    std::uint32_t length = 0;
    if (!take_number(blob, length) || blob.size() < length) {
        return false;
    }
    text.assign(blob.substr(0, length));
    blob.remove_prefix(length);
    return true;
}

bool take_entry(std::string_view& blob, database_entry& entry) {
    std::uint32_t count = 0;
    if (!take_text(blob, entry.directory) || !take_text(blob, entry.file) ||
        !take_number(blob, count) || count > blob.size() / sizeof count) {
        return false;
    }
    entry.arguments.resize(count);
    for (std::string& argument : entry.arguments) {
        if (!take_text(blob, argument)) {
            return false;
        }
    }
    return true;
}

} // namespace

bool find_database_entries(cursor_cache& cache, const std::string& absolute_path,
                           std::string_view content, std::vector<database_entry>& out) {
    std::string value;
    stored_header header;
    if (!cache.find_value(key_of(cache, absolute_path), value) || value.size() < sizeof header) {
        return false;
    }
    std::memcpy(&header, value.data(), sizeof header);
    std::string_view body = std::string_view(value).substr(sizeof header);
    if (std::memcmp(header.magic, magic, sizeof magic) != 0 || header.version != format_version ||
        header.content_hash != XXH3_64bits(content.data(), content.size()) ||
        header.checksum != XXH3_64bits(body.data(), body.size()) ||
        header.entry_count > body.size()) {
        return false;
    }
    std::vector<database_entry> entries(header.entry_count);
    for (database_entry& entry : entries) {
        if (!take_entry(body, entry)) {
            return false;
        }
    }
    if (!body.empty()) {
        return false;
    }
    out = std::move(entries);
    return true;
}

void store_database_entries(cursor_cache& cache, const std::string& absolute_path,
                            std::string_view content, const std::vector<database_entry>& entries) {
    std::string body;
    for (const database_entry& entry : entries) {
        append_text(body, entry.directory);
        append_text(body, entry.file);
        append_number(body, static_cast<std::uint32_t>(entry.arguments.size()));
        for (const std::string& argument : entry.arguments) {
            append_text(body, argument);
        }
    }
    stored_header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.version = format_version;
    header.entry_count = static_cast<std::uint32_t>(entries.size());
    header.checksum = XXH3_64bits(body.data(), body.size());
    header.content_hash = XXH3_64bits(content.data(), content.size());
    std::string value(reinterpret_cast<const char*>(&header), sizeof header);
    value += body;
    cache.store_value(key_of(cache, absolute_path), value);
}

} // namespace search
