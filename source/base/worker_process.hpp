#pragma once

// A helper process: this program run again in a hidden mode, which takes requests and sends
// replies over a socket, one framed message each. The parent supervises it: a reply that does
// not come by a deadline ends it, and how it ended is told.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace search {

// argv[1] of the hidden mode: never a word a user would type, nor shown anywhere.
inline constexpr std::string_view worker_mode_word = "\x01pyrn-parse-worker";

// How a helper ended.
struct worker_end {
    int signal = 0;             // the signal that ended it, or 0
    int status = 0;             // its exit status when no signal did
    bool out_of_memory = false; // it said so before it ended
};

class worker_process {
public:
    // Starts this program's binary in the hidden mode, limited to memory_bytes of address
    // space (0: no limit). Nothing when it cannot be started, with why in error.
    static std::unique_ptr<worker_process> start(std::uint64_t memory_bytes, std::string& error);

    // Closes the socket, which ends an idle helper, and waits for it; one that does not end
    // at once is killed.
    ~worker_process();
    worker_process(const worker_process&) = delete;
    worker_process& operator=(const worker_process&) = delete;

    // Sends one message; false when the helper is gone.
    bool send(std::string_view message);

    enum class outcome { replied, ended, timed_out };
    // Waits for one message up to timeout_ms (negative: no deadline).
    outcome receive(std::string& message, int timeout_ms);

    // Kills the helper if it still runs and tells how it ended; afterwards it is gone.
    worker_end finish();

private:
    worker_process(pid_t pid, int channel, int errors);
    bool drain_errors();

    pid_t pid;
    int channel;
    int errors;       // the helper's standard error, read to tell how it ended
    std::string said; // its last words there
    bool reaped = false;
};

// The helper's side: called first thing in main when argv[1] is worker_mode_word. Makes the
// process a session of its own with standard input and output on /dev/null, in "/", with no
// descriptor of the parent's but its channel, which it returns (-1 on failure), and applies the
// address-space limit of argv[2].
int enter_worker_mode(int argc, char** argv) noexcept;

// The helper's last words when an allocation fails, which the parent reads as out of memory.
[[noreturn]] void worker_out_of_memory() noexcept;

// One framed message on a blocking descriptor; false at its end or on an error.
bool read_message(int fd, std::string& message);
bool write_message(int fd, std::string_view message);

} // namespace search
