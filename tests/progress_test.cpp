// Test labels: threads (run under ThreadSanitizer too)
// The progress line on a terminal: shown while a parse takes long, gone from the screen for
// every match and at the end, never anywhere but on a terminal's standard error.
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::process_options;
using testing_support::process_result;
using testing_support::temp_tree;

// What a terminal shows after the bytes: '\r' goes back to the line's start, ESC [K erases
// from the cursor to the line's end.
std::string screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    std::size_t column = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string& line = lines.back();
        if (bytes.compare(i, 3, "\x1b[K") == 0) {
            line.resize(std::min(column, line.size()));
            i += 2;
        } else if (bytes[i] == '\r') {
            column = 0;
        } else if (bytes[i] == '\n') {
            lines.emplace_back();
            column = 0;
        } else if (column < line.size()) {
            line[column++] = bytes[i];
        } else {
            line += bytes[i];
            ++column;
        }
    }
    std::string shown;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        shown += (i == 0 ? "" : "\n") + lines[i];
    }
    return shown;
}

// A file whose parse lasts as long as the test holds back the header it includes: a named
// pipe, which libclang reads when a writer comes.
class slow_parse : public testing::Test {
protected:
    void SetUp() override {
        tree.write("a.cpp", "#include \"slow.h\"\nint progress_marker() { return slow; }\n");
        ASSERT_EQ(mkfifo(tree.path("slow.h").c_str(), 0600), 0);
    }

    // Runs pyrn on the tree while a thread hands the header over after pause_seconds.
    process_result run(std::vector<std::string> arguments, process_options options,
                       int pause_seconds) {
        std::thread writer([&] { write_header_after(pause_seconds); });
        options.cwd = tree.path();
        arguments.insert(arguments.end(), {"--nc", "-F", "progress_marker", "."});
        process_result result = testing_support::run_pyrn(arguments, options);
        writer.join();
        return result;
    }

    void write_header_after(int pause_seconds) {
        // Opening for writing fails while nobody reads; the parse opens it for reading.
        int fd = -1;
        for (int tries = 0; tries < 6000 && fd < 0; ++tries) {
            fd = open(tree.path("slow.h").c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        if (fd < 0) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(pause_seconds));
        const std::string header = "static const int slow = 1;\n";
        EXPECT_EQ(write(fd, header.data(), header.size()), static_cast<ssize_t>(header.size()));
        close(fd);
    }

    temp_tree tree;
    const std::string plain = "\n// ./a.cpp (Line: 2 to 2)\n"
                              "int progress_marker() { return slow; }\n\n";
};

TEST_F(slow_parse, shows_the_line_on_a_terminal_and_leaves_only_the_matches_on_the_screen) {
    process_options terminal;
    terminal.stdout_is_terminal = true;
    terminal.stderr_is_terminal = true;
    const process_result result = run({}, terminal, 3);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("\r\x1b[K0/1 files, 0 matches, parsing ./a.cpp"), std::string::npos)
        << result.out;
    EXPECT_EQ(screen(result.out), plain);
}

TEST_F(slow_parse, keeps_the_line_on_standard_error_when_the_output_goes_elsewhere) {
    process_options error_on_terminal;
    error_on_terminal.stderr_is_terminal = true;
    const process_result result = run({}, error_on_terminal, 3);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, plain);
    EXPECT_NE(result.err.find("0/1 files, 0 matches, parsing ./a.cpp"), std::string::npos);
    EXPECT_EQ(screen(result.err), "");
}

// A file name's C1 characters, raw or as UTF-8, and its C0 ones are shown, not sent.
TEST_F(slow_parse, shows_the_control_characters_of_the_file_parsed) {
    const std::string name = "p\xc2\x9b"
                             "2J\x9b"
                             "2J\x1b\n.cpp";
    std::filesystem::rename(tree.path("a.cpp"), tree.path(name));
    process_options error_on_terminal;
    error_on_terminal.stderr_is_terminal = true;
    const process_result result = run({}, error_on_terminal, 3);
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.err.find("0/1 files, 0 matches, parsing ./p<9b>2J<9b>2J^[^J.cpp"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find_first_of("\x9b\n"), std::string::npos);
}

TEST_F(slow_parse, shows_no_line_when_told_not_to_or_off_a_terminal) {
    process_options terminal;
    terminal.stdout_is_terminal = true;
    terminal.stderr_is_terminal = true;
    const process_result off = run({"--no-progress"}, terminal, 2);
    EXPECT_EQ(off.status, 0);
    EXPECT_EQ(off.out, plain);

    process_options output_on_terminal;
    output_on_terminal.stdout_is_terminal = true;
    const process_result piped = run({}, output_on_terminal, 2);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, plain);
    EXPECT_EQ(piped.err, "");
}

} // namespace
