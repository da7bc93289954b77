// The fixed-width units of a str made from UTF-8: how many characters the
// text has and how wide the widest is, then the units themselves. The
// text must be well-formed (every text of the core is).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "kernels/utf8_decode.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

struct Utf8Shape {
    std::size_t chars;
    // A bound of the widest character, from the largest lead byte: 0x7F
    // (ASCII), 0xFF, 0xFFFF or 0x10FFFF. A lead byte of 0xC4 or above
    // starts a character of 0x100 or above, and one of 0xF0 or above, one
    // of 0x10000 or above, so the bound is met by a character of the text.
    char32_t widest;
};

// The scalar count of a text's characters and largest byte, the twin of
// the vector counts; a loop the compiler vectorises for the set the whole
// module is built for.
inline kernels::Utf8Count utf8_count_portable(std::string_view text) noexcept {
    std::size_t chars = 0;
    unsigned char top = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        // Blocks whose count fits 32 bits, so the loop stays narrow.
        const std::size_t stop = std::min(text.size(), i + (std::size_t{1} << 30));
        std::uint32_t starts = 0;
        for (; i < stop; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            starts += static_cast<std::uint32_t>(static_cast<signed char>(byte) >= -64);
            top = std::max(top, byte);
        }
        chars += starts;
    }
    return {chars, top};
}

// The shape of a text of `chars` characters whose largest byte is `top`.
inline Utf8Shape utf8_shape(std::size_t chars, unsigned char top) noexcept {
    const char32_t widest = top < 0x80 ? 0x7F : top < 0xC4 ? 0xFF : top < 0xF0 ? 0xFFFF : 0x10FFFF;
    return {chars, widest};
}

// The shape of the str of `text`, with the active set's count. Inline, as
// decode_units below, so that code using neither links without the
// kernels.
inline Utf8Shape utf8_shape(std::string_view text) noexcept {
    const kernels::Utf8Count count = kernels::decoders().count(text);
    return utf8_shape(count.chars, count.top);
}

// The character-by-character decoder, the scalar twin of the vector ones;
// runs of ASCII go eight bytes at a time.
template <class Unit>
void decode_units_portable(std::string_view text, Unit* out, std::size_t units) noexcept {
    const char* p = text.data();
    const char* const end = p + text.size();
    Unit* const out_end = out + units;
    while (p < end && out < out_end) {
        while (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & 0x8080808080808080) != 0) {
                break;
            }
            for (int k = 0; k < 8; ++k) {
                out[k] = static_cast<Unit>(static_cast<unsigned char>(p[k]));
            }
            p += 8;
            out += 8;
        }
        if (p == end) {
            break;
        }
        const Utf8Char c = decode_utf8(p);
        *out++ = static_cast<Unit>(c.cp);
        p += c.length;
    }
}

// Write the `units` characters of `text` (as utf8_shape counts them, each
// within the unit's range) to `out`, with the active set's decoder.
inline void decode_units(std::string_view text, std::uint8_t* out, std::size_t units) noexcept {
    kernels::decoders().latin1(text, out, units);
}
inline void decode_units(std::string_view text, char16_t* out, std::size_t units) noexcept {
    kernels::decoders().ucs2(text, out, units);
}
inline void decode_units(std::string_view text, char32_t* out, std::size_t units) noexcept {
    kernels::decoders().ucs4(text, out, units);
}

}  // namespace parvenkel::text
