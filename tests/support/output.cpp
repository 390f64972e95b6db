#include "output.hpp"
#include "process.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testing_support {

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string golden(const std::string& name, const std::string& actual) {
    const std::string path = test_dir() + "/golden/" + name;
    if (std::getenv("PYRN_UPDATE_GOLDEN") != nullptr) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << actual;
    }
    return read_file(path);
}

std::string capture_stdout(const std::function<void()>& body) {
    std::string name = (std::filesystem::temp_directory_path() / "pyrn-stdout-XXXXXX").native();
    const int file = mkstemp(name.data());
    if (file < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    unlink(name.c_str());
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(file, 1);
    auto restore = [&] {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    };
    try {
        body();
    } catch (...) {
        restore();
        close(file);
        throw;
    }
    restore();
    std::string out;
    char buffer[65536];
    lseek(file, 0, SEEK_SET);
    for (ssize_t got; (got = read(file, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
    }
    close(file);
    return out;
}

} // namespace testing_support
