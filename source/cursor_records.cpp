#include "cursor_records.hpp"

#include "clang_cursor.hpp"
#include "match_decision.hpp"

#include <filesystem>
#include <unordered_map>
#include <unordered_set>

namespace search {

namespace {

struct collection {
    file_context& context;
    file_records& out;
    qualified_names names;
    // Each name once in the arena: many cursors share a spelling, and many references name
    // the same declaration.
    std::unordered_map<std::string, std::uint32_t> in_arena;

    std::uint32_t add_text(std::string_view text) {
        auto [found, added] =
            in_arena.try_emplace(std::string(text), static_cast<std::uint32_t>(out.arena.size()));
        if (added) {
            out.arena.append(text);
        }
        return found->second;
    }
};

CXChildVisitResult collect_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept;

// Adds the record of one cursor, then those inside it, so that its subtree's end is known.
CXChildVisitResult collect(CXCursor cursor, collection& into) {
    const kind_row* row = find_kind(cursor.kind);
    if (row == nullptr) {
        return CXChildVisit_Recurse;
    }
    clang_cursor facts(cursor, into.names);
    const cursor_span& span = facts.span();
    std::string_view snippet;
    // Elsewhere than in the file, a cursor is neither printed nor pruned whatever the query.
    if (!cut_snippet(span, row->expression, into.context.content, snippet)) {
        return CXChildVisit_Recurse;
    }
    const cursor_lines& lines = facts.lines();
    std::vector<cursor_record>& records = into.out.records;
    const std::string_view name = facts.name();
    cursor_record record;
    record.kind = static_cast<std::uint32_t>(cursor.kind);
    record.start_line = lines.start;
    record.end_line = lines.end;
    record.offset = span.offset;
    record.length = span.length;
    record.name_offset = into.add_text(name);
    record.name_length = static_cast<std::uint32_t>(name.size());
    const std::string_view qualified = facts.qualified_name();
    record.qualified_length = static_cast<std::uint32_t>(qualified.size());
    record.qualified_offset = into.add_text(qualified);
    const std::size_t index = records.size();
    records.push_back(record);
    if (clang_visitChildren(cursor, &collect_cursor, &into) != 0) {
        return CXChildVisit_Break;
    }
    records[index].subtree_end = static_cast<std::uint32_t>(records.size());
    return CXChildVisit_Continue;
}

CXChildVisitResult collect_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept {
    auto& into = *static_cast<collection*>(data);
    try {
        return collect(cursor, into);
    } catch (...) {
        // Unwinding through libclang's frames would skip its clean-up.
        into.context.failure = std::current_exception();
        return CXChildVisit_Break;
    }
}

// A record as the match decision sees it.
class record_cursor {
public:
    record_cursor(const cursor_record& record, const std::string& arena)
        : record(record),
          arena(arena), at{record.offset, record.length}, lines_at{record.start_line,
                                                                   record.end_line} {}

    int kind() const { return static_cast<int>(record.kind); }
    const cursor_span& span() const { return at; }
    const cursor_lines& lines() const { return lines_at; }
    std::string_view name() const {
        return std::string_view(arena).substr(record.name_offset, record.name_length);
    }
    std::string_view qualified_name() const {
        return std::string_view(arena).substr(record.qualified_offset, record.qualified_length);
    }

private:
    const cursor_record& record;
    const std::string& arena;
    cursor_span at;
    cursor_lines lines_at;
};

// path in dir (the working directory when dir is empty), as it is: ".." after a symbolic link
// does not lead where a textual step back would.
std::string in_directory(const std::string& dir, std::string_view path) {
    namespace fs = std::filesystem;
    if (!path.empty() && path[0] == '/') {
        return std::string(path);
    }
    return ((dir.empty() ? fs::current_path() : fs::path(dir)) / path).native();
}

// Where the arguments make clang look for includes: the directories of -I, -isystem, -iquote
// and -idirafter, in the working directory of -working-directory, and the system's own.
std::vector<std::string> include_directories(const std::vector<const char*>& arguments,
                                             std::string& working_dir) {
    static constexpr std::string_view options[] = {"-I", "-isystem", "-iquote", "-idirafter"};
    std::vector<std::string_view> given;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string_view arg = arguments[i];
        constexpr std::string_view working = "-working-directory=";
        if (arg.compare(0, working.size(), working) == 0) {
            working_dir = arg.substr(working.size());
        }
        for (std::string_view option : options) {
            if (arg == option && i + 1 < arguments.size()) {
                given.emplace_back(arguments[++i]);
            } else if (arg.size() > option.size() && arg.compare(0, option.size(), option) == 0) {
                given.push_back(arg.substr(option.size()));
            }
        }
    }
    std::vector<std::string> dirs;
    for (std::string_view dir : given) {
        dirs.push_back(in_directory(working_dir, dir));
    }
    dirs.emplace_back("/usr/local/include");
    dirs.emplace_back("/usr/include");
    return dirs;
}

// The name in a diagnostic "'name' file not found", or nothing.
std::string_view missing_include(std::string_view text) {
    constexpr std::string_view tail = "' file not found";
    const std::size_t end = text.find(tail);
    if (text.empty() || text[0] != '\'' || end == std::string_view::npos) {
        return {};
    }
    return text.substr(1, end - 1);
}

void add_inclusion(CXFile file, CXSourceLocation*, unsigned depth, CXClientData data) {
    // Depth 0 is the searched file itself, judged by its content.
    if (depth > 0) {
        static_cast<std::vector<std::string>*>(data)->push_back(
            owned_text(clang_getFileName(file)));
    }
}

} // namespace

file_dependencies dependencies_of(CXTranslationUnit unit,
                                  const std::vector<const char*>& arguments) {
    std::string working_dir;
    const std::vector<std::string> dirs = include_directories(arguments, working_dir);
    std::vector<std::string> named;
    clang_getInclusions(unit, &add_inclusion, &named);
    file_dependencies found;
    std::unordered_set<std::string> seen;
    for (const std::string& path : named) {
        std::string absolute = in_directory(working_dir, path);
        if (seen.insert(absolute).second) {
            found.included.push_back(std::move(absolute));
        }
    }
    for (unsigned i = 0, count = clang_getNumDiagnostics(unit); i < count; ++i) {
        CXDiagnostic diagnostic = clang_getDiagnostic(unit, i);
        const std::string text = owned_text(clang_getDiagnosticSpelling(diagnostic));
        CXFile where = nullptr;
        clang_getExpansionLocation(clang_getDiagnosticLocation(diagnostic), &where, nullptr,
                                   nullptr, nullptr);
        clang_disposeDiagnostic(diagnostic);
        const std::string_view name = missing_include(text);
        if (name.empty()) {
            continue;
        }
        std::vector<std::string> places = dirs;
        if (where != nullptr) {
            const std::string including =
                in_directory(working_dir, owned_text(clang_getFileName(where)));
            places.insert(places.begin(), std::filesystem::path(including).parent_path().native());
        }
        for (const std::string& dir : places) {
            found.absent.push_back(in_directory(dir, name));
        }
    }
    return found;
}

bool collect_records(CXTranslationUnit unit, file_context& context, file_records& out) {
    collection into{context, out, {}, {}};
    return clang_visitChildren(clang_getTranslationUnitCursor(unit), &collect_cursor, &into) == 0;
}

void replay_records(const file_records& in, file_context& context) {
    for (std::size_t i = 0; i < in.records.size();) {
        record_cursor cursor(in.records[i], in.arena);
        std::string_view snippet;
        switch (decide(cursor, context.content, snippet)) {
        case verdict::prune:
            i = in.records[i].subtree_end;
            continue;
        case verdict::match:
            searcher::report_match(context, describe(cursor, context, snippet));
            break;
        case verdict::pass:
            break;
        }
        ++i;
    }
}

} // namespace search
