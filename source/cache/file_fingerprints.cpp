#include "cache/file_fingerprints.hpp"

#include "cache/sqlite_store.hpp"

#include <sys/stat.h>

#include <cerrno>

namespace search {

file_fingerprints::~file_fingerprints() {
    if (database != nullptr) {
        database->remember_hashes(fresh);
    }
}

const known_file& file_fingerprints::fingerprint_of(const std::string& path) {
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto found = files.find(path);
        if (found != files.end()) {
            return found->second;
        }
    }
    // Taken outside the lock: two workers hashing one header at once cost a read, not a wait.
    bool fresh_hash = false;
    const known_file file = take_fingerprint(path, fresh_hash);
    const std::lock_guard<std::mutex> hold(lock);
    const auto [found, added] = files.try_emplace(path, file);
    if (added && fresh_hash) {
        fresh.emplace_back(path, file);
    }
    return found->second;
}

bool file_fingerprints::exists(const std::string& path) {
    {
        const std::lock_guard<std::mutex> hold(lock);
        const auto found = files.find(path);
        if (found != files.end()) {
            return found->second.state.exists;
        }
    }
    return !in_missing_folder(path) && fingerprint_of(path).state.exists;
}

// A missing include is looked for in every include folder, and most of those folders lack the
// include's own folders: one status query of a folder answers for every path below it.
bool file_fingerprints::in_missing_folder(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return false;
    }
    std::string folder = path.substr(0, slash);
    if (const std::optional<bool> known = known_missing(folder)) {
        return *known;
    }
    struct stat info {};
    const bool missing = stat(folder.c_str(), &info) == 0 ? !S_ISDIR(info.st_mode)
                                                          : errno == ENOENT || errno == ENOTDIR;
    const std::lock_guard<std::mutex> hold(lock);
    folders_missing.emplace(std::move(folder), missing);
    return missing;
}

// Whether the folder is missing, as far as this run knows: it is when a folder above it is.
std::optional<bool> file_fingerprints::known_missing(const std::string& folder) {
    std::string above = folder;
    const std::lock_guard<std::mutex> hold(lock);
    for (;;) {
        const auto found = folders_missing.find(above);
        if (found != folders_missing.end() && (found->second || above.size() == folder.size())) {
            return found->second;
        }
        const std::size_t slash = above.rfind('/');
        if (slash == std::string::npos || slash == 0) {
            return std::nullopt;
        }
        above.resize(slash);
    }
}

void file_fingerprints::take_listed_states(const listed_state* states) {
    listed = states;
}

known_file file_fingerprints::take_fingerprint(const std::string& path, bool& fresh_hash) {
    known_file file;
    // A state of the walk stands for the file only with the hash remembered for it: a hash
    // taken now is taken with the state of its read.
    if (listed != nullptr && database != nullptr && (*listed)(path, file.state) &&
        file.state.exists && database->remembered_hash(path, file.state, file.hash)) {
        file.hashed = true;
        return file;
    }
    const std::int64_t tick_start = coarse_now_ns();
    file = known_file{};
    bool regular = false;
    file.state = state_of(path.c_str(), regular);
    if (regular && database != nullptr && database->remembered_hash(path, file.state, file.hash)) {
        file.hashed = true;
    } else if (regular) {
        file.hashed = hash_file(path.c_str(), file.state, file.hash);
        fresh_hash = file.hashed && settled_before(file.state, tick_start);
    }
    return file;
}

} // namespace search
