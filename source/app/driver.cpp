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
#include "search/file_search.hpp"
#include "search/searcher.hpp"
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

// What a match is: the query and how it is compared, the kinds, the line rule. A malformed
// regular expression is a command-line error.
search::match_rules chosen_rules(const argparse::ArgumentParser& parser, const std::string& query) {
    search::match_rules rules;
    rules.kinds = chosen_kinds(parser);
    search::query_options options;
    options.exact_match = parser.get<bool>("--exact-match");
    options.ignore_case = parser.get<bool>("--ignore-case");
    options.use_regex = parser.get<bool>("--regex");
    options.text_tested = search::text_test_enabled(rules.kinds);
    rules.query = search::query(query, options);
    if (!rules.query.error().empty()) {
        command_line_error(rules.query.error(), parser);
    }
    rules.ignore_single_line_results = parser.get<bool>("--ignore-single-line-results");
    return rules;
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
    std::vector<std::string> absolute_includes =
        include_options(parser.get<std::vector<std::string>>("--include-dir"), true);
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
    searcher::settings.shard_index = index;
    searcher::settings.shard_count = count;
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
    searcher::settings.sort_by_path = !value_of(parser, "--sort").empty();
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
    searcher::settings.parse_timeout_seconds = static_cast<std::uint64_t>(seconds);
    searcher::settings.parse_memory_mib =
        memory ? static_cast<std::uint64_t>(mib) : default_parse_memory();
    return true;
}

// The files the search takes, when the walk for include folders listed them.
using listed_files = std::optional<search::tree_listing>;

// A failure that ends the whole search: its text and status, at once. Tasks may still run,
// and static destructors would wait for them.
[[noreturn]] void end_search(const search::search_stopped& stop) {
    search::progress_line::stop();
    std::string storage;
    search::write_text(stop.stream, search::shown_on(stop.stream, stop.text, storage));
    std::fflush(stdout);
    std::_Exit(stop.status);
}

// The pool of -j workers, which the walk already employs; false, after one line, when it
// cannot be had.
bool start_pool(int jobs) {
    if (jobs < 0) {
        search::report(fmt::format("the number of threads must not be negative, got {}", jobs));
        return false;
    }
    search::keep_libclang_off_the_terminal();
    try {
        searcher::pool = std::make_unique<search::worker_pool>(static_cast<std::uint32_t>(jobs));
    } catch (const std::exception& error) {
        search::report(fmt::format("cannot start {} worker threads: {}", jobs, error.what()));
        return false;
    }
    return true;
}

int search_run(const std::string& path, const listed_files& listed, bool show_progress,
               bool stats) {
    try {
        const progress_session progress(show_progress);
        if (listed) {
            searcher::search_files(*listed);
        } else {
            searcher::directory_search(path.c_str());
        }
    } catch (const search::search_stopped& stop) {
        end_search(stop);
    }
    if (searcher::settings.writer.settings().format == search::output_format::blocks) {
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

// Reads the command line, with its query and path; false when help was asked for and printed.
// Errors end the run here.
bool read_command_line(argparse::ArgumentParser& parser, int argc, char** argv, std::string& query,
                       std::string& path) {
    configure_parser(parser);
    const command_words words = split_command_line(argc, argv);
    try {
        parser.parse_args(words.for_parser);
    } catch (const std::exception& error) {
        if (help_after_complete_parse(parser)) {
            std::cout << parser << std::endl;
            return false;
        }
        command_line_error(error.what(), parser);
    }
    query = parser.get<std::string>("query");
    path = parser.get<std::string>("path");
    take_words_after_options(words, query, path);
    return true;
}

// What a match is and how it is written; a setting that cannot hold is a command-line error.
void choose_settings(const argparse::ArgumentParser& parser, const std::string& query,
                     bool stdout_is_terminal) {
    std::string error;
    const bool colour = choose_colour(parser, stdout_is_terminal, error);
    if (error.empty()) {
        check_sort_key(parser, error);
    }
    if (!error.empty()) {
        command_line_error(error, parser);
    }
    search::search_settings& settings = searcher::settings;
    settings.rules = chosen_rules(parser, query);
    apply_shard(parser);
    search::writer_settings output;
    output.format = chosen_format(parser);
    output.use_color = colour && output.format == search::output_format::blocks;
    output.visible_controls = stdout_is_terminal;
    output.null_separated = parser.get<bool>("--null");
    settings.writer = search::match_writer(output);
    settings.verbose = parser.get<bool>("--verbose");
    settings.cuda_by_suffix = !parser.is_used("--language");
}

// The strings that the parse options view, alive for the whole run.
struct parse_option_text {
    std::string language;
    std::string std_argument;
    std::vector<std::string> include_arguments;
};

// The parse options of every file: --include-dir's folders, those found around and below
// the path, the language and the standard. False, after one line, when the path's folders
// cannot be read.
bool choose_parse_options(const argparse::ArgumentParser& parser, const std::string& path,
                          parse_option_text& text, listed_files& listed) {
    text.include_arguments =
        include_options(parser.get<std::vector<std::string>>("--include-dir"), false);
    try {
        for (std::string& dir : include_dirs_for(path, &listed)) {
            text.include_arguments.push_back(std::move(dir));
        }
    } catch (const std::filesystem::filesystem_error& error) {
        search::report(error.path1().native(), error.code().message());
        return false;
    }
    text.language = parser.get<std::string>("--language");
    text.std_argument = "-std=" + parser.get<std::string>("--std");
    searcher::settings.clang_options =
        build_clang_options(text.language, text.std_argument, text.include_arguments);
    return true;
}

// The owners the search needs: the walk's filter, the cache, the compilation database, the
// indexing session. False, after one line, when one that was asked for cannot be had.
bool open_owners(const argparse::ArgumentParser& parser, const std::string& path,
                 parse_option_text& text, listed_files& listed) {
    if (!apply_walk_options(parser, path)) {
        return false;
    }
    // A path that cannot be searched is said before anything is opened for it.
    try {
        check_search_path(path);
    } catch (const std::filesystem::filesystem_error& error) {
        search::report(error.path1().native(), error.code().message());
        return false;
    }
    const std::optional<std::string> database_file = compile_commands_file(parser);
    // The database's commands may come from the cache.
    if (!database_file || !open_cache(parser, path) ||
        !load_compile_commands(parser, *database_file)) {
        return false;
    }
    if (!apply_parse_limits(parser)) {
        return false;
    }
    // Verbose runs show every diagnostic of every file, those in headers' bodies too.
    if (!searcher::settings.verbose && !parser.get<bool>("--full-parse")) {
        searcher::indexing = std::make_unique<search::indexing_session>();
    }
    // The cache's index is prepared while the walk for include folders lists the files.
    return start_pool(parser.get<int>("-j")) && choose_parse_options(parser, path, text, listed);
}

int run_search(int argc, char** argv) {
    const bool stdout_is_terminal = search::is_terminal(stdout);
    give_standard_input_nothing();
    std::ios_base::sync_with_stdio(false);
    std::cin.tie(nullptr);

    argparse::ArgumentParser parser("pyrn", version, argparse::default_arguments::all, true,
                                    std::cout);
    std::string query;
    std::string path;
    if (!read_command_line(parser, argc, argv, query, path)) {
        return 0;
    }
    choose_settings(parser, query, stdout_is_terminal);
    const auto filter = parser.get<std::string>("--filter");
    searcher::settings.filter = filter;
    parse_option_text parse_text;
    listed_files listed;
    // No worker outlives the run, whose strings the settings view.
    struct stop_pool {
        ~stop_pool() { searcher::pool.reset(); }
    } stop_at_exit;
    if (!open_owners(parser, path, parse_text, listed)) {
        return 2;
    }
    try {
        // Verbose output says what is parsed, and libclang's diagnostics would cut the line.
        const bool show_progress = search::is_terminal(stderr) &&
                                   !parser.get<bool>("--no-progress") &&
                                   !searcher::settings.verbose;
        return search_run(path, listed, show_progress, parser.get<bool>("--stats"));
    } catch (const std::exception& error) {
        search::report(error.what());
        return 2;
    }
}

} // namespace

int run(int argc, char** argv) {
    try {
        return run_search(argc, argv);
    } catch (const search::search_stopped& stop) {
        end_search(stop);
    }
}

} // namespace pyrn
