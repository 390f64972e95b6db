#include "output/highlighter.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

// Every heap allocation of the program is counted, so that a benchmark can report how many
// its loop body makes.
namespace {
std::atomic<std::size_t> allocation_count{0};

void* counted_allocation(std::size_t size) {
    allocation_count.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) {
    return counted_allocation(size);
}
void* operator new[](std::size_t size) {
    return counted_allocation(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

// A real header of a few thousand lines, mixing code, comments and literals.
const std::string& large_source() {
    static const std::string text = [] {
        std::ifstream in(PYRN_LLVM_PREFIX "/include/clang/AST/DeclBase.h", std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }();
    return text;
}

bool has_comment(std::string_view s) {
    return s.find("//") != std::string_view::npos || s.find("/*") != std::string_view::npos;
}

// The large source cut into snippets of `lines` consecutive lines; those whose size lies in
// [min_size, max_size) are kept, and with code_only only those without a comment.
std::vector<std::string_view> cut_snippets(int lines, std::size_t min_size, std::size_t max_size,
                                           bool code_only) {
    std::vector<std::string_view> result;
    const std::string_view text = large_source();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        for (int line = 0; line < lines && end < text.size(); ++line) {
            end = std::min(text.find('\n', end), text.size()) + 1;
        }
        const std::string_view s = text.substr(start, std::min(end, text.size()) - start - 1);
        if (s.size() >= min_size && s.size() < max_size && !(code_only && has_comment(s))) {
            result.push_back(s);
        }
        start = end;
    }
    return result;
}

// Four lines of any kind, as most short matches are.
const std::vector<std::string_view>& small_snippets() {
    static const auto snippets = cut_snippets(4, 1, 400, false);
    return snippets;
}

// Four lines of code without comments.
const std::vector<std::string_view>& small_code_snippets() {
    static const auto snippets = cut_snippets(4, 1, 400, true);
    return snippets;
}

// Code without comments, just under 400 bytes.
const std::vector<std::string_view>& near_400_code_snippets() {
    static const auto snippets = cut_snippets(12, 300, 400, true);
    return snippets;
}

constexpr std::string_view header = "\n// clang/AST/DeclBase.h (Line: 100 to 104)\n";

// One match's work: a fresh buffer holding the header, then the highlighted snippet.
void highlight_once(std::string_view snippet, bool colour) {
    fmt::memory_buffer out;
    out.append(header.data(), header.data() + header.size());
    search::highlighter().highlight(snippet.data(), snippet.size(), out, colour);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
}

// The baseline: copying the same bytes into the buffer.
void copy_once(std::string_view snippet, bool) {
    fmt::memory_buffer out;
    out.append(header.data(), header.data() + header.size());
    out.append(snippet.data(), snippet.data() + snippet.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
}

template <void (*work)(std::string_view, bool)>
void run(benchmark::State& state, const std::vector<std::string_view>& snippets) {
    const bool colour = state.range(0) != 0;
    if (snippets.empty() || snippets[0].empty()) {
        state.SkipWithError("no source text: " PYRN_LLVM_PREFIX "/include/clang/AST/DeclBase.h");
        return;
    }
    std::size_t bytes = 0;
    std::size_t next = 0;
    const std::size_t before = allocation_count.load();
    for (auto _ : state) {
        work(snippets[next], colour);
        bytes += snippets[next].size();
        next = next + 1 == snippets.size() ? 0 : next + 1;
    }
    const std::size_t allocations = allocation_count.load() - before;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["allocs_per_iter"] =
        benchmark::Counter(static_cast<double>(allocations) / state.iterations());
    state.counters["snippet_bytes"] =
        benchmark::Counter(static_cast<double>(bytes) / state.iterations());
    state.SetLabel(colour ? "colour" : "plain");
}

template <void (*work)(std::string_view, bool)> void highlighter_large(benchmark::State& state) {
    run<work>(state, {large_source()});
}
template <void (*work)(std::string_view, bool)> void highlighter_small(benchmark::State& state) {
    run<work>(state, small_snippets());
}
template <void (*work)(std::string_view, bool)>
void highlighter_small_code(benchmark::State& state) {
    run<work>(state, small_code_snippets());
}
template <void (*work)(std::string_view, bool)>
void highlighter_near_400_code(benchmark::State& state) {
    run<work>(state, near_400_code_snippets());
}

BENCHMARK_TEMPLATE(highlighter_large, copy_once)->Arg(0);
BENCHMARK_TEMPLATE(highlighter_large, highlight_once)->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(highlighter_small, copy_once)->Arg(0);
BENCHMARK_TEMPLATE(highlighter_small, highlight_once)->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(highlighter_small_code, copy_once)->Arg(0);
BENCHMARK_TEMPLATE(highlighter_small_code, highlight_once)->Arg(0)->Arg(1);
BENCHMARK_TEMPLATE(highlighter_near_400_code, copy_once)->Arg(0);
BENCHMARK_TEMPLATE(highlighter_near_400_code, highlight_once)->Arg(0)->Arg(1);

} // namespace
