// Test labels: threads (the walk, the index and the cache readers run on the pool)
// The cache's index of file contents: a warm search reads only the files that may hold the
// query's bytes and those whose state it does not know, and prints, in every format, what a
// search without the cache prints, whatever happened to the files since.
#include "cache_runs.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using testing_support::joined;
using testing_support::process_result;
using testing_support::run_in;
using testing_support::settle;
using testing_support::temp_tree;

// The number on the --stats line that starts with what.
int stat_of(const std::string& err, const std::string& what) {
    const std::size_t at = err.find("pyrn: " + what + ": ");
    return at == std::string::npos ? -1 : std::stoi(err.substr(at + what.size() + 8));
}

// Below prefix ("one/", or nothing).
void write_tree(const temp_tree& places, const std::string& prefix = "") {
    const auto tree = [&](const std::string& relative, const std::string& content) {
        places.write(prefix + relative, content);
    };
    tree("a.cpp", "#include \"common.h\"\nint probe_alpha() { return COMMON; }\n");
    tree("sub/b.cpp", "int probe_beta(int x) {\n    return static_cast<int>(x * 2);\n}\n");
    tree("sub/c.hpp", "struct quiet_type { int value; };\n");
    tree("common.h", "#define COMMON 1\nint probe_common();\n");
    for (int i = 0; i < 6; ++i) {
        tree("more/m" + std::to_string(i) + ".cpp",
             "int unrelated_" + std::to_string(i) + "() { return " + std::to_string(i) + "; }\n");
    }
}

const std::vector<std::vector<std::string>> formats = {
    {"--nc"}, {"--json"}, {"--vimgrep"}, {"--files-with-matches"}};

// Every format and a few queries, with and without the cache, run twice: the first run with the
// cache indexes what changed, the second answers from the index.
void expect_cached_as_plain(const std::string& tree, const std::string& cache,
                            const std::vector<std::vector<std::string>>& queries) {
    for (const auto& format : formats) {
        for (const auto& query : queries) {
            SCOPED_TRACE(testing::PrintToString(joined(format, query)));
            const auto plain =
                joined(joined(joined({"-j", "2", "--sort", "path"}, format), query), {"."});
            const std::string expected = run_in(tree, plain).out;
            const auto cached = joined({"--cache", cache}, plain);
            EXPECT_EQ(run_in(tree, cached).out, expected);
            EXPECT_EQ(run_in(tree, cached).out, expected);
        }
    }
}

const std::vector<std::vector<std::string>> queries = {
    {"probe"}, {"-F", "probe_beta"}, {"absent_name"}, {"--ie", "-F", "COMMON"}};

TEST(content_index, follows_edits_new_deleted_and_renamed_files_in_every_format) {
    temp_tree tree;
    temp_tree cache;
    write_tree(tree);
    settle();
    const struct {
        const char* what;
        std::function<void()> change;
    } steps[] = {
        {"first searches", [] {}},
        {"a file edited in place, same size",
         [&] {
             tree.write(
                 "sub/b.cpp",
                 testing_support::read_file(tree.path("sub/b.cpp")).replace(4, 10, "probe_gamm"));
         }},
        {"a file that did not hold the query now does",
         [&] { tree.write("sub/c.hpp", "struct probe_type { int value; };\n"); }},
        {"a new file", [&] { tree.write("more/new.cpp", "int probe_new() { return 7; }\n"); }},
        {"a deleted file", [&] { std::filesystem::remove(tree.path("a.cpp")); }},
        {"a renamed file",
         [&] {
             std::filesystem::rename(tree.path("more/new.cpp"), tree.path("more/renamed.cpp"));
         }},
        {"a file replaced by another's bytes",
         [&] {
             tree.write("more/swap.tmp", testing_support::read_file(tree.path("sub/b.cpp")));
             std::filesystem::rename(tree.path("more/swap.tmp"), tree.path("more/m0.cpp"));
         }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        settle();
        expect_cached_as_plain(tree.path(), cache.path(), queries);
    }
}

// Searches that the index cannot narrow read every file, as without it, and index what they read.
TEST(content_index, queries_it_cannot_narrow_read_every_file_and_fill_it) {
    temp_tree tree;
    temp_tree cache;
    write_tree(tree);
    settle();
    expect_cached_as_plain(
        tree.path(), cache.path(),
        {{"-i", "PROBE_ALPHA"}, {"pr"}, {"--regex", "probe_(alpha|beta)"}, {""}});
    // Those searches indexed every file: an absent query reads none.
    const std::vector<std::string> absent{"--stats", "--cache", cache.path(), "absent_name", "."};
    const process_result warm = run_in(tree.path(), absent);
    EXPECT_EQ(warm.out, "\n");
    EXPECT_EQ(stat_of(warm.err, "files read"), 0) << warm.err;
    // A query reads the files that hold it and no other.
    const process_result found =
        run_in(tree.path(), {"--stats", "--cache", cache.path(), "-F", "probe_beta", "."});
    EXPECT_EQ(stat_of(found.err, "files read"), 1) << found.err;
    EXPECT_EQ(found.out, run_in(tree.path(), {"-F", "probe_beta", "."}).out);
}

// The index is asked for a few of a query's trigrams, each once: a file that holds them apart
// but not the query is read and ruled out on its bytes.
TEST(content_index, a_file_holding_the_querys_trigrams_apart_is_confirmed_on_its_bytes) {
    temp_tree tree;
    temp_tree cache;
    tree.write("apart.cpp", "int abca_one;\nint cab_two;\nint zzzz;\n");
    tree.write("whole.cpp", "int abcab() { return 0; }\nint zzzzzzz_run;\n");
    tree.write("neither.cpp", "int other() { return 1; }\n");
    settle();
    expect_cached_as_plain(tree.path(), cache.path(),
                           {{"-F", "abcab"}, {"zzzzzzz"}, {"-F", "zzzzzzzzzz"}});
    const process_result warm =
        run_in(tree.path(), {"--stats", "--cache", cache.path(), "-F", "abcab", "."});
    EXPECT_EQ(stat_of(warm.err, "files read"), 2) << warm.err;
    EXPECT_EQ(stat_of(warm.err, "files holding the query"), 1) << warm.err;
}

// A file written again with the bytes it had is read (its state changed) but not parsed.
TEST(content_index, a_file_touched_with_the_same_bytes_costs_a_read_and_no_parse) {
    temp_tree tree;
    temp_tree cache;
    write_tree(tree);
    settle();
    const std::vector<std::string> search{"--stats",    "--sort", "path",  "--cache",
                                          cache.path(), "-F",     "probe", "."};
    const std::string expected = run_in(tree.path(), {"--sort", "path", "-F", "probe", "."}).out;
    EXPECT_EQ(run_in(tree.path(), search).out, expected);
    tree.write("sub/b.cpp", testing_support::read_file(tree.path("sub/b.cpp")));
    settle();
    const process_result touched = run_in(tree.path(), search);
    EXPECT_EQ(touched.out, expected);
    EXPECT_EQ(stat_of(touched.err, "files read"), 3) << touched.err;
    EXPECT_EQ(stat_of(touched.err, "answered from the cache"), 3) << touched.err;
}

// A file whose entry holds no record that could be a match is answered unread, while the
// files it includes hold the bytes they held: a header that turns its function on makes it read.
TEST(content_index, a_file_whose_entry_cannot_match_is_not_read_until_its_header_changes) {
    temp_tree tree;
    temp_tree cache;
    tree.write("switch.h", "#define ENABLED 0\n");
    tree.write("a.cpp", "#include \"switch.h\"\n#if ENABLED\nint probe_function() { return 1; }\n"
                        "#endif\n");
    tree.write("b.cpp", "int probe_function(int) { return 2; }\n");
    tree.write("c.cpp", "int unrelated() { return 3; }\n");
    settle();
    const std::vector<std::string> query{"--sort", "path", "-F", "probe_function", "."};
    const auto search = joined({"--stats", "--cache", cache.path()}, query);
    run_in(tree.path(), search);
    const process_result warm = run_in(tree.path(), search);
    EXPECT_EQ(warm.out, run_in(tree.path(), query).out);
    EXPECT_EQ(stat_of(warm.err, "files read"), 1) << warm.err;
    EXPECT_EQ(stat_of(warm.err, "answered from the cache"), 2) << warm.err;
    tree.write("switch.h", "#define ENABLED 1\n");
    settle();
    const process_result switched = run_in(tree.path(), search);
    EXPECT_EQ(switched.out, run_in(tree.path(), query).out);
    EXPECT_NE(switched.out.find("a.cpp"), std::string::npos) << switched.out;
    EXPECT_EQ(stat_of(switched.err, "files read"), 3) << switched.err;
}

// Two checkouts of one tree share a cache: each is judged by its own files' states.
TEST(content_index, two_checkouts_sharing_a_cache_stay_exact) {
    temp_tree places;
    temp_tree cache;
    write_tree(places, "one/");
    write_tree(places, "two/");
    settle();
    expect_cached_as_plain(places.path("one"), cache.path(), queries);
    places.write("two/sub/c.hpp", "struct probe_only_in_two { int value; };\n");
    places.write("two/more/m3.cpp", "int probe_three_in_two() { return 3; }\n");
    settle();
    expect_cached_as_plain(places.path("two"), cache.path(), queries);
    expect_cached_as_plain(places.path("one"), cache.path(), queries);
}

} // namespace
