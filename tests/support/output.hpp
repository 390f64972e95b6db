#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testing_support {

// The bytes of a file; throws when it cannot be read.
std::string read_file(const std::string& path);

// The lines of a text, without their line feeds.
std::vector<std::string> lines_of(const std::string& text);

// The expected bytes kept in tests/golden/<name>; with PYRN_UPDATE_GOLDEN set in the
// environment the file is first rewritten with the actual bytes (review the diff!).
std::string golden(const std::string& name, const std::string& actual);

// Runs body with descriptor 1 on a temporary file and returns what it printed; restores
// descriptor 1 also when body throws.
std::string capture_stdout(const std::function<void()>& body);

// One block of the default output without colour.
struct block {
    std::string path;
    unsigned start_line = 0;
    unsigned end_line = 0;
    std::string text;
    bool operator<(const block& other) const;
    bool operator==(const block& other) const;
};

// A block as a failed expectation shows it.
void PrintTo(const block& shown, std::ostream* out);

// The blocks of a run's whole output (or of several runs joined), in order. No snippet of the
// tests holds a line that reads like a header.
std::vector<block> parse_blocks(const std::string& out);

} // namespace testing_support
