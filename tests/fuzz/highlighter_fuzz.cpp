#include "escapes.hpp"
#include "output/highlighter.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string_view view(const fmt::memory_buffer& out) {
    return {out.data(), out.size()};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const std::string_view input(text, size);

    // Colour off: the snippet unchanged, after whatever the buffer already held.
    fmt::memory_buffer plain;
    plain.push_back('>');
    search::highlighter().highlight(text, size, plain, false);
    if (view(plain).substr(1) != input || plain[0] != '>') {
        std::abort();
    }

    // Colour on: only escape pairs are added. Escape bytes of the input itself would make
    // stripping ambiguous, so they are replaced by another byte the lexer treats alike.
    std::string no_escapes(input);
    for (char& c : no_escapes) {
        if (c == '\x1b') {
            c = '\x01';
        }
    }
    fmt::memory_buffer coloured;
    search::highlighter().highlight(no_escapes.data(), no_escapes.size(), coloured, true);
    std::string stripped;
    if (!testing_support::strip_escapes(view(coloured), stripped) || stripped != no_escapes) {
        std::abort();
    }
    // The original bytes too, for the sanitizers' bounds checks.
    fmt::memory_buffer raw;
    search::highlighter().highlight(text, size, raw, true);
    return 0;
}
