#pragma once

// The outputs of files printed in the order in which their searches were handed out, whatever
// the order in which they end.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace search {

// One file's output, held until the files before it are printed.
class held_output {
public:
    // A match's record, at the place of its entity in the file.
    void add_match(std::string_view text, std::uint32_t line, std::uint32_t column);
    // A message or the file's path, which keeps its place among the matches.
    void add(std::string_view text);

    // The text, each run of matches between two messages in source order.
    std::string in_order() const;

private:
    struct piece {
        std::uint32_t line;
        std::uint32_t column;
        std::size_t begin;
        std::size_t end;
        bool is_match;
    };
    std::string text;
    std::vector<piece> pieces;
};

class ordered_output {
public:
    // What is held is bounded: file number i may start only while the oldest file not yet
    // printed is i - window + 1 or later, and while the outputs held after it come to less
    // than held_bytes.
    ordered_output(std::size_t window, std::size_t held_bytes);

    // Waits until file number index may start. Files are numbered from 0 in the order in
    // which they are handed out, each number once.
    void wait_for_room(std::uint64_t index);
    // Whether file number index may start now.
    bool has_room(std::uint64_t index);

    // The whole output of file number index, which must have been given room: printed with
    // the outputs after it that are complete, as soon as every file before it is printed.
    void complete(std::uint64_t index, std::string output) noexcept;

private:
    bool room_for(std::uint64_t index) const;

    struct slot {
        bool done = false;
        std::string output;
    };

    std::mutex lock;
    std::condition_variable room;
    std::vector<slot> slots;  // file number modulo the window
    std::uint64_t oldest = 0; // the oldest file not yet printed
    std::size_t held = 0;     // bytes
    std::size_t held_limit;
};

} // namespace search
