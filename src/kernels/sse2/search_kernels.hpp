// The SSE2 kernels of the searches: candidate positions 64 bytes a step,
// and ASCII lowercased a vector at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "kernels/isa.hpp"
#include "kernels/search_parts.hpp"
#include "text/two_way.hpp"

#if defined(PARVENKEL_SSE2)
#include "kernels/sse2/begin.hpp"
#include "kernels/sse2/lanes.hpp"

namespace parvenkel::kernels::sse2 {

// The candidates of ByteSearch (generic/searches.hpp), sixty-four
// positions a step while the text lasts, then sixteen: the positions whose
// bytes at the pair's two offsets match the needle's are handed to `check`
// (start and mask), which verifies them. With FOLD the pair is the first
// and last bytes, so that the bytes read at the first offset, tested for
// any beyond ASCII, are all of the text's. Moves `next` past the positions it has ruled
// out. The loop keeps its position and the text's bounds in locals, which
// check() cannot touch.
template <bool FOLD, class Check>
Search scan_bytes(const unsigned char* hay, std::size_t n, const unsigned char* pattern,
                  std::size_t m, BytePair pair, Check& check, std::size_t& next) noexcept {
    const std::size_t span = m - 1;
    const std::size_t alignments = n - span;
    std::size_t i = next;
    const auto fold = [](unsigned char byte) {
        return _mm_set1_epi8(FOLD && is_ascii_lower_letter(byte) ? 0x20 : 0);
    };
    const auto load16 = [hay](std::size_t at) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + at));
    };
    const __m128i first = _mm_set1_epi8(static_cast<char>(pattern[pair.first]));
    const __m128i last = _mm_set1_epi8(static_cast<char>(pattern[pair.second]));
    const __m128i first_fold = fold(pattern[pair.first]);
    const __m128i last_fold = fold(pattern[pair.second]);
    for (std::size_t step : {std::size_t{64}, std::size_t{16}}) {
        // Steps of 64 while whole ones are left; the rest in steps of
        // 16, the last of them overlapping the one before.
        while (i < alignments && (step == 16 || alignments - i >= step)) {
            const auto [start, keep] = next_step(i, alignments, step, 1);
            if (keep == 0) {
                break;
            }
            __m128i non_ascii = _mm_setzero_si128();
            std::uint64_t mask = 0;
            for (std::size_t block = 0; block < step; block += 16) {
                const __m128i a = load16(start + block + pair.first);
                const __m128i b = load16(start + block + pair.second);
                non_ascii = _mm_or_si128(non_ascii, _mm_or_si128(a, b));
                const __m128i hit =
                    _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, first_fold), first),
                                  _mm_cmpeq_epi8(_mm_or_si128(b, last_fold), last));
                mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                        << block;
            }
            if (FOLD && _mm_movemask_epi8(non_ascii) != 0) {
                next = start;
                return Search::UNDECIDED;
            }
            if (const Search found = check(start, mask & keep); found != Search::ABSENT) {
                next = start;
                return found;
            }
            i = start + step;
        }
    }
    next = i;
    return Search::ABSENT;
}

// Lowercases units from `k` into `out` a vector of ASCII units at once
// while a whole vector is left before `end`: A-Z take 0x20, compared a byte
// at a time (the upper bytes of wider units are zero, never a capital). A
// vector with a unit beyond ASCII goes to `lower` (unit index, output) unit
// by unit. Returns the end of what it wrote; `k` is where it stopped.
template <class Unit, class Lower>
Unit* lower_ascii_lanes(const Unit* units, std::size_t& k, std::size_t end, Unit* out,
                        Lower& lower) noexcept {
    constexpr std::size_t LANES = 16 / sizeof(Unit);
    const __m128i above_ascii = lanes_of<Unit>(~char32_t{0x7F});
    while (end - k >= LANES) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + k));
        const __m128i ascii = _mm_cmpeq_epi8(_mm_and_si128(v, above_ascii), _mm_setzero_si128());
        if (_mm_movemask_epi8(ascii) != 0xFFFF) {
            for (const std::size_t stop = k + LANES; k < stop; ++k) {
                out = lower(k, out);
            }
            continue;
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lower_ascii_bytes(v));
        out += LANES;
        k += LANES;
    }
    return out;
}

// text::FindUnitScalar with 16-byte vectors for units wider than a byte.
struct FindUnit {
    template <class Char>
    static const Char* find(const Char* first, const Char* last, Char value) noexcept {
        if constexpr (sizeof(Char) > 1) {
            constexpr std::ptrdiff_t LANES = 16 / sizeof(Char);
            const __m128i wanted = lanes_of<Char>(static_cast<char32_t>(value));
            for (; last - first >= LANES; first += LANES) {
                const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first));
                const auto hits =
                    static_cast<unsigned>(_mm_movemask_epi8(lanes_equal<Char>(units, wanted)));
                if (hits != 0) {
                    return first + static_cast<unsigned>(__builtin_ctz(hits)) / sizeof(Char);
                }
            }
        }
        return text::FindUnitScalar::find(first, last, value);
    }
};

}  // namespace parvenkel::kernels::sse2

// scan_units, over UnitLanes.
#include "kernels/generic/scan_units.hpp"
#include "kernels/sse2/end.hpp"
#endif
