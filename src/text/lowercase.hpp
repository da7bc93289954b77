// Full Unicode lowercasing (Unicode 17.0.0) with the Final_Sigma rule.
// char_info.hpp has the same data per code point, inline, for loops that
// lowercase character by character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parvenkel::text {

// The full lowercase mapping of one code point: one to three code points
// (two at most in this Unicode version). A code point without a mapping maps
// to itself.
struct LowerMapping {
    char32_t cp[3];
    std::uint8_t len;
};

LowerMapping to_lower(char32_t cp) noexcept;

// Final form (U+03C2) or medial form (U+03C3) for the U+03A3 that starts at
// byte `offset` of `text`. `text` is the whole unconverted input.
char32_t map_uppercase_sigma(std::string_view text, std::size_t offset) noexcept;

// Lowercase form of well-formed UTF-8 `text`, as a new string.
std::string to_lowercase(std::string_view text);

// Appends the lowercase form of `text` to `out` (same result as
// to_lowercase, without a fresh allocation when `out` has room).
void append_lowercase(std::string& out, std::string_view text);

// Appends the lowercase form of the characters in bytes [begin, end) of
// `text` (both character boundaries). The sigma rule looks at the whole of
// `text`, so lowercasing a text range by range gives its lowercase form.
void append_lowercase(std::string& out, std::string_view text, std::size_t begin, std::size_t end);

// Character properties used by the sigma rule.
bool is_cased(char32_t cp) noexcept;
bool is_case_ignorable(char32_t cp) noexcept;

}  // namespace parvenkel::text
