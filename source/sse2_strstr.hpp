#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace search {

inline constexpr std::size_t npos = std::string_view::npos;

// Offset of the leftmost occurrence of needle in haystack, or npos. Reads no byte outside
// either buffer.
std::size_t sse2_strstr(std::string_view haystack, std::string_view needle);
std::size_t sse2_strstr(const char* s, std::size_t n, const char* needle, std::size_t k);

} // namespace search
