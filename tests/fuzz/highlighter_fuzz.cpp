#include "highlighter.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

std::string_view view(const fmt::memory_buffer& out) {
    return {out.data(), out.size()};
}

// Removes the escape pairs; aborts unless each opener wraps a non-empty, escape-free piece
// and is closed by a reset.
std::string strip_escapes(std::string_view s) {
    static const std::string_view openers[] = {"\x1b[1;95m", "\x1b[1;94m", "\x1b[1;93m",
                                               "\x1b[1;96m", "\x1b[1;92m", "\x1b[1;91m",
                                               "\x1b[0;90m"};
    constexpr std::string_view reset = "\x1b[0m";
    std::string plain;
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] != '\x1b') {
            plain += s[i++];
            continue;
        }
        bool known = false;
        for (std::string_view o : openers) {
            if (s.substr(i, o.size()) == o) {
                known = true;
                i += o.size();
                break;
            }
        }
        const std::size_t end = s.find(reset, i);
        if (!known || end == std::string_view::npos || end == i || s.find('\x1b', i) != end) {
            std::abort();
        }
        plain.append(s.substr(i, end - i));
        i = end + reset.size();
    }
    return plain;
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
    if (strip_escapes(view(coloured)) != no_escapes) {
        std::abort();
    }
    // The original bytes too, for the sanitizers' bounds checks.
    fmt::memory_buffer raw;
    search::highlighter().highlight(text, size, raw, true);
    return 0;
}
