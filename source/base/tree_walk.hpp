#pragma once

#include "base/walk_filter.hpp"

#include <dirent.h>

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace search {

struct walk_options {
    // Folders that it leaves out are neither visited nor entered. Files are the visitor's to
    // judge: most are no candidates anyway, and the ignore rules cost a lookup per path.
    walk_filter* filter = nullptr;
    // Each folder's entries in byte order of their names, with a '/' after a folder's name:
    // the pre-order walk then yields the paths in byte order.
    bool sorted = false;
};

// One entry of a walk: its path and its type as the folder's listing tells it, so that only
// links and entries of an unknown type cost a status query.
class walk_entry {
public:
    walk_entry() = default;
    walk_entry(std::string path, std::size_t name_start, unsigned char listed_type)
        : full(std::move(path)), name_start(name_start), listed_type(listed_type) {}

    // The folder's path joined with the name, as std::filesystem joins them.
    const std::string& path() const { return full; }
    std::string_view name() const { return std::string_view(full).substr(name_start); }
    // A folder itself, not a link to one.
    bool is_directory() const { return type_not_following() == DT_DIR; }
    // Following a link; error tells why a link's target could not be had.
    bool is_regular_file(std::error_code& error) const;

private:
    unsigned char type_not_following() const;

    std::string full;
    std::size_t name_start = 0;
    unsigned char listed_type = DT_UNKNOWN;
};

// A folder's listing as the kernel hands it out, a buffer at a time. opendir would cost each
// folder a status query more, for a buffer size that this one does without.
class folder_listing {
public:
    // Opens path; error tells why it could not be.
    folder_listing(const char* path, std::error_code& error);
    ~folder_listing();
    folder_listing(folder_listing&& other) noexcept;
    folder_listing& operator=(folder_listing&&) = delete;
    folder_listing(const folder_listing&) = delete;

    bool is_open() const { return fd >= 0; }
    // The next entry's name and type; false at the end or on error (error tells which), and
    // the listing is closed then.
    bool next(std::string_view& name, unsigned char& type, std::error_code& error);

private:
    void close_now();

    int fd = -1;
    std::unique_ptr<char[]> buffer;
    std::size_t at = 0;
    std::size_t end = 0;
};

// One folder's entries, in the order the file system lists them or sorted.
class folder_entries {
public:
    // Opens the folder; error tells why it could not be opened, or, when sorted, why it could
    // not be read to its end (the entries read so far are kept).
    folder_entries(std::string path, bool sorted, std::error_code& error);

    const std::string& path() const { return folder; }
    bool done() const { return at == listed.size() && !stream.is_open(); }
    const walk_entry& entry() const { return listed[at]; }
    void advance(std::error_code& error);

private:
    // Reads the next entry into listed; closes the stream at its end or on error.
    bool read_one(std::error_code& error);

    std::string folder;
    folder_listing stream;
    std::vector<walk_entry> listed;
    std::size_t at = 0;
};

// Where the names below the root begin in the paths of a walk from root.
std::size_t relative_start(const std::filesystem::path& root);

// Visits every entry below root in pre-order, descending into directories but not through
// symbolic links to them; the root itself is not visited. Entry paths are the root as given
// joined with the names, exactly as std::filesystem::recursive_directory_iterator spells them.
//
// A directory that cannot be opened or read is handed to fail(path, error): when fail
// returns true the walk goes on with the next entry, otherwise it stops at once.
template <class Visit, class Fail>
void walk_tree(const std::filesystem::path& root, Visit&& visit, Fail&& fail,
               const walk_options& options = {}) {
    const std::size_t names_start = relative_start(root);
    std::vector<folder_entries> stack;
    auto open = [&](std::string dir) {
        std::error_code error;
        folder_entries entries(std::move(dir), options.sorted, error);
        if (error && !fail(std::filesystem::path(entries.path()), error)) {
            return false;
        }
        if (!error || options.sorted) {
            stack.push_back(std::move(entries));
        }
        return true;
    };
    if (!open(root.native())) {
        return;
    }
    while (!stack.empty()) {
        if (stack.back().done()) {
            stack.pop_back();
            continue;
        }
        const walk_entry& entry = stack.back().entry();
        bool descend = entry.is_directory();
        const bool left_out = descend && options.filter != nullptr &&
                              options.filter->leaves_out(entry.path().c_str() + names_start, true);
        if (!left_out) {
            visit(entry);
        }
        descend = descend && !left_out;
        std::string below = descend ? entry.path() : std::string();
        std::error_code error;
        stack.back().advance(error);
        if (error) {
            std::string failed = stack.back().path();
            stack.pop_back();
            if (!fail(std::filesystem::path(std::move(failed)), error)) {
                return;
            }
        }
        if (descend && !open(std::move(below))) {
            return;
        }
    }
}

} // namespace search
