// Small UTF-8 helpers for text that is known to be well-formed.
//
// Every text reaching the core was produced from a Python str, so it is a
// valid sequence of Unicode scalar values. None of these helpers validates
// but is_valid_utf8, for bytes read from outside (a pickled counter, an
// index file): a character's length is read from its lead byte alone and
// each continuation byte contributes its low 6 bits.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace parvenkel::text {

// Whether `bytes` is UTF-8: well-formed, in shortest forms, without
// surrogates.
bool is_valid_utf8(std::string_view bytes) noexcept;
// The same, and when it is, its characters and its largest byte (0 for
// ASCII alone), counted on the way.
bool is_valid_utf8(std::string_view bytes, std::size_t& chars, unsigned char& top) noexcept;

// Length in bytes of the character whose first byte is `lead`.
constexpr std::size_t utf8_length(unsigned char lead) noexcept {
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
}

constexpr bool is_utf8_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

// Offset of the first byte of the character after the one that starts at
// byte `at` of `text` (or its end).
constexpr std::size_t utf8_next(std::string_view text, std::size_t at) noexcept {
    ++at;
    while (at < text.size() && is_utf8_continuation(static_cast<unsigned char>(text[at]))) {
        ++at;
    }
    return at;
}

struct Utf8Char {
    char32_t cp;
    std::size_t length;
};

// Decodes the character that starts at `p`.
constexpr Utf8Char decode_utf8(const char* p) noexcept {
    const auto byte = [p](std::size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(p[i]));
    };
    const char32_t lead = byte(0);
    if (lead < 0x80) {
        return {lead, 1};
    }
    if (lead < 0xE0) {
        return {(lead & 0x1F) << 6 | (byte(1) & 0x3F), 2};
    }
    if (lead < 0xF0) {
        return {(lead & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F), 3};
    }
    return {(lead & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F),
            4};
}

// Offset of the first byte of the character that ends just before byte
// `end` of `text`; `end` must be a character boundary above 0.
constexpr std::size_t utf8_previous(const char* text, std::size_t end) noexcept {
    std::size_t i = end - 1;
    while (is_utf8_continuation(static_cast<unsigned char>(text[i]))) {
        --i;
    }
    return i;
}

// Number of bytes `cp` takes in UTF-8.
constexpr std::size_t utf8_encoded_length(char32_t cp) noexcept {
    return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// The UTF-8 form of scalar value `cp` as one value, its first byte lowest,
// for a `cp` of two, three or four bytes: the one encoder of the core, which
// the writers below and the word walker's forms of letters take their bytes
// from.
constexpr std::uint32_t utf8_form2(char32_t cp) noexcept {
    return (0xC0 | cp >> 6) | (0x80 | (cp & 0x3F)) << 8;
}
constexpr std::uint32_t utf8_form3(char32_t cp) noexcept {
    return (0xE0 | cp >> 12) | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F)) << 16;
}
constexpr std::uint32_t utf8_form4(char32_t cp) noexcept {
    return (0xF0 | cp >> 18) | (0x80 | (cp >> 12 & 0x3F)) << 8 | (0x80 | (cp >> 6 & 0x3F)) << 16 |
           (0x80 | (cp & 0x3F)) << 24;
}

// The same for any `cp`: every length's form is computed and one chosen,
// without a branch on the length (which changes from character to character
// in text that mixes ASCII with another script).
constexpr std::uint32_t utf8_form(char32_t cp) noexcept {
    const std::uint32_t two = utf8_form2(cp);
    const std::uint32_t three = utf8_form3(cp);
    const std::uint32_t four = utf8_form4(cp);
    return cp < 0x80 ? cp : cp < 0x800 ? two : cp < 0x10000 ? three : four;
}

// Writes the UTF-8 form of scalar value `cp` to `out` (room for 4 bytes) and
// returns the number of bytes written.
constexpr std::size_t encode_utf8(char32_t cp, char* out) noexcept {
    const std::uint32_t form = utf8_form(cp);
    const std::size_t length = utf8_encoded_length(cp);
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<char>(form >> (8 * i));
    }
    return length;
}

// The same, storing four bytes at `out` in one step whatever the length.
inline std::size_t store_utf8(char32_t cp, char* out) noexcept {
    // UTF-8 is a byte sequence: its first byte goes lowest.
    const std::uint32_t form = utf8_form(cp);
    const std::uint32_t bytes =
        std::endian::native == std::endian::little ? form : __builtin_bswap32(form);
    std::memcpy(out, &bytes, sizeof bytes);
    return std::size_t{1} + (cp >= 0x80 ? 1u : 0u) + (cp >= 0x800 ? 1u : 0u) +
           (cp >= 0x10000 ? 1u : 0u);
}

// Appends the UTF-8 form of scalar value `cp` to `out`.
inline void append_utf8(std::string& out, char32_t cp) {
    char buffer[4];
    out.append(buffer, encode_utf8(cp, buffer));
}

}  // namespace parvenkel::text
