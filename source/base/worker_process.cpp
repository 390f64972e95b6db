#include "base/worker_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

extern char** environ;

// The sanitizers reserve terabytes of address space for their shadow: a limit on it would fail
// their every allocation.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define PYRN_SHADOW_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define PYRN_SHADOW_MEMORY 1
#endif
#endif

namespace search {

namespace {

// What an exhausted helper writes before it ends; libLLVM's own last words say the same.
constexpr std::string_view out_of_memory_words = "out of memory";
// Of the helper's standard error only the end is kept: that is where it says why it ended.
constexpr std::size_t kept_words = 4096;
// An idle helper ends at once when its socket closes; one that does not is killed.
constexpr int ending_wait_ms = 2000;
// A message longer than this is no message of a helper's.
constexpr std::uint64_t longest_message = std::uint64_t{1} << 34;

using clock = std::chrono::steady_clock;

int remaining_ms(clock::time_point deadline, bool bounded) {
    if (!bounded) {
        return -1;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void close_pair(int (&fds)[2]) {
    for (int fd : fds) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

// The spawn's set-up: standard error into errors, the channel on descriptor 0 until the helper
// moves it, /dev/null on 1, and nothing else of the parent's.
bool prepare_actions(posix_spawn_file_actions_t& actions, int channel, int errors) {
    return posix_spawn_file_actions_adddup2(&actions, errors, 2) == 0 &&
           posix_spawn_file_actions_adddup2(&actions, channel, 0) == 0 &&
           posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0) == 0 &&
           posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
}

// A session of its own (no controlling terminal), every signal as by default and none blocked.
bool prepare_attributes(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    return posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK |
                                                     POSIX_SPAWN_SETSIGDEF) == 0 &&
           posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &all) == 0;
}

pid_t spawn_helper(int channel, int errors, std::uint64_t memory_bytes, std::string& error) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    std::string mode(worker_mode_word);
    std::string limit = std::to_string(memory_bytes);
    std::string name = "pyrn";
    char* argv[] = {name.data(), mode.data(), limit.data(), nullptr};
    pid_t pid = -1;
    int failed = EINVAL;
    if (prepare_actions(actions, channel, errors) && prepare_attributes(attributes)) {
        failed = posix_spawn(&pid, "/proc/self/exe", &actions, &attributes, argv, environ);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        error = std::strerror(failed);
        return -1;
    }
    return pid;
}

// Moves size bytes by steps of step(data, size), a read or a send, until all are moved;
// false when the descriptor ends or fails first.
template <class Byte, class Step> bool move_all(Byte* data, std::size_t size, Step step) {
    while (size > 0) {
        const ssize_t moved = step(data, size);
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved <= 0) {
            return false;
        }
        data += moved;
        size -= static_cast<std::size_t>(moved);
    }
    return true;
}

bool write_all(int fd, const char* data, std::size_t size) {
    return move_all(data, size, [fd](const char* from, std::size_t left) {
        return send(fd, from, left, MSG_NOSIGNAL);
    });
}

bool read_all(int fd, char* data, std::size_t size) {
    return move_all(data, size,
                    [fd](char* into, std::size_t left) { return read(fd, into, left); });
}

} // namespace

std::unique_ptr<worker_process> worker_process::start(std::uint64_t memory_bytes,
                                                      std::string& error) {
    int channel[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0 ||
        pipe2(errors, O_CLOEXEC) != 0) {
        error = std::strerror(errno);
        close_pair(channel);
        close_pair(errors);
        return nullptr;
    }
    const pid_t pid = spawn_helper(channel[1], errors[1], memory_bytes, error);
    close(channel[1]);
    close(errors[1]);
    if (pid < 0) {
        close(channel[0]);
        close(errors[0]);
        return nullptr;
    }
    // Waited for with a deadline: the parent's ends never block.
    fcntl(channel[0], F_SETFL, fcntl(channel[0], F_GETFL) | O_NONBLOCK);
    fcntl(errors[0], F_SETFL, fcntl(errors[0], F_GETFL) | O_NONBLOCK);
    return std::unique_ptr<worker_process>(new worker_process(pid, channel[0], errors[0]));
}

worker_process::worker_process(pid_t pid, int channel, int errors)
    : pid(pid), channel(channel), errors(errors) {}

worker_process::~worker_process() {
    if (channel >= 0) {
        close(channel);
        channel = -1;
    }
    if (!reaped) {
        // Its standard error ends when it does.
        const auto deadline = clock::now() + std::chrono::milliseconds(ending_wait_ms);
        while (errors >= 0 && drain_errors()) {
            pollfd wait{errors, POLLIN, 0};
            if (poll(&wait, 1, remaining_ms(deadline, true)) == 0) {
                break;
            }
        }
        finish();
    }
    if (errors >= 0) {
        close(errors);
    }
}

bool worker_process::send(std::string_view message) {
    const std::uint64_t size = message.size();
    std::string frame(reinterpret_cast<const char*>(&size), sizeof size);
    std::string_view parts[] = {frame, message};
    for (std::string_view part : parts) {
        while (!part.empty()) {
            const ssize_t sent = ::send(channel, part.data(), part.size(), MSG_NOSIGNAL);
            if (sent > 0) {
                part.remove_prefix(static_cast<std::size_t>(sent));
                continue;
            }
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            if (sent < 0 && errno == EAGAIN) {
                // An idle helper reads at once; one that does not is gone or stuck.
                pollfd wait{channel, POLLOUT, 0};
                if (poll(&wait, 1, ending_wait_ms * 30) > 0) {
                    continue;
                }
            }
            return false;
        }
    }
    return true;
}

// Reads what the helper wrote on standard error, keeping the end; false once it is closed.
bool worker_process::drain_errors() {
    char chunk[4096];
    for (;;) {
        const ssize_t got = read(errors, chunk, sizeof chunk);
        if (got > 0) {
            said.append(chunk, static_cast<std::size_t>(got));
            if (said.size() > 2 * kept_words) {
                said.erase(0, said.size() - kept_words);
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0) {
            close(errors);
            errors = -1;
            return false;
        }
        return true; // nothing more for now
    }
}

worker_process::outcome worker_process::receive(std::string& message, int timeout_ms) {
    const bool bounded = timeout_ms >= 0;
    const auto deadline = clock::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    std::uint64_t size = 0;
    std::size_t got = 0; // of the size, then of the message
    bool have_size = false;
    message.clear();
    for (;;) {
        char* const into = have_size ? message.data() + got : reinterpret_cast<char*>(&size) + got;
        const std::size_t wanted = (have_size ? message.size() : sizeof size) - got;
        const ssize_t read_now = wanted == 0 ? 0 : read(channel, into, wanted);
        if (read_now > 0 || wanted == 0) {
            got += static_cast<std::size_t>(read_now > 0 ? read_now : 0);
            if (!have_size && got == sizeof size) {
                if (size > longest_message) {
                    return outcome::ended;
                }
                message.resize(static_cast<std::size_t>(size));
                have_size = true;
                got = 0;
            }
            if (have_size && got == message.size()) {
                return outcome::replied;
            }
            continue;
        }
        if (read_now == 0) {
            return outcome::ended;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN) {
            return outcome::ended;
        }
        pollfd wait[2] = {{channel, POLLIN, 0}, {errors, POLLIN, 0}};
        const int ready = poll(wait, errors >= 0 ? 2 : 1, remaining_ms(deadline, bounded));
        if (ready == 0) {
            return outcome::timed_out;
        }
        if (ready > 0 && errors >= 0 && wait[1].revents != 0) {
            drain_errors();
        }
    }
}

worker_end worker_process::finish() {
    worker_end end;
    if (reaped) {
        return end;
    }
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    reaped = true;
    while (errors >= 0 && drain_errors()) {
        pollfd wait{errors, POLLIN, 0};
        if (poll(&wait, 1, ending_wait_ms) <= 0) {
            break; // a child of its own would hold the pipe: what came is enough
        }
    }
    if (WIFSIGNALED(status)) {
        end.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        end.status = WEXITSTATUS(status);
    }
    end.out_of_memory = said.find(out_of_memory_words) != std::string::npos;
    return end;
}

int enter_worker_mode(int argc, char** argv) noexcept {
    // Ended with the thread that started it, whatever becomes of the parent.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() == 1) {
        return -1;
    }
    const int channel = fcntl(0, F_DUPFD_CLOEXEC, 3);
    const int null = open("/dev/null", O_RDONLY);
    if (channel < 0 || null < 0 || dup2(null, 0) != 0) {
        return -1;
    }
    if (null != 0) {
        close(null);
    }
#ifndef PYRN_SHADOW_MEMORY
    const unsigned long long limit = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0;
    if (limit > 0) {
        const rlimit address_space{limit, limit};
        setrlimit(RLIMIT_AS, &address_space);
    }
#else
    (void)argc;
    (void)argv;
#endif
    std::set_new_handler(&worker_out_of_memory);
    return channel;
}

void worker_out_of_memory() noexcept {
    constexpr std::string_view words = "pyrn: out of memory\n";
    [[maybe_unused]] const ssize_t written = write(2, words.data(), words.size());
    _exit(3);
}

bool read_message(int fd, std::string& message) {
    std::uint64_t size = 0;
    if (!read_all(fd, reinterpret_cast<char*>(&size), sizeof size) || size > longest_message) {
        return false;
    }
    message.resize(static_cast<std::size_t>(size));
    return read_all(fd, message.data(), message.size());
}

bool write_message(int fd, std::string_view message) {
    const std::uint64_t size = message.size();
    return write_all(fd, reinterpret_cast<const char*>(&size), sizeof size) &&
           write_all(fd, message.data(), message.size());
}

} // namespace search
