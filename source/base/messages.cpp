#include "base/messages.hpp"

#include <fmt/format.h>

#include <cstdio>

namespace search {

void report(std::string_view subject, std::string_view reason) noexcept {
    try {
        fmt::print(stderr, "pyrn: {}: {}\n", subject, reason);
    } catch (...) {
        // Nowhere left to say it.
    }
}

void report(std::string_view text) noexcept {
    try {
        fmt::print(stderr, "pyrn: {}\n", text);
    } catch (...) {
        // Nowhere left to say it.
    }
}

} // namespace search
