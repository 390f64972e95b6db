#pragma once

// Descriptors 0, 1 and 2, and which of the standard streams are terminals.

#include <cstdio>

namespace search {

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later takes its number and receives what is written to that stream, and notes which of
// standard output and standard error are terminals. First thing in main; false when
// /dev/null cannot be opened.
bool open_standard_streams() noexcept;

// Whether stream, standard output or standard error, was a terminal at the start.
bool is_terminal(std::FILE* stream) noexcept;

// When standard error is a terminal, moves stderr to a descriptor of its own and sends
// descriptor 2 to /dev/null: libclang writes there unasked (the dumps of "#pragma clang
// __debug"), bytes that would act on the terminal. Before the first parse and before any
// other thread starts; libclang's diagnostics are taken from the units instead.
void keep_libclang_off_the_terminal() noexcept;

} // namespace search
