#include "kernels/search_parts.hpp"

#include <algorithm>
#include <cstring>

#include "text/text_view.hpp"

namespace parvenkel::kernels {

bool is_ascii(std::string_view text) noexcept {
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        high |= word;
    }
    for (; i < text.size(); ++i) {
        high |= static_cast<unsigned char>(text[i]);
    }
    return (high & 0x8080808080808080) == 0;
}

bool make_lane_test(char32_t lowered, char32_t max_unit, LaneTest& test) noexcept {
    char32_t sources[text::LOWER_SOURCES_MAX];
    std::size_t count = text::lowercase_sources(lowered, sources);
    count = static_cast<std::size_t>(
        std::remove_if(sources, sources + count, [&](char32_t cp) { return cp > max_unit; }) -
        sources);
    for (std::size_t a = 0; a < count; ++a) {
        for (std::size_t b = a + 1; b < count; ++b) {
            if ((sources[a] ^ sources[b]) != 0x20) {
                continue;
            }
            if (count > 3) {
                return false;
            }
            test.fold = 0x20;
            test.value = sources[a] | 0x20;
            const std::size_t rest = 3 - a - b;  // the third index, when there is one
            test.needs_other = count == 3;
            test.other = test.needs_other ? sources[rest] : test.value;
            return true;
        }
    }
    if (count == 0 || count > 2) {
        return false;  // none: the character cannot occur in text of this width
    }
    test.fold = 0;
    test.value = sources[0];
    test.needs_other = count == 2;
    test.other = sources[count - 1];
    return true;
}

}  // namespace parvenkel::kernels
