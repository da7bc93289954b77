// The AVX2 kernels of the searches: candidate positions 64 bytes a step
// with 32-byte vectors. Included only inside the AVX2 target region.
#pragma once

namespace parvenkel::kernels::avx2 {

// sse2::scan_bytes with 32-byte vectors, sixty-four positions a step; the
// positions left over go to SSE2's steps of sixteen.
template <bool FOLD, class Check>
Search scan_bytes(const unsigned char* hay, std::size_t n, const unsigned char* pattern,
                  std::size_t m, Check& check, std::size_t& next) noexcept {
    const std::size_t span = m - 1;
    std::size_t i = next;
    const __m256i first = _mm256_set1_epi8(static_cast<char>(pattern[0]));
    const __m256i last = _mm256_set1_epi8(static_cast<char>(pattern[m - 1]));
    const __m256i first_fold =
        _mm256_set1_epi8(FOLD && is_ascii_lower_letter(pattern[0]) ? 0x20 : 0);
    const __m256i last_fold =
        _mm256_set1_epi8(FOLD && is_ascii_lower_letter(pattern[m - 1]) ? 0x20 : 0);
    for (; i + span + 64 <= n; i += 64) {
        const auto* at = reinterpret_cast<const __m256i*>(hay + i);
        const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + span);
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
    return sse2::scan_bytes<FOLD>(hay, n, pattern, m, check, next);
}

// The helpers of scan_units: sse2/lanes.hpp with 32-byte vectors.
template <class Unit>
inline __m256i lanes256_of(char32_t value) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm256_set1_epi8(static_cast<char>(value));
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm256_set1_epi16(static_cast<short>(value));
    } else {
        return _mm256_set1_epi32(static_cast<int>(value));
    }
}

template <class Unit>
inline __m256i lanes256_equal(__m256i a, __m256i b) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm256_cmpeq_epi8(a, b);
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm256_cmpeq_epi16(a, b);
    } else {
        return _mm256_cmpeq_epi32(a, b);
    }
}

template <class Unit, bool OTHER>
inline __m256i candidates256(__m256i v, __m256i fold, __m256i value, __m256i other) noexcept {
    const __m256i hit = lanes256_equal<Unit>(_mm256_or_si256(v, fold), value);
    return OTHER ? _mm256_or_si256(hit, lanes256_equal<Unit>(v, other)) : hit;
}

// verify_candidates (search_parts.hpp) compiled in the AVX2 region, so that
// the verifier, an AVX2 function too, is inlined into it.
template <class Unit, class Verify>
[[gnu::noinline]] Search verify_candidates(std::uint64_t mask, std::size_t at,
                                           Verify& verify) noexcept {
    return first_candidate<Unit>(mask, at, verify);
}

template <class Unit, bool CHECK, bool OTHER, class Verify>
Search scan_units(const Unit* hay, std::size_t n, std::size_t m, const UnitFilter& filter,
                  Verify& verify, std::size_t& next) noexcept {
    constexpr std::size_t LANES = 32 / sizeof(Unit);
    constexpr std::size_t STEP = 2 * LANES;
    constexpr bool TROUBLE = sizeof(Unit) > 1;
    const __m256i fold0 = lanes256_of<Unit>(filter.first.fold);
    const __m256i value0 = lanes256_of<Unit>(filter.first.value);
    const __m256i other0 = lanes256_of<Unit>(filter.first.other);
    const __m256i fold1 = lanes256_of<Unit>(filter.at_second.fold);
    const __m256i value1 = lanes256_of<Unit>(filter.at_second.value);
    const __m256i other1 = lanes256_of<Unit>(filter.at_second.other);
    const __m256i expands = lanes256_of<Unit>(EXPANDS);
    const __m256i high = lanes256_of<Unit>(0xFFFFF800);
    const __m256i surrogate = lanes256_of<Unit>(0xD800);
    const std::size_t second = filter.second;
    std::size_t i = next;
    for (; i + m - 1 + STEP <= n; i += STEP) {
        const auto* at = reinterpret_cast<const __m256i*>(hay + i);
        const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + second);
        const __m256i a0 = _mm256_loadu_si256(at);
        const __m256i a1 = _mm256_loadu_si256(at + 1);
        if constexpr (TROUBLE) {
            __m256i trouble = _mm256_or_si256(lanes256_equal<Unit>(a0, expands),
                                              lanes256_equal<Unit>(a1, expands));
            if constexpr (CHECK) {
                trouble = _mm256_or_si256(
                    trouble,
                    _mm256_or_si256(lanes256_equal<Unit>(_mm256_and_si256(a0, high), surrogate),
                                    lanes256_equal<Unit>(_mm256_and_si256(a1, high), surrogate)));
            }
            if (!_mm256_testz_si256(trouble, trouble)) {
                next = i;
                return troubled<Unit, CHECK>(hay + i, STEP);
            }
        }
        const __m256i b0 = _mm256_loadu_si256(shifted);
        const __m256i b1 = _mm256_loadu_si256(shifted + 1);
        const __m256i hit0 =
            _mm256_and_si256(candidates256<Unit, OTHER>(a0, fold0, value0, other0),
                             candidates256<Unit, OTHER>(b0, fold1, value1, other1));
        const __m256i hit1 =
            _mm256_and_si256(candidates256<Unit, OTHER>(a1, fold0, value0, other0),
                             candidates256<Unit, OTHER>(b1, fold1, value1, other1));
        const std::uint64_t mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(hit0)) |
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hit1)))
                << 32;
        if (const Search found =
                mask != 0 ? verify_candidates<Unit>(mask, i, verify) : Search::ABSENT;
            found != Search::ABSENT) {
            next = i;
            return found;
        }
    }
    next = i;
    return Search::ABSENT;
}

// Lowercasing and the two-way search's unit search are SSE2's.
using sse2::FindUnit;
using sse2::lower_ascii_lanes;

}  // namespace parvenkel::kernels::avx2
