// Compares sse2_strstr with std::string_view::find. Input: one header byte, then the needle,
// then the haystack. The header's low seven bits give the needle length (cut to what the
// input holds); its high bit folds every byte onto "ab", which makes candidates and partial
// matches dense. Both parts are copied into buffers of exactly their size so that
// AddressSanitizer reports any read past either of them.
#include "sse2_strstr.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

std::unique_ptr<char[]> exact_copy(const std::uint8_t* data, std::size_t size, bool folded) {
    std::unique_ptr<char[]> copy(new char[size]);
    for (std::size_t i = 0; i < size; ++i) {
        copy[i] = folded ? static_cast<char>('a' + (data[i] & 1)) : static_cast<char>(data[i]);
    }
    return copy;
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
    std::size_t got = search::sse2_strstr(haystack.get(), n, needle.get(), k);
    std::size_t want = std::string_view(haystack.get(), n).find(std::string_view(needle.get(), k));
    if (got != want) {
        std::fprintf(stderr, "sse2_strstr: n=%zu k=%zu: got %zu, find says %zu\n", n, k, got, want);
        std::abort();
    }
    return 0;
}
