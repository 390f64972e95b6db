#include "base/tree_walk.hpp"

#include <algorithm>
#include <string>

namespace search {

namespace fs = std::filesystem;

namespace {

// A folder's name sorts with a '/' after it, as it stands in the paths below it.
std::string sort_key(const fs::directory_entry& entry) {
    std::string key = entry.path().filename().native();
    std::error_code error;
    if (!entry.is_symlink(error) && entry.is_directory(error)) {
        key += '/';
    }
    return key;
}

void sort_by_name(std::vector<fs::directory_entry>& entries) {
    std::vector<std::pair<std::string, std::size_t>> keys;
    keys.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        keys.emplace_back(sort_key(entries[i]), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<fs::directory_entry> sorted;
    sorted.reserve(entries.size());
    for (const auto& key : keys) {
        sorted.push_back(std::move(entries[key.second]));
    }
    entries = std::move(sorted);
}

} // namespace

folder_entries::folder_entries(fs::path path, bool sorted, std::error_code& error)
    : folder(std::move(path)), next(folder, error), sorted(sorted) {
    if (error || !sorted) {
        return;
    }
    while (next != fs::directory_iterator()) {
        listed.push_back(*next);
        next.increment(error);
        if (error) {
            break;
        }
    }
    next = fs::directory_iterator();
    sort_by_name(listed);
}

bool folder_entries::done() const {
    return sorted ? at == listed.size() : next == fs::directory_iterator();
}

const fs::directory_entry& folder_entries::entry() const {
    return sorted ? listed[at] : *next;
}

void folder_entries::advance(std::error_code& error) {
    if (sorted) {
        ++at;
    } else {
        next.increment(error);
    }
}

std::size_t relative_start(const fs::path& root) {
    const std::string& text = root.native();
    return text.empty() || text.back() == '/' ? text.size() : text.size() + 1;
}

} // namespace search
