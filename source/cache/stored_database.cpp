#include "cache/stored_database.hpp"

#include <xxhash.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstring>

namespace search {

namespace {

constexpr char magic[8] = {'p', 'y', 'r', 'n', 'c', 'c', 'd', 'b'};
constexpr std::uint32_t format_version = 2;

// Beside the files' entries: no file is parsed without arguments. The commands hold absolute
// directories, those of the database's own checkout when it names them relative to itself:
// unlike a file's entry, they are keyed by where the database is, not only below the root.
cache_key key_of(const cursor_cache& cache, const std::string& absolute_path) {
    return cache.key_for(absolute_path, {}, "compile_commands.json\n" + absolute_path);
}

struct stored_header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t command_count;
    std::uint32_t absent_count;
    std::uint32_t reserved;
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

bool take_texts(std::string_view& blob, std::vector<std::string>& texts) {
    std::uint32_t count = 0;
    if (!take_number(blob, count) || count > blob.size() / sizeof count) {
        return false;
    }
    texts.resize(count);
    for (std::string& text : texts) {
        if (!take_text(blob, text)) {
            return false;
        }
    }
    return true;
}

void append_texts(std::string& blob, const std::vector<std::string>& texts) {
    append_number(blob, static_cast<std::uint32_t>(texts.size()));
    for (const std::string& text : texts) {
        append_text(blob, text);
    }
}

bool take_command(std::string_view& blob, compile_command& command) {
    return take_text(blob, command.directory) && take_text(blob, command.file) &&
           take_texts(blob, command.arguments) && take_text(blob, command.language);
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The commands stand while every directory they knew is still there or still missing.
bool directories_unchanged(const database_commands& found) {
    for (const std::string& dir : found.absent_directories) {
        if (is_directory(dir)) {
            return false;
        }
    }
    const std::string* last = nullptr; // the commands of one directory usually follow each other
    for (const compile_command& command : found.commands) {
        if ((last == nullptr || *last != command.directory) && !is_directory(command.directory)) {
            return false;
        }
        last = &command.directory;
    }
    return true;
}

// The commands in value, if it is whole, of this format and made from content of this hash.
bool decode(std::string_view value, std::uint64_t content_hash, database_commands& found) {
    stored_header header;
    if (value.size() < sizeof header) {
        return false;
    }
    std::memcpy(&header, value.data(), sizeof header);
    std::string_view body = value.substr(sizeof header);
    if (std::memcmp(header.magic, magic, sizeof magic) != 0 || header.version != format_version ||
        header.content_hash != content_hash ||
        header.checksum != XXH3_64bits(body.data(), body.size()) ||
        header.command_count > body.size() || header.absent_count > body.size()) {
        return false;
    }
    found.commands.resize(header.command_count);
    for (compile_command& command : found.commands) {
        if (!take_command(body, command)) {
            return false;
        }
    }
    found.absent_directories.resize(header.absent_count);
    for (std::string& dir : found.absent_directories) {
        if (!take_text(body, dir)) {
            return false;
        }
    }
    return body.empty();
}

} // namespace

bool find_database_commands(cursor_cache& cache, const std::string& absolute_path,
                            std::string_view content, database_commands& out) {
    const std::uint64_t content_hash = XXH3_64bits(content.data(), content.size());
    database_commands found;
    const auto decoded = [&](std::string_view value) { return decode(value, content_hash, found); };
    if (!cache.read_value(key_of(cache, absolute_path), decoded) || !directories_unchanged(found)) {
        return false;
    }
    out = std::move(found);
    return true;
}

void store_database_commands(cursor_cache& cache, const std::string& absolute_path,
                             std::string_view content, const database_commands& found) {
    std::string body;
    for (const compile_command& command : found.commands) {
        append_text(body, command.directory);
        append_text(body, command.file);
        append_texts(body, command.arguments);
        append_text(body, command.language);
    }
    for (const std::string& dir : found.absent_directories) {
        append_text(body, dir);
    }
    stored_header header{};
    std::memcpy(header.magic, magic, sizeof magic);
    header.version = format_version;
    header.command_count = static_cast<std::uint32_t>(found.commands.size());
    header.absent_count = static_cast<std::uint32_t>(found.absent_directories.size());
    header.checksum = XXH3_64bits(body.data(), body.size());
    header.content_hash = XXH3_64bits(content.data(), content.size());
    std::string value(reinterpret_cast<const char*>(&header), sizeof header);
    value += body;
    cache.store_value(key_of(cache, absolute_path), value);
}

} // namespace search
