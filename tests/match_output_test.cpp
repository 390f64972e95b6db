#include "output.hpp"
#include "search/searcher.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

search::match_writer coloured_writer(bool colour) {
    search::writer_settings settings;
    settings.use_color = colour;
    return search::match_writer(settings);
}

class match_output : public testing::Test {
protected:
    void TearDown() override { search::searcher::settings.writer = coloured_writer(false); }

    static std::string print(bool colour, std::string_view path, std::uint32_t start,
                             std::uint32_t end, std::string_view snippet) {
        search::searcher::settings.writer = coloured_writer(colour);
        return testing_support::capture_stdout(
            [&] { search::searcher::print_match(path, start, end, snippet); });
    }
};

TEST_F(match_output, plain_block) {
    EXPECT_EQ(print(false, "src/a.cpp", 3, 7, "int f() {\n    return 0; // x\n}"),
              "\n// src/a.cpp (Line: 3 to 7)\nint f() {\n    return 0; // x\n}\n");
}

TEST_F(match_output, coloured_block) {
    EXPECT_EQ(print(true, "src/a.cpp", 3, 7, "int f();"),
              "\n\x1b[1;90m// src/a.cpp\x1b[0m \x1b[1;90m(Line: 3 to 7)\x1b[0m\n"
              "\x1b[1;94mint\x1b[0m \x1b[1;93mf\x1b[0m();\n");
}

TEST_F(match_output, one_line_match_and_widest_line_numbers) {
    EXPECT_EQ(print(false, "b.h", 12, 12, "x"), "\n// b.h (Line: 12 to 12)\nx\n");
    EXPECT_EQ(print(false, "b.h", 0, 4294967295u, "x"), "\n// b.h (Line: 0 to 4294967295)\nx\n");
}

TEST_F(match_output, braces_print_as_they_are) {
    EXPECT_EQ(print(false, "{}/{0}.cpp", 1, 2, "f({}, {0}, {:d}, }{);"),
              "\n// {}/{0}.cpp (Line: 1 to 2)\nf({}, {0}, {:d}, }{);\n");
    EXPECT_EQ(print(true, "{}.cpp", 1, 1, "{0}"),
              "\n\x1b[1;90m// {}.cpp\x1b[0m \x1b[1;90m(Line: 1 to 1)\x1b[0m\n{0}\n");
}

TEST_F(match_output, empty_snippet) {
    EXPECT_EQ(print(false, "a.c", 5, 5, ""), "\n// a.c (Line: 5 to 5)\n\n");
    EXPECT_EQ(print(true, "a.c", 5, 5, ""),
              "\n\x1b[1;90m// a.c\x1b[0m \x1b[1;90m(Line: 5 to 5)\x1b[0m\n\n");
}

TEST_F(match_output, consecutive_blocks_are_separated_by_one_empty_line) {
    search::searcher::settings.writer = coloured_writer(false);
    const std::string out = testing_support::capture_stdout([] {
        search::searcher::print_match("a.c", 1, 1, "int a;");
        search::searcher::print_match("b.c", 2, 3, "int b;");
    });
    EXPECT_EQ(out, "\n// a.c (Line: 1 to 1)\nint a;\n\n// b.c (Line: 2 to 3)\nint b;\n");
}

TEST_F(match_output, no_escape_without_colour) {
    const std::string out =
        print(false, "k.cu", 1, 9, "struct S { /* c */ char c = '\\''; }; // \"s\" obj.f()");
    EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

TEST_F(match_output, long_snippet_is_written_whole) {
    std::string snippet;
    for (int i = 0; i < 2000; ++i) {
        snippet += "call(x); // line " + std::to_string(i) + "\n";
    }
    EXPECT_EQ(print(false, "big.cpp", 1, 2000, snippet),
              "\n// big.cpp (Line: 1 to 2000)\n" + snippet + "\n");
}

} // namespace
