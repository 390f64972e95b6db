// The preconditions guard against programming errors, so they stay checked in release builds.
#undef NDEBUG
#include <cassert>

#include "base/sse2_strstr.hpp"

#include <cstring>
#include <emmintrin.h>
#include <string>

namespace search {
namespace {

template <typename T> T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

template <typename T> bool same(const char* a, const char* b) {
    return load<T>(a) == load<T>(b);
}

// Compares the needle bytes that the first/last byte mask leaves open, with fixed-width loads
// that stay inside [h, h + K) and [needle, needle + K).
template <std::size_t K> bool middle_equal(const char* h, const char* needle) {
    if constexpr (K == 2) {
        return true;
    } else if constexpr (K == 3) {
        return h[1] == needle[1];
    } else if constexpr (K == 4) {
        return same<std::uint16_t>(h + 1, needle + 1);
    } else if constexpr (K <= 6) {
        return same<std::uint32_t>(h + 1, needle + 1);
    } else if constexpr (K == 7) {
        // Bytes 1 to 5 as two overlapping words.
        auto x = load<std::uint32_t>(h + 1) ^ load<std::uint32_t>(needle + 1);
        auto y = load<std::uint32_t>(h + 2) ^ load<std::uint32_t>(needle + 2);
        return (x | y) == 0;
    } else if constexpr (K == 8) {
        return same<std::uint64_t>(h, needle);
    } else if constexpr (K <= 10) {
        return same<std::uint64_t>(h + 1, needle + 1);
    } else if constexpr (K == 11) {
        return same<std::uint64_t>(h + 1, needle + 1) && h[9] == needle[9];
    } else {
        return same<std::uint64_t>(h + 1, needle + 1) && same<std::uint16_t>(h + 9, needle + 9);
    }
}

// Exact matching: lane j of match(bytes) is all ones where byte j is the needle byte.
struct exact_byte {
    __m128i byte;
    explicit exact_byte(char c) : byte(_mm_set1_epi8(c)) {}
    __m128i match(__m128i bytes) const { return _mm_cmpeq_epi8(bytes, byte); }
};

constexpr char case_bit = 0x20;

bool is_letter(char c) {
    auto lower = static_cast<unsigned char>(c | case_bit);
    return lower >= 'a' && lower <= 'z';
}

// Matching without ASCII case, for a needle byte given in lower case. A letter's two cases
// differ in bit 0x20 alone, so setting that bit in the haystack bytes folds exactly the two
// onto the needle byte; other needle bytes set no bit and match only themselves. This one OR
// keeps the scan near the exact one's speed, where folding A-Z in every loaded byte (add,
// compare, and, or) made it take over twice as long.
struct caseless_byte {
    __m128i lower;
    __m128i bit;
    explicit caseless_byte(char c)
        : lower(_mm_set1_epi8(c)), bit(_mm_set1_epi8(is_letter(c) ? case_bit : 0)) {}
    __m128i match(__m128i bytes) const { return _mm_cmpeq_epi8(_mm_or_si128(bytes, bit), lower); }
};

// The bytes a block scan compares: candidate position p has s[p] under the needle's first
// byte and ends[p] = s[p + k - 1] under its last one. Positions run from 0 to positions - 1.
template <typename Byte> struct scan_state {
    const char* s;
    const char* ends;
    std::size_t positions;
    Byte first;
    Byte last;

    // Lane j is all ones when position i + j is a candidate; loads 16 bytes from s + i and
    // from ends + i.
    __m128i lanes(std::size_t i) const { return lanes_of(s + i, ends + i); }

    __m128i lanes_of(const char* starts, const char* tails) const {
        auto a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(starts));
        auto b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tails));
        return _mm_and_si128(first.match(a), last.match(b));
    }
};

std::uint64_t lane_bits(__m128i lanes) {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(lanes));
}

// The lowest candidate of base + mask that verifies, or npos. Inline: GCC otherwise keeps it
// out of line for the case-folding verifier, and the call per block of candidates made that
// scan a fifth slower.
template <typename Verify>
inline std::size_t first_verified(const char* s, std::size_t base, std::uint64_t mask,
                                  Verify& verify) {
    for (; mask != 0; mask &= mask - 1) {
        std::size_t p = base + get_first_bit_set(mask);
        if (verify(s + p)) {
            return p;
        }
    }
    return npos;
}

// Scans the positions from i on, fewer than 64, in blocks that lie inside the haystack.
template <typename Byte, typename Verify>
std::size_t finish_scan(const scan_state<Byte>& scan, std::size_t i, Verify& verify) {
    for (; i + 16 <= scan.positions; i += 16) {
        std::size_t p = first_verified(scan.s, i, lane_bits(scan.lanes(i)), verify);
        if (p != npos) {
            return p;
        }
    }
    if (i == scan.positions) {
        return npos;
    }
    if (scan.positions >= 16) {
        // The last 16 positions form a block that overlaps scanned ones; those are masked.
        const std::size_t start = scan.positions - 16;
        std::uint64_t mask = lane_bits(scan.lanes(start)) & (0xffffu << (i - start));
        return first_verified(scan.s, start, mask, verify);
    }
    // Fewer than 16 positions in all: scan zero-padded copies of the bytes under them.
    char starts[16] = {};
    char tails[16] = {};
    std::memcpy(starts, scan.s, scan.positions);
    std::memcpy(tails, scan.ends, scan.positions);
    std::uint64_t mask = lane_bits(scan.lanes_of(starts, tails)) & ((1u << scan.positions) - 1);
    return first_verified(scan.s, 0, mask, verify);
}

// The leftmost candidate position p (0 <= p <= n - k) that passes verify(s + p), or npos.
// Positions are tested in ascending order. Only positions whose whole occurrence lies
// inside the haystack are loaded, so every load stays inside [s, s + n); verify reads only
// the k bytes at its candidate and the needle. Byte decides how a haystack byte matches the
// needle's first and last bytes.
template <typename Byte = exact_byte, typename Verify>
std::size_t block_scan(const char* s, std::size_t n, const char* needle, std::size_t k,
                       Verify verify) {
    if (n < k) {
        return npos;
    }
    const scan_state<Byte> scan{s, s + k - 1, n - k + 1, Byte(needle[0]), Byte(needle[k - 1])};
    std::size_t i = 0;
    // Four blocks per step with a single mask test: where candidates are rare the loop
    // runs near load speed.
    for (; i + 64 <= scan.positions; i += 64) {
        __m128i b0 = scan.lanes(i);
        __m128i b1 = scan.lanes(i + 16);
        __m128i b2 = scan.lanes(i + 32);
        __m128i b3 = scan.lanes(i + 48);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(b0, b1), _mm_or_si128(b2, b3))) == 0) {
            continue;
        }
        std::uint64_t mask =
            lane_bits(b0) | lane_bits(b1) << 16 | lane_bits(b2) << 32 | lane_bits(b3) << 48;
        std::size_t p = first_verified(s, i, mask, verify);
        if (p != npos) {
            return p;
        }
    }
    return finish_scan(scan, i, verify);
}

// The needle folded to lower case, and per byte the bit its case may differ in: 0x20 for a
// letter, whose two cases differ in that bit alone, 0 for any other byte. So a haystack
// byte x matches needle byte i exactly when (x | bits[i]) == lower[i], which compares a word
// of bytes at once. Short needles stay on the stack; a long one costs one allocation a call.
class caseless_needle {
public:
    caseless_needle(const char* needle, std::size_t k) {
        char* p = buffer;
        if (k > inline_size) {
            heap.resize(2 * k);
            p = heap.data();
        }
        for (std::size_t i = 0; i < k; ++i) {
            p[k + i] = is_letter(needle[i]) ? case_bit : 0;
            p[i] = static_cast<char>(needle[i] | p[k + i]);
        }
        lower = p;
        bits = p + k;
    }
    caseless_needle(const caseless_needle&) = delete;
    caseless_needle& operator=(const caseless_needle&) = delete;

    // Whether the k bytes at h match the needle. Overlapping words cover them without
    // reading past either end.
    bool matches(const char* h, std::size_t k) const {
        if (k >= 8) {
            for (std::size_t i = 0; i + 8 < k; i += 8) {
                if (!same_at<std::uint64_t>(h, i)) {
                    return false;
                }
            }
            return same_at<std::uint64_t>(h, k - 8);
        }
        if (k >= 4) {
            return same_at<std::uint32_t>(h, 0) && same_at<std::uint32_t>(h, k - 4);
        }
        return same_at<std::uint16_t>(h, 0) && same_at<std::uint16_t>(h, k - 2);
    }

    const char* lower;

private:
    template <typename T> bool same_at(const char* h, std::size_t i) const {
        return (load<T>(h + i) | load<T>(bits + i)) == load<T>(lower + i);
    }

    static constexpr std::size_t inline_size = 64;
    const char* bits;
    char buffer[2 * inline_size];
    std::string heap;
};

} // namespace

std::size_t get_first_bit_set(std::uint64_t value) {
    assert(value != 0);
    return static_cast<std::size_t>(__builtin_ctzll(value));
}

template <std::size_t K>
std::size_t sse2_strstr_fixed(const char* s, std::size_t n, const char* needle) {
    static_assert(K >= 2 && K <= 12, "fixed widths cover needles of 2 to 12 bytes");
    return block_scan(s, n, needle, K,
                      [needle](const char* h) { return middle_equal<K>(h, needle); });
}

template std::size_t sse2_strstr_fixed<2>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<3>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<4>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<5>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<6>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<7>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<8>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<9>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<10>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<11>(const char*, std::size_t, const char*);
template std::size_t sse2_strstr_fixed<12>(const char*, std::size_t, const char*);

std::size_t sse2_strstr_anysize(const char* s, std::size_t n, const char* needle, std::size_t k) {
    assert(n > 0);
    if (k < 2) {
        return sse2_strstr(s, n, needle, k);
    }
    if (k <= 12) {
        return block_scan(s, n, needle, k, [needle, k](const char* h) {
            return std::memcmp(h + 1, needle + 1, k - 2) == 0;
        });
    }
    // Bytes 1 to 8 inline first: most false candidates fail there without a call.
    return block_scan(s, n, needle, k, [needle, k](const char* h) {
        return same<std::uint64_t>(h + 1, needle + 1) &&
               std::memcmp(h + 9, needle + 9, k - 10) == 0;
    });
}

std::size_t sse2_strstr(std::string_view haystack, std::string_view needle) {
    return sse2_strstr(haystack.data(), haystack.size(), needle.data(), needle.size());
}

std::size_t sse2_strstr(const char* s, std::size_t n, const char* needle, std::size_t k) {
    if (n < k) {
        return npos;
    }
    std::size_t r = npos;
    switch (k) {
    case 0:
        return 0;
    case 1: {
        auto hit = static_cast<const char*>(std::memchr(s, needle[0], n));
        return hit != nullptr ? static_cast<std::size_t>(hit - s) : npos;
    }
    case 2:
        r = sse2_strstr_fixed<2>(s, n, needle);
        break;
    case 3:
        r = sse2_strstr_fixed<3>(s, n, needle);
        break;
    case 4:
        r = sse2_strstr_fixed<4>(s, n, needle);
        break;
    case 5:
        r = sse2_strstr_fixed<5>(s, n, needle);
        break;
    case 6:
        r = sse2_strstr_fixed<6>(s, n, needle);
        break;
    case 7:
        r = sse2_strstr_fixed<7>(s, n, needle);
        break;
    case 8:
        r = sse2_strstr_fixed<8>(s, n, needle);
        break;
    case 9:
        r = sse2_strstr_fixed<9>(s, n, needle);
        break;
    case 10:
        r = sse2_strstr_fixed<10>(s, n, needle);
        break;
    case 11:
        r = sse2_strstr_fixed<11>(s, n, needle);
        break;
    case 12:
        r = sse2_strstr_fixed<12>(s, n, needle);
        break;
    default:
        r = sse2_strstr_anysize(s, n, needle, k);
        break;
    }
    return r <= n - k ? r : npos;
}

std::size_t sse2_strcasestr(std::string_view haystack, std::string_view needle) {
    return sse2_strcasestr(haystack.data(), haystack.size(), needle.data(), needle.size());
}

std::size_t sse2_strcasestr(const char* s, std::size_t n, const char* needle, std::size_t k) {
    if (n < k) {
        return npos;
    }
    if (k == 0) {
        return 0;
    }
    if (k == 1) {
        if (!is_letter(needle[0])) {
            return sse2_strstr(s, n, needle, 1);
        }
        // One pass that finds either case, where two memchr calls could read the text twice.
        const char lower = static_cast<char>(needle[0] | case_bit);
        return block_scan<caseless_byte>(s, n, &lower, 1, [](const char*) { return true; });
    }
    const caseless_needle folded(needle, k);
    return block_scan<caseless_byte>(s, n, folded.lower, k,
                                     [&folded, k](const char* h) { return folded.matches(h, k); });
}

} // namespace search
