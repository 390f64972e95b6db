#pragma once

#include <string>
#include <vector>

namespace testing_support {

struct process_result {
    std::string out;
    std::string err;
    int status = -1; // exit status, or 128 + signal number
    bool timed_out = false;
};

// Where the child's standard error goes.
enum class error_stream {
    collected,  // into process_result::err
    full_disk,  // /dev/full: every write fails
    unread_pipe // a non-blocking pipe that no one reads: writes fail once it is full
};

struct process_options {
    std::string cwd;                 // empty: the test's own working directory
    bool stdout_is_terminal = false; // standard output is a pseudo-terminal
    // Standard error is a pseudo-terminal: with stdout_is_terminal the same one, as in a
    // terminal window, whose bytes are then all in out.
    bool stderr_is_terminal = false;
    // A session of its own whose controlling terminal is standard output's pseudo-terminal, as
    // in a terminal window: /dev/tty is that terminal.
    bool controlling_terminal = false;
    bool close_stdout_early = false; // the reader goes away after the first byte
    bool stdin_stays_open = false;   // standard input a pipe that never ends, not /dev/null
    int closed_descriptor = -1;      // 0, 1 or 2: closed in the child, as the program starts
    error_stream err = error_stream::collected;
    int timeout_seconds = 120;
};

// Runs argv[0] (searched in PATH) with the arguments and collects both output streams.
process_result run_process(const std::vector<std::string>& argv,
                           const process_options& options = {});

// Runs the built pyrn binary with the arguments.
process_result run_pyrn(const std::vector<std::string>& arguments,
                        const process_options& options = {});

// Runs a copy of pyrn, placed in dir, as the user nobody: file modes bind nobody, not root.
process_result run_pyrn_as_nobody(const std::string& dir,
                                  const std::vector<std::string>& arguments);

// The path of the built pyrn binary, and of tests/ in the source tree.
std::string pyrn_binary();
std::string test_dir();

} // namespace testing_support
