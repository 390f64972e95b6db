#include "cache/file_fingerprints.hpp"

#include "cache/sqlite_store.hpp"

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
