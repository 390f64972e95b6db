#include "base/sse2_strstr.hpp"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace std::literals;
using search::npos;
using search::sse2_strcasestr;
using search::sse2_strstr;

namespace {

// The reference: compares byte by byte at every position.
std::size_t byte_search(std::string_view haystack, std::string_view needle) {
    for (std::size_t p = 0; p + needle.size() <= haystack.size(); ++p) {
        std::size_t m = 0;
        while (m < needle.size() && haystack[p + m] == needle[m]) {
            ++m;
        }
        if (m == needle.size()) {
            return p;
        }
    }
    return npos;
}

// One readable page between two inaccessible ones: a buffer placed against either guard
// faults on the first byte read past its end or before its start.
class fenced_page {
public:
    fenced_page() : size(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))) {
        void* memory =
            mmap(nullptr, 3 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) {
            throw std::runtime_error("mmap failed");
        }
        base = static_cast<char*>(memory);
        mprotect(base, size, PROT_NONE);
        mprotect(base + 2 * size, size, PROT_NONE);
    }
    ~fenced_page() { munmap(base, 3 * size); }
    fenced_page(const fenced_page&) = delete;
    fenced_page& operator=(const fenced_page&) = delete;

    // Copies the bytes so that the guard page follows the last one.
    const char* at_end(std::string_view bytes) const {
        char* p = base + 2 * size - bytes.size();
        std::memcpy(p, bytes.data(), bytes.size());
        return p;
    }
    // Copies the bytes so that the guard page precedes the first one.
    const char* at_start(std::string_view bytes) const {
        std::memcpy(base + size, bytes.data(), bytes.size());
        return base + size;
    }
    const char* inaccessible() const { return base; }

private:
    std::size_t size;
    char* base = nullptr;
};

// Searches with both buffers flush against a guard page and compares with the reference.
void expect_same_as_byte_search(const fenced_page& hay_page, const fenced_page& needle_page,
                                std::string_view haystack, std::string_view needle) {
    const char* s = hay_page.at_end(haystack);
    const char* w = needle_page.at_end(needle);
    ASSERT_EQ(sse2_strstr(s, haystack.size(), w, needle.size()), byte_search(haystack, needle))
        << "n=" << haystack.size() << " k=" << needle.size() << " haystack=\""
        << testing::PrintToString(std::string(haystack)) << "\" needle=\""
        << testing::PrintToString(std::string(needle)) << "\"";
}

// The case-folding reference: maps A-Z to a-z and no other byte, then searches exactly.
char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}
char ascii_upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

std::string mapped(std::string_view bytes, char (*map)(char)) {
    std::string out(bytes);
    std::transform(out.begin(), out.end(), out.begin(), map);
    return out;
}

std::size_t folded_search(std::string_view haystack, std::string_view needle) {
    return std::string_view(mapped(haystack, ascii_lower)).find(mapped(needle, ascii_lower));
}

std::string random_bytes(std::mt19937& rng, std::size_t length, std::string_view alphabet) {
    std::string bytes(length, '\0');
    for (char& c : bytes) {
        c = alphabet[rng() % alphabet.size()];
    }
    return bytes;
}

// Where occurrences are planted: the start, around the 16- and 64-byte step edges, and every
// one of the last 72 positions, which the final blocks of a scan cover.
std::vector<std::size_t> plant_positions(std::size_t last) {
    constexpr std::size_t tail = 72;
    static constexpr std::size_t edges[] = {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 129, 191};
    std::vector<std::size_t> positions;
    for (std::size_t p : edges) {
        if (p + tail <= last) {
            positions.push_back(p);
        }
    }
    for (std::size_t p = last >= tail ? last - tail : 0; p <= last; ++p) {
        positions.push_back(p);
    }
    return positions;
}

constexpr std::size_t max_haystack = 300;
constexpr std::size_t max_needle = 64;

TEST(sse2_strstr, matches_byte_search_at_every_length_and_tail_position) {
    // Small alphabets make first/last byte candidates dense; NUL and high bytes are ordinary.
    const std::string_view alphabets[] = {"ab", "\0\x80"sv, "x\xff\0y"sv};
    fenced_page hay_page;
    fenced_page needle_page;
    std::mt19937 rng(20240611);
    for (std::size_t k = 0; k <= max_needle; ++k) {
        for (std::size_t n = 0; n <= max_haystack; ++n) {
            std::string_view alphabet = alphabets[(n + k) % 3];
            std::string haystack = random_bytes(rng, n, alphabet);
            std::string needle = random_bytes(rng, k, alphabet);
            expect_same_as_byte_search(hay_page, needle_page, haystack, needle);
            if (k == 0 || n < k) {
                continue;
            }
            // A byte outside the alphabet just before the last one: candidates keep passing
            // the mask and fail verification, and only planted copies occur.
            needle[k >= 2 ? k - 2 : 0] = '#';
            for (std::size_t p : plant_positions(n - k)) {
                std::string planted = haystack;
                planted.replace(p, k, needle);
                expect_same_as_byte_search(hay_page, needle_page, planted, needle);
            }
        }
    }
}

TEST(sse2_strcasestr, matches_folded_search_at_every_length_and_tail_position) {
    // Letters in both cases; bytes 0x20 apart that are no letters ('@' '`', '[' '{', 0xc0
    // 0xe0), which a fold must keep apart; NUL and high bytes.
    const std::string_view alphabets[] = {"aAbB", "@`[{aA", "\xc0\xe0zZ", "x\xffX\0"sv};
    fenced_page hay_page;
    fenced_page needle_page;
    std::mt19937 rng(20240612);
    for (std::size_t k :
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 20, 24, 64, 65}) {
        for (std::size_t n = 0; n <= max_haystack; ++n) {
            std::string_view alphabet = alphabets[(n + k) % 4];
            std::string haystack = random_bytes(rng, n, alphabet);
            std::string needle = random_bytes(rng, k, alphabet);
            const char* s = hay_page.at_end(haystack);
            ASSERT_EQ(sse2_strcasestr(s, n, needle_page.at_end(needle), k),
                      folded_search(haystack, needle))
                << "n=" << n << " k=" << k << " haystack=" << testing::PrintToString(haystack)
                << " needle=" << testing::PrintToString(needle);
            if (k == 0 || n < k) {
                continue;
            }
            // Copies in random case, at the start, the block edges and the tail; the byte
            // outside the alphabet makes the partial matches around them fail late.
            needle[k >= 2 ? k - 2 : 0] = '#';
            const char* w = needle_page.at_end(needle);
            for (std::size_t p : plant_positions(n - k)) {
                std::string planted = haystack;
                for (std::size_t i = 0; i < k; ++i) {
                    planted[p + i] = rng() % 2 ? needle[i] : ascii_upper(needle[i]);
                }
                ASSERT_EQ(sse2_strcasestr(hay_page.at_end(planted), n, w, k),
                          folded_search(planted, needle))
                    << "n=" << n << " k=" << k << " planted at " << p;
            }
        }
    }
}

// The dispatcher sends only needles over 12 bytes to the general scan; it takes any length.
TEST(sse2_strstr, anysize_matches_byte_search_for_short_needles_too) {
    fenced_page hay_page;
    fenced_page needle_page;
    std::mt19937 rng(7);
    for (std::size_t k = 0; k <= 24; ++k) {
        for (std::size_t n = 1; n <= 100; ++n) {
            std::string haystack = random_bytes(rng, n, "ab");
            std::string needle = random_bytes(rng, k, "ab");
            if (k <= n && k >= 3) {
                needle[k - 2] = 'c';
                haystack.replace(rng() % (n - k + 1), k, needle);
            }
            const char* s = hay_page.at_end(haystack);
            const char* w = needle_page.at_end(needle);
            ASSERT_EQ(search::sse2_strstr_anysize(s, n, w, k), byte_search(haystack, needle))
                << "n=" << n << " k=" << k;
        }
    }
}

TEST(sse2_strstr, reads_nothing_outside_either_buffer) {
    fenced_page hay_page;
    fenced_page needle_page;
    for (std::size_t k = 1; k <= max_needle; ++k) {
        // Against "cc...cd", the first needle is a candidate at every position but the last
        // and fails on its second-to-last byte; the second occurs at n - k. Both make the
        // scan verify up to the haystack's last byte.
        std::string absent(k, 'c');
        absent[k >= 2 ? k - 2 : 0] = 'd';
        std::string present(k, 'c');
        present[k - 1] = 'd';
        for (std::size_t n = 0; n <= max_haystack; ++n) {
            std::string haystack(n, 'c');
            if (n > 0) {
                haystack[n - 1] = 'd';
            }
            for (bool at_end : {true, false}) {
                for (const std::string& needle : {absent, present}) {
                    const char* s =
                        at_end ? hay_page.at_end(haystack) : hay_page.at_start(haystack);
                    const char* w =
                        at_end ? needle_page.at_end(needle) : needle_page.at_start(needle);
                    ASSERT_EQ(sse2_strstr(s, n, w, k), byte_search(haystack, needle))
                        << "n=" << n << " k=" << k << " at_end=" << at_end;
                    // The folded scan, given the needle in upper case, finds the same.
                    std::string upper = mapped(needle, ascii_upper);
                    w = at_end ? needle_page.at_end(upper) : needle_page.at_start(upper);
                    ASSERT_EQ(sse2_strcasestr(s, n, w, k), byte_search(haystack, needle))
                        << "n=" << n << " k=" << k << " at_end=" << at_end;
                }
            }
        }
        // A needle longer than the haystack is answered without reading the haystack.
        EXPECT_EQ(sse2_strstr(hay_page.inaccessible(), k - 1, needle_page.at_end(absent), k), npos);
        EXPECT_EQ(sse2_strcasestr(hay_page.inaccessible(), k - 1, needle_page.at_end(absent), k),
                  npos);
    }
}

TEST(sse2_strstr, guard_pages_catch_reads_past_the_buffer) {
    fenced_page page;
    const char* s = page.at_end("ab");
    EXPECT_DEATH(std::printf("%d", *static_cast<const volatile char*>(s + 2)), "");
}

struct edge_case {
    const char* what;
    std::string haystack;
    std::string needle;
    std::size_t expected;
    std::size_t length = npos; // haystack bytes searched; npos: all of them
};

TEST(sse2_strstr, edge_cases) {
    const std::string block(16, 'x');
    const edge_case cases[] = {
        {"empty needle, empty haystack", "", "", 0},
        {"empty needle", "abc", "", 0},
        {"needle longer than haystack", "ab", "abc", npos},
        {"haystack equals needle", "abcdefgh", "abcdefgh", 0},
        {"long haystack equals needle", "abcdefghijklmnopq", "abcdefghijklmnopq", 0},
        {"occurrence ends at the last byte", block + block + "xxabcdefg", "abcdefg", 34},
        {"bytes past the haystack never complete an occurrence", "abc", "abc", npos, 2},
        {"the leftmost of several", "xxabcxxabcabc", "abc", 2},
        {"lower candidate fails, higher passes, one block", "axcxxabcx", "abc", 5},
        {"first byte in one block, last in the next", block.substr(2) + "abcd", "abcd", 14},
        {"one-byte needle after a NUL byte", "ab\0c"s, "c", 3},
        {"one-byte needle without a NUL byte", "abxc", "c", 3},
        {"NUL needle", "ab\0"s, "\0"s, 2},
        {"one-byte needle absent", "abxc", "d", npos},
        {"high bytes match only themselves", "\x7f\x00\x80\x80\xff"s, "\x80\xff", 3},
        {"high byte is not its low seven bits", "\x00\x7f\x01"s, "\x80\xff\x81", npos},
        {"high bytes in a long needle", block + "\xfe\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\xf0",
         "\x80\x81\x82\x83\x84\x85\x86\x87\x88\x89\xf0", 17},
    };
    for (const edge_case& c : cases) {
        std::size_t n = std::min(c.length, c.haystack.size());
        EXPECT_EQ(sse2_strstr(c.haystack.data(), n, c.needle.data(), c.needle.size()), c.expected)
            << c.what;
        if (c.length == npos) {
            EXPECT_EQ(sse2_strstr(std::string_view(c.haystack), c.needle), c.expected) << c.what;
        }
    }
}

template <std::size_t... K>
std::vector<std::size_t> empty_haystack_results(std::index_sequence<K...>) {
    const char needle[] = "abcdefghijkl";
    return {search::sse2_strstr_fixed<K + 2>(needle, 0, needle)...};
}

TEST(sse2_strstr, fixed_variants_accept_an_empty_haystack) {
    EXPECT_EQ(empty_haystack_results(std::make_index_sequence<11>()),
              std::vector<std::size_t>(11, npos));
}

TEST(sse2_strstr, get_first_bit_set_counts_trailing_zeros) {
    EXPECT_EQ(search::get_first_bit_set(1), 0u);
    EXPECT_EQ(search::get_first_bit_set(0b1011000), 3u);
    EXPECT_EQ(search::get_first_bit_set(std::uint64_t{1} << 63), 63u);
}

// The assertions stay active in release builds and report condition, function, file and line.
TEST(sse2_strstr_death, preconditions_stop_the_process) {
    EXPECT_DEATH(search::get_first_bit_set(0),
                 "sse2_strstr\\.cpp:[0-9]+: .*get_first_bit_set.*: Assertion `value != 0' failed");
    const char needle[] = "abcdefghijklmn";
    EXPECT_DEATH(search::sse2_strstr_anysize(needle, 0, needle, 14),
                 "sse2_strstr\\.cpp:[0-9]+: .*sse2_strstr_anysize.*: Assertion `n > 0' failed");
}

} // namespace
