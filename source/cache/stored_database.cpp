#include "cache/stored_database.hpp"

#include "cache/entry_format.hpp"

#include <xxhash.h>

#include <sys/stat.h>

namespace search {

namespace {

// Beside the files' entries: no file is parsed without arguments. The commands hold absolute
// directories, those of the database's own checkout when it names them relative to itself:
// unlike a file's entry, they are keyed by where the database is, not only below the root.
cache_key key_of(const cursor_cache& cache, const std::string& absolute_path) {
    return cache.key_for(absolute_path, {}, "compile_commands.json\n" + absolute_path);
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

} // namespace

bool find_database_commands(cursor_cache& cache, const std::string& absolute_path,
                            std::string_view content, database_commands& out) {
    const std::uint64_t content_hash = XXH3_64bits(content.data(), content.size());
    database_commands found;
    const auto decoded = [&](std::string_view value) {
        return decode_database_entry(value, content_hash, found);
    };
    if (!cache.read_value(key_of(cache, absolute_path), decoded) || !directories_unchanged(found)) {
        return false;
    }
    out = std::move(found);
    return true;
}

void store_database_commands(cursor_cache& cache, const std::string& absolute_path,
                             std::string_view content, const database_commands& found) {
    const std::uint64_t content_hash = XXH3_64bits(content.data(), content.size());
    cache.store_value(key_of(cache, absolute_path), encode_database_entry(content_hash, found));
}

} // namespace search
