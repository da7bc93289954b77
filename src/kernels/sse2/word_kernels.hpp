// The SSE2 kernels of the word walker: 64 units classified 16 at a time,
// and the vector runs of letters of the exact path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "kernels/isa.hpp"
#include "kernels/scalar/word_kernels.hpp"
#include "kernels/word_classes.hpp"
#include "text/kernel_ranges.hpp"

#if defined(PARVENKEL_SSE2)
#include "kernels/sse2/begin.hpp"

namespace parvenkel::kernels::sse2 {

// 16 units as 16 bytes: an ASCII unit as itself, any other as 0x80.
template <class Unit>
inline __m128i narrow16(const Unit* units) noexcept {
    const auto* p = reinterpret_cast<const __m128i*>(units);
    if constexpr (sizeof(Unit) == 1) {
        return _mm_loadu_si128(p);
    } else if constexpr (sizeof(Unit) == 2) {
        const auto cap = [](__m128i v) {
            const __m128i ascii = _mm_cmpeq_epi16(_mm_srli_epi16(v, 7), _mm_setzero_si128());
            return _mm_or_si128(_mm_and_si128(ascii, v),
                                _mm_andnot_si128(ascii, _mm_set1_epi16(0x80)));
        };
        return _mm_packus_epi16(cap(_mm_loadu_si128(p)), cap(_mm_loadu_si128(p + 1)));
    } else {
        const auto cap = [](__m128i v) {
            const __m128i ascii = _mm_cmpeq_epi32(_mm_srli_epi32(v, 7), _mm_setzero_si128());
            return _mm_or_si128(_mm_and_si128(ascii, v),
                                _mm_andnot_si128(ascii, _mm_set1_epi32(0x80)));
        };
        const __m128i a = _mm_packs_epi32(cap(_mm_loadu_si128(p)), cap(_mm_loadu_si128(p + 1)));
        const __m128i b = _mm_packs_epi32(cap(_mm_loadu_si128(p + 2)), cap(_mm_loadu_si128(p + 3)));
        return _mm_packus_epi16(a, b);
    }
}

// 16 bytes: the vector generic/block_classes.hpp is written over.
struct Bytes {
    static constexpr unsigned SIZE = 16;
    __m128i v;

    static Bytes splat(int value) noexcept { return {_mm_set1_epi8(static_cast<char>(value))}; }
    // 16 units as 16 bytes (narrow16).
    template <class Unit>
    static Bytes narrow(const Unit* units) noexcept {
        return {narrow16(units)};
    }
    static Bytes equal(Bytes a, Bytes b) noexcept { return {_mm_cmpeq_epi8(a.v, b.v)}; }
    static Bytes min(Bytes a, Bytes b) noexcept { return {_mm_min_epu8(a.v, b.v)}; }
    static Bytes sub(Bytes a, Bytes b) noexcept { return {_mm_sub_epi8(a.v, b.v)}; }
    // b and not a.
    static Bytes and_not(Bytes a, Bytes b) noexcept { return {_mm_andnot_si128(a.v, b.v)}; }
    // To 16 bytes aligned to 16.
    void store(unsigned char* out) const noexcept {
        _mm_store_si128(reinterpret_cast<__m128i*>(out), v);
    }
    // The top bit of each byte.
    std::uint64_t mask() const noexcept { return static_cast<std::uint16_t>(_mm_movemask_epi8(v)); }
};

inline Bytes operator|(Bytes a, Bytes b) noexcept { return {_mm_or_si128(a.v, b.v)}; }
inline Bytes operator&(Bytes a, Bytes b) noexcept { return {_mm_and_si128(a.v, b.v)}; }

// SSE2's walker is faster with classify_block inlined at every width.
#define PARVENKEL_BLOCK_INLINE inline
#include "kernels/generic/block_classes.hpp"

// classify_three_scalar for 64 units of two bytes, 16 at a time as their
// high and low bytes; classify_three_avx2 says how.
inline ThreeMasks classify_three_sse2(const char16_t* units, std::uint32_t* form3,
                                      std::uint8_t* size3) noexcept {
    const auto set8 = [](int value) { return _mm_set1_epi8(static_cast<char>(value)); };
    const __m128i zero = _mm_setzero_si128();
    const __m128i byte = _mm_set1_epi16(0xFF);
    ThreeMasks masks{0, 0};
    for (unsigned part = 0; part < 4; ++part) {
        const auto* p = reinterpret_cast<const __m128i*>(units + 16 * part);
        const __m128i a = _mm_loadu_si128(p);
        const __m128i b = _mm_loadu_si128(p + 1);
        const __m128i high = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
        const __m128i low = _mm_packus_epi16(_mm_and_si128(a, byte), _mm_and_si128(b, byte));
        const auto [three_bytes, skip_bytes] = three_classes(Bytes{high}, Bytes{low});
        const __m128i three = three_bytes.v;
        const __m128i skip = skip_bytes.v;
        const __m128i folded = _mm_or_si128(low, set8(0x20));
        const __m128i letter = (is8(Bytes{high}, 0) & in8(Bytes{folded}, 'a', 'z')).v;
        const __m128i lead =
            _mm_or_si128(_mm_and_si128(_mm_srli_epi16(high, 4), set8(0x0F)), set8(0xE0));
        const __m128i middle =
            _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(high, set8(0x0F)), 2),
                                      _mm_and_si128(_mm_srli_epi16(low, 6), set8(0x03))),
                         set8(0x80));
        const __m128i last = _mm_or_si128(_mm_and_si128(low, set8(0x3F)), set8(0x80));
        const __m128i first =
            _mm_or_si128(_mm_and_si128(three, lead), _mm_andnot_si128(three, folded));
        const __m128i pairs_lo = _mm_unpacklo_epi8(first, middle);
        const __m128i pairs_hi = _mm_unpackhi_epi8(first, middle);
        const __m128i lasts_lo = _mm_unpacklo_epi8(last, zero);
        const __m128i lasts_hi = _mm_unpackhi_epi8(last, zero);
        auto* out = reinterpret_cast<__m128i*>(form3 + 16 * part);
        _mm_storeu_si128(out, _mm_unpacklo_epi16(pairs_lo, lasts_lo));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(pairs_lo, lasts_lo));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(pairs_hi, lasts_hi));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(pairs_hi, lasts_hi));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(size3 + 16 * part),
            _mm_or_si128(_mm_and_si128(three, set8(3)), _mm_and_si128(letter, set8(1))));
        const unsigned shift = 16 * part;
        masks.three |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(three))} << shift;
        masks.skip |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(skip))} << shift;
    }
    return masks;
}

// Takes the leading run, in the 8 units at `units`, of characters whose
// part in a word vector arithmetic gives, classified by range compares:
//
//   * kana, CJK ideographs and Hangul syllables: three bytes, as they
//     are (Alphabetic, their own lowercase form);
//   * the letters of Latin-1, whose case mapping is a fixed offset: two
//     bytes (Greek and Cyrillic words take the block scanner's path for
//     two-byte letters);
//   * ASCII letters: one byte, lowercased;
//   * ASCII characters that are neither letters nor White_Space, and
//     common CJK and general punctuation: nothing (not Alphabetic).
//
// Writes the forms at `out`, which has room for 32 bytes, moves it past
// them and returns how many units it took: the run ends before any
// other character (White_Space, U+03A3, whose form depends on the text,
// and every rarer one). tests/cpp/test_keyword_paths.cpp checks every
// code unit against the exact path.
enum class Script { LATIN, CJK };

template <Script script, class Unit>
std::size_t runs_of(const Unit* units, char*& out) noexcept {
    constexpr bool latin = script == Script::LATIN;
    constexpr bool cjk = script == Script::CJK;
    __m128i v;
    if constexpr (sizeof(Unit) == 1) {
        v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(units)),
                              _mm_setzero_si128());
    } else {
        static_assert(sizeof(Unit) == 2);
        v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
    }
    // Lanes with lo <= unit <= hi, unsigned.
    const auto in = [v](int lo, int hi) {
        const __m128i offset = _mm_sub_epi16(v, _mm_set1_epi16(static_cast<short>(lo)));
        return _mm_cmpeq_epi16(_mm_subs_epu16(offset, _mm_set1_epi16(static_cast<short>(hi - lo))),
                               _mm_setzero_si128());
    };
    const auto is = [v](int unit) {
        return _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(unit)));
    };
    const auto either = [](__m128i a, __m128i b) { return _mm_or_si128(a, b); };
    const auto pick = [](__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    };
    const auto set = [](int value) { return _mm_set1_epi16(static_cast<short>(value)); };
    const __m128i none = _mm_setzero_si128();
    // Lanes in any of the generated ranges (text/kernel_ranges.hpp).
    const auto any_in = [&]<class Range, std::size_t N>(const Range(&ranges)[N]) {
        return [&]<std::size_t... k>(std::index_sequence<k...>) {
            __m128i hit = none;
            ((hit = either(hit, ranges[k].first == ranges[k].last
                                    ? is(static_cast<int>(ranges[k].first))
                                    : in(static_cast<int>(ranges[k].first),
                                         static_cast<int>(ranges[k].last)))),
             ...);
            return hit;
        }
        (std::make_index_sequence<N>{});
    };
    namespace t = text::tables;

    const __m128i ascii_upper = in('A', 'Z');
    const __m128i ascii_letter = either(ascii_upper, in('a', 'z'));
    const __m128i ascii_space = either(in(0x09, 0x0D), is(' '));
    __m128i drop = _mm_andnot_si128(either(ascii_letter, ascii_space), in(0, 0x7F));
    if constexpr (sizeof(Unit) == 2) {
        drop = either(drop, any_in(t::RUN_SKIPPED_PUNCTUATION));  // dashes, quotes, bullets
    }
    // Letters of two bytes: those that map 0x20 up, or are their own
    // form.
    __m128i up_20 = none;
    __m128i two = none;
    __m128i three = none;
    if constexpr (latin) {
        // The letters of Latin-1 (the first four ranges of two bytes);
        // guillemets dropped.
        constexpr auto& LATIN1 = t::TWO_BYTE_LETTERS;
        static_assert(LATIN1[3].last == 0xFF && LATIN1[0].offset == 0x20 &&
                      LATIN1[1].offset == 0x20 && LATIN1[2].offset == 0 && LATIN1[3].offset == 0);
        const auto in_range = [&](const t::OffsetRange& r) {
            return in(static_cast<int>(r.first), static_cast<int>(r.last));
        };
        up_20 = either(in_range(LATIN1[0]), in_range(LATIN1[1]));
        two = either(up_20, either(in_range(LATIN1[2]), in_range(LATIN1[3])));
        drop = either(drop, any_in(t::RUN_SKIPPED_LATIN1));
    } else if constexpr (cjk) {
        // Kana (with the prolonged sound and iteration marks), CJK
        // ideographs, Hangul syllables; CJK and fullwidth punctuation.
        three = any_in(t::RUN_THREE_BYTE_LETTERS);
        drop = either(drop, any_in(t::RUN_SKIPPED_CJK));
    }
    const auto bits = [none](__m128i lanes) {
        return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lanes, none)));
    };
    const __m128i taken = either(either(ascii_letter, two), either(three, drop));
    const auto run = static_cast<std::size_t>(__builtin_ctz(~bits(taken)));
    if (run == 0) {
        return 0;
    }
    const __m128i lowered = _mm_add_epi16(v, _mm_and_si128(either(up_20, ascii_upper), set(0x20)));
    // The form of each unit in the low bytes of a 32-bit lane, and its
    // length.
    const __m128i low6 = either(_mm_and_si128(lowered, set(0x3F)), set(0x80));
    __m128i first_two;
    __m128i lengths = _mm_and_si128(ascii_letter, set(1));
    if constexpr (cjk) {
        const __m128i lead = either(_mm_srli_epi16(lowered, 12), set(0xE0));
        const __m128i mid6 =
            either(_mm_and_si128(_mm_srli_epi16(lowered, 6), set(0x3F)), set(0x80));
        first_two = pick(three, either(lead, _mm_slli_epi16(mid6, 8)), lowered);
        lengths = either(lengths, _mm_and_si128(three, set(3)));
    } else {
        const __m128i lead = either(_mm_srli_epi16(lowered, 6), set(0xC0));
        first_two = pick(two, either(lead, _mm_slli_epi16(low6, 8)), lowered);
        lengths = either(lengths, _mm_and_si128(two, set(2)));
    }
    if constexpr (latin) {
        if ((~bits(two) & ((1u << run) - 1)) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first_two);
            out += 2 * run;
            return run;
        }
    }
    alignas(16) std::uint32_t forms[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(forms), _mm_unpacklo_epi16(first_two, low6));
    _mm_store_si128(reinterpret_cast<__m128i*>(forms + 4), _mm_unpackhi_epi16(first_two, low6));
    // Lanes past the run count for nothing; all eight are written
    // without a branch.
    const __m128i lane = _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7);
    lengths = _mm_and_si128(lengths, _mm_cmplt_epi16(lane, set(static_cast<int>(run))));
    alignas(16) std::uint8_t length[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(length), _mm_packus_epi16(lengths, none));
    for (std::size_t k = 0; k < 8; ++k) {
        std::memcpy(out, forms + k, 4);
        out += length[k];
    }
    return run;
}

template <class Unit>
inline std::size_t letter_runs(const Unit* units, char*& out) noexcept {
    // The kernel is chosen by the first unit: a run seldom leaves its
    // script, and each kernel tests only the ranges of its own.
    const std::uint32_t first = units[0];
    if (first < 0x100) {
        if (first < 0x80 && ASCII_CLASSES[first] != LETTER) {
            return 0;  // a separator, or one character the scalar step drops
        }
        return runs_of<Script::LATIN>(units, out);
    }
    if constexpr (sizeof(Unit) == 2) {
        if (first >= 0x2010) {
            return runs_of<Script::CJK>(units, out);
        }
    }
    return 0;
}

// No SSE2 kernel for letters of two bytes: the scalar twin's.
using scalar::classify_two_block;

// SSE2 classifies letters of three bytes in text of two bytes a unit.
template <class Unit>
ThreeMasks classify_three_block(const Unit* units, std::uint32_t* form3,
                                std::uint8_t* size3) noexcept {
    if constexpr (sizeof(Unit) == 2) {
        return classify_three_sse2(reinterpret_cast<const char16_t*>(units), form3, size3);
    } else {
        return classify_three_scalar(units, 64, form3, size3);
    }
}

// Short pieces are gathered letter by letter.
using scalar::gather_letters;
using scalar::GATHERS;
inline constexpr bool LETTER_RUNS = true;

}  // namespace parvenkel::kernels::sse2

#include "kernels/sse2/end.hpp"
#endif
