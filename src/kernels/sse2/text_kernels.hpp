// The SSE2 kernels of the text primitives (src/text/), which take them
// through kernels/text_kernels.hpp: ASCII lowercased 16 bytes at a time,
// blocks of characters of one and two bytes lowercased at once, fixed-width
// text encoded to UTF-8 a block of ASCII at a time, and surrogates looked
// for four vectors a step.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kernels/isa.hpp"
#include "text/ascii_lower.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

#if defined(PARVENKEL_SSE2)
#include "kernels/sse2/begin.hpp"
#include "kernels/sse2/lanes.hpp"

namespace parvenkel::kernels::sse2 {

namespace t = text::tables;

// text::detail::lower_ascii_prefix_portable, 16 bytes a step. All bytes of
// an accepted block are below 0x80, so the signed byte comparisons order
// them correctly.
inline std::size_t lower_ascii_prefix(const char* src, std::size_t n, char* dst) noexcept {
    std::size_t i = 0;
    for (; n - i >= text::detail::ASCII_BLOCK; i += text::detail::ASCII_BLOCK) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        if (_mm_movemask_epi8(block) != 0) {
            break;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), lower_ascii_bytes(block));
    }
    return text::detail::lower_ascii_tail(src, n, dst, i);
}

inline constexpr std::size_t SHORT_BLOCK = 16;

// Lowercases the characters of one and two bytes at the start of the 16
// bytes at `src` into `dst`, which holds the same offsets, and returns how
// many bytes it took: all 16, or 17 when the last character ends one byte
// later, or fewer when a character of three or four bytes, or one off the
// plain path, comes first (0 when it starts the block). The result is that
// of the rules taken character by character: ASCII bytes by the A-Z rule,
// U+0080-U+00BF (lead byte 0xC2) unchanged, the other two-byte characters
// by LOWERCASE_TWO_BYTE, each in as many bytes as it takes. It reads 17
// bytes of `src` and writes up to 17 of `dst`, so both must have room.
inline std::size_t lower_short_block(const char* src, char* dst) noexcept {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    // Unsigned byte comparisons: x >= k exactly when max(x, k) == x.
    const auto at_least = [block](int k) {
        const __m128i bound = _mm_set1_epi8(static_cast<char>(k));
        return static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(block, bound), block)));
    };
    const unsigned longer = at_least(0xE0);  // lead bytes of three or four
    std::size_t end = SHORT_BLOCK;
    unsigned before_end = 0xFFFF;  // the bytes before `end`
    if (longer != 0) {
        end = static_cast<std::size_t>(std::countr_zero(longer));
        if (end == 0) {
            return 0;
        }
        before_end = (1u << end) - 1;
    }
    // Every byte through the A-Z rule.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), lower_ascii_bytes(block));
    if (longer == 0 && static_cast<unsigned char>(src[SHORT_BLOCK - 1]) >= 0xC0) {
        dst[SHORT_BLOCK] = src[SHORT_BLOCK];  // the last character's second byte
        end = SHORT_BLOCK + 1;
    }
    // Lead bytes of U+00C0-U+07FF before `end`: their forms from the table.
    unsigned leads =
        at_least(static_cast<int>(0xC0 | t::LOWERCASE_TWO_BYTE_FROM >> 6)) & before_end;
    while (leads != 0) {
        const auto p = static_cast<std::size_t>(std::countr_zero(leads));
        leads &= leads - 1;
        const char32_t cp = (char32_t{static_cast<unsigned char>(src[p])} & 0x1F) << 6 |
                            (char32_t{static_cast<unsigned char>(src[p + 1])} & 0x3F);
        const std::uint8_t* form = t::LOWERCASE_TWO_BYTE + 2 * (cp - t::LOWERCASE_TWO_BYTE_FROM);
        if (form[0] == 0) {
            return p;  // off the plain path: taken on its own
        }
        dst[p] = static_cast<char>(form[0]);
        dst[p + 1] = static_cast<char>(form[1]);
    }
    return end;
}

// Writes the UTF-8 form of the `count` fixed-width code units at `units` to
// `dst`, which has room for four bytes per unit, and returns the end of what
// it wrote.
template <class Unit>
char* encode_units(const Unit* units, std::size_t count, char* dst) noexcept {
    std::size_t i = 0;
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
            dst += text::store_utf8(units[i + k], dst);
        }
    }
    for (; i < count; ++i) {
        dst += text::store_utf8(units[i], dst);
    }
    return dst;
}

// How many units at the start of `units` hold no surrogate for certain: a
// multiple of four vectors, up to the step that holds one.
template <class Unit>
std::size_t surrogate_free_prefix(std::basic_string_view<Unit> units) noexcept {
    std::size_t i = 0;
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
    return i;
}

}  // namespace parvenkel::kernels::sse2

#include "kernels/sse2/end.hpp"
#endif
