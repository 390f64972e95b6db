// Run by the build: writes the manual page and the shell completions from the option table.
// Usage: pyrn_write_docs TEMPLATE OUTPUT_DIR, writing OUTPUT_DIR/docs/pyrn.1 from TEMPLATE
// and OUTPUT_DIR/completions/pyrn.bash, _pyrn and pyrn.fish.

#include "app/completion_scripts.hpp"
#include "app/manual_page.hpp"

#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string read_whole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.native());
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_whole(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        throw std::runtime_error("cannot write " + file.native());
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: pyrn_write_docs TEMPLATE OUTPUT_DIR\n";
        return 2;
    }
    try {
        const fs::path out = argv[2];
        write_whole(out / "docs/pyrn.1", pyrn::manual_page(read_whole(argv[1])));
        write_whole(out / "completions/pyrn.bash", pyrn::bash_completion());
        write_whole(out / "completions/_pyrn", pyrn::zsh_completion());
        write_whole(out / "completions/pyrn.fish", pyrn::fish_completion());
    } catch (const std::exception& error) {
        std::cerr << "pyrn_write_docs: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
