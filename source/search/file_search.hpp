#pragma once

// The road of one file: read, pre-filter, answer from the cache or parse, decide, report.

#include <string>
#include <string_view>
#include <system_error>

struct stat;

namespace search {

class held_output;

// The body of one file task: reads the file and searches it, holding its output on standard
// output in held when that is given. Failures are reported on standard error and end only
// this file's search.
void search_file_task(const std::string& path, held_output* held = nullptr) noexcept;

// Reads a file whole, never waiting for a writer (a named pipe); an empty string when it cannot
// be opened or read, is not a regular file or its size cannot be had or held. error tells why a
// file could not be opened or read.
std::string read_whole_file(const char* path, std::error_code& error);

// The same into buffer, which grows to the largest file read and is never cleared: the bytes
// are the view's, valid until the next read into buffer. info, when given, gets the status of
// the file opened, taken before it was read.
std::string_view read_whole_file(const char* path, std::error_code& error, std::string& buffer,
                                 struct stat* info = nullptr);

} // namespace search
