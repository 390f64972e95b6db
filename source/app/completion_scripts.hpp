#pragma once

// The shell completions of pyrn, written from the option table: each offers the options with
// their help texts, the values an option takes, and files and directories for the path.
// Throw std::invalid_argument for a row that a script could not quote.

#include <string>

namespace pyrn {

std::string bash_completion();
std::string zsh_completion();
std::string fish_completion();

// Puts with in place of the one occurrence of marker in text; throws std::invalid_argument
// when marker does not occur exactly once.
std::string fill_in(std::string text, const std::string& marker, const std::string& with);

} // namespace pyrn
