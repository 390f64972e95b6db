#include "base/messages.hpp"

namespace search {

void report(std::string_view subject, std::string_view reason) noexcept {
    say(stderr, "pyrn: {}: {}\n", subject, reason);
}

void report(std::string_view text) noexcept {
    say(stderr, "pyrn: {}\n", text);
}

} // namespace search
