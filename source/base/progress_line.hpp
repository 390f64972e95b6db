#pragma once

// One status line on the terminal of standard error while a long search runs: the files
// searched of those found so far, the matches, and the file being parsed. It shows once a
// parse has run for about a second, is redrawn in place, and goes away for every write to
// that terminal and at the end.

#include <string_view>

namespace search {

class progress_line {
public:
    // Starts the thread that draws the line. same_terminal: standard output is that terminal
    // too, so that the line also goes away for the writes there.
    static void start(bool same_terminal) noexcept;
    // Erases the line and ends its thread; again, it does nothing.
    static void stop() noexcept;

    static void file_found() noexcept;
    static void file_done() noexcept;
    static void match_found() noexcept;

    // Shows that one file is being parsed, from construction to destruction.
    class parse_in_progress {
    public:
        explicit parse_in_progress(std::string_view path);
        ~parse_in_progress();
        parse_in_progress(const parse_in_progress&) = delete;
        parse_in_progress& operator=(const parse_in_progress&) = delete;
    };

    // Keeps the line off the terminal while its holder writes there: on standard error, or on
    // standard output when to_stdout is set and that is the same terminal.
    class pause {
    public:
        explicit pause(bool to_stdout);
        ~pause();
        pause(const pause&) = delete;
        pause& operator=(const pause&) = delete;

    private:
        bool holding;
    };
};

} // namespace search
