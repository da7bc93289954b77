// What the text primitives know about one code point, from one lookup:
// Alphabetic, Cased, Case_Ignorable and the full lowercase mapping (Unicode
// 17.0.0). Inline, for loops that visit every character of a text.
//
//   const CharInfo info = char_info(cp);
//   if (info.is_alphabetic()) {
//       append_lower(out, cp, info);  // `out` has room for LOWER_MAX_BYTES
//   }
//
// append_lower writes the context-free mapping. U+03A3 (is_capital_sigma())
// is lowercased by the Final_Sigma rule, which looks at the text around it:
// a text's lowercase form comes from to_lowercase or append_lowercase
// (lowercase.hpp), or from map_uppercase_sigma for that one character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "text/ascii_lower.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

// Most bytes that append_lower writes for one code point.
inline constexpr std::size_t LOWER_MAX_BYTES = 4 * tables::LOWERCASE_MULTI_WIDTH;

// The record of one code point (layout in unicode_tables.hpp).
class CharInfo {
   public:
    constexpr explicit CharInfo(std::int32_t record) noexcept : record_(record) {}

    constexpr bool is_alphabetic() const noexcept { return has(tables::CHAR_INFO_ALPHABETIC); }
    constexpr bool is_cased() const noexcept { return has(tables::CHAR_INFO_CASED); }
    constexpr bool is_case_ignorable() const noexcept {
        return has(tables::CHAR_INFO_CASE_IGNORABLE);
    }

    // True when the lowercase form is not lower_single() in as many UTF-8
    // bytes as the code point: a mapping to several code points (U+0130), to
    // another length (U+023A -> U+2C65, U+212A -> U+006B) or U+03A3.
    constexpr bool lower_is_special() const noexcept {
        return has(tables::CHAR_INFO_LOWER_SPECIAL);
    }
    // True when the mapping has several code points (lower_several()).
    constexpr bool lowers_to_several() const noexcept { return has(tables::CHAR_INFO_LOWER_MULTI); }
    // True for U+03A3, whose lowercase form in a text depends on its context.
    constexpr bool is_capital_sigma() const noexcept { return has(tables::CHAR_INFO_FINAL_SIGMA); }

    // The code point `cp` (the one this is the record of) maps to, unless
    // lowers_to_several(). U+03A3 gives U+03C3.
    constexpr char32_t lower_single(char32_t cp) const noexcept {
        return cp + static_cast<char32_t>(offset());
    }
    // The code points of a mapping to several, LOWERCASE_MULTI_WIDTH of
    // them, padded with zeros; only when lowers_to_several().
    const std::uint16_t* lower_several() const noexcept {
        return tables::LOWERCASE_MULTI + offset();
    }

    constexpr std::int32_t record() const noexcept { return record_; }

   private:
    constexpr bool has(std::int32_t flag) const noexcept { return (record_ & flag) != 0; }
    constexpr std::int32_t offset() const noexcept {
        return record_ >> tables::CHAR_INFO_DELTA_SHIFT;
    }

    std::int32_t record_;
};

namespace detail {

constexpr bool is_ascii_letter(char32_t cp) noexcept { return (cp & ~char32_t{0x20}) - U'A' < 26; }

// The ASCII Case_Ignorable characters ' . : ^ ` as a 128-bit mask.
inline constexpr std::uint64_t ASCII_CASE_IGNORABLE[2] = {
    (std::uint64_t{1} << '\'') | (std::uint64_t{1} << '.') | (std::uint64_t{1} << ':'),
    (std::uint64_t{1} << ('^' - 64)) | (std::uint64_t{1} << ('`' - 64)),
};

constexpr bool is_ascii_case_ignorable(char32_t cp) noexcept {
    return (ASCII_CASE_IGNORABLE[cp >> 6] >> (cp & 63) & 1) != 0;
}

// The record of an ASCII code point, without a table: the letters are
// Alphabetic and Cased, A-Z map 0x20 up, and ' . : ^ ` are Case_Ignorable.
constexpr CharInfo ascii_char_info(char32_t cp) noexcept {
    std::int32_t record = 0;
    if (is_ascii_letter(cp)) {
        record |= tables::CHAR_INFO_ALPHABETIC | tables::CHAR_INFO_CASED;
    }
    if (cp - U'A' < 26) {
        record |= 0x20 << tables::CHAR_INFO_DELTA_SHIFT;
    }
    if (is_ascii_case_ignorable(cp)) {
        record |= tables::CHAR_INFO_CASE_IGNORABLE;
    }
    return CharInfo(record);
}

// The record of `cp` from the table, for cp below CHAR_INFO_LIMIT (which
// every code point the lowercase mapping touches is).
inline CharInfo table_char_info(char32_t cp) noexcept {
    const std::size_t block = tables::CHAR_INFO_INDEX[cp >> tables::CHAR_INFO_SHIFT];
    const std::size_t number =
        tables::CHAR_INFO_BLOCKS[block << tables::CHAR_INFO_SHIFT | (cp & tables::CHAR_INFO_MASK)];
    return CharInfo(tables::CHAR_INFO_RECORDS[number]);
}

static_assert(tables::CHAR_INFO_LIMIT >= tables::LOWERCASE_UNTIL);
// The plain letters take three bytes in UTF-8.
static_assert(tables::PLAIN_LETTER_RUNS[0][0] >= 0x800);
static_assert(tables::PLAIN_LETTER_RUNS[std::size(tables::PLAIN_LETTER_RUNS) - 1][1] <= 0x10000);

}  // namespace detail

// The record of any code point: ASCII without a table, the rest from it.
inline CharInfo char_info(char32_t cp) noexcept {
    if (cp < 0x80) {
        return detail::ascii_char_info(cp);
    }
    if (cp >= tables::CHAR_INFO_LIMIT) {
        return CharInfo(0);  // no mapping, no property
    }
    return detail::table_char_info(cp);
}

// For a code point of one or two UTF-8 bytes (below U+0800), its letter
// test and lowercase form without the records: Alphabetic from a bitmap,
// and the form, written at `out` (room for two bytes), from
// LOWERCASE_TWO_BYTE. Returns the number of bytes written: 0 for a
// character that is not Alphabetic, and also for one off the plain path
// (U+0130, U+023A, U+03A3 and the like), which the caller takes the long
// way.
inline std::size_t lower_two_byte_letter(char32_t cp, char* out) noexcept {
    if ((tables::ALPHABETIC_TWO_BYTE[cp >> 6] >> (cp & 63) & 1) == 0) {
        return 0;
    }
    if (cp < tables::LOWERCASE_TWO_BYTE_FROM) {
        // U+0080-U+00BF: the letters there (U+00AA, U+00B5, U+00BA) are
        // their own lowercase form.
        return encode_utf8(cp, out);
    }
    const std::uint8_t* form =
        tables::LOWERCASE_TWO_BYTE + 2 * (cp - tables::LOWERCASE_TWO_BYTE_FROM);
    out[0] = static_cast<char>(form[0]);
    out[1] = static_cast<char>(form[1]);
    return form[0] != 0 ? 2 : 0;
}

static_assert(tables::LOWERCASE_TWO_BYTE_UNTIL == 64 * std::size(tables::ALPHABETIC_TWO_BYTE));

// True for the code points of tables::PLAIN_LETTER_RUNS (kana, CJK
// ideographs, Hangul syllables): Alphabetic, their own lowercase form, no
// other property, three bytes in UTF-8. A scan takes them without a table
// lookup; any other code point answers false at once or after a few
// comparisons.
constexpr bool is_plain_letter(char32_t cp) noexcept {
    constexpr auto& runs = tables::PLAIN_LETTER_RUNS;
    static_assert(std::size(runs) == 4);
    const auto in = [cp](const char32_t(&run)[2]) { return cp - run[0] < run[1] - run[0]; };
    if (cp < runs[2][0]) {
        return in(runs[0]) || in(runs[1]);
    }
    return in(runs[2]) || in(runs[3]);
}

// Writes the lowercase mapping of `cp`, whose record is `info`, in UTF-8 at
// `out` (room for LOWER_MAX_BYTES) and moves `out` past it. U+03A3 gives
// U+03C3 here: the final form needs the text (see the top of this file).
inline void append_lower(char*& out, char32_t cp, CharInfo info) noexcept {
    if (info.lowers_to_several()) [[unlikely]] {
        const std::uint16_t* several = info.lower_several();
        for (std::size_t k = 0; k < tables::LOWERCASE_MULTI_WIDTH && several[k] != 0; ++k) {
            out += encode_utf8(several[k], out);
        }
        return;
    }
    out += encode_utf8(info.lower_single(cp), out);
}

// The same for a code point whose record is not at hand.
inline void append_lower(char*& out, char32_t cp) noexcept {
    if (cp < 0x80) {
        *out++ = static_cast<char>(detail::lower_ascii(cp));
        return;
    }
    append_lower(out, cp, char_info(cp));
}

}  // namespace parvenkel::text
