#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace search {

inline constexpr std::size_t npos = std::string_view::npos;

// Offset of the leftmost occurrence of needle in haystack, or npos. An empty needle is found
// at 0. Reads no byte outside either buffer, so callers need no padding.
std::size_t sse2_strstr(std::string_view haystack, std::string_view needle);
std::size_t sse2_strstr(const char* s, std::size_t n, const char* needle, std::size_t k);

// As sse2_strstr, but ASCII letters match in either case (A-Z equals a-z); every other byte,
// 0x80 to 0xff included, matches only itself.
std::size_t sse2_strcasestr(std::string_view haystack, std::string_view needle);
std::size_t sse2_strcasestr(const char* s, std::size_t n, const char* needle, std::size_t k);

// The block scan for a needle of exactly K bytes (2 <= K <= 12). Returns the leftmost
// occurrence or npos, also for n < K.
template <std::size_t K>
std::size_t sse2_strstr_fixed(const char* s, std::size_t n, const char* needle);

// The block scan for a needle of any length (the dispatcher uses it above 12 bytes).
// Precondition (asserted): n > 0.
std::size_t sse2_strstr_anysize(const char* s, std::size_t n, const char* needle, std::size_t k);

// Index of the lowest set bit. Precondition (asserted): value != 0.
std::size_t get_first_bit_set(std::uint64_t value);

} // namespace search
