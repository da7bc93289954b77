// A text in whichever fixed-width form it already has: UTF-8, or one code
// unit per code point of 1, 2 or 4 bytes (Latin-1, UCS-2, UCS-4). Reading a
// text where it lies spares a conversion to UTF-8, and the memory for it,
// when a caller holds the text in a fixed-width form.
//
// A fixed-width text holds Unicode scalar values only: no surrogate code
// points (the caller checks with find_surrogate).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/char_info.hpp"

namespace parvenkel::text {

enum class Form : std::uint8_t { UTF8, LATIN1, UCS2, UCS4 };

struct TextView {
    const void* data = "";
    std::size_t length = 0;  // in code units: bytes for UTF8 and LATIN1
    Form form = Form::UTF8;

    static TextView utf8(std::string_view text) noexcept {
        return {text.data(), text.size(), Form::UTF8};
    }
    std::string_view as_utf8() const noexcept { return {static_cast<const char*>(data), length}; }
    bool empty() const noexcept { return length == 0; }

    // Calls `f` with the text as a std::string_view (UTF8) or as a
    // std::basic_string_view of std::uint8_t (LATIN1), char16_t (UCS2) or
    // char32_t (UCS4).
    template <class F>
    decltype(auto) visit(F&& f) const {
        switch (form) {
            case Form::LATIN1:
                return f(std::basic_string_view<std::uint8_t>(
                    static_cast<const std::uint8_t*>(data), length));
            case Form::UCS2:
                return f(std::u16string_view(static_cast<const char16_t*>(data), length));
            case Form::UCS4:
                return f(std::u32string_view(static_cast<const char32_t*>(data), length));
            case Form::UTF8:
                break;
        }
        return f(as_utf8());
    }
};

// The bytes of one code unit of a form.
constexpr std::size_t unit_bytes(Form form) noexcept {
    return form == Form::UCS2 ? 2 : form == Form::UCS4 ? 4 : 1;
}

// The offset of the first surrogate code point (U+D800-U+DFFF) in `units`,
// or units.size() when there is none.
std::size_t find_surrogate(std::u16string_view units) noexcept;
std::size_t find_surrogate(std::u32string_view units) noexcept;

// Writes the UTF-8 form of code units [begin, end) of `text` to `out`, which
// has room for UTF8_MAX_BYTES bytes a unit, and returns its length.
inline constexpr std::size_t UTF8_MAX_BYTES = 4;
std::size_t write_utf8(TextView text, std::size_t begin, std::size_t end, char* out) noexcept;

// Appends the UTF-8 form of code units [begin, end) of `text`.
void append_utf8(std::string& out, TextView text, std::size_t begin, std::size_t end);

// The whole text in UTF-8.
std::string to_utf8(TextView text);

// The lowercase form of `text` in UTF-8 (the same as to_lowercase of its
// UTF-8 form).
std::string to_lowercase(TextView text);

// Final form (U+03C2) or medial form (U+03C3) for the U+03A3 at code unit
// `at` of a fixed-width text.
template <class Unit>
char32_t map_uppercase_sigma(std::basic_string_view<Unit> units, std::size_t at) noexcept;

// The lowercase form of the code point at `at` of a fixed-width text when it
// is a single code point (U+03A3 by its context), or 0 for U+0130, the one
// character that lowercases to several.
template <class Unit>
inline char32_t lower_one(std::basic_string_view<Unit> units, std::size_t at) noexcept {
    const char32_t cp = units[at];
    if (cp < 0x80) {
        return detail::lower_ascii(cp);
    }
    if (cp < tables::LOWERCASE_TWO_BYTE_FROM || cp >= tables::LOWERCASE_UNTIL) {
        return cp;
    }
    const CharInfo info = detail::table_char_info(cp);
    if (info.lower_is_special()) [[unlikely]] {
        if (info.lowers_to_several()) {
            return 0;
        }
        if (info.is_capital_sigma()) {
            return map_uppercase_sigma(units, at);
        }
    }
    return info.lower_single(cp);
}

// The code points whose lowercase form, in some text, is the single code
// point `lowered` (itself a lowercase form): `lowered` itself, those that map
// to it, and U+03A3 for either form of small sigma. Writes them to `out`
// and returns how many there are.
inline constexpr std::size_t LOWER_SOURCES_MAX = tables::LOWERCASE_SOURCES_MAX + 2;
std::size_t lowercase_sources(char32_t lowered, char32_t out[LOWER_SOURCES_MAX]) noexcept;

}  // namespace parvenkel::text
