#include "base/messages.hpp"

#include "base/progress_line.hpp"

namespace search {

void report(std::string_view subject, std::string_view reason) noexcept {
    try {
        const progress_line::pause off_the_terminal(false);
        say(stderr, "pyrn: {}: {}\n", subject, reason);
    } catch (...) {
        // Nowhere left to say it.
    }
}

void report(std::string_view text) noexcept {
    try {
        const progress_line::pause off_the_terminal(false);
        say(stderr, "pyrn: {}\n", text);
    } catch (...) {
        // Nowhere left to say it.
    }
}

} // namespace search
