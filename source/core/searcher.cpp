#include "core/searcher.hpp"

namespace search {

search_counts searcher::counts;
std::string_view searcher::query;
std::string_view searcher::filter = "*.*";
bool searcher::verbose = false;
bool searcher::exact_match = false;
bool searcher::ignore_case = false;
bool searcher::use_regex = false;
bool searcher::ignore_single_line_results = false;
bool searcher::use_color = false;
output_format searcher::format = output_format::blocks;
bool searcher::visible_controls = false;
bool searcher::null_separated = false;
std::uint32_t searcher::shard_index = 0;
std::uint32_t searcher::shard_count = 1;
bool searcher::sort_by_path = false;
bool searcher::cuda_by_suffix = false;
std::uint64_t searcher::parse_timeout_seconds = 0;
std::uint64_t searcher::parse_memory_mib = 0;

kind_choice searcher::kinds;

} // namespace search
