// The snippets come from the raw offsets of a cursor's extent. Checked here against an
// independent reading of the same translation unit through libclang's file locations: every
// printed snippet is exactly the entity's source text, and nothing from an included file or a
// macro expansion is ever printed.

#include "file_search_support.hpp"
#include "match/match_decision.hpp"
#include "clang/clang_cursor.hpp"
#include "clang/file_arguments.hpp"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace file_search_testing;
using search::searcher;

// One translation unit, parsed with the file search's own arguments, and extra flags.
class parsed_file {
public:
    parsed_file(const std::string& path, const std::vector<const char*>& options, unsigned extra)
        : arguments(path, options), index(clang_createIndex(0, 0)) {
        unit = clang_parseTranslationUnit(index, path.c_str(), arguments.list.data(),
                                          static_cast<int>(arguments.list.size()), nullptr, 0,
                                          0x4200 | extra);
        if (unit == nullptr) {
            throw std::runtime_error("no translation unit for " + path);
        }
        main_file = clang_getFile(unit, path.c_str());
    }
    ~parsed_file() {
        clang_disposeTranslationUnit(unit);
        clang_disposeIndex(index);
    }
    parsed_file(const parsed_file&) = delete;
    parsed_file& operator=(const parsed_file&) = delete;

    // Calls visit(cursor) for every cursor below the translation unit, in pre-order.
    template <typename Visit> void each_cursor(Visit visit) const {
        clang_visitChildren(
            clang_getTranslationUnitCursor(unit),
            [](CXCursor cursor, CXCursor, CXClientData data) {
                (*static_cast<Visit*>(data))(cursor);
                return CXChildVisit_Recurse;
            },
            &visit);
    }

    search::file_arguments arguments;
    CXIndex index;
    CXTranslationUnit unit = nullptr;
    CXFile main_file = nullptr;
};

struct file_position {
    bool in_main_file = false;
    unsigned line = 0;
    unsigned offset = 0;
};

file_position position_of(CXSourceLocation location, CXFile main_file) {
    CXFile file = nullptr;
    file_position at;
    clang_getFileLocation(location, &file, &at.line, nullptr, &at.offset);
    at.in_main_file = file != nullptr && clang_File_isEqual(file, main_file);
    return at;
}

// Byte ranges of the main file that are macro invocations, from the preprocessing record.
std::vector<std::pair<unsigned, unsigned>> macro_invocations(const std::string& path,
                                                             const std::vector<const char*>& opts) {
    const parsed_file detailed(path, opts, CXTranslationUnit_DetailedPreprocessingRecord);
    std::vector<std::pair<unsigned, unsigned>> ranges;
    detailed.each_cursor([&](CXCursor cursor) {
        if (cursor.kind == CXCursor_MacroExpansion) {
            const CXSourceRange extent = clang_getCursorExtent(cursor);
            const file_position begin =
                position_of(clang_getRangeStart(extent), detailed.main_file);
            const file_position end = position_of(clang_getRangeEnd(extent), detailed.main_file);
            if (begin.in_main_file) {
                ranges.emplace_back(begin.offset, end.offset);
            }
        }
    });
    return ranges;
}

bool is_search_kind(CXCursorKind kind) {
    switch (kind) {
    case CXCursor_EnumDecl:
    case CXCursor_StructDecl:
    case CXCursor_UnionDecl:
    case CXCursor_CXXMethod:
    case CXCursor_FunctionDecl:
    case CXCursor_FunctionTemplate:
    case CXCursor_ClassDecl:
    case CXCursor_ClassTemplate:
    case CXCursor_Constructor:
    case CXCursor_Destructor:
    case CXCursor_TypedefDecl:
    case CXCursor_UsingDirective:
    case CXCursor_UsingDeclaration:
    case CXCursor_TypeAliasDecl:
    case CXCursor_NamespaceAlias:
    case CXCursor_VarDecl:
    case CXCursor_ParmDecl:
    case CXCursor_CXXStaticCastExpr:
    case CXCursor_CXXDynamicCastExpr:
    case CXCursor_CXXReinterpretCastExpr:
    case CXCursor_CXXConstCastExpr:
    case CXCursor_CXXThrowExpr:
    case CXCursor_ForStmt:
    case CXCursor_CXXForRangeStmt:
        return true;
    default:
        return false;
    }
}

struct offsets_case {
    const char* file;
    std::vector<const char*> options;
    bool has_header_entities;
    bool has_macro_entities;
};

std::ostream& operator<<(std::ostream& out, const offsets_case& c) {
    return out << c.file;
}

class snippet_offsets : public testing::TestWithParam<offsets_case> {};

TEST_P(snippet_offsets, every_printed_snippet_is_the_entity_text_and_only_main_file_text) {
    const offsets_case& c = GetParam();
    const std::string path = fixture(c.file);
    const std::string content = read_file(path);
    const auto macros = macro_invocations(path, c.options);
    auto in_macro = [&](unsigned offset) {
        for (const auto& [begin, end] : macros) {
            if (offset >= begin && offset < end) {
                return true;
            }
        }
        return false;
    };

    const parsed_file parsed(path, c.options, 0);
    std::string expected;
    int plain = 0;
    int from_headers = 0;
    int from_macros = 0;
    parsed.each_cursor([&](CXCursor cursor) {
        const CXSourceRange extent = clang_getCursorExtent(cursor);
        const file_position begin = position_of(clang_getRangeStart(extent), parsed.main_file);
        const file_position end = position_of(clang_getRangeEnd(extent), parsed.main_file);
        const bool in_file = begin.in_main_file && end.in_main_file;
        const bool plain_text = in_file && end.offset >= begin.offset && !in_macro(begin.offset) &&
                                (end.offset == begin.offset || !in_macro(end.offset - 1));
        std::string_view snippet;
        const bool cut = search::cut_snippet(search::span_of(extent), false, content, snippet);
        EXPECT_EQ(cut, plain_text) << "cursor kind " << cursor.kind << " at offset " << begin.offset
                                   << " line " << begin.line;
        if (cut && plain_text) {
            EXPECT_EQ(snippet,
                      std::string_view(content).substr(begin.offset, end.offset - begin.offset));
        }
        if (!is_search_kind(cursor.kind)) {
            return;
        }
        if (plain_text) {
            ++plain;
            fmt::format_to(std::back_inserter(expected), "\n// {} (Line: {} to {})\n{}\n", path,
                           begin.line, end.line,
                           content.substr(begin.offset, end.offset - begin.offset));
        } else if (!begin.in_main_file) {
            ++from_headers;
        } else {
            ++from_macros;
        }
    });
    EXPECT_GT(plain, 0);
    EXPECT_EQ(from_headers > 0, c.has_header_entities) << from_headers;
    EXPECT_EQ(from_macros > 0, c.has_macro_entities) << from_macros;

    // The real search with an empty query prints every such entity of the main file.
    settings run("", c.options);
    EXPECT_EQ(search_file(path), expected);
}

const std::vector<const char*> cpp{"-x", "c++", "-std=c++17"};

INSTANTIATE_TEST_SUITE_P(file_search, snippet_offsets,
                         testing::Values(offsets_case{"realistic.cpp", cpp, true, true},
                                         offsets_case{"uses_header.cpp", cpp, true, false},
                                         offsets_case{"macros.cpp", cpp, false, true},
                                         offsets_case{"kernel.cu", cpp, false, false},
                                         offsets_case{"crlf.cpp", cpp, false, false},
                                         offsets_case{
                                             "no_final_newline.c", {"-x", "c"}, false, false},
                                         offsets_case{"functions.cpp", cpp, false, false},
                                         offsets_case{"expressions.cpp", cpp, false, false},
                                         offsets_case{"for_statement.cpp", cpp, false, false},
                                         offsets_case{"syntax_errors.cpp", cpp, false, false},
                                         offsets_case{"many_errors.cpp", cpp, false, false},
                                         offsets_case{"missing_include.cpp", cpp, false, false}),
                         [](const testing::TestParamInfo<offsets_case>& info) {
                             std::string name = info.param.file;
                             for (char& c : name) {
                                 c = c == '.' ? '_' : c;
                             }
                             return name;
                         });

} // namespace
