#include "base/whole_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace search {

namespace {

// An open file, closed when it goes.
class file_descriptor {
public:
    explicit file_descriptor(int fd) : fd(fd) {}
    ~file_descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    file_descriptor(const file_descriptor&) = delete;
    file_descriptor& operator=(const file_descriptor&) = delete;

    explicit operator bool() const { return fd >= 0; }
    int get() const { return fd; }

private:
    int fd;
};

} // namespace

std::string read_whole_file(const char* path, std::error_code& error) {
    std::string content;
    content.resize(read_whole_file(path, error, content).size());
    return content;
}

std::string_view read_whole_file(const char* path, std::error_code& error, std::string& buffer,
                                 struct stat* info_out) {
    error.clear();
    // Not blocking: a named pipe put in a file's place would hold the search until a writer came.
    const file_descriptor file(open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!file) {
        error.assign(errno, std::system_category());
        return {};
    }
    // A directory or a device can be opened too, but its "size" is no byte count.
    struct stat info {};
    if (fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        static_cast<unsigned long long>(info.st_size) > buffer.max_size()) {
        return {};
    }
    if (info_out != nullptr) {
        *info_out = info;
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (buffer.size() < size) {
        buffer.resize(size);
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t read_now = read(file.get(), buffer.data() + got, size - got);
        if (read_now < 0 && errno == EINTR) {
            continue;
        }
        if (read_now < 0) {
            error.assign(errno, std::system_category());
            return {};
        }
        if (read_now == 0) {
            break; // cut short while it was read: searched as far as it was read
        }
        got += static_cast<std::size_t>(read_now);
    }
    return std::string_view(buffer.data(), got);
}

} // namespace search
