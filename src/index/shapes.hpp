// The shape of the str of each article's title and content (how many
// characters, how wide the widest), counted once from the UTF-8 while it is
// in the cache: when the article is added, or when a file's text is
// checked as it is read. Making a row's strs is then one pass over the
// text, the decoding, rather than a count through memory first and the
// decoding after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/utf8_units.hpp"

namespace parvenkel::index {

// A shape in 64 bits: the characters, above the class of the widest (0
// ASCII, 1 Latin-1, 2 the Basic Multilingual Plane, 3 beyond).
inline std::uint64_t pack_shape(const text::Utf8Shape& shape) noexcept {
    const std::uint64_t wide = shape.widest <= 0x7F     ? 0
                               : shape.widest <= 0xFF   ? 1
                               : shape.widest <= 0xFFFF ? 2
                                                        : 3;
    return (std::uint64_t{shape.chars} << 2) | wide;
}

inline text::Utf8Shape unpack_shape(std::uint64_t packed) noexcept {
    constexpr char32_t WIDEST[] = {0x7F, 0xFF, 0xFFFF, 0x10FFFF};
    return {static_cast<std::size_t>(packed >> 2), WIDEST[packed & 3]};
}

// The packed shape of a field's UTF-8.
inline std::uint64_t shape_of(std::string_view field) noexcept {
    return pack_shape(text::utf8_shape(field));
}

}  // namespace parvenkel::index
