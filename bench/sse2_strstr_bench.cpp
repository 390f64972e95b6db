// Throughput of sse2_strstr against glibc memmem and std::string_view::find on the same
// buffers. Each iteration runs all three, so the ratios (x_memmem, x_find: how many times
// faster sse2_strstr is) compare runs made under the same machine load. The strcasestr
// benchmarks run sse2_strcasestr and sse2_strstr the same way on the same text and needles
// (x_fold: how many times longer the case-folding scan takes).
#include "base/sse2_strstr.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::size_t one_mib = std::size_t{1} << 20;
constexpr std::size_t text_sizes[] = {one_mib, 64 * one_mib};
constexpr std::size_t text_lengths[] = {1, 2, 3, 4, 7, 8, 9, 12, 13, 16, 32, 64};
constexpr std::size_t dense_lengths[] = {3, 4, 7, 8, 9, 12, 13, 16, 32, 64};

// The C and C++ headers of the LLVM installation, concatenated in path order.
const std::string& header_corpus() {
    static const std::string corpus = [] {
        std::vector<std::filesystem::path> paths;
        for (const auto& entry :
             std::filesystem::recursive_directory_iterator(PYRN_LLVM_PREFIX "/include")) {
            if (entry.is_regular_file() && entry.path().extension() == ".h") {
                paths.push_back(entry.path());
            }
        }
        std::sort(paths.begin(), paths.end());
        std::string text;
        for (const auto& path : paths) {
            std::ifstream in(path, std::ios::binary);
            text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return text;
    }();
    return corpus;
}

// The corpus repeated or cut to `size` bytes.
const std::string& source_text(std::size_t size) {
    static std::map<std::size_t, std::string> texts;
    std::string& text = texts[size];
    while (text.size() < size && !header_corpus().empty()) {
        text.append(header_corpus(), 0, size - text.size());
    }
    return text;
}

bool is_word_byte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The most frequent identifier of the corpus with this length, preferring common first bytes.
std::string corpus_identifier(std::size_t length) {
    std::unordered_map<std::string_view, std::size_t> counts;
    std::string_view text = header_corpus();
    for (std::size_t i = 0; i < text.size();) {
        if (!is_word_byte(text[i]) || (text[i] >= '0' && text[i] <= '9')) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && is_word_byte(text[end])) {
            ++end;
        }
        if (end - i == length) {
            ++counts[text.substr(i, length)];
        }
        i = end;
    }
    std::string best;
    std::size_t best_rank = 0;
    for (const auto& [word, count] : counts) {
        bool common_first = std::string_view("csg").find(word[0]) != std::string_view::npos;
        std::size_t rank = count + (common_first ? text.size() : 0);
        if (rank > best_rank || (rank == best_rank && word < best)) {
            best = std::string(word);
            best_rank = rank;
        }
    }
    return best;
}

// A corpus identifier whose last byte is replaced by the most frequent byte that makes it
// absent from the largest text (frequent bytes keep candidates frequent); a one-byte needle
// is a byte absent from the text. Absent in either case, so that the exact and the
// case-folding scans are timed on the same needles.
const std::string& absent_needle(std::size_t length) {
    static std::map<std::size_t, std::string> needles;
    std::string& needle = needles[length];
    if (!needle.empty()) {
        return needle;
    }
    const std::string& text = source_text(text_sizes[1]);
    std::array<std::size_t, 256> frequency{};
    for (unsigned char c : header_corpus()) {
        ++frequency[c];
    }
    std::array<int, 256> bytes;
    for (int b = 0; b < 256; ++b) {
        bytes[b] = b;
    }
    std::stable_sort(bytes.begin(), bytes.end(),
                     [&](int a, int b) { return frequency[a] > frequency[b]; });
    needle = length > 1 ? corpus_identifier(length) : std::string(1, '\0');
    for (int b : bytes) {
        needle.back() = static_cast<char>(b);
        if (search::sse2_strcasestr(text, needle) == search::npos) {
            break;
        }
    }
    return needle;
}

std::string printable(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            const char* hex = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// The median time of each search, the searches run in turn in every iteration. Medians of
// the single runs keep a preempted run from skewing the figures.
template <typename... Search>
std::array<double, sizeof...(Search)> median_seconds(benchmark::State& state, Search... searches) {
    using clock = std::chrono::steady_clock;
    std::array<std::vector<double>, sizeof...(Search)> seconds;
    for (auto& runs : seconds) {
        runs.reserve(static_cast<std::size_t>(state.max_iterations));
    }
    auto time = [](auto& search, std::vector<double>& runs) {
        auto start = clock::now();
        benchmark::DoNotOptimize(search());
        runs.push_back(std::chrono::duration<double>(clock::now() - start).count());
    };
    for (auto _ : state) {
        std::size_t f = 0;
        (time(searches, seconds[f++]), ...);
    }
    std::array<double, sizeof...(Search)> median{};
    for (std::size_t f = 0; f < median.size(); ++f) {
        auto middle = seconds[f].begin() + static_cast<std::ptrdiff_t>(seconds[f].size() / 2);
        std::nth_element(seconds[f].begin(), middle, seconds[f].end());
        median[f] = *middle;
    }
    return median;
}

double bytes_scanned(std::string_view haystack, std::string_view needle, std::size_t expected) {
    return static_cast<double>(expected == search::npos ? haystack.size()
                                                        : expected + needle.size());
}

// Times the three searches in turn and reports each one's bytes per second and the ratios.
void compare_searches(benchmark::State& state, std::string_view haystack, std::string_view needle,
                      std::size_t expected) {
    auto by_sse2 = [&] { return search::sse2_strstr(haystack, needle); };
    auto by_memmem = [&] {
        auto hit = static_cast<const char*>(
            memmem(haystack.data(), haystack.size(), needle.data(), needle.size()));
        return hit != nullptr ? static_cast<std::size_t>(hit - haystack.data()) : search::npos;
    };
    auto by_find = [&] { return haystack.find(needle); };
    if (by_sse2() != expected || by_memmem() != expected || by_find() != expected) {
        state.SkipWithError("the searches disagree");
        return;
    }
    auto median = median_seconds(state, by_sse2, by_memmem, by_find);
    double bytes = bytes_scanned(haystack, needle, expected);
    state.counters["sse2"] = bytes / median[0];
    state.counters["memmem"] = bytes / median[1];
    state.counters["find"] = bytes / median[2];
    state.counters["x_memmem"] = median[1] / median[0];
    state.counters["x_find"] = median[2] / median[0];
    state.SetLabel(printable(needle));
}

// Times the case-folding and the exact scan in turn; the target for x_fold is 1.5 at most.
void compare_folded(benchmark::State& state, std::string_view haystack, std::string_view needle,
                    std::size_t expected) {
    auto exact = [&] { return search::sse2_strstr(haystack, needle); };
    auto folded = [&] { return search::sse2_strcasestr(haystack, needle); };
    if (exact() != expected || folded() != expected) {
        state.SkipWithError("the needle's case-folded occurrences differ from its exact ones");
        return;
    }
    auto median = median_seconds(state, exact, folded);
    double bytes = bytes_scanned(haystack, needle, expected);
    state.counters["sse2"] = bytes / median[0];
    state.counters["fold"] = bytes / median[1];
    state.counters["x_fold"] = median[1] / median[0];
    state.SetLabel(printable(needle));
}

void text_absent(benchmark::State& state, std::size_t size, std::size_t length) {
    compare_searches(state, source_text(size), absent_needle(length), search::npos);
}

void text_absent_folded(benchmark::State& state, std::size_t size, std::size_t length) {
    compare_folded(state, source_text(size), absent_needle(length), search::npos);
}

// The absent needle planted once, 4 KiB before the end.
void text_near_end(benchmark::State& state, std::size_t size, std::size_t length) {
    std::string haystack = source_text(size);
    const std::string& needle = absent_needle(length);
    std::size_t at = haystack.size() - 4096;
    haystack.replace(at, needle.size(), needle);
    compare_searches(state, haystack, needle, at);
}

// Nine bytes in ten are 'a': the needle "acc...ca" is a candidate at most positions and
// fails verification on its second byte.
void dense_candidates(benchmark::State& state, std::size_t length) {
    static const std::string haystack = [] {
        std::mt19937 rng(7);
        std::string bytes(one_mib, 'a');
        for (char& c : bytes) {
            c = rng() % 10 == 0 ? 'b' : 'a';
        }
        return bytes;
    }();
    std::string needle = "a" + std::string(length - 2, 'c') + "a";
    compare_searches(state, haystack, needle, search::npos);
}

std::string size_name(std::size_t size) {
    return std::to_string(size / one_mib) + "MiB";
}

const bool registered = [] {
    for (std::size_t size : text_sizes) {
        for (std::size_t length : text_lengths) {
            std::string suffix = size_name(size) + "/len:" + std::to_string(length);
            benchmark::RegisterBenchmark(("strstr_text_absent/" + suffix).c_str(), text_absent,
                                         size, length)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("strstr_text_near_end/" + suffix).c_str(), text_near_end,
                                         size, length)
                ->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("strcasestr_text_absent/" + suffix).c_str(),
                                         text_absent_folded, size, length)
                ->Unit(benchmark::kMicrosecond);
        }
    }
    for (std::size_t length : dense_lengths) {
        benchmark::RegisterBenchmark(("strstr_dense/1MiB/len:" + std::to_string(length)).c_str(),
                                     dense_candidates, length)
            ->Unit(benchmark::kMicrosecond);
    }
    return true;
}();

} // namespace
