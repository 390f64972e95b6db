#pragma once

// Whether a recorded name is the name that a parse of the file could have given the cursor at
// its place: the bytes there, or one of the names that clang makes up for a cursor whose name is
// not written where it stands.

#include "core/search_types.hpp"

#include <cstdint>
#include <string_view>

namespace search {

// The bytes at at in content spell name, blanks between its tokens and escaped line ends
// allowed; or name is what clang calls a cursor of this kind that stands there:
// - a template's constructor or destructor, "name<T>", at "name";
// - an operator or a conversion function at the word "operator" (clang prints the type its own
//   way), a destructor called through another name at "~";
// - a struct, union, class or enum named by a typedef at its keyword, and one without a name,
//   "(unnamed struct at FILE:LINE:COLUMN)", at its keyword (or at its name, when clang dropped
//   an invalid declaration's);
// - an inheriting constructor's using-declaration, named after the class it is in;
// - a reference that clang made where no name is written: at punctuation (an operator's call,
//   a range-based for's calls and variables) or inside a word (a defaulted function's members).
// A name whose place lies outside content (a macro wrote it) is not checked here.
bool name_stands_at(int kind, std::string_view name, const scoped_name& qualified,
                    std::string_view content, std::uint32_t at);

} // namespace search
