#include "highlighter.hpp"

namespace search {

void highlighter::highlight(const char* data, std::size_t length, fmt::memory_buffer& output,
                            bool color) {
    colour = color;
    text = std::string_view(data, length);
    out = &output;
    out->append(text.data(), text.data() + text.size());
    pos = length;
}

} // namespace search
