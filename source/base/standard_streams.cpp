#include "base/standard_streams.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace search {

namespace {

bool stdout_is_terminal = false;
bool stderr_is_terminal = false;

} // namespace

bool open_standard_streams() noexcept {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        // The lowest free number, fd, as those below it are open.
        const int null = open("/dev/null", O_RDWR);
        if (null != fd) {
            if (null >= 0) {
                close(null);
            }
            return false;
        }
    }
    stdout_is_terminal = isatty(1) == 1;
    stderr_is_terminal = isatty(2) == 1;
    return true;
}

bool is_terminal(std::FILE* stream) noexcept {
    return stream == stdout ? stdout_is_terminal : stream == stderr && stderr_is_terminal;
}

void keep_libclang_off_the_terminal() noexcept {
    if (!stderr_is_terminal || fileno(stderr) != 2) {
        return;
    }
    const int own = fcntl(2, F_DUPFD_CLOEXEC, 3);
    std::FILE* const stream = own >= 0 ? fdopen(own, "w") : nullptr;
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (stream == nullptr || null < 0 || dup2(null, 2) != 2) {
        // Left as it was: libclang's dumps may reach the terminal, and everything else does.
        if (stream != nullptr) {
            std::fclose(stream);
        } else if (own >= 0) {
            close(own);
        }
        if (null >= 0) {
            close(null);
        }
        return;
    }
    close(null);
    std::setvbuf(stream, nullptr, _IONBF, 0); // as the standard stream it stands for
    // glibc's standard streams are variables: every write to stderr now reaches the terminal.
    stderr = stream;
}

} // namespace search
