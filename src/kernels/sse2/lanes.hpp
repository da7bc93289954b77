// 16-byte SSE2 vectors of fixed-width code units (1, 2 or 4 bytes a lane),
// for scans that serve every width of text with one template.
#pragma once

#include "kernels/isa.hpp"
#if defined(PARVENKEL_SSE2)
#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace parvenkel::kernels::sse2 {

// The bytes of `block` through the ASCII lowercase rule (text::detail::
// lower_ascii, 16 at a time): bytes from 0x80 on are negative to the signed
// comparisons, so only the ASCII capitals change.
inline __m128i lower_ascii_bytes(__m128i block) noexcept {
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8('A' - 1)),
                                        _mm_cmplt_epi8(block, _mm_set1_epi8('Z' + 1)));
    return _mm_or_si128(block, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}

// Every lane set to `value`, `Unit` wide.
template <class Unit>
inline __m128i lanes_of(char32_t value) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm_set1_epi8(static_cast<char>(value));
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm_set1_epi16(static_cast<short>(value));
    } else {
        return _mm_set1_epi32(static_cast<int>(value));
    }
}

// The lanes of `a` and `b` compared for equality, `Unit` wide.
template <class Unit>
inline __m128i lanes_equal(__m128i a, __m128i b) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm_cmpeq_epi8(a, b);
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm_cmpeq_epi16(a, b);
    } else {
        return _mm_cmpeq_epi32(a, b);
    }
}

// 16-byte vectors for the code written over any set's (generic/scan_units.hpp).
struct UnitLanes {
    using Vector = __m128i;
    static constexpr std::size_t BYTES = 16;

    template <class Unit>
    static Vector splat(char32_t value) noexcept {
        return lanes_of<Unit>(value);
    }
    template <class Unit>
    static Vector equal(Vector a, Vector b) noexcept {
        return lanes_equal<Unit>(a, b);
    }
    template <class Unit>
    static Vector load(const Unit* units) noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
    }
    static Vector zero() noexcept { return _mm_setzero_si128(); }
    static Vector either(Vector a, Vector b) noexcept { return _mm_or_si128(a, b); }
    static Vector both(Vector a, Vector b) noexcept { return _mm_and_si128(a, b); }
    // Whether any bit is set.
    static bool any(Vector v) noexcept { return _mm_movemask_epi8(v) != 0; }
    // The top bit of each byte.
    static std::uint32_t top_bits(Vector v) noexcept {
        return static_cast<std::uint32_t>(_mm_movemask_epi8(v));
    }
};

}  // namespace parvenkel::kernels::sse2
#endif
