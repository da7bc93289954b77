#include "text/text_view.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "text/lanes.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

constexpr bool is_surrogate(char32_t unit) noexcept { return (unit & 0xFFFFF800) == 0xD800; }

template <class Unit>
std::size_t find_surrogate_scalar(std::basic_string_view<Unit> units, std::size_t from) noexcept {
    for (std::size_t i = from; i < units.size(); ++i) {
        if (is_surrogate(units[i])) {
            return i;
        }
    }
    return units.size();
}

// The UTF-8 form of one code point, without a branch on its length (which
// changes from character to character in text that mixes ASCII with another
// script): every form is computed, one is chosen and four bytes are stored
// at `dst`, which has room for them. Returns the length.
inline std::size_t store_utf8(std::uint32_t cp, char* dst) noexcept {
    const std::uint32_t two = (0xC0 | cp >> 6) | (0x80 | (cp & 0x3F)) << 8;
    const std::uint32_t three =
        (0xE0 | cp >> 12) | (0x80 | (cp >> 6 & 0x3F)) << 8 | (0x80 | (cp & 0x3F)) << 16;
    const std::uint32_t four = (0xF0 | cp >> 18) | (0x80 | (cp >> 12 & 0x3F)) << 8 |
                               (0x80 | (cp >> 6 & 0x3F)) << 16 | (0x80 | (cp & 0x3F)) << 24;
    const std::uint32_t form = cp < 0x80 ? cp : cp < 0x800 ? two : cp < 0x10000 ? three : four;
    // UTF-8 is a byte sequence: its first byte goes lowest.
    const std::uint32_t bytes =
        std::endian::native == std::endian::little ? form : __builtin_bswap32(form);
    std::memcpy(dst, &bytes, sizeof bytes);
    return std::size_t{1} + (cp >= 0x80 ? 1u : 0u) + (cp >= 0x800 ? 1u : 0u) +
           (cp >= 0x10000 ? 1u : 0u);
}

// Writes the UTF-8 form of fixed-width code units to `dst`, which has room
// for four bytes per unit, and returns the end of what it wrote.
template <class Unit>
char* encode_units(const Unit* units, std::size_t count, char* dst) noexcept {
    std::size_t i = 0;
#if defined(PARVENKEL_SSE2)
    // A block of ASCII goes in one step; any other block unit by unit.
    constexpr std::size_t BLOCK = sizeof(Unit) == 1 ? 16 : 8;
    for (; i + BLOCK <= count; i += BLOCK) {
        if constexpr (sizeof(Unit) == 1) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            if (_mm_movemask_epi8(v) == 0) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), v);
                dst += BLOCK;
                continue;
            }
        } else if constexpr (sizeof(Unit) == 2) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            // Units below 0x80 have their top nine bits clear.
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, _mm_set1_epi16(-0x80)),
                                                  _mm_setzero_si128())) == 0xFFFF) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(v, v));
                dst += BLOCK;
                continue;
            }
        }
        for (std::size_t k = 0; k < BLOCK; ++k) {
            dst += store_utf8(units[i + k], dst);
        }
    }
#endif
    for (; i < count; ++i) {
        dst += store_utf8(units[i], dst);
    }
    return dst;
}

}  // namespace

namespace {

// Four vectors a step, one test for all of them; the scalar loop finds the
// surrogate's offset in the step that holds one, and takes the rest.
template <class Unit>
std::size_t find_surrogate_in(std::basic_string_view<Unit> units) noexcept {
    std::size_t i = 0;
#if defined(PARVENKEL_SSE2)
    constexpr std::size_t LANES = 16 / sizeof(Unit);
    const __m128i mask = lanes_of<Unit>(0xFFFFF800);
    const __m128i surrogate = lanes_of<Unit>(0xD800);
    for (; i + 4 * LANES <= units.size(); i += 4 * LANES) {
        __m128i any = _mm_setzero_si128();
        for (std::size_t k = 0; k < 4 * LANES; k += LANES) {
            const __m128i v =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(units.data() + i + k));
            any = _mm_or_si128(any, lanes_equal<Unit>(_mm_and_si128(v, mask), surrogate));
        }
        if (_mm_movemask_epi8(any) != 0) {
            break;
        }
    }
#endif
    return find_surrogate_scalar(units, i);
}

}  // namespace

std::size_t find_surrogate(std::u16string_view units) noexcept { return find_surrogate_in(units); }

std::size_t find_surrogate(std::u32string_view units) noexcept { return find_surrogate_in(units); }

std::size_t write_utf8(TextView text, std::size_t begin, std::size_t end, char* out) noexcept {
    if (begin >= end) {
        return 0;
    }
    return text.visit([&]<class View>(View units) -> std::size_t {
        using Unit = typename View::value_type;
        if constexpr (std::is_same_v<Unit, char>) {
            std::memcpy(out, units.data() + begin, end - begin);
            return end - begin;
        } else {
            return static_cast<std::size_t>(encode_units(units.data() + begin, end - begin, out) -
                                            out);
        }
    });
}

void append_utf8(std::string& out, TextView text, std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + UTF8_MAX_BYTES * (end - begin));
    out.resize(start + write_utf8(text, begin, end, out.data() + start));
}

std::string to_utf8(TextView text) {
    std::string out;
    append_utf8(out, text, 0, text.length);
    return out;
}

std::string to_lowercase(TextView text) {
    if (text.form == Form::UTF8) {
        return to_lowercase(text.as_utf8());
    }
    return to_lowercase(to_utf8(text));
}

// Final_Sigma as in lowercase.cpp, on code units that are code points.
template <class Unit>
char32_t map_uppercase_sigma(std::basic_string_view<Unit> units, std::size_t at) noexcept {
    constexpr char32_t FINAL_SIGMA = 0x03C2;
    constexpr char32_t MEDIAL_SIGMA = 0x03C3;
    std::size_t i = at;
    char32_t cp = 0;
    do {
        if (i == 0) {
            return MEDIAL_SIGMA;
        }
        cp = units[--i];
    } while (is_case_ignorable(cp));
    if (!is_cased(cp)) {
        return MEDIAL_SIGMA;
    }
    for (std::size_t j = at + 1; j < units.size(); ++j) {
        const char32_t next = units[j];
        if (!is_case_ignorable(next)) {
            return is_cased(next) ? MEDIAL_SIGMA : FINAL_SIGMA;
        }
    }
    return FINAL_SIGMA;
}

template char32_t map_uppercase_sigma(std::basic_string_view<std::uint8_t>, std::size_t) noexcept;
template char32_t map_uppercase_sigma(std::u16string_view, std::size_t) noexcept;
template char32_t map_uppercase_sigma(std::u32string_view, std::size_t) noexcept;

std::size_t lowercase_sources(char32_t lowered, char32_t out[LOWER_SOURCES_MAX]) noexcept {
    std::size_t count = 0;
    out[count++] = lowered;
    const char32_t plane = lowered >> 16;
    if (plane < 2) {
        const std::uint16_t* const targets = tables::LOWERCASE_SOURCE_TARGETS;
        const std::uint16_t* const first =
            targets + (plane == 0 ? 0 : tables::LOWERCASE_SOURCES_PLANE_1);
        const std::uint16_t* const last =
            plane == 0 ? targets + tables::LOWERCASE_SOURCES_PLANE_1
                       : targets + std::size(tables::LOWERCASE_SOURCE_TARGETS);
        const auto [from, to] = std::equal_range(first, last, static_cast<std::uint16_t>(lowered));
        for (const std::uint16_t* p = from; p != to; ++p) {
            out[count++] = plane << 16 | tables::LOWERCASE_SOURCES[p - targets];
        }
    }
    if (lowered == 0x03C2) {
        out[count++] = 0x03A3;  // U+03A3 lowercases to U+03C2 in final position
    }
    return count;
}

}  // namespace parvenkel::text
