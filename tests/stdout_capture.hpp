#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

// Runs body with descriptor 1 redirected to a temporary file and returns what was written
// to standard output meanwhile.
template <typename F> std::string capture_stdout(F&& body) {
    char name[] = "/tmp/pyrn_stdout_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fd, 1);
    close(fd);
    body();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    std::ifstream in(name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    unlink(name);
    return content.str();
}
