#pragma once

// The lines of a file's bytes, counted as clang's source manager counts them: "\n", "\r\n" and
// a lone "\r" each end a line. Records keep offsets, and their lines are taken from the bytes
// searched, so that no entry can say where its text stands.

#include <cstdint>
#include <string_view>
#include <vector>

namespace search {

class line_index {
public:
    explicit line_index(std::string_view content) : content(content) {}

    // The 1-based line holding offset, at most the content's size (the end of the last line).
    // The lines are found on the first call: most files replayed print nothing.
    std::uint32_t line_of(std::uint32_t offset);

private:
    void find_line_starts();

    std::string_view content;
    std::vector<std::uint32_t> starts; // of the lines after the first
    bool found = false;
};

} // namespace search
