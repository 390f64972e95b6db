#pragma once

// What a file's name says about it: whether the search takes it, whether it is a header, and
// the language clang parses it as.

#include <string_view>

namespace search {

// True when the path ends in one of the ten C, C++ and CUDA source suffixes.
bool has_source_extension(std::string_view path);

// Whether a path names a header (.h, .hh, .hpp, .hxx, .cuh), parsed with a header language.
bool is_header_path(std::string_view path);

// clang's name of the language of a path's suffix: c, c++, cuda, objective-c, objective-c++;
// c++ for an unknown suffix, and for .c and .h when c_as_cpp (a g++ driver) is set.
std::string_view language_of_suffix(std::string_view path, bool c_as_cpp);

// The header form of a language (c++ gives c++-header); other languages as they are.
std::string_view header_language(std::string_view language);

} // namespace search
