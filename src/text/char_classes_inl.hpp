// Inline parts of char_classes.hpp: the White_Space test and split_words,
// which run once per character of every text and so are kept visible to
// the caller's compiler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace detail {

// Bit x is set for the White_Space characters x <= U+0020: U+0009-U+000D
// and U+0020.
inline constexpr std::uint64_t ASCII_WHITE_SPACE_MASK = 0x100003E00;

inline bool is_ascii_white_space(unsigned char byte) noexcept {
    return byte <= 0x20 && (ASCII_WHITE_SPACE_MASK >> byte & 1) != 0;
}

// White_Space, decided without reading more than one byte of a table. The
// 25 White_Space characters are U+0009-U+000D, U+0020, U+0085, U+00A0,
// U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and U+3000.
inline bool is_white_space(char32_t cp) noexcept {
    if (cp <= 0x20) {
        return (ASCII_WHITE_SPACE_MASK >> cp & 1) != 0;
    }
    if (cp < 0x85) {
        return false;
    }
    switch (cp >> 8) {
        case 0x00:  // U+0085, U+00A0
            return (tables::WHITESPACE_MAP[cp & 0xFF] & 1) != 0;
        case 0x16:
            return cp == 0x1680;
        case 0x20:  // U+2000-U+200A, U+2028, U+2029, U+202F, U+205F
            return (tables::WHITESPACE_MAP[cp & 0xFF] & 2) != 0;
        case 0x30:
            return cp == 0x3000;
        default:
            return false;
    }
}

}  // namespace detail

template <class OnWord>
void split_words(std::string_view text, OnWord&& on_word) {
    const char* data = text.data();
    const std::size_t n = text.size();
    std::size_t start = 0;  // first byte of the current word
    std::size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(data[i]);
        std::size_t length = 1;
        bool space = false;
        if (lead < 0x80) {
            space = detail::is_ascii_white_space(lead);
        } else {
            const Utf8Char c = decode_utf8(data + i);
            length = c.length;
            space = detail::is_white_space(c.cp);
        }
        if (space) {
            if (i > start) {
                on_word(text.substr(start, i - start));
            }
            start = i + length;
        }
        i += length;
    }
    if (n > start) {
        on_word(text.substr(start));
    }
}

}  // namespace parvenkel::text
