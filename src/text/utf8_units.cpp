#include "text/utf8_units.hpp"

#include <algorithm>

namespace parvenkel::text {

Utf8Shape utf8_shape(std::string_view text) noexcept {
    // One pass the compiler vectorises: the bytes that start a character
    // (all but the continuation bytes, 0x80 to 0xBF) and the largest byte.
    std::uint32_t starts = 0;
    std::size_t chars = 0;
    unsigned char top = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        // Blocks whose count fits 32 bits, so the loop stays narrow.
        const std::size_t stop = std::min(text.size(), i + (std::size_t{1} << 30));
        starts = 0;
        for (; i < stop; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            starts += static_cast<std::uint32_t>(static_cast<signed char>(byte) >= -64);
            top = std::max(top, byte);
        }
        chars += starts;
    }
    const char32_t widest = top < 0x80 ? 0x7F : top < 0xC4 ? 0xFF : top < 0xF0 ? 0xFFFF : 0x10FFFF;
    return {chars, widest};
}

}  // namespace parvenkel::text
