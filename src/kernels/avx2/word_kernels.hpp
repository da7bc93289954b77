// The AVX2 kernels of the word walker: 64 units classified 32 at a time,
// and the letters of a short piece gathered by byte shuffles. Included only
// inside the AVX2 target region (avx2/word_walker.cpp).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>

#include "kernels/word_classes.hpp"
#include "text/kernel_ranges.hpp"

namespace parvenkel::kernels::avx2 {

template <class Unit>
inline __m256i narrow32(const Unit* units) noexcept {
    const auto* p = reinterpret_cast<const __m256i*>(units);
    if constexpr (sizeof(Unit) == 1) {
        return _mm256_loadu_si256(p);
    } else if constexpr (sizeof(Unit) == 2) {
        // Any unit from 0x80 becomes 0x80: the minimum, then an exact pack.
        const __m256i cap = _mm256_set1_epi16(0x80);
        const __m256i a = _mm256_min_epu16(_mm256_loadu_si256(p), cap);
        const __m256i b = _mm256_min_epu16(_mm256_loadu_si256(p + 1), cap);
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8);
    } else {
        const __m256i cap = _mm256_set1_epi32(0x80);
        const __m256i a = _mm256_min_epu32(_mm256_loadu_si256(p), cap);
        const __m256i b = _mm256_min_epu32(_mm256_loadu_si256(p + 1), cap);
        const __m256i c = _mm256_min_epu32(_mm256_loadu_si256(p + 2), cap);
        const __m256i d = _mm256_min_epu32(_mm256_loadu_si256(p + 3), cap);
        const __m256i ab = _mm256_permute4x64_epi64(_mm256_packus_epi32(a, b), 0xD8);
        const __m256i cd = _mm256_permute4x64_epi64(_mm256_packus_epi32(c, d), 0xD8);
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(ab, cd), 0xD8);
    }
}

// 32 bytes: the vector generic/block_classes.hpp is written over.
struct Bytes {
    static constexpr unsigned SIZE = 32;
    __m256i v;

    static Bytes splat(int value) noexcept { return {_mm256_set1_epi8(static_cast<char>(value))}; }
    // 32 units as 32 bytes (narrow32).
    template <class Unit>
    static Bytes narrow(const Unit* units) noexcept {
        return {narrow32(units)};
    }
    static Bytes equal(Bytes a, Bytes b) noexcept { return {_mm256_cmpeq_epi8(a.v, b.v)}; }
    static Bytes min(Bytes a, Bytes b) noexcept { return {_mm256_min_epu8(a.v, b.v)}; }
    static Bytes sub(Bytes a, Bytes b) noexcept { return {_mm256_sub_epi8(a.v, b.v)}; }
    // b and not a.
    static Bytes and_not(Bytes a, Bytes b) noexcept { return {_mm256_andnot_si256(a.v, b.v)}; }
    // To 32 bytes aligned to 32.
    void store(unsigned char* out) const noexcept {
        _mm256_store_si256(reinterpret_cast<__m256i*>(out), v);
    }
    // The top bit of each byte.
    std::uint64_t mask() const noexcept {
        return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
    }
};

inline Bytes operator|(Bytes a, Bytes b) noexcept { return {_mm256_or_si256(a.v, b.v)}; }
inline Bytes operator&(Bytes a, Bytes b) noexcept { return {_mm256_and_si256(a.v, b.v)}; }

// AVX2's walker of four-byte units is faster with classify_block out of line
// (1.8 % fewer instructions), as the compiler leaves it without the hint.
#define PARVENKEL_BLOCK_INLINE
#include "kernels/generic/block_classes.hpp"

inline __m256i lanes16(int value) noexcept { return _mm256_set1_epi16(static_cast<short>(value)); }

// Lanes of 16 bits with lo <= x <= hi, as unsigned values.
inline __m256i in16(__m256i v, int lo, int hi) noexcept {
    const __m256i offset = _mm256_sub_epi16(v, lanes16(lo));
    return _mm256_cmpeq_epi16(_mm256_subs_epu16(offset, lanes16(hi - lo)), _mm256_setzero_si256());
}

inline __m256i is16(__m256i v, int unit) noexcept { return _mm256_cmpeq_epi16(v, lanes16(unit)); }

inline __m256i or16(__m256i a, __m256i b) noexcept { return _mm256_or_si256(a, b); }

// classify_two_block adds 0x20 or 0x50 to the units whose lowercase forms
// are those offsets away, and nothing to the others.
static_assert(
    [] {
        for (const auto& range : text::tables::TWO_BYTE_LETTERS) {
            if (range.offset != 0 && range.offset != 0x20 && range.offset != 0x50) {
                return false;
            }
        }
        return true;
    }(),
    "a letter of two bytes lowercased by another offset");

// classify_two_scalar for 64 units of one or two bytes, 16 at a time.
template <class Unit>
std::uint64_t classify_two_block(const Unit* units, std::uint16_t* form2) noexcept {
    std::uint64_t two = 0;
    for (unsigned part = 0; part < 4; ++part) {
        __m256i v;
        if constexpr (sizeof(Unit) == 1) {
            v = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 16 * part)));
        } else {
            v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + 16 * part));
        }
        // The lanes in the ranges of TWO_BYTE_LETTERS whose lowercase form is
        // `offset` away.
        const auto offset_by = [&](std::uint32_t offset) PARVENKEL_AVX2_LAMBDA {
            constexpr auto& RANGES = text::tables::TWO_BYTE_LETTERS;
            return [&]<std::size_t... k>(std::index_sequence<k...>) PARVENKEL_AVX2_LAMBDA {
                __m256i hit = _mm256_setzero_si256();
                ((hit = RANGES[k].offset == offset
                            ? or16(hit, in16(v, static_cast<int>(RANGES[k].first),
                                             static_cast<int>(RANGES[k].last)))
                            : hit),
                 ...);
                return hit;
            }
            (std::make_index_sequence<std::size(RANGES)>{});
        };
        const __m256i up_20 = offset_by(0x20);
        const __m256i up_50 = offset_by(0x50);
        const __m256i letters = or16(or16(up_20, up_50), offset_by(0));
        const __m256i lowered = _mm256_add_epi16(v, or16(_mm256_and_si256(up_20, lanes16(0x20)),
                                                         _mm256_and_si256(up_50, lanes16(0x50))));
        const __m256i lead = or16(_mm256_srli_epi16(lowered, 6), lanes16(0xC0));
        const __m256i trail = or16(_mm256_and_si256(lowered, lanes16(0x3F)), lanes16(0x80));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(form2 + 16 * part),
                            or16(lead, _mm256_slli_epi16(trail, 8)));
        // One bit a lane: packed to bytes within each half, lanes 0-7 give
        // bits 0-7 of the byte mask and lanes 8-15 bits 16-23.
        const auto bytes = static_cast<std::uint32_t>(
            _mm256_movemask_epi8(_mm256_packs_epi16(letters, _mm256_setzero_si256())));
        const std::uint64_t lanes = (bytes & 0xFF) | (bytes >> 8 & 0xFF00);
        two |= lanes << (16 * part);
    }
    return two;
}

inline __m256i bytes8(int value) noexcept { return _mm256_set1_epi8(static_cast<char>(value)); }

// classify_three_scalar for 64 units of two or four bytes, 32 at a time as
// their high and low bytes: the ranges of the classes are nearly all whole
// pages of 256 code points, told apart by the high byte alone. Units of four
// bytes are narrowed with saturation: those past U+FFFF become U+FFFF, which
// is in neither class.
template <class Unit>
ThreeMasks classify_three_block(const Unit* units, std::uint32_t* form3,
                                std::uint8_t* size3) noexcept {
    static_assert(sizeof(Unit) >= 2);
    const __m256i zero = _mm256_setzero_si256();
    ThreeMasks masks{0, 0};
    for (unsigned part = 0; part < 2; ++part) {
        __m256i a;  // units 0-15 of the part, 16 bits a lane
        __m256i b;  // units 16-31
        const auto* p = reinterpret_cast<const __m256i*>(units + 32 * part);
        if constexpr (sizeof(Unit) == 2) {
            a = _mm256_loadu_si256(p);
            b = _mm256_loadu_si256(p + 1);
        } else {
            a = _mm256_permute4x64_epi64(
                _mm256_packus_epi32(_mm256_loadu_si256(p), _mm256_loadu_si256(p + 1)), 0xD8);
            b = _mm256_permute4x64_epi64(
                _mm256_packus_epi32(_mm256_loadu_si256(p + 2), _mm256_loadu_si256(p + 3)), 0xD8);
        }
        const __m256i high = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_srli_epi16(a, 8), _mm256_srli_epi16(b, 8)), 0xD8);
        const __m256i low =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_and_si256(a, lanes16(0xFF)),
                                                         _mm256_and_si256(b, lanes16(0xFF))),
                                     0xD8);
        const auto [three_bytes, skip_bytes] = three_classes(Bytes{high}, Bytes{low});
        const __m256i three = three_bytes.v;
        const __m256i skip = skip_bytes.v;
        const __m256i folded = _mm256_or_si256(low, bytes8(0x20));
        const __m256i letter = (is8(Bytes{high}, 0) & in8(Bytes{folded}, 'a', 'z')).v;
        // The forms' bytes: lead (or the ASCII letter), middle and last,
        // interleaved into 32-bit lanes; unpacking works within each half,
        // so the quarters are put back in order before the stores.
        const __m256i lead = _mm256_or_si256(
            _mm256_and_si256(_mm256_srli_epi16(high, 4), bytes8(0x0F)), bytes8(0xE0));
        const __m256i middle = _mm256_or_si256(
            _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(high, bytes8(0x0F)), 2),
                            _mm256_and_si256(_mm256_srli_epi16(low, 6), bytes8(0x03))),
            bytes8(0x80));
        const __m256i last = _mm256_or_si256(_mm256_and_si256(low, bytes8(0x3F)), bytes8(0x80));
        const __m256i first = _mm256_blendv_epi8(folded, lead, three);
        const __m256i pairs_lo = _mm256_unpacklo_epi8(first, middle);
        const __m256i pairs_hi = _mm256_unpackhi_epi8(first, middle);
        const __m256i lasts_lo = _mm256_unpacklo_epi8(last, zero);
        const __m256i lasts_hi = _mm256_unpackhi_epi8(last, zero);
        const __m256i q0 = _mm256_unpacklo_epi16(pairs_lo, lasts_lo);  // units 0-3, 16-19
        const __m256i q1 = _mm256_unpackhi_epi16(pairs_lo, lasts_lo);  // 4-7, 20-23
        const __m256i q2 = _mm256_unpacklo_epi16(pairs_hi, lasts_hi);  // 8-11, 24-27
        const __m256i q3 = _mm256_unpackhi_epi16(pairs_hi, lasts_hi);  // 12-15, 28-31
        auto* out = reinterpret_cast<__m256i*>(form3 + 32 * part);
        _mm256_storeu_si256(out, _mm256_permute2x128_si256(q0, q1, 0x20));
        _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(q2, q3, 0x20));
        _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(q0, q1, 0x31));
        _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(q2, q3, 0x31));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(size3 + 32 * part),
                            _mm256_or_si256(_mm256_and_si256(three, bytes8(3)),
                                            _mm256_and_si256(letter, bytes8(1))));
        const unsigned shift = 32 * part;
        masks.three |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(three))}
                       << shift;
        masks.skip |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(skip))}
                      << shift;
    }
    return masks;
}

// For a mask of 8 bytes, the shuffle that moves the bytes kept to the front.
constexpr auto COMPRESS_8 = [] {
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned to = 0;
        for (unsigned from = 0; from < 8; ++from) {
            if ((mask >> from & 1) != 0) {
                table[mask][to++] = static_cast<std::uint8_t>(from);
            }
        }
        for (; to < 16; ++to) {
            table[mask][to] = 0x80;
        }
    }
    return table;
}();

// Bit k of a byte moved to bit 2k.
constexpr auto SPREAD_8 = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            table[mask] = static_cast<std::uint16_t>(table[mask] | (mask >> bit & 1) << (2 * bit));
        }
    }
    return table;
}();

// The letters of a piece whose letters all lie in its first 16 units, in
// order: ASCII ones (`letters`) from `low`, those of two bytes (`two`) from
// `form2`, written at `out` (room for 40 bytes) without a branch per letter:
// each unit becomes a cell of two bytes, and the bytes kept are moved
// together 8 at a time by byte shuffles. Returns the bytes written.
std::size_t gather_letters(const unsigned char* low, const std::uint16_t* form2, unsigned letters,
                           unsigned two, char* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low));
    const __m128i bit = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
    const auto wide = [&](unsigned half) {
        const __m128i bits = _mm_set1_epi16(static_cast<short>(two >> (8 * half) & 0xFF));
        return _mm_cmpeq_epi16(_mm_and_si128(bits, bit), bit);
    };
    const __m128i cells[2] = {
        _mm_blendv_epi8(_mm_unpacklo_epi8(bytes, zero),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(form2)), wide(0)),
        _mm_blendv_epi8(_mm_unpackhi_epi8(bytes, zero),
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(form2 + 8)), wide(1)),
    };
    // Byte 2k of the cells is kept for a letter of either kind, byte 2k + 1
    // for a letter of two bytes.
    const unsigned all = letters | two;
    const std::uint32_t keep =
        static_cast<std::uint32_t>(SPREAD_8[all & 0xFF] | SPREAD_8[two & 0xFF] << 1) |
        static_cast<std::uint32_t>(SPREAD_8[all >> 8 & 0xFF] | SPREAD_8[two >> 8 & 0xFF] << 1)
            << 16;
    char* end = out;
    for (unsigned group = 0; group < 4; ++group) {
        const __m128i cell =
            group % 2 == 0 ? cells[group / 2] : _mm_srli_si128(cells[group / 2], 8);
        const unsigned mask = keep >> (8 * group) & 0xFF;
        const __m128i order =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(COMPRESS_8[mask].data()));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(end), _mm_shuffle_epi8(cell, order));
        end += __builtin_popcount(mask);
    }
    return static_cast<std::size_t>(end - out);
}

// The walker gathers the letters of short pieces with gather_letters.
inline constexpr bool GATHERS = true;

// The exact path's vector runs of letters are SSE2's.
using sse2::letter_runs;
inline constexpr bool LETTER_RUNS = true;

}  // namespace parvenkel::kernels::avx2
