#include "cache/entry_secret.hpp"

#include "cache/cache_libraries.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace search {

namespace {

static_assert(crypto_auth_BYTES == sizeof(entry_mac), "a MAC of crypto_auth");
static_assert(crypto_auth_KEYBYTES == sizeof(entry_secret::bytes), "a key of crypto_auth");

// 256 bits of randomness, written as text or as bytes, fill it.
constexpr std::size_t shortest_key = 32;
constexpr std::size_t longest_key = 4096;

bool refuse(refusal& why, const std::string& path, std::string reason) {
    why = {path, std::move(reason)};
    return false;
}

// Why the open file cannot hold a secret, or nothing.
const char* unfit_key_file(const struct stat& info) {
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (info.st_uid != geteuid()) {
        return "it belongs to another user";
    }
    if ((info.st_mode & (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH)) != 0) {
        return "other users can read or write it (chmod 600)";
    }
    if (info.st_size < static_cast<off_t>(shortest_key)) {
        return "a key needs at least 32 bytes";
    }
    if (info.st_size > static_cast<off_t>(longest_key)) {
        return "a key file holds at most 4096 bytes";
    }
    return nullptr;
}

// The file's bytes, as many as it still holds; why not, when it cannot be read.
const char* read_all(int fd, std::vector<unsigned char>& bytes) {
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t read_now = read(fd, bytes.data() + got, bytes.size() - got);
        if (read_now < 0 && errno == EINTR) {
            continue;
        }
        if (read_now < 0) {
            return std::strerror(errno);
        }
        if (read_now == 0) {
            break;
        }
        got += static_cast<std::size_t>(read_now);
    }
    bytes.resize(got);
    return nullptr;
}

} // namespace

bool read_entry_secret(const std::string& path, entry_secret& out, refusal& why) {
    const sodium_library* sodium = nullptr;
    try {
        sodium = &libsodium();
    } catch (const std::runtime_error& error) {
        return refuse(why, path, error.what());
    }
    // Neither a FIFO nor a terminal may hold the start-up.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return refuse(why, path, std::strerror(errno));
    }
    struct stat info {};
    const char* problem = fstat(fd, &info) != 0 ? std::strerror(errno) : unfit_key_file(info);
    std::vector<unsigned char> bytes(problem == nullptr ? static_cast<std::size_t>(info.st_size)
                                                        : 0);
    if (problem == nullptr) {
        problem = read_all(fd, bytes);
    }
    close(fd);
    while (!bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r')) {
        bytes.pop_back();
    }
    if (problem == nullptr && bytes.size() < shortest_key) {
        problem = "a key needs at least 32 bytes";
    }
    if (problem == nullptr) {
        sodium->crypto_generichash(out.bytes.data(), out.bytes.size(), bytes.data(), bytes.size(),
                                   nullptr, 0);
    }
    sodium->sodium_memzero(bytes.data(), bytes.size());
    return problem == nullptr || refuse(why, path, problem);
}

entry_mac mac_of(const entry_secret& secret, std::string_view bytes) {
    entry_mac mac{};
    libsodium().crypto_auth(mac.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                            bytes.size(), secret.bytes.data());
    return mac;
}

bool mac_holds(const entry_secret& secret, std::string_view bytes, const entry_mac& mac) {
    return libsodium().crypto_auth_verify(mac.data(),
                                          reinterpret_cast<const unsigned char*>(bytes.data()),
                                          bytes.size(), secret.bytes.data()) == 0;
}

} // namespace search
