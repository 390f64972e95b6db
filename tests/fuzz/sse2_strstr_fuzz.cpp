// Compares sse2_strstr with std::string_view::find, and sse2_strcasestr with find on copies
// folded to lower case. Input: one header byte, then the needle, then the haystack. The
// header's low seven bits give the needle length (cut to what the input holds); its high bit
// folds every byte onto "abAB" (upper case where the byte's bit 0x20 is clear), which makes
// candidates and partial matches dense. Both parts are copied into buffers of exactly their
// size so that AddressSanitizer reports any read past either of them.
#include "base/sse2_strstr.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace {

std::unique_ptr<char[]> exact_copy(const std::uint8_t* data, std::size_t size, bool folded) {
    std::unique_ptr<char[]> copy(new char[size]);
    for (std::size_t i = 0; i < size; ++i) {
        copy[i] = folded ? static_cast<char>(('A' + (data[i] & 1)) | (data[i] & 0x20))
                         : static_cast<char>(data[i]);
    }
    return copy;
}

std::string ascii_lower(const char* bytes, std::size_t size) {
    std::string lower(bytes, size);
    for (char& c : lower) {
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
    }
    return lower;
}

void expect(const char* search, std::size_t n, std::size_t k, std::size_t got, std::size_t want) {
    if (got != want) {
        std::fprintf(stderr, "%s: n=%zu k=%zu: got %zu, find says %zu\n", search, n, k, got, want);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool folded = (data[0] & 0x80) != 0;
    const std::size_t k = std::min<std::size_t>(data[0] & 0x7f, size - 1);
    const std::size_t n = size - 1 - k;
    auto needle = exact_copy(data + 1, k, folded);
    auto haystack = exact_copy(data + 1 + k, n, folded);
    expect("sse2_strstr", n, k, search::sse2_strstr(haystack.get(), n, needle.get(), k),
           std::string_view(haystack.get(), n).find(std::string_view(needle.get(), k)));
    expect("sse2_strcasestr", n, k, search::sse2_strcasestr(haystack.get(), n, needle.get(), k),
           ascii_lower(haystack.get(), n).find(ascii_lower(needle.get(), k)));
    return 0;
}
