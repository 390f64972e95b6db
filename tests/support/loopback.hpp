#pragma once

// A socket listening on a free port of 127.0.0.1, for the tests of what pyrn does with servers.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

// Connections complete in its backlog until it accepts them; fd is -1, after a test failure,
// when no socket can be had.
class loopback_listener {
public:
    explicit loopback_listener(int backlog = 16) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(fd, backlog) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            ADD_FAILURE() << "cannot listen on the loopback";
        }
        port = ntohs(address.sin_port);
    }
    ~loopback_listener() {
        if (fd >= 0) {
            close(fd);
        }
    }
    loopback_listener(const loopback_listener&) = delete;
    loopback_listener& operator=(const loopback_listener&) = delete;

    int fd = -1;
    int port = 0;
};

} // namespace testing_support
