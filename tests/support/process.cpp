#include "process.hpp"

#include <filesystem>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace testing_support {

namespace {

[[noreturn]] void fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

struct pipe_pair {
    int read_end = -1;
    int write_end = -1;
};

pipe_pair make_pipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        fail("pipe2");
    }
    return {fds[0], fds[1]};
}

// Child side: wire the descriptors and exec; never returns. in_fd < 0 means /dev/null.
[[noreturn]] void exec_child(const std::vector<std::string>& argv, const process_options& options,
                             int in_fd, int out_fd, int err_fd) {
    if (options.controlling_terminal && (setsid() < 0 || ioctl(out_fd, TIOCSCTTY, 0) != 0)) {
        _exit(125);
    }
    dup2(in_fd >= 0 ? in_fd : open("/dev/null", O_RDONLY), 0);
    dup2(out_fd, 1);
    if (options.err == error_stream::full_disk) {
        err_fd = open("/dev/full", O_WRONLY);
    }
    dup2(err_fd, 2);
    if (options.err == error_stream::unread_pipe) {
        fcntl(2, F_SETFL, fcntl(2, F_GETFL) | O_NONBLOCK);
    }
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) {
        _exit(126);
    }
    signal(SIGPIPE, SIG_DFL);
    if (options.closed_descriptor >= 0) {
        close(options.closed_descriptor);
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

// A pseudo-terminal in raw mode: what the program writes arrives unchanged.
pipe_pair make_terminal() {
    termios raw{};
    cfmakeraw(&raw);
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, &raw, nullptr) != 0) {
        fail("openpty");
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return {master, slave};
}

bool drain(int fd, std::string& into) {
    char buffer[65536];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
        into.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
    // EIO is how a pseudo-terminal reports that its slave side was closed.
    return got < 0 && errno == EINTR;
}

} // namespace

process_result run_process(const std::vector<std::string>& argv, const process_options& options) {
    const bool one_terminal = options.stdout_is_terminal && options.stderr_is_terminal;
    pipe_pair out = options.stdout_is_terminal ? make_terminal() : make_pipe();
    pipe_pair err = one_terminal                 ? pipe_pair{-1, dup(out.write_end)}
                    : options.stderr_is_terminal ? make_terminal()
                                                 : make_pipe();
    if (one_terminal) {
        fcntl(err.write_end, F_SETFD, FD_CLOEXEC);
    }
    // Held open by this side until the child has ended, so that a read never sees the end.
    pipe_pair in{-1, -1};
    if (options.stdin_stays_open) {
        in = make_pipe();
    }
    const int out_read = out.read_end;
    pid_t pid = fork();
    if (pid < 0) {
        fail("fork");
    }
    if (pid == 0) {
        exec_child(argv, options, in.read_end, out.write_end, err.write_end);
    }
    close(out.write_end);
    close(err.write_end);
    if (in.read_end >= 0) {
        close(in.read_end);
    }

    process_result result;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    // One terminal for both streams leaves nothing to read on standard error's side.
    const bool collect_err = options.err == error_stream::collected && !one_terminal;
    pollfd fds[2] = {{out_read, POLLIN, 0}, {collect_err ? err.read_end : -1, POLLIN, 0}};
    int open_streams = collect_err ? 2 : 1;
    while (open_streams > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            fail("poll");
        }
        for (pollfd& p : fds) {
            if (p.fd >= 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
                std::string& into = (&p == &fds[0]) ? result.out : result.err;
                if (!drain(p.fd, into) || (&p == &fds[0] && options.close_stdout_early)) {
                    close(p.fd);
                    p.fd = -1;
                    --open_streams;
                }
            }
        }
    }
    for (pollfd& p : fds) {
        if (p.fd >= 0) {
            close(p.fd);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            fail("waitpid");
        }
    }
    if (!collect_err) {
        close(err.read_end);
    }
    if (in.write_end >= 0) {
        close(in.write_end);
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

std::string pyrn_binary() {
    return PYRN_BINARY;
}

std::string test_dir() {
    return PYRN_TEST_DIR;
}

process_result run_pyrn(const std::vector<std::string>& arguments, const process_options& options) {
    std::vector<std::string> argv{pyrn_binary()};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_process(argv, options);
}

process_result run_pyrn_as_nobody(const std::string& dir,
                                  const std::vector<std::string>& arguments) {
    const std::string copy = dir + "/pyrn";
    std::filesystem::copy_file(pyrn_binary(), copy,
                               std::filesystem::copy_options::overwrite_existing);
    std::vector<std::string> argv{"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                  copy};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_process(argv);
}

} // namespace testing_support
