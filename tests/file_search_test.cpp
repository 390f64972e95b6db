// Reading a file, the per-file libclang arguments, the pre-filter and the file search's own
// messages, in-process.

#include "base/whole_file.hpp"
#include "cache/cursor_cache.hpp"
#include "file_search_support.hpp"
#include "temp_tree.hpp"
#include "clang/file_arguments.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace file_search_testing;
using search::file_arguments;
using search::read_whole_file;
using search::searcher;

std::vector<std::string> as_strings(const std::vector<const char*>& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

TEST(file_arguments, settings_list_then_parents_system_includes_and_error_limit) {
    struct case_ {
        const char* path;
        const char* parent;
        const char* grandparent;
    };
    const case_ cases[] = {
        {"/src/lib/a.cpp", "-I/src/lib", "-I/src"},
        {"./a.cpp", "-I.", "-I"},
        {"a.cpp", "-I", "-I"},
        {"src/deep/dir/b.cu", "-Isrc/deep/dir", "-Isrc/deep"},
        {"/a.cpp", "-I/", "-I/"},
    };
    const std::vector<const char*> options{"-x", "c++", "-std=c++17", "-I./include"};
    for (const case_& c : cases) {
        SCOPED_TRACE(c.path);
        const file_arguments arguments(c.path, options);
        EXPECT_EQ(as_strings(arguments.list),
                  (std::vector<std::string>{"-x", "c++", "-std=c++17", "-I./include", c.parent,
                                            c.grandparent, "-I/usr/include", "-I/usr/local/include",
                                            "-ferror-limit=0"}));
        // The settings' strings are borrowed, not copied.
        EXPECT_EQ(arguments.list[0], options[0]);
    }
}

TEST(read_whole_file, returns_the_bytes_exactly) {
    testing_support::temp_tree tree;
    const std::string bytes("a\r\nb\0c\xff\n", 8);
    tree.write("f.cpp", bytes);
    std::error_code error;
    EXPECT_EQ(read_whole_file(tree.path("f.cpp").c_str(), error), bytes);
    EXPECT_FALSE(error);
}

TEST(read_whole_file, gives_empty_content_for_what_cannot_be_read_as_a_file) {
    testing_support::temp_tree tree;
    tree.write("empty.cpp", "");
    tree.make_dir("dir.cpp");
    tree.write("locked.cpp", "int x;");
    tree.set_mode("locked.cpp", std::filesystem::perms::none);
    const struct {
        std::string path;
        std::error_condition error;
    } cases[] = {
        {tree.path("missing.cpp"), std::errc::no_such_file_or_directory},
        {tree.path("empty.cpp"), {}},
        {tree.path("dir.cpp"), {}},
        {"/dev/null", {}},
        {"/dev/zero", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::error_code error;
        EXPECT_EQ(read_whole_file(c.path.c_str(), error), "");
        EXPECT_EQ(error, c.error);
    }
    if (geteuid() != 0) { // root reads the file whatever its mode
        std::error_code error;
        EXPECT_EQ(read_whole_file(tree.path("locked.cpp").c_str(), error), "");
        EXPECT_EQ(error, std::errc::permission_denied);
    }
}

TEST(file_search, skips_files_without_the_query_even_when_verbose) {
    testing_support::temp_tree tree;
    tree.write("empty.cpp", "");
    tree.write("other.cpp", "int unrelated() { return 0; }\n");
    tree.make_dir("dir.cpp");
    settings run("zebra");
    searcher::settings.verbose = true;
    for (const char* name : {"missing.cpp", "empty.cpp", "other.cpp", "dir.cpp"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(search_file(tree.path(name)), "");
    }
}

TEST(file_search, announces_and_parses_a_file_whose_only_occurrence_is_a_comment) {
    settings run("zebra");
    searcher::settings.verbose = true;
    const std::string path = fixture("comment_only.cpp");
    EXPECT_EQ(search_file(path), "Checking " + path + "\n");
    searcher::settings.verbose = false;
    EXPECT_EQ(search_file(path), "");
}

TEST(file_search, pre_filter_reads_the_content_given_not_the_file) {
    settings run("open");
    searcher::settings.verbose = true;
    const std::string path = fixture("functions.cpp");
    std::string content = read_file(path);
    const std::string all = capture_stdout([&] { searcher::file_search(path, content); });
    EXPECT_EQ(all.rfind("Checking " + path + "\n", 0), 0u) << all;
    EXPECT_NE(all.find("int open(const char* name)"), std::string::npos);
    for (char& byte : content) {
        byte = byte == 'o' ? 'O' : byte;
    }
    EXPECT_EQ(capture_stdout([&] { searcher::file_search(path, content); }), "");
}

// The bytes read are the bytes parsed, whatever the file holds by the time of the parse: the
// cache stores the records under those bytes' hash, and a file gone since is searched as read.
TEST(file_search, parses_the_bytes_it_read_not_the_file_again) {
    testing_support::temp_tree tree;
    testing_support::temp_tree cache;
    const std::string path = tree.path("a.cpp");
    const std::string as_read = "int probe_read() { return 1; }\n";
    tree.write("a.cpp", "// rewritten since\nint probe_rewritten() { return 2; }\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(30)); // older than the parse
    settings run("probe");
    const std::string expected =
        "\n// " + path + " (Line: 1 to 1)\nint probe_read() { return 1; }\n";
    searcher::cache = search::cursor_cache::open(cache.path(), tree.root().native());
    EXPECT_EQ(capture_stdout([&] { searcher::file_search(path, as_read); }), expected);
    searcher::cache.reset();
    EXPECT_EQ(capture_stdout([&] { searcher::file_search(tree.path("gone.cpp"), as_read); }),
              "\n// " + tree.path("gone.cpp") +
                  " (Line: 1 to 1)\nint probe_read() { return 1; }\n");

    tree.write("a.cpp", as_read); // the entry of these bytes holds their records
    const auto answered =
        testing_support::run_pyrn({"--nc", "--cache", cache.path(), "probe", tree.path()});
    EXPECT_EQ(answered.out, expected + "\n");
    EXPECT_EQ(answered.err, "");
}

TEST(file_search, empty_query_lets_every_non_empty_file_through) {
    testing_support::temp_tree tree;
    tree.write("empty.cpp", "");
    tree.write("blank.cpp", "\n");
    settings run("");
    searcher::settings.verbose = true;
    EXPECT_EQ(search_file(tree.path("empty.cpp")), "");
    EXPECT_EQ(search_file(tree.path("blank.cpp")), "Checking " + tree.path("blank.cpp") + "\n");
}

TEST(file_search, query_at_the_very_end_of_the_content_is_found) {
    testing_support::temp_tree tree;
    tree.write("end.cpp", "int value_at_end;");
    settings run(";");
    searcher::settings.verbose = true;
    EXPECT_EQ(search_file(tree.path("end.cpp")).rfind("Checking ", 0), 0u);
}

} // namespace

namespace {

// Past the 20th error libclang 19 stops instantiating templates, so the references in the
// function after the errors lose their names: a name search misses them. The golden test shows
// that the search, which lifts the limit, finds them.
std::vector<std::string> member_references(const std::vector<const char*>& arguments) {
    const std::string path = fixture("many_errors.cpp");
    CXIndex index = clang_createIndex(0, 0);
    CXTranslationUnit unit =
        clang_parseTranslationUnit(index, path.c_str(), arguments.data(),
                                   static_cast<int>(arguments.size()), nullptr, 0, 0x4200);
    std::vector<std::string> names;
    if (unit != nullptr) {
        clang_visitChildren(
            clang_getTranslationUnitCursor(unit),
            [](CXCursor cursor, CXCursor, CXClientData data) {
                if (cursor.kind == CXCursor_MemberRefExpr) {
                    CXString name = clang_getCursorSpelling(cursor);
                    static_cast<std::vector<std::string>*>(data)->push_back(clang_getCString(name));
                    clang_disposeString(name);
                }
                return CXChildVisit_Recurse;
            },
            &names);
        clang_disposeTranslationUnit(unit);
    }
    clang_disposeIndex(index);
    return names;
}

TEST(error_limit, references_after_twenty_errors_lose_their_names_under_the_default_limit) {
    const std::vector<const char*> options{"-x", "c++", "-std=c++17"};
    // In the template itself, then h.get() and h.value in the function after the errors.
    EXPECT_EQ(member_references(options), (std::vector<std::string>{"value", "", ""}));
    const file_arguments arguments(fixture("many_errors.cpp"), options);
    EXPECT_EQ(member_references(arguments.list),
              (std::vector<std::string>{"value", "get", "value"}));
}

} // namespace
