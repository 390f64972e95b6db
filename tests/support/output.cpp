#include "output.hpp"
#include "process.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <tuple>

namespace testing_support {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string golden(const std::string& name, const std::string& actual) {
    const std::string path = test_dir() + "/golden/" + name;
    if (std::getenv("PYRN_UPDATE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << actual;
    }
    return read_file(path);
}

std::string capture_stdout(const std::function<void()>& body) {
    std::string name = (std::filesystem::temp_directory_path() / "pyrn-stdout-XXXXXX").native();
    const int file = mkstemp(name.data());
    if (file < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    unlink(name.c_str());
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(file, 1);
    auto restore = [&] {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    };
    try {
        body();
    } catch (...) {
        restore();
        close(file);
        throw;
    }
    restore();
    std::string out;
    char buffer[65536];
    lseek(file, 0, SEEK_SET);
    for (ssize_t got; (got = read(file, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    close(file);
    return out;
}

bool block::operator<(const block& other) const {
    return std::tie(path, start_line, end_line, text) <
           std::tie(other.path, other.start_line, other.end_line, other.text);
}

bool block::operator==(const block& other) const {
    return std::tie(path, start_line, end_line, text) ==
           std::tie(other.path, other.start_line, other.end_line, other.text);
}

void PrintTo(const block& shown, std::ostream* out) {
    *out << "{" << shown.path << " " << shown.start_line << "-" << shown.end_line << ": "
         << testing::PrintToString(shown.text) << "}";
}

namespace {

// The header "\n// path (Line: a to b)\n" starting at out[at], read into found; false when
// there is none there.
bool read_header(const std::string& out, std::size_t at, block& found, std::size_t& text_start) {
    if (out.compare(at, 4, "\n// ") != 0) {
        return false;
    }
    const std::size_t end = out.find('\n', at + 1);
    const std::size_t lines = out.rfind(" (Line: ", end);
    if (end == std::string::npos || lines == std::string::npos || lines < at ||
        out[end - 1] != ')' ||
        std::sscanf(out.c_str() + lines, " (Line: %u to %u)", &found.start_line, &found.end_line) !=
            2) {
        return false;
    }
    found.path = out.substr(at + 4, lines - at - 4);
    text_start = end + 1;
    return true;
}

} // namespace

std::vector<block> parse_blocks(const std::string& out) {
    std::vector<block> blocks;
    std::size_t text_start = 0;
    for (std::size_t at = out.find('\n'); at != std::string::npos; at = out.find('\n', at + 1)) {
        block found;
        std::size_t next_text = 0;
        if (!read_header(out, at, found, next_text)) {
            continue;
        }
        if (!blocks.empty()) {
            blocks.back().text = out.substr(text_start, at - text_start);
        }
        blocks.push_back(found);
        text_start = next_text;
    }
    if (!blocks.empty()) {
        blocks.back().text = out.substr(text_start);
    }
    // A block's text ends with its own line feed; after a run's last block follows the
    // run's final one, and an empty line may stand before the next run's first block.
    for (block& b : blocks) {
        while (!b.text.empty() && b.text.back() == '\n') {
            b.text.pop_back();
        }
    }
    return blocks;
}

} // namespace testing_support
