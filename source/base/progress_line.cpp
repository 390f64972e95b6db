#include "base/progress_line.hpp"

#include "base/visible_text.hpp"

#include <fmt/format.h>

#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

namespace search {

namespace {

using clock = std::chrono::steady_clock;

constexpr auto delay = std::chrono::seconds(1);
constexpr auto redraw_interval = std::chrono::milliseconds(100);
constexpr std::string_view erase = "\r\x1b[K";

struct line_state {
    std::atomic<bool> running{false};
    bool same_terminal = false;
    std::atomic<std::uint64_t> found{0};
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> matches{0};

    std::mutex lock; // the terminal's line and everything below
    std::condition_variable wake;
    bool stopping = false;
    bool shown = false;
    std::string drawn;
    std::string parsing; // the file whose parse started last
    unsigned parses = 0; // running now
    bool ever_parsed = false;
    clock::time_point first_parse;
    std::thread drawer;

    ~line_state() { progress_line::stop(); }
};

line_state& state() {
    static line_state instance;
    return instance;
}

void write_to_terminal(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

std::size_t terminal_width() {
    winsize size{};
    if (ioctl(fileno(stderr), TIOCGWINSZ, &size) != 0 || size.ws_col == 0) {
        return 80;
    }
    return size.ws_col;
}

// The line as it fits the terminal without wrapping, which \r could not undo: a long path
// loses its start. No control character of a file name reaches the terminal.
std::string compose(line_state& line) {
    const std::uint64_t matches = line.matches;
    std::string text = fmt::format("{}/{} files, {} {}", line.done.load(), line.found.load(),
                                   matches, matches == 1 ? "match" : "matches");
    if (line.parses > 0) {
        text += ", parsing ";
        const std::size_t room = terminal_width() - 1;
        std::string shown;
        std::string_view path = visible_controls(line.parsing, shown, line_breaks::shown);
        if (text.size() + path.size() > room && room > text.size() + 3) {
            path.remove_prefix(path.size() - (room - text.size() - 3));
            while (!path.empty() && (static_cast<unsigned char>(path.front()) & 0xc0) == 0x80) {
                path.remove_prefix(1); // not in the middle of a UTF-8 sequence
            }
            text += "...";
        }
        text += path;
    }
    return text.substr(0, terminal_width() - 1);
}

void draw_while_running() {
    line_state& line = state();
    std::unique_lock<std::mutex> guard(line.lock);
    while (!line.stopping) {
        line.wake.wait_for(guard, redraw_interval);
        if (line.stopping || !line.ever_parsed || clock::now() - line.first_parse < delay) {
            continue;
        }
        std::string text = compose(line);
        if (!line.shown || text != line.drawn) {
            write_to_terminal(std::string(erase) + text);
            line.shown = true;
            line.drawn = std::move(text);
        }
    }
}

} // namespace

void progress_line::start(bool same_terminal) noexcept {
    line_state& line = state();
    line.same_terminal = same_terminal;
    try {
        line.drawer = std::thread(draw_while_running);
    } catch (const std::exception&) {
        return; // the search goes on without the line
    }
    line.running = true;
}

void progress_line::stop() noexcept {
    line_state& line = state();
    if (!line.running.exchange(false)) {
        return;
    }
    {
        const std::lock_guard<std::mutex> guard(line.lock);
        line.stopping = true;
        if (line.shown) {
            write_to_terminal(erase);
            line.shown = false;
        }
    }
    line.wake.notify_all();
    if (line.drawer.joinable() && line.drawer.get_id() != std::this_thread::get_id()) {
        line.drawer.join();
    }
}

void progress_line::file_found() noexcept {
    ++state().found;
}

void progress_line::file_done() noexcept {
    ++state().done;
}

void progress_line::match_found() noexcept {
    ++state().matches;
}

progress_line::parse_in_progress::parse_in_progress(std::string_view path) {
    line_state& line = state();
    if (!line.running) {
        return;
    }
    const std::lock_guard<std::mutex> guard(line.lock);
    if (!line.ever_parsed) {
        line.ever_parsed = true;
        line.first_parse = clock::now();
    }
    line.parsing.assign(path);
    ++line.parses;
}

progress_line::parse_in_progress::~parse_in_progress() {
    line_state& line = state();
    if (!line.running) {
        return;
    }
    const std::lock_guard<std::mutex> guard(line.lock);
    if (line.parses > 0) {
        --line.parses;
    }
}

progress_line::pause::pause(bool to_stdout) {
    line_state& line = state();
    holding = line.running && (!to_stdout || line.same_terminal);
    if (!holding) {
        return;
    }
    line.lock.lock();
    if (line.shown) {
        write_to_terminal(erase);
        line.shown = false;
    }
}

progress_line::pause::~pause() {
    if (holding) {
        state().lock.unlock();
    }
}

} // namespace search
