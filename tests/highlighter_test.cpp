#include "escapes.hpp"
#include "output/highlighter.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Highlights a copy of text held in a heap block of exactly its size, so that the sanitizer
// build reports any read past the snippet.
std::string highlight(std::string_view text, bool colour = true) {
    std::unique_ptr<char[]> exact(new char[text.size()]);
    std::copy(text.begin(), text.end(), exact.get());
    fmt::memory_buffer out;
    search::highlighter().highlight(exact.get(), text.size(), out, colour);
    return std::string(out.data(), out.size());
}

std::string wrap(const char* open, std::string_view piece) {
    return open + std::string(piece) + "\x1b[0m";
}
std::string kw(std::string_view s) {
    return wrap("\x1b[1;95m", s);
}
std::string ty(std::string_view s) {
    return wrap("\x1b[1;94m", s);
}
std::string call(std::string_view s) {
    return wrap("\x1b[1;93m", s);
}
std::string member(std::string_view s) {
    return wrap("\x1b[1;96m", s);
}
std::string scope(std::string_view s) {
    return wrap("\x1b[1;92m", s);
}
std::string lit(std::string_view s) {
    return wrap("\x1b[1;91m", s);
}
// Comment bytes are wrapped one by one.
std::string cmt(std::string_view s) {
    std::string r;
    for (char c : s) {
        r += wrap("\x1b[0;90m", std::string_view(&c, 1));
    }
    return r;
}
const std::string open = "\x1b[0;90m/*\x1b[0m";
const std::string close = "\x1b[0;90m*/\x1b[0m";

struct golden {
    const char* name;
    std::string input;
    std::string expected;
};

std::vector<golden> golden_cases() {
    return {
        {"empty", "", ""},
        {"call", "int main() {", ty("int") + " " + call("main") + "() {"},
        {"scope_and_template", "std::vector<int> v;",
         scope("std") + "::vector<" + ty("int") + "> v;"},
        {"member_then_call", "obj.size()", member("obj") + "." + call("size") + "()"},
        {"enum_class", "enum class Color {",
         ty("enum") + " " + kw("class") + " " + ty("Color") + " {"},
        {"type_and_keyword_placements", "size_t true void nullptr auto false",
         ty("size_t") + " " + ty("true") + " " + kw("void") + " " + kw("nullptr") + " " +
             ty("auto") + " " + ty("false")},
        {"keyword_before_paren_stays_keyword", "sizeof(x) if(",
         kw("sizeof") + "(x) " + kw("if") + "("},
        {"membership_is_exact", "Int integer(int_ const_",
         "Int " + call("integer") + "(int_ const_"},
        {"line_comment_spelled_out", "int x; // note\n",
         "\x1b[1;94mint\x1b[0m x; \x1b[0;90m/\x1b[0m\x1b[0;90m/\x1b[0m\x1b[0;90m \x1b[0m"
         "\x1b[0;90mn\x1b[0m\x1b[0;90mo\x1b[0m\x1b[0;90mt\x1b[0m\x1b[0;90me\x1b[0m\n"},
        {"line_comment_then_code", "// c\nint", cmt("// c") + "\n" + ty("int")},
        {"line_comment_backslash_continues", "// a\\\nb\nc", cmt("// a\\\nb") + "\nc"},
        {"line_comment_at_end", "x //", "x " + cmt("//")},
        {"line_comment_ending_in_backslash", "// a\\", cmt("// a\\")},
        {"block_comment_spelled_out", "/* a */b",
         "\x1b[0;90m/*\x1b[0m\x1b[0;90m \x1b[0m\x1b[0;90ma\x1b[0m\x1b[0;90m \x1b[0m"
         "\x1b[0;90m*/\x1b[0mb"},
        {"nested_block_comment", "/* a /* b */ c */ d",
         open + cmt(" a ") + open + cmt(" b ") + close + cmt(" c ") + close + " d"},
        {"block_comment_keeps_newlines", "/*\n*/", open + cmt("\n") + close},
        {"line_comment_inside_block_means_nothing", "/* // */x", open + cmt(" // ") + close + "x"},
        {"opener_then_slash", "/*/", open + cmt("/")},
        {"unterminated_block_comment", "/* a *", open + cmt(" a *")},
        {"unterminated_nested_comment", "/* /* */ x",
         open + cmt(" ") + open + cmt(" ") + close + cmt(" x")},
        {"char_literal_escaped_quote", "'\\''", lit("'\\''")},
        {"string_literal_escaped_backslash", "\"a\\\\\" b", lit("\"a\\\\\"") + " b"},
        {"string_literal_escaped_quote", "\"a\\\"b\"c", lit("\"a\\\"b\"") + "c"},
        {"apostrophe_ends_double_quoted", "\"it's\"", lit("\"it'") + "s" + lit("\"")},
        {"unterminated_literal", "x = \"abc", "x = " + lit("\"abc")},
        {"unterminated_after_backslash", "'\\", lit("'\\")},
        {"division", "x / y", "x / y"},
        {"trailing_slash", "a/", "a/"},
        {"lone_slash", "/", "/"},
        {"digits", "42 + 0x1F", "42 + 0x1F"},
        {"hex_tail_is_word", "0x1F(", "0" + call("x1F") + "("},
        {"utf8_word_call", "\xc3\xa9t\xc3\xa9(", call("\xc3\xa9t\xc3\xa9") + "("},
        {"high_byte_inside_word",
         "a\xff"
         "b.c",
         member("a\xff"
                "b") +
             ".c"},
        {"include", "#include <vector>", "#include <vector>"},
        {"comment_keeps_class_flag", "class /* x */ Foo;",
         kw("class") + " " + open + cmt(" x ") + close + " " + ty("Foo") + ";"},
        {"scope_wins_after_struct", "struct Foo::Bar", kw("struct") + " " + scope("Foo") + "::Bar"},
        {"flag_lasts_one_word", "class A B", kw("class") + " " + ty("A") + " B"},
        {"struct_name_at_end", "struct Foo", kw("struct") + " " + ty("Foo")},
        {"struct_name_before_brace", "struct Foo {", kw("struct") + " " + ty("Foo") + " {"},
        {"keyword_then_struct_flag_reset", "struct int x", kw("struct") + " " + ty("int") + " x"},
    };
}

class golden_test : public testing::TestWithParam<golden> {};

TEST_P(golden_test, colour_on) {
    EXPECT_EQ(highlight(GetParam().input), GetParam().expected);
}

TEST_P(golden_test, colour_off_is_unchanged) {
    EXPECT_EQ(highlight(GetParam().input, false), GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(samples, golden_test, testing::ValuesIn(golden_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(highlighter, word_tables) {
    const char* keywords[] = {"alignas",
                              "alignof",
                              "and",
                              "and_eq",
                              "asm",
                              "atomic_cancel",
                              "atomic_commit",
                              "atomic_noexcept",
                              "bitand",
                              "bitor",
                              "break",
                              "case",
                              "catch",
                              "class",
                              "compl",
                              "concept",
                              "consteval",
                              "constexpr",
                              "constinit",
                              "const",
                              "const_cast",
                              "continue",
                              "co_await",
                              "co_return",
                              "co_yield",
                              "decltype",
                              "default",
                              "delete",
                              "do",
                              "dynamic_cast",
                              "else",
                              "explicit",
                              "export",
                              "extern",
                              "for",
                              "friend",
                              "goto",
                              "if",
                              "inline",
                              "mutable",
                              "namespace",
                              "new",
                              "noexcept",
                              "not",
                              "not_eq",
                              "nullptr",
                              "operator",
                              "or",
                              "or_eq",
                              "private",
                              "protected",
                              "public",
                              "reflexpr",
                              "register",
                              "reinterpret_cast",
                              "requires",
                              "return",
                              "sizeof",
                              "static",
                              "static_assert",
                              "static_cast",
                              "struct",
                              "switch",
                              "synchronized",
                              "template",
                              "this",
                              "thread_local",
                              "throw",
                              "try",
                              "typedef",
                              "typeid",
                              "typename",
                              "union",
                              "using",
                              "virtual",
                              "void",
                              "volatile",
                              "while",
                              "xor",
                              "xor_eq"};
    const char* types[] = {"auto",     "bool",    "char",    "char8_t", "char16_t", "char32_t",
                           "double",   "enum",    "false",   "float",   "int",      "int8_t",
                           "int16_t",  "int32_t", "int64_t", "uint8_t", "uint16_t", "uint32_t",
                           "uint64_t", "long",    "short",   "signed",  "size_t",   "true",
                           "unsigned", "wchar_t"};
    ASSERT_EQ(std::size(keywords), 80u);
    ASSERT_EQ(std::size(types), 26u);
    // Followed by "(" so that a word missing from its set would come out yellow instead.
    for (const char* w : keywords) {
        EXPECT_EQ(highlight(std::string(w) + "("), kw(w) + "(") << w;
    }
    for (const char* w : types) {
        EXPECT_EQ(highlight(std::string(w) + "("), ty(w) + "(") << w;
    }
}

TEST(highlighter, never_reads_past_the_snippet) {
    // Each snippet is the head of a longer text whose next byte would change the result.
    struct cut {
        std::string whole;
        std::size_t length;
        std::string expected;
    } cases[] = {
        {"obj.x", 3, "obj"},
        {"f(", 1, "f"},
        {"a::b", 1, "a"},
        {"struct Foo(", 10, kw("struct") + " " + ty("Foo")},
        {"/* a */ b", 6, open + cmt(" a *")},
        {"// a\nb", 4, cmt("// a")},
        {"\"ab\" c", 3, lit("\"ab")},
        {"x /* y */", 3, "x /"},
    };
    for (const auto& c : cases) {
        fmt::memory_buffer out;
        search::highlighter().highlight(c.whole.data(), c.length, out, true);
        EXPECT_EQ(std::string(out.data(), out.size()), c.expected) << c.whole;
    }
}

TEST(highlighter, appends_after_existing_content) {
    fmt::memory_buffer out;
    out.append(std::string_view("head|"));
    const std::string text = "int x;";
    search::highlighter().highlight(text.data(), text.size(), out, true);
    EXPECT_EQ(std::string(out.data(), out.size()), "head|" + ty("int") + " x;");
}

void check_round_trip(const std::string& text, const std::string& label) {
    ASSERT_EQ(highlight(text, false), text) << label;
    // The escape stripper needs an input without escape bytes of its own.
    ASSERT_EQ(text.find('\x1b'), std::string::npos) << label;
    std::string plain;
    ASSERT_TRUE(testing_support::strip_escapes(highlight(text, true), plain)) << label;
    ASSERT_EQ(plain, text) << label;
}

TEST(highlighter, round_trip_on_random_text) {
    std::mt19937 rng(12345);
    // Biased towards the bytes that start or end pieces.
    const std::string alphabet = "/*'\"\\\n (.:_aZ09\xc3\xa9\x80\xff";
    for (int round = 0; round < 3000; ++round) {
        std::string text(rng() % 64, '\0');
        for (char& c : text) {
            do {
                c = rng() % 4 ? alphabet[rng() % alphabet.size()] : static_cast<char>(rng());
            } while (c == '\x1b');
        }
        check_round_trip(text, "random round " + std::to_string(round));
    }
}

TEST(highlighter, round_trip_on_real_source) {
    std::vector<std::filesystem::path> files;
    for (const auto& dir : {std::filesystem::path(PYRN_TEST_DIR) / "../source",
                            std::filesystem::path("/usr/lib/llvm-19/include/clang/AST")}) {
        if (!std::filesystem::is_directory(dir)) {
            continue;
        }
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            files.push_back(entry.path());
        }
    }
    ASSERT_GT(files.size(), 10u);
    std::size_t checked = 0;
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        const std::string text = content.str();
        if (text.find('\x1b') != std::string::npos) {
            continue;
        }
        check_round_trip(text, path.string());
        // Cuts at arbitrary points end words, literals and comments at the snippet's end.
        for (std::size_t cut = 1; cut < text.size(); cut = cut * 3 + 7) {
            check_round_trip(text.substr(cut / 2, cut - cut / 2), path.string());
        }
        ++checked;
    }
    EXPECT_GT(checked, 10u);
}

} // namespace
