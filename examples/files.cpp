#include <cstdio>
#include <string>

namespace examples {

// Opens a file for reading; the caller closes it.
std::FILE* open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

class reader {
public:
    explicit reader(const std::string& path) : file(open_for_reading(path)) {}
    ~reader() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }

    bool is_open() const { return file != nullptr; }

    std::size_t count_lines() {
        std::size_t lines = 0;
        for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
            lines += c == '\n';
        }
        return lines;
    }

private:
    std::FILE* file;
};

} // namespace examples
