#include "search/file_search.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "base/progress_line.hpp"
#include "base/whole_file.hpp"
#include "cache/content_index.hpp"
#include "cache/cursor_cache.hpp"
#include "cache/cursor_records.hpp"
#include "cache/file_dependencies.hpp"
#include "core/source_files.hpp"
#include "match/match_decision.hpp"
#include "match/query.hpp"
#include "output/match_output.hpp"
#include "search/parse_worker.hpp"
#include "search/searcher.hpp"
#include "clang/clang_cursor.hpp"
#include "clang/clang_handles.hpp"
#include "clang/compile_database.hpp"
#include "clang/file_arguments.hpp"
#include "clang/unit_parse.hpp"

#include <xxhash.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

namespace search {

namespace {

// A file's place in the cursor cache, worked out once per file.
struct cache_slot {
    std::string absolute_path;
    cache_key key;
    std::uint64_t content_hash = 0;
};

// A unit visited straight through the decision: its cursors share the unit's facts.
struct unit_visit {
    file_context& context;
    unit_facts unit;
    const search_settings& settings;
};

indexing_session* session_for(const file_arguments& arguments);
parsed_unit parse_file(indexing_session* session, const file_arguments& arguments,
                       std::string_view content);
cache_slot slot_for(const cursor_cache& cache, const file_arguments& arguments, bool indexed,
                    std::uint64_t content_hash);
bool visit_unit(CXTranslationUnit unit, file_context& context, const file_arguments& arguments,
                const cache_slot* slot, const timespec& parse_start);
CXChildVisitResult match_cursor(CXCursor cursor, unit_visit& visit);
bool parse_in_a_worker(file_context& context, const file_arguments& arguments,
                       indexing_session* session, const cache_slot* slot,
                       const timespec& parse_start);
void say_crashed(std::string_view path);
[[noreturn]] void quit_on_parse_failure(std::string_view path, std::FILE* stream);

// A worker's read buffer above this size is given back after its file.
constexpr std::size_t kept_buffer_size = 4 << 20;

// The walk lists regular files only: one that is something else by the time it is read (a
// named pipe put in its place) is no longer searchable, and is named.
bool became_irregular(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && !S_ISREG(info.st_mode);
}

// A file's bytes, read when first asked for. A file read is indexed for the next query, and
// one that cannot be read is said, never passed over.
class file_reading {
public:
    explicit file_reading(const std::string& path) : path(path) {}
    ~file_reading() {
        if (buffer().size() > kept_buffer_size) {
            std::string().swap(buffer());
        }
    }
    file_reading(const file_reading&) = delete;
    file_reading& operator=(const file_reading&) = delete;

    std::string_view bytes();

private:
    // One per worker: most files are read and dropped, and a fresh buffer each time would
    // cost its pages again.
    static std::string& buffer() {
        thread_local std::string storage;
        return storage;
    }

    const std::string& path;
    std::optional<std::string_view> content;
};

std::string_view file_reading::bytes() {
    if (content) {
        return *content;
    }
    ++searcher::counts.files;
    content_index* const index = searcher::cache ? searcher::cache->index() : nullptr;
    const std::int64_t tick_start = index != nullptr ? coarse_now_ns() : 0;
    std::error_code error;
    struct stat info {};
    content = read_whole_file(path.c_str(), error, buffer(), &info);
    // Whatever the query, a file read is indexed for the next.
    if (index != nullptr && !content->empty() &&
        content->size() == static_cast<std::size_t>(info.st_size)) {
        index->add(state_of(info), tick_start, *content);
    }
    // The walk listed it: one that vanished since is said too.
    if (error) {
        ++searcher::counts.unreadable;
        report(path, error.message());
    } else if (content->empty() && became_irregular(path.c_str())) {
        ++searcher::counts.unreadable;
        report(path, "not a regular file");
    }
    return *content;
}

} // namespace

void search_file_task(const std::string& path, held_output* held,
                      std::optional<std::uint64_t> known_hash) noexcept {
    if (searcher::is_stopped()) {
        return;
    }
    try {
        file_reading reading(path);
        const std::function<std::string_view()> read = [&] { return reading.bytes(); };
        if (!known_hash || !searcher::answered_from_entry(path, *known_hash, read, held)) {
            searcher::file_search(path, reading.bytes(), held);
        }
    } catch (const search_stopped&) {
        searcher::stop(std::current_exception());
    } catch (const std::exception& error) {
        report(path, error.what());
    } catch (...) {
        report(path, "unknown error");
    }
    progress_line::file_done();
}

bool searcher::answered_from_entry(std::string_view path, std::uint64_t content_hash,
                                   const std::function<std::string_view()>& read,
                                   held_output* held) {
    // Verbose runs parse every file, and a file without a local entry takes the whole road.
    if (!cache || settings.verbose) {
        return false;
    }
    const file_arguments arguments(path, settings.clang_options, compile_commands.get(),
                                   settings.cuda_by_suffix);
    const cache_slot slot =
        slot_for(*cache, arguments, session_for(arguments) != nullptr, content_hash);
    file_context context;
    context.path = path;
    context.held = held;
    // Bytes changed since the index took them, or without the query's, take the whole road.
    const content_source content = [&]() -> std::optional<std::string_view> {
        const std::string_view bytes = read();
        if (bytes.empty() || XXH3_64bits(bytes.data(), bytes.size()) != content_hash ||
            !settings.rules.query.passes_pre_filter(bytes)) {
            return std::nullopt;
        }
        context.content = bytes;
        return bytes;
    };
    const auto replay = [&](const records_view& records) {
        replay_records(records, settings.rules, settings.writer, context);
    };
    if (!cache->find_local(slot.key, content_hash, content, settings.rules, replay)) {
        return false;
    }
    ++counts.from_cache;
    if (!context.content.empty()) {
        ++counts.with_query;
        settings.writer.finish(context);
    }
    return true;
}

void searcher::file_search(std::string_view path, std::string_view content, held_output* held) {
    if (content.empty()) {
        return;
    }
    const match_writer& writer = settings.writer;
    if (!settings.rules.query.passes_pre_filter(content)) {
        return;
    }
    ++counts.with_query;
    file_context context;
    context.path = path;
    context.content = content;
    context.held = held;
    if (settings.verbose) {
        writer.message(context, fmt::format("Checking {}\n", path));
    }
    file_arguments arguments(path, settings.clang_options, compile_commands.get(),
                             settings.cuda_by_suffix);
    indexing_session* const session = session_for(arguments);
    std::optional<cache_slot> slot;
    if (cache) {
        slot = slot_for(*cache, arguments, session != nullptr,
                        XXH3_64bits(content.data(), content.size()));
        const auto replay = [&](const records_view& records) {
            replay_records(records, settings.rules, writer, context);
        };
        // Verbose runs want libclang's diagnostics: they parse and refresh the entry.
        const content_source bytes = [content] { return std::optional(content); };
        if (!settings.verbose &&
            cache->find(slot->key, slot->content_hash, bytes, settings.rules, replay)) {
            ++counts.from_cache;
            writer.finish(context);
            return;
        }
    }
    if (compile_commands) {
        arguments.drop_unknown_options(*compile_commands);
    }
    const progress_line::parse_in_progress parsing(path);
    timespec parse_start{};
    clock_gettime(CLOCK_REALTIME_COARSE, &parse_start);
    if (parse_in_a_worker(context, arguments, session, slot ? &*slot : nullptr, parse_start)) {
        writer.finish(context);
        return;
    }
    const parsed_unit parsed = parse_file(session, arguments, content);
    const unit_handle& unit = parsed.unit;
    if (parsed.crashed) {
        say_crashed(path);
        return;
    }
    if (!unit) {
        quit_on_parse_failure(path, writer.message_stream());
    }
    if (!visit_unit(unit.get(), context, arguments, slot ? &*slot : nullptr, parse_start)) {
        if (context.failure) {
            std::rethrow_exception(context.failure);
        }
        writer.message(context, fmt::format("Error: Visit children failed for {}\n", path));
    }
    writer.finish(context);
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

// C++ units go through the indexing session. C and CUDA keep the full parse: C headers hold
// few bodies to skip, and the session's output is proved the same on C++ only.
indexing_session* session_for(const file_arguments& arguments) {
    if (arguments.language != "c++" && arguments.language != "c++-header") {
        return nullptr;
    }
    // A C source parsed as C++ (the guessed flags' default) has as little to skip as in C, and
    // its guessed includes are often missing, which costs the session a parse in vain.
    if (language_of_suffix(arguments.source, false) == "c" && !is_header_path(arguments.source)) {
        return nullptr;
    }
    return searcher::indexing.get();
}

// The file's unit, parsed in the session or in full; the session counts its own parses.
parsed_unit parse_file(indexing_session* session, const file_arguments& arguments,
                       std::string_view content) {
    if (session == nullptr) {
        ++searcher::counts.parsed_in_full;
    }
    return parse_unit(session, arguments.source.c_str(), arguments.list, content,
                      searcher::settings.verbose,
                      {searcher::settings.rules.kinds.search_for_macro});
}

cache_slot slot_for(const cursor_cache& cache, const file_arguments& arguments, bool indexed,
                    std::uint64_t content_hash) {
    cache_slot slot;
    slot.absolute_path = absolute_in("", arguments.source);
    // The roads' records agree, but --full-parse promises records of the full parse. Records
    // without macro definitions must never answer --macro: a unit holds them only when asked.
    std::string parse_mode = indexed ? "indexing session" : "";
    if (searcher::settings.rules.kinds.search_for_macro) {
        parse_mode += "\nmacro definitions";
    }
    slot.key = cache.key_for(slot.absolute_path, arguments.list, parse_mode);
    slot.content_hash = content_hash;
    return slot;
}

// Visits the unit: straight through the decision, or, to fill the cache, through records. A
// file whose records cannot tell its lines is visited straight and not stored.
bool visit_unit(CXTranslationUnit unit, file_context& context, const file_arguments& arguments,
                const cache_slot* slot, const timespec& parse_start) {
    file_records records;
    if (slot != nullptr && !collect_records(unit, context, records)) {
        return false;
    }
    if (slot == nullptr || !records.lines_in_file) {
        unit_visit visit{context, unit_facts(unit), searcher::settings};
        const CXCursor root = clang_getTranslationUnitCursor(unit);
        return clang_visitChildren(root, &searcher::visit_cursor, &visit) == 0;
    }
    searcher::cache->store(slot->key, slot->content_hash, slot->absolute_path, records,
                           dependencies_of(unit, arguments.list), parse_start);
    replay_records(records.view(), searcher::settings.rules, searcher::settings.writer, context);
    return true;
}

CXChildVisitResult match_cursor(CXCursor cursor, unit_visit& visit) {
    file_context& context = visit.context;
    clang_cursor facts(cursor, visit.unit);
    std::string_view snippet;
    switch (decide(visit.settings.rules, facts, context, snippet)) {
    case verdict::pass:
        return CXChildVisit_Recurse;
    case verdict::prune:
        return CXChildVisit_Continue;
    case verdict::match:
        break;
    }
    visit.settings.writer.report(context, describe(facts, context, snippet));
    return CXChildVisit_Recurse;
}

// What a worker's parse came to, replayed as a cache hit would be.
void use_reply(parse_reply& reply, file_context& context, const cache_slot* slot,
               const timespec& parse_start) {
    switch (reply.result) {
    case parse_result::refused:
        quit_on_parse_failure(context.path, searcher::settings.writer.message_stream());
    case parse_result::crashed:
        say_crashed(context.path);
        return;
    case parse_result::failed:
        throw std::runtime_error(reply.failure);
    case parse_result::visit_stopped:
        searcher::settings.writer.message(
            context, fmt::format("Error: Visit children failed for {}\n", context.path));
        return;
    case parse_result::parsed:
        break;
    }
    if (searcher::settings.verbose) {
        print_diagnostic_lines(reply.diagnostics);
    }
    const bool lines_told = !reply.records.lines_in_file;
    if (slot != nullptr && !lines_told) {
        searcher::cache->store(slot->key, slot->content_hash, slot->absolute_path, reply.records,
                               reply.dependencies, parse_start);
    }
    replay_records(reply.records.view(), searcher::settings.rules, searcher::settings.writer,
                   context, lines_told ? &reply.lines : nullptr);
}

// Parses the file in this thread's parse worker and decides on its records; false when no
// worker could be started, and the file is to be parsed here.
bool parse_in_a_worker(file_context& context, const file_arguments& arguments,
                       indexing_session* session, const cache_slot* slot,
                       const timespec& parse_start) {
    parse_reply reply;
    switch (parse_in_worker(context.path, arguments, session != nullptr, context.content,
                            slot != nullptr, reply)) {
    case worker_answer::unavailable:
        return false;
    case worker_answer::lost:
        return true;
    case worker_answer::replied:
        break;
    }
    if (reply.result == parse_result::crashed) {
        // counted as lost, not as a road's parse
    } else if (session == nullptr) {
        ++searcher::counts.parsed_in_full;
    } else {
        session->count(reply.road == parse_road::indexed);
    }
    use_reply(reply, context, slot, parse_start);
    return true;
}

// A crash that libclang caught is one file's fault, not the search's.
void say_crashed(std::string_view path) {
    ++searcher::counts.parses_lost;
    report(path, "the parse crashed");
}

// The one failure of a file that ends the search.
[[noreturn]] void quit_on_parse_failure(std::string_view path, std::FILE* stream) {
    throw search_stopped{
        255, stream, fmt::format("Error: Unable to parse translation unit {}. Quitting.\n", path)};
}

} // namespace

} // namespace search
