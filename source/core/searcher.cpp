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
bool searcher::include_expressions = false;
output_format searcher::format = output_format::blocks;
bool searcher::visible_controls = false;
bool searcher::null_separated = false;
std::uint32_t searcher::shard_index = 0;
std::uint32_t searcher::shard_count = 1;
bool searcher::sort_by_path = false;
bool searcher::cuda_by_suffix = false;

bool searcher::search_for_enum = true;
bool searcher::search_for_struct = true;
bool searcher::search_for_union = true;
bool searcher::search_for_member_function = true;
bool searcher::search_for_function = true;
bool searcher::search_for_function_template = true;
bool searcher::search_for_class = true;
bool searcher::search_for_class_template = true;
bool searcher::search_for_class_constructor = true;
bool searcher::search_for_class_destructor = true;
bool searcher::search_for_typedef = true;
bool searcher::search_for_using_declaration = true;
bool searcher::search_for_namespace_alias = true;
bool searcher::search_for_variable_declaration = true;
bool searcher::search_for_parameter_declaration = true;
bool searcher::search_for_static_cast = true;
bool searcher::search_for_dynamic_cast = true;
bool searcher::search_for_reinterpret_cast = true;
bool searcher::search_for_const_cast = true;
bool searcher::search_for_throw_expression = true;
bool searcher::search_for_for_statement = true;

} // namespace search
