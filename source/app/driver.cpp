#include "app/command_line.hpp"
#include "base/messages.hpp"
#include "base/paths.hpp"
#include "base/progress_line.hpp"
#include "base/standard_streams.hpp"
#include "base/visible_text.hpp"
#include "base/walk_filter.hpp"
#include "base/worker_pool.hpp"
#include "cache/cursor_cache.hpp"
#include "cache/remote_store.hpp"
#include "cache/stored_database.hpp"
#include "core/searcher.hpp"
#include "match/query.hpp"
#include "search/file_search.hpp"
#include "clang/compile_database.hpp"
#include "clang/unit_parse.hpp"

#include <fmt/format.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace pyrn {

using search::searcher;

namespace {

// The message and the help on standard error, status 1.
[[noreturn]] void command_line_error(std::string_view message,
                                     const argparse::ArgumentParser& parser) {
    std::string text;
    search::append_line(text, stderr, message);
    std::ostringstream help;
    help << parser;
    const std::string help_text = help.str();
    std::string storage;
    text += search::is_terminal(stderr) ? search::visible_controls(help_text, storage)
                                        : std::string_view(help_text);
    search::write_text(stderr, text);
    std::exit(1);
}

// Help was asked for and only the final checks (the positional arguments) failed.
bool help_after_complete_parse(const argparse::ArgumentParser& parser) {
    try {
        return parser.get<bool>("--help");
    } catch (const std::logic_error&) {
        return false; // the error came before all arguments were read
    }
}

// The query and how it is compared; a malformed regular expression is a command-line error.
void apply_query_options(const argparse::ArgumentParser& parser, const std::string& query) {
    searcher::query = query;
    searcher::exact_match = parser.get<bool>("--exact-match");
    searcher::ignore_case = parser.get<bool>("--ignore-case");
    searcher::use_regex = parser.get<bool>("--regex");
    std::string malformed;
    if (!search::prepare_query(malformed)) {
        command_line_error(malformed, parser);
    }
}

// The commands of the database file: those the cache keeps for these very bytes, or else read
// from them and kept in the cache. A verbose run reads them, to say what it leaves out.
search::database_commands commands_of(const std::string& file, bool verbose) {
    const std::string content = search::read_database_file(file);
    const std::string absolute = search::absolute_in("", file);
    search::database_commands found;
    if (searcher::cache && !verbose &&
        search::find_database_commands(*searcher::cache, absolute, content, found)) {
        return found;
    }
    found =
        search::compile_database::commands_of(file, search::parse_database(file, content), verbose);
    if (searcher::cache) {
        search::store_database_commands(*searcher::cache, absolute, content, found);
    }
    return found;
}

// The database file of -p ("" without -p), or, after one line on standard error, nothing.
std::optional<std::string> compile_commands_file(const argparse::ArgumentParser& parser) {
    const auto database = value_of(parser, "--compile-commands");
    if (database.empty()) {
        return std::string();
    }
    try {
        return search::compile_database::file_of(database);
    } catch (const search::database_error& error) {
        search::report(error.what());
        return std::nullopt;
    }
}

// False, after one line on standard error, when the database file cannot be used.
bool load_compile_commands(const argparse::ArgumentParser& parser, const std::string& file) {
    if (file.empty()) {
        return true;
    }
    // The entries' directories are the working directories of their parses.
    std::vector<std::string> absolute_includes;
    for (const std::string& dir : parser.get<std::vector<std::string>>("--include-dir")) {
        absolute_includes.push_back("-I" + std::filesystem::absolute(dir).native());
    }
    try {
        const bool verbose = parser.get<bool>("--verbose");
        searcher::compile_commands = search::compile_database::from_commands(
            commands_of(file, verbose).commands, std::move(absolute_includes), verbose);
    } catch (const search::database_error& error) {
        search::report(error.what());
        return false;
    }
    return true;
}

// The directory that the cache keys paths relative to: the path searched, or a file's folder.
std::string search_root(const std::string& path) {
    std::string absolute = search::absolute_in("", path);
    if (absolute.size() > 1 && absolute.back() == '/') { // "dir/." is normal as "dir/"
        absolute.pop_back();
    }
    std::error_code error;
    if (std::filesystem::is_directory(absolute, error)) {
        return absolute;
    }
    return std::filesystem::path(absolute).parent_path().native();
}

// --shard K/N, which must have 0 <= K < N; a malformed one is a command-line error.
void apply_shard(const argparse::ArgumentParser& parser) {
    const auto shard = value_of(parser, "--shard");
    if (shard.empty()) {
        return;
    }
    const std::size_t slash = shard.find('/');
    std::uint32_t index = 0;
    std::uint32_t count = 0;
    auto number = [](std::string_view text, std::uint32_t& out) {
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, out);
        return !text.empty() && error == std::errc() && stop == end;
    };
    if (slash == std::string::npos || !number(std::string_view(shard).substr(0, slash), index) ||
        !number(std::string_view(shard).substr(slash + 1), count) || index >= count) {
        command_line_error("--shard: expected K/N with 0 <= K < N, got " + shard, parser);
    }
    searcher::shard_index = index;
    searcher::shard_count = count;
}

// The local tier of --cache, the remote one of --cache-remote, both or none. A tier that cannot be
// used is said once; the search goes on without it. False, after one line, when the key file of
// --cache-key cannot be used.
bool open_cache(const argparse::ArgumentParser& parser, const std::string& path) {
    const auto dir = value_of(parser, "--cache");
    const auto url = value_of(parser, "--cache-remote");
    search::remote_address address;
    if (!url.empty() && !search::parse_remote_address(url, address)) {
        command_line_error("--cache-remote: expected redis://HOST[:PORT][/DB], got " + url, parser);
    }
    const auto key_file = value_of(parser, "--cache-key");
    search::entry_secret secret;
    search::refusal why;
    if (!key_file.empty() && !search::read_entry_secret(key_file, secret, why)) {
        search::report(why.subject, why.reason);
        return false;
    }
    const std::string root = search_root(path);
    if (!dir.empty()) {
        searcher::cache = search::cursor_cache::open(dir, root);
    }
    if (!url.empty()) {
        std::unique_ptr<search::remote_store> remote = search::remote_store::connect(url, address);
        if (remote && !searcher::cache) {
            searcher::cache = search::cursor_cache::without_directory(root);
        }
        if (remote) {
            searcher::cache->add_remote(std::move(remote));
        }
    }
    if (searcher::cache && !key_file.empty()) {
        searcher::cache->authenticate_with(secret);
    }
    return true;
}

// Parses never read the terminal: a source that includes /dev/stdin or /proc/self/fd/0 finds
// an empty file rather than waiting for input.
void give_standard_input_nothing() {
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null > 0) {
        dup2(null, 0);
        close(null);
    }
}

// One line per count, each "pyrn: what: count", after the search.
void print_stats() {
    const search::search_counts& counts = searcher::counts;
    const std::uint64_t attempts = searcher::indexing ? searcher::indexing->attempts() : 0;
    const std::uint64_t fallbacks = searcher::indexing ? searcher::indexing->fallbacks() : 0;
    std::string text = fmt::format(
        "pyrn: files read: {}\n"
        "pyrn: files holding the query: {}\n"
        "pyrn: answered from the cache: {}\n"
        "pyrn: parsed skipping the bodies of headers parsed before: {}\n"
        "pyrn: parsed in full after the indexing call could not stand for it: {}\n"
        "pyrn: parsed in full: {}\n"
        "pyrn: files that could not be read: {}\n",
        counts.files.load(), counts.with_query.load(), counts.from_cache.load(),
        attempts - fallbacks, fallbacks, counts.parsed_in_full.load(), counts.unreadable.load());
    // Said only when it happened: a search without such a file ends as it always did.
    if (const std::uint64_t lost = counts.parses_lost.load(); lost > 0) {
        text +=
            fmt::format("pyrn: parses that crashed, ran too long or ran out of memory: {}\n", lost);
    }
    search::write_text(stderr, text); // numbers only: nothing to show
}

// What the walks leave out, and their order; false, after one line on standard error, when
// the git repository of --gitignore cannot be opened.
bool apply_walk_options(const argparse::ArgumentParser& parser, const std::string& path) {
    searcher::sort_by_path = !value_of(parser, "--sort").empty();
    auto patterns = parser.present<std::vector<std::string>>("--exclude");
    const bool gitignore = parser.get<bool>("--gitignore");
    if (!patterns && !gitignore) {
        return true;
    }
    searcher::excluded =
        std::make_unique<search::walk_filter>(patterns.value_or(std::vector<std::string>{}));
    if (gitignore) {
        try {
            searcher::excluded->follow_gitignore(path);
        } catch (const std::exception& error) {
            search::report(path, error.what());
            return false;
        }
    }
    return true;
}

// The progress line from the start of the walk to its end, when it is to be shown.
class progress_session {
public:
    explicit progress_session(bool show) {
        if (show) {
            struct stat out {};
            struct stat err {};
            const bool same_terminal = search::is_terminal(stdout) && fstat(1, &out) == 0 &&
                                       fstat(fileno(stderr), &err) == 0 &&
                                       out.st_rdev == err.st_rdev;
            search::progress_line::start(same_terminal);
        }
    }
    ~progress_session() { search::progress_line::stop(); }
    progress_session(const progress_session&) = delete;
    progress_session& operator=(const progress_session&) = delete;
};

// A quarter of the machine's memory, in MiB.
std::uint64_t default_parse_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(pages) / 4 * static_cast<std::uint64_t>(page_size) >> 20;
}

// The limits of a parse in a worker; false, after one line on standard error, when one is
// negative or too large to hold.
bool apply_parse_limits(const argparse::ArgumentParser& parser) {
    constexpr int most_seconds = 1'000'000; // its milliseconds fit an int
    constexpr int most_mib = 1 << 30;       // an exbibyte: no machine has it
    const int seconds = parser.get<int>("--parse-timeout");
    const std::optional<int> memory = parser.present<int>("--parse-memory");
    const int mib = memory.value_or(0);
    if (seconds < 0 || seconds > most_seconds) {
        search::report(fmt::format("--parse-timeout: expected 0 to {} seconds, got {}",
                                   most_seconds, seconds));
        return false;
    }
    if (mib < 0 || mib > most_mib) {
        search::report(fmt::format("--parse-memory: expected 0 to {} MiB, got {}", most_mib, mib));
        return false;
    }
    searcher::parse_timeout_seconds = static_cast<std::uint64_t>(seconds);
    searcher::parse_memory_mib = memory ? static_cast<std::uint64_t>(mib) : default_parse_memory();
    return true;
}

int search_run(int jobs, const std::string& path, bool show_progress, bool stats) {
    if (jobs < 0) {
        search::report(fmt::format("the number of threads must not be negative, got {}", jobs));
        return 2;
    }
    search::keep_libclang_off_the_terminal();
    try {
        searcher::pool = std::make_unique<search::worker_pool>(static_cast<std::uint32_t>(jobs));
    } catch (const std::exception& error) {
        search::report(fmt::format("cannot start {} worker threads: {}", jobs, error.what()));
        return 2;
    }
    // No worker outlives the run, whose strings the settings view.
    struct stop_pool {
        ~stop_pool() { searcher::pool.reset(); }
    } stop_at_exit;
    {
        const progress_session progress(show_progress);
        searcher::directory_search(path.c_str());
    }
    if (searcher::format == search::output_format::blocks) {
        search::say(stdout, "\n");
    }
    if (stats) {
        std::fflush(stdout);
        print_stats();
    }
    // A full disk or a closed output must not pass for a successful search.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        search::report("cannot write the output", std::strerror(errno));
        return 2;
    }
    return 0;
}

} // namespace

int run(int argc, char** argv) {
    const bool stdout_is_terminal = search::is_terminal(stdout);
    give_standard_input_nothing();
    std::ios_base::sync_with_stdio(false);
    std::cin.tie(nullptr);

    argparse::ArgumentParser parser("pyrn", version, argparse::default_arguments::all, true,
                                    std::cout);
    configure_parser(parser);
    const command_words words = split_command_line(argc, argv);
    try {
        parser.parse_args(words.for_parser);
    } catch (const std::exception& error) {
        if (help_after_complete_parse(parser)) {
            std::cout << parser << std::endl;
            return 0;
        }
        command_line_error(error.what(), parser);
    }

    auto query = parser.get<std::string>("query");
    auto path = parser.get<std::string>("path");
    take_words_after_options(words, query, path);
    const auto filter = parser.get<std::string>("--filter");
    const auto language = parser.get<std::string>("--language");
    const auto standard = parser.get<std::string>("--std");
    const int jobs = parser.get<int>("-j");

    std::string error;
    const bool colour = choose_colour(parser, stdout_is_terminal, error);
    if (error.empty()) {
        check_sort_key(parser, error);
    }
    if (!error.empty()) {
        command_line_error(error, parser);
    }
    searcher::kinds = chosen_kinds(parser);
    apply_query_options(parser, query);
    apply_shard(parser);

    if (!apply_walk_options(parser, path)) {
        return 2;
    }
    std::vector<std::string> include_arguments;
    for (const std::string& dir : parser.get<std::vector<std::string>>("--include-dir")) {
        include_arguments.push_back("-I" + dir);
    }
    try {
        for (std::string& dir : include_dirs_for(path)) {
            include_arguments.push_back(std::move(dir));
        }
    } catch (const std::filesystem::filesystem_error& error) {
        search::report(error.path1().native(), error.code().message());
        return 2;
    }

    const std::optional<std::string> database_file = compile_commands_file(parser);
    if (!database_file) {
        return 2;
    }
    // The database's commands may come from the cache.
    if (!open_cache(parser, path)) {
        return 2;
    }
    if (!load_compile_commands(parser, *database_file)) {
        return 2;
    }
    if (!apply_parse_limits(parser)) {
        return 2;
    }

    const std::string std_argument = "-std=" + standard;
    searcher::filter = filter;
    searcher::format = chosen_format(parser);
    searcher::use_color = colour && searcher::format == search::output_format::blocks;
    searcher::visible_controls = stdout_is_terminal;
    searcher::null_separated = parser.get<bool>("--null");
    searcher::verbose = parser.get<bool>("--verbose");
    searcher::clang_options = build_clang_options(language, std_argument, include_arguments);
    searcher::cuda_by_suffix = !parser.is_used("--language");
    searcher::ignore_single_line_results = parser.get<bool>("--ignore-single-line-results");
    // Verbose runs show every diagnostic of every file, those in headers' bodies too.
    if (!searcher::verbose && !parser.get<bool>("--full-parse")) {
        searcher::indexing = std::make_unique<search::indexing_session>();
    }

    try {
        // Verbose output says what is parsed, and libclang's diagnostics would cut the line.
        const bool show_progress =
            search::is_terminal(stderr) && !parser.get<bool>("--no-progress") && !searcher::verbose;
        return search_run(jobs, path, show_progress, parser.get<bool>("--stats"));
    } catch (const std::exception& error) {
        search::report(error.what());
        return 2;
    }
}

} // namespace pyrn
