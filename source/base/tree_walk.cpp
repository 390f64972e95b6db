#include "base/tree_walk.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace search {

namespace {

unsigned char type_of_mode(mode_t mode) {
    if (S_ISDIR(mode)) {
        return DT_DIR;
    }
    if (S_ISLNK(mode)) {
        return DT_LNK;
    }
    // Anything else needs telling apart only from these.
    return S_ISREG(mode) ? DT_REG : DT_FIFO;
}

// The folder's path joined with a name, as std::filesystem::path's operator/ joins them.
std::string joined(const std::string& folder, std::string_view name, std::size_t& name_start) {
    std::string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    name_start = path.size();
    path.append(name);
    return path;
}

// A folder's name sorts with a '/' after it, as it stands in the paths below it.
std::string sort_key(const walk_entry& entry) {
    std::string key(entry.name());
    if (entry.is_directory()) {
        key += '/';
    }
    return key;
}

void sort_by_name(std::vector<walk_entry>& entries) {
    std::vector<std::pair<std::string, std::size_t>> keys;
    keys.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        keys.emplace_back(sort_key(entries[i]), i);
    }
    std::sort(keys.begin(), keys.end());
    std::vector<walk_entry> sorted;
    sorted.reserve(entries.size());
    for (const auto& key : keys) {
        sorted.push_back(std::move(entries[key.second]));
    }
    entries = std::move(sorted);
}

} // namespace

unsigned char walk_entry::type_not_following() const {
    if (listed_type != DT_UNKNOWN) {
        return listed_type;
    }
    struct stat info {};
    // An entry gone since the listing is nothing the walk enters.
    return lstat(full.c_str(), &info) == 0 ? type_of_mode(info.st_mode)
                                           : static_cast<unsigned char>(DT_LNK);
}

bool walk_entry::is_regular_file(std::error_code& error) const {
    error.clear();
    const unsigned char type = type_not_following();
    if (type != DT_LNK && type != DT_UNKNOWN) {
        return type == DT_REG;
    }
    struct stat info {};
    if (stat(full.c_str(), &info) != 0) {
        error.assign(errno, std::generic_category());
        return false;
    }
    return S_ISREG(info.st_mode);
}

namespace {

// What one getdents64 call may fill: as much as glibc's readdir asks for.
constexpr std::size_t listing_buffer_size = 32 << 10;

} // namespace

folder_listing::folder_listing(const char* path, std::error_code& error) {
    error.clear();
    fd = open(path, O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error.assign(errno, std::generic_category());
        return;
    }
    buffer = std::make_unique<char[]>(listing_buffer_size);
}

folder_listing::~folder_listing() {
    close_now();
}

folder_listing::folder_listing(folder_listing&& other) noexcept
    : fd(std::exchange(other.fd, -1)), buffer(std::move(other.buffer)), at(other.at),
      end(other.end) {}

void folder_listing::close_now() {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
    buffer.reset();
}

bool folder_listing::next(std::string_view& name, unsigned char& type, std::error_code& error) {
    error.clear();
    constexpr std::size_t name_at = offsetof(dirent64, d_name);
    while (fd >= 0) {
        if (at == end) {
            const ssize_t got = getdents64(fd, buffer.get(), listing_buffer_size);
            if (got <= 0) {
                if (got < 0) {
                    error.assign(errno, std::generic_category());
                }
                close_now();
                return false;
            }
            at = 0;
            end = static_cast<std::size_t>(got);
        }
        // The kernel's records lie whole in what it filled; one that does not is no listing.
        const char* record = buffer.get() + at;
        const std::size_t left = end - at;
        unsigned short length = 0;
        if (left > name_at) {
            std::memcpy(&length, record + offsetof(dirent64, d_reclen), sizeof length);
        }
        if (length <= name_at || length > left) {
            error.assign(EIO, std::generic_category());
            close_now();
            return false;
        }
        at += length;
        name = std::string_view(record + name_at, strnlen(record + name_at, length - name_at));
        type = static_cast<unsigned char>(record[offsetof(dirent64, d_type)]);
        if (name != "." && name != "..") {
            return true;
        }
    }
    return false;
}

folder_entries::folder_entries(std::string path, bool sorted, std::error_code& error)
    : folder(std::move(path)), stream(folder.c_str(), error) {
    if (error) {
        return;
    }
    if (!sorted) {
        read_one(error);
        return;
    }
    while (read_one(error)) {
    }
    sort_by_name(listed);
}

bool folder_entries::read_one(std::error_code& error) {
    std::string_view name;
    unsigned char type = DT_UNKNOWN;
    if (!stream.next(name, type, error)) {
        return false;
    }
    std::size_t name_start = 0;
    std::string path = joined(folder, name, name_start);
    listed.emplace_back(std::move(path), name_start, type);
    return true;
}

void folder_entries::advance(std::error_code& error) {
    error.clear();
    ++at;
    if (at == listed.size() && stream.is_open()) {
        // A streamed folder keeps only the entry at hand.
        listed.clear();
        at = 0;
        read_one(error);
    }
}

std::size_t relative_start(const std::filesystem::path& root) {
    const std::string& text = root.native();
    return text.empty() || text.back() == '/' ? text.size() : text.size() + 1;
}

} // namespace search
