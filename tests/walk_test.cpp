#include "base/paths.hpp"
#include "output.hpp"
#include "process.hpp"
#include "temp_tree.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing_support::process_options;
using testing_support::run_pyrn;
using testing_support::temp_tree;

// Every file holds the marker in a comment, so that it passes the pre-filter and is announced
// by --verbose; --enum finds nothing in it, so the announcements are the whole output.
constexpr const char* marker_text = "// walkmarker\n";

std::vector<std::string> announced(const std::string& out) {
    std::vector<std::string> files;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Checking ", 0) == 0) {
            files.push_back(line.substr(9));
        }
    }
    return files;
}

struct walk_run {
    std::vector<std::string> files; // in announcement order
    std::string err;
    int status;
};

walk_run search(const std::string& cwd, const std::string& root, std::vector<std::string> options) {
    std::vector<std::string> arguments{"--nc", "--verbose", "--enum", "-j", "1"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back("walkmarker");
    arguments.push_back(root);
    process_options run_options;
    run_options.cwd = cwd;
    auto result = run_pyrn(arguments, run_options);
    return {announced(result.out), result.err, result.status};
}

std::set<std::string> as_set(const std::vector<std::string>& files) {
    return {files.begin(), files.end()};
}

void write_files(const temp_tree& tree, std::initializer_list<const char*> files) {
    for (const char* file : files) {
        tree.write(file, marker_text);
    }
}

class walk : public testing::Test {
protected:
    void SetUp() override {
        write_files(
            tree,
            {"a.cpp",        "a.CPP",         "a.cpp.orig",   "README.md",     "CMakeLists.txt",
             "inc/b.hpp",    "k/kernel.cu",   "k/kernel.cuh", "x.cpp/inner.c", ".git/hook.h",
             "build/gen.cc", "noext",         "b.h",          "c.cc",          "d.cxx",
             "e.hh",         "f.hxx",         "main.cpp",     "src/main.cpp",  "src/domain.cpp",
             "src/a.cpp",    "src/deep/b.cpp"});
    }
    temp_tree tree;
};

// The walk's files and the includes are compared in this form: it must be the one
// std::filesystem gives, whichever road makes it.
TEST(paths, absolute_in_is_the_lexically_normal_path) {
    const char* const paths[] = {"/a/b/c.h", "/a//b/./c.h", "/a/b/../c.h", "/a/b/.", "/a/b/",
                                 "//a/b",    "/",           "/.",          "/./a",   "/a/..",
                                 "b/c.h",    "./b/c.h",     ".",           "..",     "b/./../c",
                                 "/a/.b/c",  "/a/..b/c",    "/a/b..",      "/a/b/.c"};
    for (const char* const path : paths) {
        SCOPED_TRACE(path);
        EXPECT_EQ(search::absolute_in("/work/dir", path),
                  (fs::path("/work/dir") / path).lexically_normal().native());
    }
}

TEST_F(walk, default_filter_selects_the_ten_source_extensions) {
    const std::set<std::string> sources{
        "./a.cpp",       "./inc/b.hpp",     "./k/kernel.cu", "./k/kernel.cuh", "./x.cpp/inner.c",
        "./.git/hook.h", "./build/gen.cc",  "./b.h",         "./c.cc",         "./d.cxx",
        "./e.hh",        "./f.hxx",         "./main.cpp",    "./src/main.cpp", "./src/domain.cpp",
        "./src/a.cpp",   "./src/deep/b.cpp"};
    auto plain = search(tree.path(), ".", {});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(as_set(plain.files), sources);
    EXPECT_EQ(plain.files.size(), sources.size()) << "a file was searched twice";
    auto explicit_default = search(tree.path(), ".", {"-f", "*.*"});
    EXPECT_EQ(as_set(explicit_default.files), sources);
}

TEST_F(walk, one_worker_searches_in_walk_order) {
    std::vector<std::string> expected;
    for (const auto& entry : fs::recursive_directory_iterator(tree.path())) {
        std::string path = entry.path().native();
        bool source = entry.is_regular_file() && path.size() > 4 &&
                      path.compare(path.size() - 4, 4, ".cpp") == 0;
        if (source) {
            expected.push_back(path);
        }
    }
    EXPECT_EQ(search(tree.path(), tree.path(), {"-f", "*.cpp"}).files, expected);
}

struct filter_case {
    const char* filter;
    const char* root;
    std::set<std::string> files;
};

TEST_F(walk, filter_patterns_match_the_whole_path) {
    const filter_case cases[] = {
        {"main.cpp", ".", {}},
        {"*main.cpp", ".", {"./main.cpp", "./src/main.cpp", "./src/domain.cpp"}},
        {"src/*.cpp", ".", {}},
        {"src/*.cpp", "src", {"src/main.cpp", "src/domain.cpp", "src/a.cpp", "src/deep/b.cpp"}},
        {"*.[ch]", ".", {"./x.cpp/inner.c", "./.git/hook.h", "./b.h"}},
        {"", ".", {}},
        {"*/README.md", ".", {"./README.md"}},
    };
    for (const filter_case& c : cases) {
        SCOPED_TRACE(std::string("filter '") + c.filter + "' root " + c.root);
        auto result = search(tree.path(), c.root, {"-f", c.filter});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(as_set(result.files), c.files);
    }
}

TEST_F(walk, a_lone_asterisk_selects_every_regular_file) {
    auto result = search(tree.path(), "src/", {"-f", "*"});
    EXPECT_EQ(as_set(result.files), (std::set<std::string>{"src/main.cpp", "src/domain.cpp",
                                                           "src/a.cpp", "src/deep/b.cpp"}));
    EXPECT_EQ(as_set(search(tree.path(), ".", {"-f", "*"}).files).count("./noext"), 1u);
}

struct exclude_case {
    std::vector<std::string> options;
    const char* root;
    std::set<std::string> left_out; // of the files the walk takes without the options
};

TEST_F(walk, exclude_patterns_prune_by_name_or_by_path_below_the_root) {
    const std::set<std::string> all = as_set(search(tree.path(), ".", {}).files);
    const exclude_case cases[] = {
        {{"--exclude", "build"}, ".", {"./build/gen.cc"}},
        {{"--exclude", "build/"}, ".", {"./build/gen.cc"}},                       // a folder
        {{"--exclude", "b.h/", "--exclude", "x.cpp/"}, ".", {"./x.cpp/inner.c"}}, // folders only
        {{"--exclude", "src/deep"}, ".", {"./src/deep/b.cpp"}},
        {{"--exclude", "deep"}, ".", {"./src/deep/b.cpp"}},
        {{"--exclude", "*/b.cpp"}, ".", {"./src/deep/b.cpp"}}, // '*' matches '/' too
        {{"--exclude", "inc/b.hpp"}, ".", {"./inc/b.hpp"}},
        {{"--exclude", "b.hpp"}, ".", {"./inc/b.hpp"}},
        {{"--exclude", ".git", "--exclude", "k"},
         ".",
         {"./.git/hook.h", "./k/kernel.cu", "./k/kernel.cuh"}},
        // The folder x.cpp is pruned with its contents.
        {{"--exclude", "*.c*"},
         ".",
         {"./a.cpp", "./x.cpp/inner.c", "./build/gen.cc", "./k/kernel.cu", "./k/kernel.cuh",
          "./c.cc", "./d.cxx", "./main.cpp", "./src/main.cpp", "./src/domain.cpp", "./src/a.cpp",
          "./src/deep/b.cpp"}},
        {{"--exclude", "nothing*"}, ".", {}},
    };
    for (const exclude_case& c : cases) {
        SCOPED_TRACE(c.options[1] + (c.options.size() > 2 ? " " + c.options[3] : ""));
        std::set<std::string> expected;
        for (const std::string& file : all) {
            if (c.left_out.count(file) == 0) {
                expected.insert(file);
            }
        }
        auto result = search(tree.path(), c.root, c.options);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(as_set(result.files), expected);
    }
    // Patterns see the paths below the root, never the root's own name.
    EXPECT_EQ(
        as_set(search(tree.path(), "src", {"--exclude", "src"}).files),
        (std::set<std::string>{"src/main.cpp", "src/domain.cpp", "src/a.cpp", "src/deep/b.cpp"}));
}

TEST(walk_gitignore, leaves_out_what_git_ignores_and_the_git_folder) {
    temp_tree tree;
    if (testing_support::run_process({"git", "init", "-q", tree.path("repo")}).status != 0) {
        GTEST_SKIP() << "git is not installed";
    }
    write_files(tree, {"repo/kept.cpp", "repo/build/gen.cpp", "repo/out.gen.cpp",
                       "repo/sub/kept.cpp", "repo/sub/local.cpp", "repo/sub/deep/anchored.cpp",
                       "repo/scratch/s.cpp", "repo/global.cpp", "repo/.git/hooks/h.cpp"});
    tree.write("repo/.gitignore", "build/\n*.gen.cpp\n/sub/deep/anchored.cpp\n");
    tree.write("repo/sub/.gitignore", "local.cpp\n");
    tree.write("repo/.git/info/exclude", "scratch/\n");
    tree.write("home/.config/git/ignore", "global.cpp\n");
    const auto files = [&](const std::string& root, std::vector<std::string> options) {
        std::vector<std::string> arguments{"env",
                                           "-u",
                                           "XDG_CONFIG_HOME",
                                           "HOME=" + tree.path("home"),
                                           testing_support::pyrn_binary(),
                                           "--nc",
                                           "--verbose",
                                           "--enum",
                                           "-j",
                                           "1"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {"walkmarker", root});
        process_options in_tree;
        in_tree.cwd = tree.path();
        const auto result = testing_support::run_process(arguments, in_tree);
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.err, "");
        return as_set(announced(result.out));
    };
    EXPECT_EQ(files("repo", {"--gitignore"}),
              (std::set<std::string>{"repo/kept.cpp", "repo/sub/kept.cpp"}));
    EXPECT_EQ(files("repo/sub", {"--gitignore"}), (std::set<std::string>{"repo/sub/kept.cpp"}));
    EXPECT_EQ(files("repo/sub/", {"--gitignore", "--exclude", "kept.cpp"}),
              (std::set<std::string>{}));
    EXPECT_EQ(files("repo", {}).size(), 9u);
    // Outside a repository there is nothing to ignore.
    tree.write("plain/.gitignore", "*.cpp\n");
    write_files(tree, {"plain/a.cpp"});
    EXPECT_EQ(files("plain", {"--gitignore"}), (std::set<std::string>{"plain/a.cpp"}));
}

TEST(walk_links, links_to_files_count_links_to_directories_do_not) {
    temp_tree tree;
    write_files(tree, {"real/a.cpp"});
    tree.symlink("real/a.cpp", "link.cpp");
    tree.symlink("real", "linked_dir.cpp");
    tree.symlink("missing.cpp", "dangling.cpp");
    auto result = search(tree.path(), ".", {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(as_set(result.files), (std::set<std::string>{"./real/a.cpp", "./link.cpp"}));
}

TEST(walk_links, a_link_loop_is_reported_and_the_walk_goes_on) {
    temp_tree tree;
    write_files(tree, {"a.cpp", "z/b.cpp"});
    tree.symlink("loop.cpp", "loop.cpp");
    auto result = search(tree.path(), ".", {});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "pyrn: ./loop.cpp: Too many levels of symbolic links\n");
    EXPECT_EQ(as_set(result.files), (std::set<std::string>{"./a.cpp", "./z/b.cpp"}));
}

TEST(walk_roots, an_empty_root_prints_only_the_final_newline) {
    temp_tree tree;
    auto result = run_pyrn({"--nc", "anything", tree.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n");
    EXPECT_EQ(result.err, "");
}

std::vector<std::string> sorted_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Runs as root see every directory; the permission cases run pyrn as nobody.
TEST(walk_permissions, an_unreadable_directory_is_reported_once_and_the_search_goes_on) {
    temp_tree tree;
    tree.write("open/a.cpp", "int walk_open() { return 1; }\n");
    tree.write("locked/b.cpp", "int walk_locked() { return 2; }\n");
    // Found only when the discovery of include directories went on past the locked one.
    tree.write("deep/include/walk.h", "namespace walk {\nint walk_declared();\n}\n");
    tree.write("uses.cpp", "#include \"walk.h\"\nint walk::walk_declared() { return 3; }\n");
    tree.symlink("loop", "loop");
    tree.set_mode("locked", fs::perms::none);
    const std::vector<std::string> reported{"pyrn: " + tree.path("locked") + ": Permission denied",
                                            "pyrn: " + tree.path("loop") +
                                                ": Too many levels of symbolic links"};
    for (const char* format : {"--nc", "--files-with-matches"}) {
        SCOPED_TRACE(format);
        auto result =
            testing_support::run_pyrn_as_nobody(tree.path(), {format, "-F", "walk_", tree.path()});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(sorted_lines(result.err), reported);
        if (format == std::string("--files-with-matches")) {
            EXPECT_EQ(sorted_lines(result.out),
                      (std::vector<std::string>{tree.path("deep/include/walk.h"),
                                                tree.path("open/a.cpp"), tree.path("uses.cpp")}));
        } else {
            EXPECT_EQ(testing_support::parse_blocks(result.out).size(), 3u) << result.out;
        }
    }
    // The root itself that cannot be read ends the start-up.
    auto root = testing_support::run_pyrn_as_nobody(tree.path(), {"walk_", tree.path("locked")});
    EXPECT_EQ(root.status, 2);
    EXPECT_EQ(root.out, "");
    EXPECT_EQ(root.err, "pyrn: " + tree.path("locked") + ": Permission denied\n");
}

TEST(walk_permissions, an_excluded_directory_is_not_entered) {
    temp_tree tree;
    write_files(tree, {"open/a.cpp", "locked/b.cpp"});
    tree.set_mode("locked", fs::perms::none);
    auto result = testing_support::run_pyrn_as_nobody(
        tree.path(), {"--nc", "--exclude", "locked", "-F", "walkmarker", tree.path()});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n");
    EXPECT_EQ(result.err, "");
}

} // namespace
