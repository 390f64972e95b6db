#pragma once

// Files as this run found them, each once: their state and the hash of their bytes, which is
// read again only for a file whose state the database does not know. Most files of a tree
// include the same headers.

#include "cache/file_state.hpp"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace search {

class sqlite_store;

// The state that this run's walk took of the file at an absolute path, when it took one.
using listed_state = std::function<bool(const std::string& path, file_state& state)>;

class file_fingerprints {
public:
    // Hashes are remembered in database, when there is one, across runs.
    explicit file_fingerprints(sqlite_store* database) : database(database) {}
    // Keeps the hashes this run found for files whose state the database did not know.
    ~file_fingerprints();
    file_fingerprints(const file_fingerprints&) = delete;
    file_fingerprints& operator=(const file_fingerprints&) = delete;

    // The file's state and hash, taken once per run; the reference stays valid.
    const known_file& fingerprint_of(const std::string& path);
    // Whether anything is at path; in a folder found missing this run it costs no status query.
    bool exists(const std::string& path);
    // From now on, a file whose state listed gives, and whose hash the database remembers for
    // that state, costs no status query; none (nullptr) ends that.
    void take_listed_states(const listed_state* listed);

private:
    known_file take_fingerprint(const std::string& path, bool& fresh_hash);
    bool in_missing_folder(const std::string& path);
    std::optional<bool> known_missing(const std::string& folder);

    sqlite_store* database;
    const listed_state* listed = nullptr;
    std::mutex lock;
    std::unordered_map<std::string, known_file> files;
    // Folders of missing includes' paths, and whether each is missing.
    std::unordered_map<std::string, bool> folders_missing;
    // The hashes of files whose state the database did not know, kept when the memo goes.
    std::vector<std::pair<std::string, known_file>> fresh;
};

} // namespace search
