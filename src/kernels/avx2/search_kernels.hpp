// The AVX2 kernels of the searches: candidate positions 64 bytes a step
// with 32-byte vectors. Included only inside the AVX2 target region.
#pragma once

namespace parvenkel::kernels::avx2 {

// sse2::scan_bytes with 32-byte vectors, sixty-four positions a step; the
// positions left over go to SSE2's steps of sixteen.
template <bool FOLD, class Check>
Search scan_bytes(const unsigned char* hay, std::size_t n, const unsigned char* pattern,
                  std::size_t m, BytePair pair, Check& check, std::size_t& next) noexcept {
    const std::size_t span = m - 1;
    std::size_t i = next;
    const unsigned char one = pattern[pair.first];
    const unsigned char two = pattern[pair.second];
    const __m256i first = _mm256_set1_epi8(static_cast<char>(one));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(two));
    const __m256i first_fold = _mm256_set1_epi8(FOLD && is_ascii_lower_letter(one) ? 0x20 : 0);
    const __m256i last_fold = _mm256_set1_epi8(FOLD && is_ascii_lower_letter(two) ? 0x20 : 0);
    for (; i + span + 64 <= n; i += 64) {
        const auto* at = reinterpret_cast<const __m256i*>(hay + i + pair.first);
        const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + pair.second);
        const __m256i a0 = _mm256_loadu_si256(at);
        const __m256i a1 = _mm256_loadu_si256(at + 1);
        const __m256i b0 = _mm256_loadu_si256(shifted);
        const __m256i b1 = _mm256_loadu_si256(shifted + 1);
        if (FOLD && _mm256_movemask_epi8(_mm256_or_si256(a0, a1)) != 0) {
            next = i;
            return Search::UNDECIDED;
        }
        const __m256i hit0 =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a0, first_fold), first),
                             _mm256_cmpeq_epi8(_mm256_or_si256(b0, last_fold), last));
        const __m256i hit1 =
            _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a1, first_fold), first),
                             _mm256_cmpeq_epi8(_mm256_or_si256(b1, last_fold), last));
        const std::uint64_t mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(hit0)) |
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hit1)))
                << 32;
        if (mask != 0) {
            if (const Search found = check(i, mask); found != Search::ABSENT) {
                next = i;
                return found;
            }
        }
    }
    next = i;
    return sse2::scan_bytes<FOLD>(hay, n, pattern, m, pair, check, next);
}

// 32-byte vectors for the code written over any set's
// (generic/scan_units.hpp): sse2::UnitLanes twice as wide.
struct UnitLanes {
    using Vector = __m256i;
    static constexpr std::size_t BYTES = 32;

    template <class Unit>
    static Vector splat(char32_t value) noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return _mm256_set1_epi8(static_cast<char>(value));
        } else if constexpr (sizeof(Unit) == 2) {
            return _mm256_set1_epi16(static_cast<short>(value));
        } else {
            return _mm256_set1_epi32(static_cast<int>(value));
        }
    }
    template <class Unit>
    static Vector equal(Vector a, Vector b) noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return _mm256_cmpeq_epi8(a, b);
        } else if constexpr (sizeof(Unit) == 2) {
            return _mm256_cmpeq_epi16(a, b);
        } else {
            return _mm256_cmpeq_epi32(a, b);
        }
    }
    template <class Unit>
    static Vector load(const Unit* units) noexcept {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units));
    }
    static Vector zero() noexcept { return _mm256_setzero_si256(); }
    static Vector either(Vector a, Vector b) noexcept { return _mm256_or_si256(a, b); }
    static Vector both(Vector a, Vector b) noexcept { return _mm256_and_si256(a, b); }
    // Whether any bit is set.
    static bool any(Vector v) noexcept { return _mm256_testz_si256(v, v) == 0; }
    // The top bit of each byte.
    static std::uint32_t top_bits(Vector v) noexcept {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
    }
};

// verify_candidates (search_parts.hpp) compiled in the AVX2 region, so that
// the verifier, an AVX2 function too, is inlined into it.
template <class Unit, class Verify>
[[gnu::noinline]] Search verify_candidates(std::uint64_t mask, std::size_t at,
                                           Verify& verify) noexcept {
    return first_candidate<Unit>(mask, at, verify);
}

// Lowercasing and the two-way search's unit search are SSE2's.
using sse2::FindUnit;
using sse2::lower_ascii_lanes;

}  // namespace parvenkel::kernels::avx2

// scan_units, over UnitLanes.
#include "kernels/generic/scan_units.hpp"
