#pragma once

// What a parse takes from a compilation database's entry: only the options that shape what the
// code means (macros, include paths, language, standard, target and a list of language flags).
// An entry comes with the repository being searched, so nothing that could run a program, load
// a plugin, read a response file or write a file is passed on.

#include <cstddef>
#include <string>
#include <vector>

namespace search {

// The number of arguments from args[i] on that form one option a parse takes: 1 for a flag or
// a joined value, 2 for an option with its value apart; 0 when the parse does not take it.
std::size_t parse_option_length(const std::vector<std::string>& args, std::size_t i);

// The number of arguments from args[i] on that one option spans, taken or not: 2 for an option
// of this list whose value is apart, else 1.
std::size_t option_span(const std::vector<std::string>& args, std::size_t i);

// A depth or step limit above clang's default lowered to it (-fbracket-depth=1000000 crashes
// a parse, -fconstexpr-steps=2147483647 stalls it); any other option as it is.
std::string capped_limit(const std::string& arg);

// The number of arguments from args[i] on that only ask for or name an output (-c, -o FILE,
// -MD, -MF FILE, ...): every entry has them, so they are left out without a word; else 0.
std::size_t output_option_length(const std::vector<std::string>& args, std::size_t i);

} // namespace search
