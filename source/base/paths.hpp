#pragma once

// Paths as the search joins and compares them.

#include <string>
#include <string_view>

namespace search {

// The working directory, named once: the search never leaves it, and a parse worker enters it
// for each parse. Empty when it cannot be named.
const std::string& working_directory();

// path in directory (the working directory when directory is empty), as it is: ".." after a
// symbolic link does not lead where a textual step back would. An absolute path stays itself.
std::string joined(const std::string& directory, std::string_view path);

// joined, then lexically normal: the form in which a compilation database's files are compared.
std::string absolute_in(const std::string& directory, std::string_view path);

bool starts_with(std::string_view text, std::string_view start);
bool ends_with(std::string_view text, std::string_view end);

} // namespace search
