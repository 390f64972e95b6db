#pragma once

// A file read whole, as the search and the compilation database read theirs.

#include <string>
#include <string_view>
#include <system_error>

struct stat;

namespace search {

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
