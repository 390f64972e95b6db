#include "sse2_strstr.hpp"

namespace search {

std::size_t sse2_strstr(std::string_view haystack, std::string_view needle) {
    return sse2_strstr(haystack.data(), haystack.size(), needle.data(), needle.size());
}

std::size_t sse2_strstr(const char* s, std::size_t n, const char* needle, std::size_t k) {
    return std::string_view(s, n).find(std::string_view(needle, k));
}

} // namespace search
