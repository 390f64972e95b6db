#pragma once

// What tells whether a file may have changed since it was last read, and the hash of its bytes.

#include <sys/stat.h>

#include <cstdint>
#include <ctime>

namespace search {

// A file that changed in place has another size or time stamp, one that was replaced another
// inode (and, on another file system, another device).
struct file_state {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modified_ns = 0;
    std::int64_t changed_ns = 0;
    std::uint64_t inode = 0;
    std::uint64_t device = 0;

    bool operator==(const file_state& other) const;
    bool operator!=(const file_state& other) const { return !(*this == other); }
};

// A file as this run found it: its state and, when it is a regular file that could be read,
// the hash of its bytes.
struct known_file {
    file_state state;
    bool hashed = false;
    std::uint64_t hash = 0;
};

std::int64_t nanoseconds(const timespec& time);

// The start of the current tick of CLOCK_REALTIME_COARSE, the clock that stamps files' times.
std::int64_t coarse_now_ns();

file_state state_of(const struct stat& info);

// The file's state (following links), and whether it is a regular file, the only kind whose
// bytes are hashed: the others (a device, a FIFO) have no bytes that a parse read and kept.
file_state state_of(const char* path, bool& regular);
file_state state_of(const char* path);

// Whether a state taken after tick_start (coarse_now_ns) can stand for the bytes read after it:
// a file changed within the tick before could change again with the same state.
bool settled_before(const file_state& state, std::int64_t tick_start);

// The hash of the file's bytes, read in pieces, with the state of what was read; false when it
// cannot be read or is no longer a regular file. Opened without blocking, so that a FIFO put in
// its place holds nothing up.
bool hash_file(const char* path, file_state& state, std::uint64_t& hash);

} // namespace search
