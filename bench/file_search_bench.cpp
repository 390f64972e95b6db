// Cost of -ferror-limit=0 when libclang parses one file: a file with many errors and a clean
// one, each parsed with the file search's argument list and with the same list without it.

#include "search/searcher.hpp"
#include "clang/file_arguments.hpp"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A source file under /tmp, removed again when the object goes.
class temp_source {
public:
    explicit temp_source(const std::string& text) {
        char name[] = "/tmp/pyrn_bench_XXXXXX.cpp";
        const int fd = mkstemps(name, 4);
        if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            throw std::runtime_error("cannot write the benchmark file");
        }
        close(fd);
        path = name;
    }
    ~temp_source() { unlink(path.c_str()); }
    temp_source(const temp_source&) = delete;
    temp_source& operator=(const temp_source&) = delete;

    std::string path;
};

// Two standard headers, errors lines with an undeclared identifier each, then code that needs
// template instances.
std::string source_with_errors(int errors) {
    std::string text = "#include <string>\n#include <vector>\n";
    for (int i = 0; i < errors; ++i) {
        text += "int error_" + std::to_string(i) + " = undeclared_" + std::to_string(i) + ";\n";
    }
    for (int i = 0; i < 200; ++i) {
        const std::string n = std::to_string(i);
        text += "template <typename T> struct holder_" + n + " { T value; T get() const { " +
                "return value; } };\nint use_" + n + "(const holder_" + n +
                "<int>& h) { return h.get() + h.value; }\n";
    }
    text += "std::size_t total(const std::vector<std::string>& v) { return v.size(); }\n";
    return text;
}

void parse(benchmark::State& state, const std::string& text, bool limit_off) {
    const temp_source file(text);
    const std::vector<const char*> options{"-x", "c++", "-std=c++17"};
    const search::file_arguments arguments(file.path, options);
    std::vector<const char*> list = arguments.list;
    if (!limit_off) {
        list.pop_back(); // "-ferror-limit=0" comes last
    }
    for (auto _ : state) {
        CXIndex index = clang_createIndex(0, 0);
        CXTranslationUnit unit =
            clang_parseTranslationUnit(index, file.path.c_str(), list.data(),
                                       static_cast<int>(list.size()), nullptr, 0, 0x4200);
        if (unit == nullptr) {
            state.SkipWithError("no translation unit");
            break;
        }
        state.counters["diagnostics"] = clang_getNumDiagnostics(unit);
        clang_disposeTranslationUnit(unit);
        clang_disposeIndex(index);
    }
}

void bm_parse_with_errors(benchmark::State& state) {
    parse(state, source_with_errors(static_cast<int>(state.range(0))), state.range(1) != 0);
}
BENCHMARK(bm_parse_with_errors)
    ->ArgNames({"errors", "limit_off"})
    ->ArgsProduct({{0, 100, 1000}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
