#pragma once

// The program's own lines. A stream that cannot take them must not end the search, so these
// never throw. On a terminal, what they carry (a file name, a reason from a library or a
// server) is shown through visible_controls, line breaks too, so that it can neither act on the
// terminal nor forge a line; piped, every byte is kept.

#include <fmt/format.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

namespace search {

// "pyrn: SUBJECT: REASON", the line of every file, folder or setting that could not be used.
void report(std::string_view subject, std::string_view reason) noexcept;

// "pyrn: TEXT".
void report(std::string_view text) noexcept;

// text as stream shows it: on a terminal with every control character shown but a line feed
// that ends text. text itself when nothing is shown, else a view of storage.
std::string_view shown_on(std::FILE* stream, std::string_view text, std::string& storage);

// Appends line and a line feed to out, line as stream shows it.
void append_line(std::string& out, std::FILE* stream, std::string_view line);

// Writes text, already as stream shows it, with one write; a stream that cannot take it loses
// it.
void write_text(std::FILE* stream, std::string_view text) noexcept;

void say_formatted(std::FILE* stream, fmt::string_view format, fmt::format_args args) noexcept;

// A message of the search on stream ("Checking FILE"), shown as shown_on does; a stream that
// cannot take it loses it.
template <class... Args>
void say(std::FILE* stream, fmt::format_string<Args...> format, Args&&... args) noexcept {
    say_formatted(stream, format, fmt::make_format_args(args...));
}

} // namespace search
