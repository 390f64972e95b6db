#pragma once

// The writer of matches: one for each output format, chosen once by the driver.

#include "core/search_types.hpp"

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <variant>

namespace search {

// How matches are written.
struct writer_settings {
    output_format format = output_format::blocks;
    bool use_color = false;
    // Standard output is a terminal: the control characters of what is printed are shown.
    bool visible_controls = false;
    // --null: each path of the file list is followed by a NUL byte, not a line feed.
    bool null_separated = false;
};

// Each format's record of a match. The block and the file list's path are written by the
// writer's own functions.
struct json_record {};
struct vimgrep_record {};
struct block_record {};
struct file_list_record {};

// Writes each record on standard output with a single write, or adds it to the file's held
// output (--sort path); the file list only notes that the file matched, and writes the path
// when the file's search ends.
class match_writer {
public:
    match_writer() = default;
    explicit match_writer(const writer_settings& settings);

    void report(file_context& file, const match& found) const;

    // Ends a file's search: the file list prints the path of a file that matched.
    void finish(file_context& file) const;

    // A message of the file search on message_stream(), or held with the file's output when
    // that stream is standard output.
    void message(file_context& file, std::string_view text) const;

    // Where the file search's messages go: standard output, unless it carries records.
    std::FILE* message_stream() const;

    // One match as one block, with a single write.
    void print_block(std::string_view path, std::uint32_t start_line, std::uint32_t end_line,
                     std::string_view snippet) const;

    const writer_settings& settings() const { return chosen; }

private:
    void emit(file_context& file, std::string_view text, const match& found) const;
    void write(file_context& file, const match& found, block_record) const;
    void write(file_context& file, const match& found, json_record) const;
    void write(file_context& file, const match& found, vimgrep_record) const;
    void write(file_context& file, const match& found, file_list_record) const;

    writer_settings chosen;
    std::variant<block_record, json_record, vimgrep_record, file_list_record> record;
};

// Writes text on standard output with one write.
void write_out(std::string_view text);

} // namespace search
