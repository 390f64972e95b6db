#include "core/source_files.hpp"

#include "base/paths.hpp"

namespace search {

namespace {

struct suffix_row {
    std::string_view suffix;
    std::string_view language;
    bool header;
    bool searched;
};

const suffix_row suffixes[] = {
    {".c", "c", false, true},
    {".h", "c", true, true},
    {".cpp", "c++", false, true},
    {".cc", "c++", false, true},
    {".cxx", "c++", false, true},
    {".hh", "c++", true, true},
    {".hxx", "c++", true, true},
    {".hpp", "c++", true, true},
    {".cu", "cuda", false, true},
    {".cuh", "cuda", true, true},
    {".m", "objective-c", false, false},
    {".mm", "objective-c++", false, false},
};

const suffix_row* row_of(std::string_view path) {
    for (const suffix_row& row : suffixes) {
        if (ends_with(path, row.suffix)) {
            return &row;
        }
    }
    return nullptr;
}

} // namespace

bool has_source_extension(std::string_view path) {
    const suffix_row* row = row_of(path);
    return row != nullptr && row->searched;
}

bool is_header_path(std::string_view path) {
    const suffix_row* row = row_of(path);
    return row != nullptr && row->header;
}

std::string_view language_of_suffix(std::string_view path, bool c_as_cpp) {
    const suffix_row* row = row_of(path);
    if (row == nullptr || (c_as_cpp && row->language == "c")) {
        return "c++";
    }
    return row->language;
}

std::string_view header_language(std::string_view language) {
    for (std::string_view header :
         {"c-header", "c++-header", "objective-c-header", "objective-c++-header"}) {
        if (header.substr(0, header.size() - 7) == language) {
            return header;
        }
    }
    return language;
}

} // namespace search
