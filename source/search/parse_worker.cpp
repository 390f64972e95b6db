#include "search/parse_worker.hpp"

#include "base/messages.hpp"
#include "base/paths.hpp"
#include "base/worker_pool.hpp"
#include "base/worker_process.hpp"
#include "match/kinds.hpp"
#include "search/searcher.hpp"
#include "clang/file_arguments.hpp"
#include "clang/unit_parse.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <string>

namespace search {

namespace {

// The worker's side.

void collect(CXTranslationUnit unit, const parse_request& request,
             const std::vector<const char*>& arguments, parse_reply& reply) {
    file_context context;
    context.path = request.source;
    context.content = request.content;
    std::vector<bool> wanted;
    for (std::uint32_t kind : request.kinds) {
        wanted.resize(std::max<std::size_t>(wanted.size(), kind + 1u));
        wanted[kind] = true;
    }
    const std::vector<bool>* only = request.kinds.empty() ? nullptr : &wanted;
    if (!collect_records(unit, context, reply.records, nullptr, only)) {
        if (context.failure) {
            std::rethrow_exception(context.failure);
        }
        reply.result = parse_result::visit_stopped;
        return;
    }
    if (!reply.records.lines_in_file) {
        reply.records = file_records();
        collect_records(unit, context, reply.records, &reply.lines, only);
        reply.records.lines_in_file = false;
    }
    if (request.dependencies) {
        reply.dependencies = dependencies_of(unit, arguments);
    }
    if (request.diagnostics) {
        add_diagnostic_lines(unit, reply.diagnostics);
    }
}

parse_reply parse_request_of(indexing_session& session, const parse_request& request) {
    parse_reply reply;
    // The worker runs in the directory it inherited, the search's own, where relative paths
    // mean what they mean to the search: entered again by its path, it could be refused when
    // a folder above it does not let this user through.
    const std::vector<const char*>& arguments = request.arguments;
    const std::uint64_t fell_back = session.fallbacks();
    const parsed_unit parsed =
        parse_unit(request.indexed ? &session : nullptr, request.source, arguments, request.content,
                   false, {request.macro_definitions});
    if (request.indexed) {
        reply.road = session.fallbacks() == fell_back ? parse_road::indexed
                                                      : parse_road::indexed_then_in_full;
    }
    if (!parsed.unit) {
        reply.result = parsed.crashed ? parse_result::crashed : parse_result::refused;
        return reply;
    }
    try {
        collect(parsed.unit.get(), request, arguments, reply);
    } catch (const std::bad_alloc&) {
        worker_out_of_memory();
    } catch (const std::exception& error) {
        reply = parse_reply();
        reply.result = parse_result::failed;
        reply.failure = error.what();
    }
    return reply;
}

// The search's side.

// The cursor kinds the search decides on: the others' records would only pass.
const std::vector<std::uint32_t>& chosen_kinds() {
    static const std::vector<std::uint32_t> kinds = [] {
        std::vector<std::uint32_t> chosen;
        for (int kind = 0; kind < 1024; ++kind) {
            const kind_row* row = find_kind(kind);
            if (row != nullptr && is_chosen(searcher::settings.rules.kinds, *row)) {
                chosen.push_back(static_cast<std::uint32_t>(kind));
            }
        }
        return chosen;
    }();
    return kinds;
}

bool workers_allowed = false;

// The worker of this thread of the pool, started when it first parses; ended with the thread.
thread_local std::unique_ptr<worker_process> own_worker;

worker_process* worker_of_thread() {
    if (!workers_allowed) {
        return nullptr;
    }
    if (own_worker) {
        return own_worker.get();
    }
    static std::atomic<bool> said{false};
    std::string error;
    own_worker = worker_process::start(searcher::settings.parse_memory_mib << 20, error);
    if (!own_worker && !said.exchange(true)) {
        report("cannot start a parse worker", error + "; files are parsed in the search's process");
    }
    return own_worker.get();
}

// Names the file whose parse took its worker down, and why.
void say_lost(std::string_view path, const worker_end& end, bool timed_out) {
    ++searcher::counts.parses_lost;
    if (timed_out) {
        report(path, fmt::format("the parse took longer than {} s and was stopped",
                                 searcher::settings.parse_timeout_seconds));
    } else if (end.out_of_memory) {
        report(path, fmt::format("the parse ran out of memory (limit {} MiB)",
                                 searcher::settings.parse_memory_mib));
    } else if (end.signal != 0) {
        report(path,
               fmt::format("the parse crashed (signal {}, {})", end.signal, strsignal(end.signal)));
    } else {
        report(path,
               fmt::format("the parse crashed (its worker ended with status {})", end.status));
    }
}

} // namespace

int serve_parse_requests(int argc, char** argv) {
    const int channel = enter_worker_mode(argc, argv);
    if (channel < 0) {
        return 2;
    }
    indexing_session session;
    std::string message;
    while (read_message(channel, message)) {
        parse_request request;
        if (!decode_request(message, request)) {
            return 2;
        }
        const parse_reply reply = parse_request_of(session, request);
        if (!write_message(channel, encode_reply(reply))) {
            return 0;
        }
        // What a crash left behind is not to be parsed in.
        if (reply.result == parse_result::crashed) {
            return 0;
        }
    }
    return 0;
}

void allow_parse_workers() noexcept {
    workers_allowed = true;
}

worker_answer parse_in_worker(std::string_view path, const file_arguments& arguments, bool indexed,
                              std::string_view content, bool dependencies, parse_reply& reply) {
    worker_process* const worker = worker_of_thread();
    if (worker == nullptr) {
        return worker_answer::unavailable;
    }
    parse_request request;
    request.working_dir = working_directory().c_str();
    request.source = arguments.source.c_str();
    request.indexed = indexed;
    request.diagnostics = searcher::settings.verbose;
    request.macro_definitions = searcher::settings.rules.kinds.search_for_macro;
    request.dependencies = dependencies;
    // A cache keeps every kind's records, for later searches of other kinds.
    if (!dependencies) {
        request.kinds = chosen_kinds();
    }
    const std::uint64_t seconds = searcher::settings.parse_timeout_seconds;
    const int timeout_ms = seconds == 0 ? -1 : static_cast<int>(seconds * 1000);
    std::string message;
    worker_process::outcome outcome = worker_process::outcome::ended;
    {
        const worker_pool::blocked_scope parsing;
        if (worker->send(encode_request(request, arguments.list, content))) {
            outcome = worker->receive(message, timeout_ms);
        }
    }
    if (outcome == worker_process::outcome::replied && decode_reply(message, content, reply)) {
        if (reply.result != parse_result::crashed) {
            return worker_answer::replied;
        }
        // libclang reports a failed allocation as a crash, after saying what it was.
        const worker_end end = worker->finish();
        own_worker.reset();
        if (!end.out_of_memory) {
            return worker_answer::replied;
        }
        say_lost(path, end, false);
        return worker_answer::lost;
    }
    const worker_end end = worker->finish();
    own_worker.reset();
    say_lost(path, end, outcome == worker_process::outcome::timed_out);
    return worker_answer::lost;
}

} // namespace search
