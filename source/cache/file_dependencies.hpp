#pragma once

// What a parse read besides the searched file, for the cache to judge its entries by.

#include <clang-c/Index.h>

#include <string>
#include <vector>

namespace search {

// The files a parse depends on besides the searched one: those it included, at any depth, and
// those whose appearance would let a missing include be found. Absolute paths.
struct file_dependencies {
    std::vector<std::string> included;
    std::vector<std::string> absent;
};

// The dependencies of a parsed unit; arguments are those it was parsed with, whose include
// directories are where a missing include could appear.
file_dependencies dependencies_of(CXTranslationUnit unit,
                                  const std::vector<const char*>& arguments);

} // namespace search
