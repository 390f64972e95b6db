#include "search/file_search.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "base/progress_line.hpp"
#include "cache/cursor_cache.hpp"
#include "cache/cursor_records.hpp"
#include "cache/file_dependencies.hpp"
#include "core/searcher.hpp"
#include "match/match_decision.hpp"
#include "match/query.hpp"
#include "output/match_output.hpp"
#include "clang/clang_cursor.hpp"
#include "clang/clang_handles.hpp"
#include "clang/compile_database.hpp"
#include "clang/file_arguments.hpp"

#include <xxhash.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

namespace search {

namespace {

// KeepGoing: go on after fatal errors such as a missing include. IgnoreNonErrorsFromIncludedFiles:
// no warnings from headers.
constexpr unsigned parse_flags =
    CXTranslationUnit_KeepGoing | CXTranslationUnit_IgnoreNonErrorsFromIncludedFiles;
static_assert(parse_flags == 0x4200);

// A file's place in the cursor cache, worked out once per file.
struct cache_slot {
    std::string absolute_path;
    cache_key key;
    std::uint64_t content_hash = 0;
};

// A unit visited straight through the decision: its cursors share the qualified names.
struct unit_visit {
    file_context& context;
    qualified_names names;
};

cache_slot slot_for(const cursor_cache& cache, const file_arguments& arguments,
                    std::string_view content);
bool visit_unit(CXTranslationUnit unit, file_context& context, const file_arguments& arguments,
                const cache_slot* slot, const timespec& parse_start);
CXChildVisitResult match_cursor(CXCursor cursor, unit_visit& visit);
[[noreturn]] void quit_on_parse_failure(std::string_view path) noexcept;
long regular_file_size(std::FILE* file);

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

} // namespace

void search_file_task(const std::string& path, held_output* held) noexcept {
    try {
        std::error_code error;
        const std::string content = read_whole_file(path.c_str(), error);
        // A file that vanished since the walk found it is no longer part of the tree.
        if (error && error != std::errc::no_such_file_or_directory) {
            report(path, error.message());
        }
        searcher::file_search(path, content, held);
    } catch (const std::exception& error) {
        report(path, error.what());
    } catch (...) {
        report(path, "unknown error");
    }
    progress_line::file_done();
}

std::string read_whole_file(const char* path, std::error_code& error) {
    error.clear();
    const file_handle file(std::fopen(path, "rb"));
    if (!file) {
        error.assign(errno, std::system_category());
        return {};
    }
    const long size = regular_file_size(file.get());
    std::string content;
    if (size <= 0 || static_cast<unsigned long>(size) > content.max_size()) {
        return content;
    }
    content.resize(static_cast<std::size_t>(size));
    std::rewind(file.get());
    const std::size_t got = std::fread(content.data(), 1, content.size(), file.get());
    if (std::ferror(file.get())) {
        error.assign(errno, std::system_category());
        return {};
    }
    // A file cut short while it was read is searched as far as it was read.
    content.resize(got);
    return content;
}

void searcher::file_search(std::string_view path, std::string_view content, held_output* held) {
    if (content.empty()) {
        return;
    }
    if (!passes_pre_filter(content)) {
        return;
    }
    file_context context;
    context.path = path;
    context.content = content;
    context.held = held;
    if (verbose) {
        print_message(context, fmt::format("Checking {}\n", path));
    }
    file_arguments arguments(path, clang_options, compile_commands.get());
    std::optional<cache_slot> slot;
    if (cache) {
        slot = slot_for(*cache, arguments, content);
        file_records records;
        // Verbose runs want libclang's diagnostics: they parse and refresh the entry.
        if (!verbose && cache->find(slot->key, slot->content_hash, records)) {
            replay_records(records, context);
            finish_file(context);
            return;
        }
    }
    if (compile_commands) {
        arguments.drop_unknown_options(*compile_commands);
    }
    const progress_line::parse parsing(path);
    timespec parse_start{};
    clock_gettime(CLOCK_REALTIME_COARSE, &parse_start);
    // Declared in this order so that the unit is disposed of before the index.
    const index_handle index(clang_createIndex(0, verbose ? 1 : 0));
    CXUnsavedFile source = arguments.unsaved_source(content);
    const unit_handle unit(clang_parseTranslationUnit(
        index.get(), arguments.source.c_str(), arguments.list.data(),
        static_cast<int>(arguments.list.size()), &source, 1, parse_flags));
    if (!unit) {
        quit_on_parse_failure(path);
    }
    if (!visit_unit(unit.get(), context, arguments, slot ? &*slot : nullptr, parse_start)) {
        if (context.failure) {
            std::rethrow_exception(context.failure);
        }
        print_message(context, fmt::format("Error: Visit children failed for {}\n", path));
    }
    finish_file(context);
}

CXChildVisitResult searcher::visit_cursor(CXCursor cursor, CXCursor, CXClientData data) noexcept {
    auto& visit = *static_cast<unit_visit*>(data);
    try {
        return match_cursor(cursor, visit);
    } catch (...) {
        // Unwinding through libclang's frames would skip its clean-up: stop the visit instead
        // and let file_search raise it once libclang is done.
        visit.context.failure = std::current_exception();
        return CXChildVisit_Break;
    }
}

namespace {

cache_slot slot_for(const cursor_cache& cache, const file_arguments& arguments,
                    std::string_view content) {
    cache_slot slot;
    slot.absolute_path = absolute_in("", arguments.source);
    slot.key = cache.key_for(slot.absolute_path, arguments.list);
    slot.content_hash = XXH3_64bits(content.data(), content.size());
    return slot;
}

// Visits the unit: straight through the decision, or, to fill the cache, through records.
bool visit_unit(CXTranslationUnit unit, file_context& context, const file_arguments& arguments,
                const cache_slot* slot, const timespec& parse_start) {
    if (slot == nullptr) {
        unit_visit visit{context, {}};
        const CXCursor root = clang_getTranslationUnitCursor(unit);
        return clang_visitChildren(root, &searcher::visit_cursor, &visit) == 0;
    }
    file_records records;
    if (!collect_records(unit, context, records)) {
        return false;
    }
    searcher::cache->store(slot->key, slot->content_hash, slot->absolute_path, records,
                           dependencies_of(unit, arguments.list), parse_start);
    replay_records(records, context);
    return true;
}

CXChildVisitResult match_cursor(CXCursor cursor, unit_visit& visit) {
    file_context& context = visit.context;
    clang_cursor facts(cursor, visit.names);
    std::string_view snippet;
    switch (decide(facts, context, snippet)) {
    case verdict::pass:
        return CXChildVisit_Recurse;
    case verdict::prune:
        return CXChildVisit_Continue;
    case verdict::match:
        break;
    }
    report_match(context, describe(facts, context, snippet));
    return CXChildVisit_Recurse;
}

[[noreturn]] void quit_on_parse_failure(std::string_view path) noexcept {
    progress_line::stop();
    say(message_stream(), "Error: Unable to parse translation unit {}. Quitting.\n", path);
    // Static destructors would wait for this task, which never returns.
    std::fflush(stdout);
    std::_Exit(255);
}

// The size of an opened regular file, or -1. A directory or a device can be opened too, but
// its "size" is no byte count.
long regular_file_size(std::FILE* file) {
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return -1;
    }
    return std::ftell(file);
}

} // namespace

} // namespace search
