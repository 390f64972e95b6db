// Test labels: threads (run under ThreadSanitizer too)
// Searches with the cursor cache (--cache): a search answered from the cache prints what a
// search without it prints, and whatever happens to the cache, the files or the arguments,
// the output stays that of a search without it.
#include "cache_runs.hpp"
#include "golden_runs.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using testing_support::answered_from_cache;
using testing_support::joined;
using testing_support::process_result;
using testing_support::run_in;
using testing_support::settle;
using testing_support::temp_tree;

class warm_run : public testing::TestWithParam<testing_support::run_case> {};

TEST_P(warm_run, prints_what_a_run_without_the_cache_prints) {
    temp_tree cache;
    const std::string tree = testing_support::search_run_tree();
    std::string warm;
    for (const char* file : testing_support::search_run_files) {
        const auto arguments =
            joined(joined({"--nc", "-j", "1", "-f", file, "--cache", cache.path("c")},
                          GetParam().arguments),
                   {"."});
        const process_result cold = run_in(tree, arguments);
        EXPECT_EQ(cold.status, 0);
        EXPECT_EQ(cold.err, "");
        const process_result answered = answered_from_cache(tree, arguments);
        EXPECT_EQ(answered.out, cold.out) << file;
        warm += answered.out;
    }
    EXPECT_EQ(warm, testing_support::read_file(testing_support::test_dir() + "/golden/search_run/" +
                                               GetParam().name + ".out"));
}

INSTANTIATE_TEST_SUITE_P(search_run, warm_run, testing::ValuesIn(testing_support::run_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(warm_run, writes_json_names_from_the_stored_records) {
    temp_tree cache;
    const std::string tree = testing_support::search_run_tree();
    const std::vector<std::string> arguments{"--json", "-j", "1", "-F", "count", "."};
    const process_result plain = run_in(tree, arguments);
    run_in(tree, joined({"--cache", cache.path()}, arguments));
    EXPECT_EQ(answered_from_cache(tree, joined({"--cache", cache.path()}, arguments)).out,
              plain.out);
}

TEST(warm_run, answers_qualified_names_cases_and_expressions_from_the_stored_records) {
    temp_tree cache;
    const std::string tree = testing_support::test_dir() + "/fixtures/queries";
    for (const std::vector<std::string>& query :
         {std::vector<std::string>{"-F", "-E", "Reader::open"},
          {"--function", "--ie", "-E", "io::Reader::open"},
          {"-i", "--regex", "-F", "^OPEN"}}) {
        SCOPED_TRACE(testing::PrintToString(query));
        const auto arguments = joined(joined({"--nc", "-j", "1"}, query), {"."});
        const process_result plain = run_in(tree, arguments);
        EXPECT_NE(testing_support::parse_blocks(plain.out).size(), 0u);
        const auto cached = joined({"--cache", cache.path()}, arguments);
        run_in(tree, cached);
        EXPECT_EQ(answered_from_cache(tree, cached).out, plain.out);
    }
}

// An entry keeps offsets, and its lines are counted in the file's bytes as clang counts them:
// every kind of line end, a field whose initializer ends in a macro's argument, and a member
// reference that ends in another file (whose file is then visited straight, and not stored).
TEST(warm_run, counts_lines_in_the_file_as_the_parse_does) {
    temp_tree cache;
    temp_tree tree;
    tree.write("ends.cpp",
               "#define ID(x) x\r\nstruct T {\r\n  int probe_field = ID(\r\n    3);\r\n"
               "};\rint probe_cr() {\r  return 0;\r}\n\rint probe_lf() { return 1; }\n");
    tree.write("split.cpp", "struct S { int probe_member; };\n"
                            "int probe_read(S s) { return s.\n#include \"member.inc\"\n; }\n");
    tree.write("member.inc", "probe_member\n");
    settle();
    const std::vector<std::string> arguments{"--json", "--ie", "-j",    "1",
                                             "--sort", "path", "probe", "."};
    const std::string plain = run_in(tree.path(), arguments).out;
    EXPECT_NE(plain.find("\"start_line\":6,\"end_line\":8"), std::string::npos) << plain;
    const auto cached = joined({"--stats", "--cache", cache.path()}, arguments);
    EXPECT_EQ(run_in(tree.path(), cached).out, plain);
    const process_result warm = run_in(tree.path(), cached);
    EXPECT_EQ(warm.out, plain);
    EXPECT_NE(warm.err.find("answered from the cache: 1\n"), std::string::npos) << warm.err;
}

// The database is kept in the cache by its bytes: the warm search reads no libclang for it,
// and an edited database is read again.
TEST(warm_run, with_a_compilation_database_reads_it_from_the_cache_until_it_changes) {
    const std::string project = testing_support::test_dir() + "/fixtures/compile_commands";
    temp_tree build;
    temp_tree cache;
    auto write_database = [&](const std::string& macro) {
        build.write("compile_commands.json",
                    "[{\"directory\": \"" + project +
                        "\", \"file\": \"src/app.cpp\", \"arguments\": [\"g++\", \"-D" + macro +
                        "\", \"-Ivendor/api\", \"-c\", \"src/app.cpp\"]}]");
    };
    const std::vector<std::string> arguments{"--nc",    "-j",         "1",  "-p",     build.path(),
                                             "--cache", cache.path(), "-F", "turbo_", "."};
    const std::string turbo = "\n// ./src/app.cpp (Line: 5 to 5)\n"
                              "int turbo_speed(int gear) { return gear * 2; }\n"
                              "\n// ./src/other/unbuilt.cpp (Line: 2 to 2)\n"
                              "int turbo_unbuilt() { return 1; }\n\n";
    write_database("WITH_TURBO");
    EXPECT_EQ(run_in(project, arguments).out, turbo);
    EXPECT_EQ(answered_from_cache(project, arguments).out, turbo);
    write_database("WITHOUT_TURBO");
    EXPECT_EQ(run_in(project, arguments).out, "\n");
    write_database("WITH_TURBO");
    EXPECT_EQ(run_in(project, arguments).out, turbo);
}

// A tree whose matches depend on a header two levels down, two headers that are missing at first
// (one in a folder that is missing too) and one that only -I finds.
void write_probe_tree(const temp_tree& tree) {
    tree.write("main.cpp",
               "#include \"level1.h\"\n#include \"generated.h\"\n#include \"option.h\"\n"
               "#include \"gen/made.h\"\n"
               "int probe_base() { return 0; }\n"
               "#if LEVEL2_FLAG\nint probe_level2() { return 1; }\n#endif\n"
               "#ifdef STILL_THERE\nint probe_still() { return 1; }\n#endif\n"
               "#ifdef GENERATED_FLAG\nint probe_generated() { return 2; }\n#endif\n"
               "#ifdef OPTION_FLAG\nint probe_option() { return 3; }\n#endif\n"
               "#ifdef MADE_FLAG\nint probe_made() { return 5; }\n#endif\n"
               "#if __cplusplus >= 202002L\nint probe_cpp20() { return 4; }\n#endif\n");
    tree.write("level1.h", "#include \"sub/level2.h\"\n");
    tree.write("sub/level2.h", "#define LEVEL2_FLAG 1\n#define STILL_THERE 1\n");
    tree.write("opt/option.h", "#define OPTION_FLAG 1\n");
}

TEST(cache, follows_every_edit_of_files_and_arguments) {
    temp_tree tree;
    temp_tree cache;
    write_probe_tree(tree);
    const std::string src = tree.path();
    struct step {
        const char* what;
        std::function<void()> edit;
        std::vector<std::string> options;
    };
    const step steps[] = {
        {"first search", [] {}, {}},
        {"the file changed",
         [&] {
             tree.write("main.cpp", testing_support::read_file(tree.path("main.cpp")) +
                                        "int probe_added() { return 5; }\n");
         },
         {}},
        {"a header two levels down changed",
         [&] { tree.write("sub/level2.h", "#define LEVEL2_FLAG 0\n#define STILL_THERE 1\n"); },
         {}},
        {"that header deleted", [&] { std::filesystem::remove(tree.path("sub/level2.h")); }, {}},
        {"a missing header created",
         [&] { tree.write("generated.h", "#define GENERATED_FLAG 1\n"); },
         {}},
        {"a missing header created with its folder",
         [&] { tree.write("gen/made.h", "#define MADE_FLAG 1\n"); },
         {}},
        {"-I given", [] {}, {"-I", tree.path("opt")}},
        {"--std changed", [] {}, {"-I", tree.path("opt"), "--std", "c++20"}},
        {"-l changed", [] {}, {"-I", tree.path("opt"), "-l", "c"}},
    };
    std::string previous;
    for (const step& s : steps) {
        SCOPED_TRACE(s.what);
        s.edit();
        settle();
        const auto arguments = joined(joined({"--nc", "-F"}, s.options), {"probe", "."});
        const process_result plain = run_in(src, arguments);
        const auto cached = joined({"--cache", cache.path()}, arguments);
        EXPECT_EQ(run_in(src, cached).out, plain.out);
        EXPECT_EQ(answered_from_cache(src, cached).out, plain.out);
        EXPECT_NE(plain.out, previous) << "the step must change what is found";
        previous = plain.out;
    }
}

// Tools that write a file anew with the bytes it had (a checkout switched and back, a
// generator run again) change its time stamps and often its inode, but not what it holds.
TEST(cache, keeps_entries_whose_headers_were_written_again_with_the_same_bytes) {
    temp_tree tree;
    temp_tree cache;
    write_probe_tree(tree);
    settle();
    const std::vector<std::string> arguments{"--nc", "-F", "probe", "--cache", cache.path(), "."};
    const std::string filled = run_in(tree.path(), arguments).out;
    const std::string level2 = testing_support::read_file(tree.path("sub/level2.h"));
    const std::string level1 = testing_support::read_file(tree.path("level1.h"));
    for (int round = 0; round < 2; ++round) { // the second round answers from the kept hashes
        SCOPED_TRACE(round);
        tree.write("sub/level2.h.new", level2);
        std::filesystem::rename(tree.path("sub/level2.h.new"), tree.path("sub/level2.h"));
        tree.write("level1.h", level1);
        settle();
        EXPECT_EQ(answered_from_cache(tree.path(), arguments).out, filled);
    }
    tree.write("sub/level2.h", "#define LEVEL2_FLAG 0\n#define STILL_THERE 1\n");
    settle();
    const process_result changed = run_in(tree.path(), arguments);
    EXPECT_NE(changed.out, filled);
    EXPECT_EQ(changed.out, run_in(tree.path(), {"--nc", "-F", "probe", "."}).out);
}

// A colleague's checkout, a CI job's or a second worktree: the same files at another place.
TEST(cache, two_checkouts_at_different_places_share_every_entry) {
    temp_tree places;
    temp_tree probe;
    write_probe_tree(probe);
    for (const char* copy : {"one", "two"}) {
        std::filesystem::copy(probe.path(), places.path(copy),
                              std::filesystem::copy_options::recursive);
    }
    settle();
    const struct {
        const char* how;
        std::function<std::string(const std::string&)> cwd;
        std::function<std::vector<std::string>(const std::string&)> paths;
    } runs[] = {
        {"in the checkout", [](const std::string& root) { return root; },
         [](const std::string& root) {
             return std::vector<std::string>{"-I", root + "/opt", "."};
         }},
        {"from outside", [](const std::string&) { return std::string(); },
         [](const std::string& root) {
             return std::vector<std::string>{"-I", root + "/opt", root + "/"};
         }},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.how);
        temp_tree cache;
        auto search = [&](const char* copy, bool cached) {
            const std::string root = places.path(copy);
            const auto plain = joined({"--nc", "-F", "probe"}, run.paths(root));
            return cached ? joined({"--cache", cache.path()}, plain) : plain;
        };
        run_in(run.cwd(places.path("one")), search("one", true));
        const std::string two = places.path("two");
        const std::string expected = run_in(run.cwd(two), search("two", false)).out;
        EXPECT_NE(expected.find("probe_level2"), std::string::npos) << expected;
        EXPECT_EQ(answered_from_cache(run.cwd(two), search("two", true)).out, expected);
        // The entries' headers are those of the checkout searched.
        places.write("two/sub/level2.h", "#define LEVEL2_FLAG 0\n");
        settle();
        EXPECT_EQ(run_in(run.cwd(two), search("two", true)).out,
                  run_in(run.cwd(two), search("two", false)).out);
        places.write("two/sub/level2.h", testing_support::read_file(probe.path("sub/level2.h")));
    }
}

// Runs sql on the cache's database; the first column of its first row.
std::string change_database(const std::string& dir, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((dir + "/cursors.sqlite").c_str(), &db), SQLITE_OK);
    std::string first;
    char* error = nullptr;
    auto keep_first = [](void* into, int, char** values, char**) {
        auto& text = *static_cast<std::string*>(into);
        if (text.empty() && values[0] != nullptr) {
            text = values[0];
        }
        return 0;
    };
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), keep_first, &first, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
    return first;
}

TEST(cache, broken_entries_and_another_format_are_misses_and_are_rewritten) {
    temp_tree tree;
    write_probe_tree(tree);
    tree.write("second.cpp", "int probe_second() { return 6; }\n");
    settle();
    const std::vector<std::string> arguments{"--nc", "-j", "1", "-F", "probe", "."};
    const std::string expected = run_in(tree.path(), arguments).out;
    const char* const damages[] = {
        "UPDATE entries SET value = substr(value, 1, length(value) - 9)",
        "UPDATE entries SET value = zeroblob(length(value))",
        "UPDATE entries SET value = substr(value, 1, 80) || x'ff' || substr(value, 82)",
        // Each entry under the other's key.
        "UPDATE entries SET value = (SELECT value FROM entries AS other "
        "WHERE other.key != entries.key)",
        "PRAGMA user_version = 999",
        // As an earlier pyrn left it: not marked as pyrn's.
        "PRAGMA application_id = 0; PRAGMA user_version = 3",
    };
    temp_tree cache;
    const auto cached = joined({"--cache", cache.path()}, arguments);
    run_in(tree.path(), cached);
    for (const char* damage : damages) {
        SCOPED_TRACE(damage);
        change_database(cache.path(), damage);
        const process_result repaired = run_in(tree.path(), cached);
        EXPECT_EQ(repaired.out, expected);
        EXPECT_EQ(repaired.err, "");
        EXPECT_EQ(answered_from_cache(tree.path(), cached).out, expected);
    }
}

TEST(cache, a_directory_that_cannot_hold_it_is_said_once_and_the_search_goes_on) {
    temp_tree tree;
    for (int i = 0; i < 3; ++i) {
        std::string body;
        for (int j = 0; j < 3000; ++j) {
            body += "int probe_" + std::to_string(i) + "_" + std::to_string(j) + "() { return " +
                    std::to_string(j) + "; }\n";
        }
        tree.write("f" + std::to_string(i) + ".cpp", body);
    }
    temp_tree places;
    places.write("not_a_dir", "");
    places.make_dir("locked");
    places.set_mode("locked", std::filesystem::perms::owner_all);
    settle();
    const std::vector<std::string> arguments{"--nc", "-F", "probe_1_", tree.path()};
    const std::string expected = testing_support::run_pyrn(arguments).out;
    const struct {
        std::string dir;
        std::string reason;
        std::vector<std::string> run;
    } cases[] = {
        {places.path("not_a_dir"), "Not a directory", {testing_support::pyrn_binary()}},
        // A write past the file size limit fails as on a full disk, whose reason SQLite gives.
        {places.path("full"),
         "",
         {"bash", "-c", "ulimit -f 64; trap '' XFSZ; exec \"$0\" \"$@\"",
          testing_support::pyrn_binary()}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        const process_result result =
            testing_support::run_process(joined(joined(c.run, {"--cache", c.dir}), arguments));
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.out == expected) << "the search's output differs";
        EXPECT_EQ(result.err.rfind("pyrn: " + c.dir + ": " + c.reason, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    if (geteuid() == 0) { // file modes bind nobody, not root
        const process_result locked = testing_support::run_pyrn_as_nobody(
            tree.path(), joined({"--cache", places.path("locked/c")}, arguments));
        EXPECT_EQ(locked.status, 0);
        EXPECT_TRUE(locked.out == expected) << "the search's output differs";
        EXPECT_EQ(locked.err, "pyrn: " + places.path("locked/c") + ": Permission denied\n");
    }
}

TEST(cache, survives_two_processes_at_once_and_one_killed_while_writing) {
    temp_tree tree;
    for (int i = 0; i < 24; ++i) {
        tree.write("d" + std::to_string(i % 3) + "/f" + std::to_string(i) + ".cpp",
                   "#include <string>\nint probe_" + std::to_string(i) +
                       "(const std::string& s) { return static_cast<int>(s.size()); }\n");
    }
    settle();
    const std::vector<std::string> arguments{"--nc", "-j", "2", "-F", "probe_", tree.path()};
    const auto expected = [&] {
        auto blocks = testing_support::parse_blocks(testing_support::run_pyrn(arguments).out);
        std::sort(blocks.begin(), blocks.end());
        return blocks;
    }();
    auto blocks_of = [](const std::string& out) {
        auto blocks = testing_support::parse_blocks(out);
        std::sort(blocks.begin(), blocks.end());
        return blocks;
    };
    temp_tree cache;
    const std::string pyrn = testing_support::pyrn_binary();
    std::string command = "rm -rf \"$2\"; \"$0\" \"$@\" > " + cache.path("one") +
                          " 2>&1 & \"$0\" \"$@\" > " + cache.path("two") + " 2>&1; wait";
    // Under load, ThreadSanitizer's runtime now and then fails to map its shadow memory and
    // stops the process: such a round says nothing about the cache, so it is run again.
    auto runtime_failed = [&] {
        for (const char* run : {"one", "two"}) {
            if (testing_support::read_file(cache.path(run))
                    .find("ThreadSanitizer failed to allocate") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    for (int round = 0; round < 3; ++round) {
        testing_support::run_process(
            joined({"bash", "-c", command, pyrn, "--cache", cache.path("shared")}, arguments));
        if (!runtime_failed()) {
            break;
        }
    }
    for (const char* run : {"one", "two"}) {
        const std::string out = testing_support::read_file(cache.path(run));
        EXPECT_TRUE(blocks_of(out) == expected) << run << " printed:\n" << out;
    }
    const auto shared = joined({"--cache", cache.path("shared")}, arguments);
    EXPECT_EQ(blocks_of(answered_from_cache("", shared).out), expected);

    command = "\"$0\" \"$@\" > /dev/null & sleep 1.5; kill -KILL $!; wait";
    testing_support::run_process(
        joined({"bash", "-c", command, pyrn, "--cache", cache.path("killed")}, arguments));
    EXPECT_EQ(change_database(cache.path("killed"), "PRAGMA integrity_check"), "ok");
    const auto killed = joined({"--cache", cache.path("killed")}, arguments);
    EXPECT_EQ(blocks_of(testing_support::run_pyrn(killed).out), expected);
    EXPECT_EQ(blocks_of(answered_from_cache("", killed).out), expected);
}

// The sleeps of at least 2 ms (SQLite's waits for a lock, not the pool's pauses) that strace saw
// of clock_nanosleep, through which the C library sleeps (a sanitizer's own thread calls
// nanosleep).
std::size_t long_sleeps(const std::string& trace) {
    std::size_t count = 0;
    for (std::size_t at = trace.find("sleep("); at != std::string::npos;
         at = trace.find("sleep(", at + 1)) {
        const std::size_t seconds = trace.find("tv_sec=", at);
        const std::size_t nanoseconds = trace.find("tv_nsec=", at);
        if (seconds == std::string::npos || nanoseconds == std::string::npos) {
            continue;
        }
        count += std::stol(trace.substr(seconds + 7)) > 0 ||
                 std::stol(trace.substr(nanoseconds + 8)) >= 2'000'000;
    }
    return count;
}

// Another process in a write transaction (an sqlite3 shell left open, a search stopped while
// it wrote) must not make searches wait: a warm one reads without a lock, and one that has
// entries to write leaves them for later.
TEST(cache, a_search_never_waits_for_another_process_holding_the_database) {
    temp_tree tree;
    temp_tree cache;
    write_probe_tree(tree);
    settle();
    const std::vector<std::string> arguments{"--nc",  "-j",      "1",          "-F",
                                             "probe", "--cache", cache.path(), "."};
    run_in(tree.path(), arguments);
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open((cache.path() + "/cursors.sqlite").c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN IMMEDIATE; DELETE FROM hashes WHERE path = 'none';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string main = testing_support::read_file(tree.path("main.cpp"));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        tree.write("main.cpp", main + "int probe_round_" + std::to_string(round) + "();\n");
        settle(); // each round has an entry to write, and the one before could not write its own
        testing_support::process_options in_tree;
        in_tree.cwd = tree.path();
        const process_result traced = testing_support::run_process(
            joined({"strace", "-f", "-e", "trace=clock_nanosleep", testing_support::pyrn_binary()},
                   arguments),
            in_tree);
        const std::string expected =
            run_in(tree.path(), {"--nc", "-j", "1", "-F", "probe", "."}).out;
        EXPECT_EQ(traced.out, expected);
        // The wait at the end for a short transaction: 1 + 2 + 5 + ... up to 100 ms.
        EXPECT_LE(long_sleeps(traced.err), 8u) << traced.err;
    }
    ASSERT_EQ(sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(holder);
    run_in(tree.path(), arguments);
    EXPECT_EQ(answered_from_cache(tree.path(), arguments).out,
              run_in(tree.path(), {"--nc", "-j", "1", "-F", "probe", "."}).out);
}

// --- whom the cache trusts ------------------------------------------------------------------

constexpr uid_t nobody = 65534;

// A directory or file of the places tree, given to nobody with the mode.
void give_to_nobody(const temp_tree& places, const std::string& relative, mode_t mode) {
    ASSERT_EQ(chown(places.path(relative).c_str(), nobody, nobody), 0) << relative;
    ASSERT_EQ(chmod(places.path(relative).c_str(), mode), 0) << relative;
}

// An SQLite database of nobody's own, which no cache may change.
void write_own_database(const temp_tree& places, const std::string& relative) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(places.path(relative).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db,
                           "PRAGMA user_version = 7; CREATE TABLE entries (note TEXT); "
                           "INSERT INTO entries VALUES ('mine');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    give_to_nobody(places, relative, 0600);
}

// Searches of a one-file tree run as nobody, with caches in places that root makes.
class cache_trust : public testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "making files of another user needs root";
        }
        tree.write("a.cpp", "int probe_a() { return 1; }\n");
        settle();
        expected = testing_support::run_pyrn(query).out;
    }

    temp_tree tree;
    temp_tree places;
    const std::vector<std::string> query{"--nc", "-F", "probe", tree.path()};
    std::string expected; // what a search without a cache prints
};

TEST_F(cache_trust, a_cache_that_others_can_change_or_that_is_not_pyrns_is_refused_and_left_alone) {
    places.make_dir("shared");
    ASSERT_EQ(chmod(places.path("shared").c_str(), 01777), 0);
    for (const char* dir : {"open", "linked", "dangling", "foreign", "used_by_root"}) {
        places.make_dir(dir);
        give_to_nobody(places, dir, dir == std::string("open") ? 0777 : 0700);
    }
    write_own_database(places, "own.sqlite");
    places.symlink(places.path("own.sqlite"), "linked/cursors.sqlite");
    places.symlink(places.path("created.sqlite"), "dangling/cursors.sqlite");
    write_own_database(places, "foreign/cursors.sqlite");
    places.write("used_by_root/cursors.sqlite", "");
    places.make_dir("writable_parent/mine");
    ASSERT_EQ(chmod(places.path("writable_parent").c_str(), 0777), 0);
    give_to_nobody(places, "writable_parent/mine", 0700);
    // A private folder of nobody's, reached through a link that a third user placed in /tmp's
    // like: that user can point the link elsewhere at any time. Through a link of nobody's own
    // in the same folder, it is used.
    places.make_dir("private");
    give_to_nobody(places, "private", 0700);
    places.symlink(places.path("private"), "shared/placed");
    ASSERT_EQ(lchown(places.path("shared/placed").c_str(), 12345, 12345), 0);
    places.symlink(places.path("private"), "shared/own");
    ASSERT_EQ(lchown(places.path("shared/own").c_str(), nobody, nobody), 0);
    const std::string own = testing_support::read_file(places.path("own.sqlite"));
    const struct {
        std::string dir;
        std::string line;
    } cases[] = {
        {places.path("shared"), places.path("shared") + ": it belongs to another user"},
        {places.path("open"), places.path("open") + ": other users can write to it"},
        {places.path("linked"), places.path("linked/cursors.sqlite") + ": it is a symbolic link"},
        {places.path("dangling"),
         places.path("dangling/cursors.sqlite") + ": it is a symbolic link"},
        {places.path("foreign"),
         places.path("foreign/cursors.sqlite") + ": not a database of pyrn's cache"},
        {places.path("used_by_root"),
         places.path("used_by_root/cursors.sqlite") + ": it belongs to another user"},
        {places.path("writable_parent/mine"), places.path("writable_parent/mine") +
                                                  ": another user can change " +
                                                  places.path("writable_parent")},
        {places.path("shared/placed/c"),
         places.path("shared/placed/c") + ": " + places.path("shared/placed") +
             " is a symbolic link of another user in a sticky folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir);
        const process_result result =
            testing_support::run_pyrn_as_nobody(tree.path(), joined({"--cache", c.dir}, query));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected);
        EXPECT_EQ(result.err, "pyrn: " + c.line + "\n");
    }
    EXPECT_FALSE(std::filesystem::exists(places.path("private/c")));
    const process_result through_own = testing_support::run_pyrn_as_nobody(
        tree.path(), joined({"--cache", places.path("shared/own/c")}, query));
    EXPECT_EQ(through_own.err, "");
    EXPECT_TRUE(std::filesystem::exists(places.path("private/c/cursors.sqlite")));
    EXPECT_TRUE(testing_support::read_file(places.path("own.sqlite")) == own) << "changed";
    EXPECT_FALSE(std::filesystem::exists(places.path("own.sqlite-wal")));
    EXPECT_FALSE(std::filesystem::exists(places.path("created.sqlite")));
    EXPECT_EQ(change_database(places.path("foreign"), "SELECT note FROM entries"), "mine");
}

TEST_F(cache_trust, a_cache_is_private_to_its_user) {
    places.make_dir("home");
    give_to_nobody(places, "home", 0755);
    const std::string cache = places.path("home/cache");
    const auto cached = joined({"--cache", cache}, query);

    const process_result filled = testing_support::run_pyrn_as_nobody(tree.path(), cached);
    EXPECT_EQ(filled.err, "");
    EXPECT_EQ(filled.out, expected);
    for (const char* file : {"cursors.sqlite", "cursors.sqlite-wal", "cursors.sqlite-shm"}) {
        struct stat info {};
        if (stat((cache + "/" + file).c_str(), &info) == 0) {
            EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
        }
    }
    // Another user's search must neither use it nor leave files that its owner cannot write.
    const process_result other = testing_support::run_pyrn(cached);
    EXPECT_EQ(other.out, expected);
    EXPECT_EQ(other.err, "pyrn: " + cache + ": it belongs to another user\n");
    tree.write("a.cpp", "int probe_a() { return 1; }\nint probe_b() { return 2; }\n");
    settle();
    const process_result refilled = testing_support::run_pyrn_as_nobody(tree.path(), cached);
    EXPECT_EQ(refilled.err, "");
    EXPECT_EQ(refilled.out, testing_support::run_pyrn(query).out);
}

} // namespace
