// Full Unicode lowercasing with the Final_Sigma rule, on the character
// records of char_info.hpp.
#include "text/lowercase.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "kernels/text_kernels.hpp"
#include "text/ascii_lower.hpp"
#include "text/char_info.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

namespace t = tables;

constexpr char32_t FINAL_SIGMA = 0x03C2;   // ς
constexpr char32_t MEDIAL_SIGMA = 0x03C3;  // σ

// Below these code points the answers are fixed and no table is read; the
// table generator checks each of them against the data.
constexpr char32_t LOWER_TABLE_FROM = 0xC0;           // only A-Z change below
constexpr char32_t CASED_TABLE_FROM = 0xAA;           // only A-Z, a-z are Cased below
constexpr char32_t CASE_IGNORABLE_TABLE_FROM = 0xA8;  // only ' . : ^ ` below

inline bool cased(char32_t cp) noexcept {
    if (cp < CASED_TABLE_FROM) {
        return detail::is_ascii_letter(cp);
    }
    // The records hold Lowercase, Uppercase and General_Category Lt together.
    return char_info(cp).is_cased();
}

inline bool case_ignorable(char32_t cp) noexcept {
    if (cp < 0x80) {
        return detail::is_ascii_case_ignorable(cp);
    }
    if (cp < CASE_IGNORABLE_TABLE_FROM) {
        return false;
    }
    return char_info(cp).is_case_ignorable();
}

// The UTF-8 lead byte of LOWER_TABLE_FROM: smaller ones start code points
// below it.
constexpr char32_t LOWER_TABLE_FROM_LEAD = 0xC0 | LOWER_TABLE_FROM >> 6;
static_assert(LOWER_TABLE_FROM == t::LOWERCASE_TWO_BYTE_FROM);
static_assert(t::LOWERCASE_TWO_BYTE_UNTIL == 0x800);  // all the code points of two bytes

}  // namespace

// The full lowercase mapping of `cp`, decided in this order: below U+00C0
// only A-Z change; from U+20000 on nothing changes; in between the table
// decides.
LowerMapping to_lower(char32_t cp) noexcept {
    if (cp < LOWER_TABLE_FROM) {
        return {{detail::lower_ascii(cp), 0, 0}, 1};
    }
    if (cp >= t::LOWERCASE_UNTIL) {
        return {{cp, 0, 0}, 1};
    }
    const CharInfo info = detail::table_char_info(cp);
    if (!info.lowers_to_several()) {
        return {{info.lower_single(cp), 0, 0}, 1};
    }
    LowerMapping result{{0, 0, 0}, 0};
    const std::uint16_t* several = info.lower_several();
    for (std::size_t k = 0; k < t::LOWERCASE_MULTI_WIDTH && several[k] != 0; ++k) {
        result.cp[result.len++] = several[k];
    }
    return result;
}

static_assert(t::LOWERCASE_MULTI_WIDTH <= sizeof(LowerMapping::cp) / sizeof(char32_t));

bool is_cased(char32_t cp) noexcept { return cased(cp); }

bool is_case_ignorable(char32_t cp) noexcept { return case_ignorable(cp); }

// Final_Sigma, from the Default Case Algorithms of the Unicode Standard
// (section 3.13): C is in this context when
//     before C: \p{cased} (\p{case-ignorable})*
//     after C:  !((\p{case-ignorable})* \p{cased})
// Both walks read the input itself, not what has been lowercased so far,
// and a character that is both Cased and Case_Ignorable is skipped as
// case-ignorable on either side.
char32_t map_uppercase_sigma(std::string_view text, std::size_t offset) noexcept {
    const char* data = text.data();

    char32_t cp = 0;
    std::size_t i = offset;
    do {
        if (i == 0) {
            return MEDIAL_SIGMA;
        }
        i = utf8_previous(data, i);
        cp = decode_utf8(data + i).cp;
    } while (case_ignorable(cp));
    if (!cased(cp)) {
        return MEDIAL_SIGMA;
    }

    for (std::size_t j = offset + utf8_length(static_cast<unsigned char>(data[offset]));
         j < text.size();) {
        const Utf8Char next = decode_utf8(data + j);
        if (!case_ignorable(next.cp)) {
            return cased(next.cp) ? MEDIAL_SIGMA : FINAL_SIGMA;
        }
        j += next.length;
    }
    return FINAL_SIGMA;
}

namespace {

// The lowercase form of a character off the plain path (its record has
// lower_is_special()): U+03A3 by the Final_Sigma rule, and the mappings to
// several code points or to another UTF-8 length. `c` starts at byte `i`
// of `text`; its form goes to `dst` in `out`, and the new write position
// comes back. `out` keeps room for the input still to read (up to byte
// `text_end`), one byte out for each byte in, so only a longer form may
// grow it.
char* lower_special(std::string& out, char* dst, std::string_view text, std::size_t text_end,
                    std::size_t i, Utf8Char c, CharInfo info) {
    if (info.is_capital_sigma()) {
        // U+03C2 and U+03C3 take two bytes, as U+03A3 does.
        return dst + encode_utf8(map_uppercase_sigma(text, i), dst);
    }
    char form[LOWER_MAX_BYTES];
    char* end = form;
    append_lower(end, c.cp, info);
    const auto produced = static_cast<std::size_t>(end - form);
    if (produced > c.length) {
        const auto written = static_cast<std::size_t>(dst - out.data());
        const std::size_t needed = written + produced + (text_end - i - c.length);
        if (needed > out.size()) {
            out.resize(needed);
            dst = out.data() + written;
        }
    }
    std::memcpy(dst, form, produced);
    return dst + produced;
}

// The UTF-8 form of the lowercase mapping of `cp`, from U+00C0 to U+07FF:
// two bytes, or 0, 0 for a character off the plain path.
inline const std::uint8_t* two_byte_form(char32_t cp) noexcept {
    return t::LOWERCASE_TWO_BYTE + 2 * (cp - t::LOWERCASE_TWO_BYTE_FROM);
}

}  // namespace

void append_lowercase(std::string& out, std::string_view text) {
    append_lowercase(out, text, 0, text.size());
}

void append_lowercase(std::string& out, std::string_view text, std::size_t begin, std::size_t end) {
    const std::size_t n = end;
    if (begin >= end) {
        return;
    }
    const char* src = text.data();
    // Room for the range's length: every character on the plain path gives
    // as many bytes as it takes (see lower_special for the others).
    const std::size_t start = out.size();
    out.resize(start + (end - begin));
    char* dst = out.data() + start;

    // The leading ASCII run, 16 bytes at a time: one byte out for each in.
    const bool blocks = kernels::text_in_vectors();
    std::size_t i = begin + kernels::lower_ascii_prefix(blocks, src + begin, end - begin, dst);
    dst += i - begin;

    // The rest character by character, ASCII included. With vectors, a
    // block of 16 bytes whose characters take one or two bytes goes through
    // lower_short_block at once. Otherwise a character of two bytes
    // takes its form from LOWERCASE_TWO_BYTE, a longer one is looked up in
    // the records, and either goes to lower_special when it is off the plain
    // path.
    const auto byte = [src](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(src[k]));
    };
    while (i < n) {
        const char32_t lead = byte(i);
        if (blocks && lead < 0xE0 && n - i > kernels::SHORT_BLOCK) {
            const std::size_t taken = kernels::lower_short_block(src + i, dst);
            if (taken != 0) {
                i += taken;
                dst += taken;
                continue;
            }
        }
        if (lead < 0x80) {
            // ASCII characters come in runs.
            do {
                *dst++ = detail::lower_ascii(src[i]);
                ++i;
            } while (i < n && byte(i) < 0x80);
            continue;
        }
        Utf8Char c{0, 0};
        CharInfo info(0);
        if (lead < 0xE0) {
            if (lead < LOWER_TABLE_FROM_LEAD) {
                // U+0080-U+00BF: unchanged
                dst[0] = src[i];
                dst[1] = src[i + 1];
                dst += 2;
                i += 2;
                continue;
            }
            c = {(lead & 0x1F) << 6 | (byte(i + 1) & 0x3F), 2};
            const std::uint8_t* form = two_byte_form(c.cp);
            if (form[0] != 0) [[likely]] {
                dst[0] = static_cast<char>(form[0]);
                dst[1] = static_cast<char>(form[1]);
                dst += 2;
                i += 2;
                continue;
            }
            info = detail::table_char_info(c.cp);
        } else {
            c = decode_utf8(src + i);
            if (c.cp >= t::LOWERCASE_UNTIL) {
                std::memcpy(dst, src + i, 4);  // unchanged
                dst += 4;
                i += 4;
                continue;
            }
            info = detail::table_char_info(c.cp);
            if (!info.lower_is_special()) [[likely]] {
                encode_utf8(info.lower_single(c.cp), dst);  // as many bytes as c
                dst += c.length;
                i += c.length;
                continue;
            }
        }
        dst = lower_special(out, dst, text, n, i, c, info);
        i += c.length;
    }
    out.resize(static_cast<std::size_t>(dst - out.data()));
}

std::string to_lowercase(std::string_view text) {
    std::string out;
    append_lowercase(out, text);
    return out;
}

}  // namespace parvenkel::text
