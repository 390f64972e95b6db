#include "output/ordered_output.hpp"

#include "base/progress_line.hpp"

#include <algorithm>
#include <cstdio>

namespace search {

void held_output::add_match(std::string_view record, std::uint32_t line, std::uint32_t column) {
    pieces.push_back({line, column, text.size(), text.size() + record.size(), true});
    text.append(record);
}

void held_output::add(std::string_view message) {
    pieces.push_back({0, 0, text.size(), text.size() + message.size(), false});
    text.append(message);
}

// libclang visits some entities after one that starts later (the struct of "static struct s
// x;" after the variable), and an enclosing entity before those it encloses, which start at
// or after it: a stable sort by the start keeps the second order and mends the first.
std::string held_output::in_order() const {
    std::vector<piece> ordered = pieces;
    const auto earlier = [](const piece& a, const piece& b) {
        return a.line < b.line || (a.line == b.line && a.column < b.column);
    };
    for (auto run = ordered.begin(); run != ordered.end();) {
        auto end = std::find_if(run, ordered.end(), [](const piece& p) { return !p.is_match; });
        std::stable_sort(run, end, earlier);
        run = end == ordered.end() ? end : end + 1;
    }
    std::string out;
    out.reserve(text.size());
    for (const piece& p : ordered) {
        out.append(text, p.begin, p.end - p.begin);
    }
    return out;
}

ordered_output::ordered_output(std::size_t window, std::size_t held_bytes)
    : slots(window == 0 ? 1 : window), held_limit(held_bytes) {}

void ordered_output::wait_for_room(std::uint64_t index) {
    std::unique_lock<std::mutex> guard(lock);
    room.wait(guard, [&] { return room_for(index); });
}

bool ordered_output::has_room(std::uint64_t index) {
    const std::lock_guard<std::mutex> guard(lock);
    return room_for(index);
}

// Whatever is held, the oldest file may start: it is the one that frees the rest.
bool ordered_output::room_for(std::uint64_t index) const {
    return index < oldest + slots.size() && (held < held_limit || index == oldest);
}

void ordered_output::complete(std::uint64_t index, std::string output) noexcept {
    std::unique_lock<std::mutex> guard(lock);
    slot& done = slots[index % slots.size()];
    done.done = true;
    done.output = std::move(output);
    held += done.output.size();
    bool advanced = false;
    const std::size_t window = slots.size();
    for (slot* next = &slots[oldest % window]; next->done; next = &slots[++oldest % window]) {
        // Written under the lock, so that outputs leave in order. A failed write shows in
        // stdout's error flag, which the end of the run checks.
        const progress_line::pause off_the_terminal(true);
        std::fwrite(next->output.data(), 1, next->output.size(), stdout);
        held -= next->output.size();
        *next = slot();
        advanced = true;
    }
    guard.unlock();
    if (advanced) {
        room.notify_all();
    }
}

} // namespace search
