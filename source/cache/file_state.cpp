#include "cache/file_state.hpp"

#include <xxhash.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace search {

bool file_state::operator==(const file_state& other) const {
    return exists == other.exists && size == other.size && modified_ns == other.modified_ns &&
           changed_ns == other.changed_ns && inode == other.inode && device == other.device;
}

std::int64_t nanoseconds(const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

std::int64_t coarse_now_ns() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return nanoseconds(now);
}

file_state state_of(const struct stat& info) {
    return {true,
            static_cast<std::uint64_t>(info.st_size),
            nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim),
            static_cast<std::uint64_t>(info.st_ino),
            static_cast<std::uint64_t>(info.st_dev)};
}

file_state state_of(const char* path, bool& regular) {
    struct stat info {};
    if (stat(path, &info) != 0) {
        regular = false;
        return {};
    }
    regular = S_ISREG(info.st_mode);
    return state_of(info);
}

file_state state_of(const char* path) {
    bool regular = false;
    return state_of(path, regular);
}

bool settled_before(const file_state& state, std::int64_t tick_start) {
    return state.modified_ns < tick_start && state.changed_ns < tick_start;
}

bool hash_file(const char* path, file_state& state, std::uint64_t& hash) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    state = state_of(info);
    XXH3_state_t* hashing = XXH3_createState();
    XXH3_64bits_reset(hashing);
    char piece[1 << 16];
    ssize_t got = 0;
    while ((got = read(fd, piece, sizeof piece)) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            break;
        }
        XXH3_64bits_update(hashing, piece, static_cast<std::size_t>(got));
    }
    hash = XXH3_64bits_digest(hashing);
    XXH3_freeState(hashing);
    close(fd);
    return got == 0;
}

} // namespace search
