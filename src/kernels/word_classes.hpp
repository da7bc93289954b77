// What the word walker (generic/word_walker.hpp) reads from a chunk of text,
// and the scalar kernels that classify it: the portable twins of the SSE2
// and AVX2 kernels, and the reference the sweeps compare them with. Plain
// C++, compiled alike for every instruction set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

#include "text/kernel_ranges.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels {

// Units a chunk, a multiple of the block of 64.
constexpr std::size_t CHUNK = 4096;
constexpr std::size_t CHUNK_WORDS = CHUNK / 64;

// What the classification of a chunk gives: bit k of word k / 64 for unit k.
struct Chunk {
    std::uint64_t space[CHUNK_WORDS + 2];    // ASCII White_Space (and past the end)
    std::uint64_t letter[CHUNK_WORDS + 2];   // A-Z, a-z
    std::uint64_t special[CHUNK_WORDS + 2];  // not ASCII
    std::uint64_t two[CHUNK_WORDS + 2];      // letters of two bytes (two_byte_form)
    // The ASCII lowercase form of each unit (any byte from 0x80 for the
    // others), with room for a 16-byte load past the last unit.
    alignas(64) unsigned char low[CHUNK + 64];
    // The lowercase UTF-8 form of each unit of `two`, in blocks that have
    // any (anything elsewhere), with room for a 32-byte load past the end.
    alignas(64) std::uint16_t form2[CHUNK + 32];
};

// What the classification of a chunk of two or four bytes a unit adds, for
// the letters of three bytes. In the blocks of `classified` (bit b for
// block b): the lowercase UTF-8 form of each letter of `three` and of ASCII
// in the low bytes of form3, and how many bytes it has in size3 (0 for
// every other unit).
struct ThreeChunk {
    std::uint64_t three[CHUNK_WORDS + 2];  // letters of three bytes (is_three_byte_letter)
    std::uint64_t skip[CHUNK_WORDS + 2];   // neither letters nor White_Space (is_skipped)
    std::uint64_t classified;
    alignas(64) std::uint32_t form3[CHUNK];
    alignas(64) std::uint8_t size3[CHUNK];
};

// Whether `unit` lies in one of `ranges` (text/kernel_ranges.hpp, from the
// generator): one unsigned compare a range, unrolled.
template <class Range, std::size_t N>
constexpr bool in_ranges(std::uint32_t unit, const Range (&ranges)[N]) noexcept {
    return [&]<std::size_t... k>(std::index_sequence<k...>) {
        return ((unit - ranges[k].first <= ranges[k].last - ranges[k].first) || ...);
    }
    (std::make_index_sequence<N>{});
}

// For each unit from the first of TWO_BYTE_LETTERS to the last, its
// lowercase offset plus one, or 0 when it is none of them.
inline constexpr char32_t TWO_BYTE_FIRST = text::tables::TWO_BYTE_LETTERS[0].first;
inline constexpr auto TWO_BYTE_OFFSETS = [] {
    constexpr auto& RANGES = text::tables::TWO_BYTE_LETTERS;
    std::array<std::uint8_t, RANGES[std::size(RANGES) - 1].last - TWO_BYTE_FIRST + 1> offsets{};
    for (const auto& range : RANGES) {
        for (char32_t unit = range.first; unit <= range.last; ++unit) {
            offsets[unit - TWO_BYTE_FIRST] = static_cast<std::uint8_t>(range.offset + 1);
        }
    }
    return offsets;
}();

// The letters of two UTF-8 bytes whose lowercase form is a fixed offset
// away (TWO_BYTE_LETTERS), which the block scanner takes without the
// Unicode tables. Writes the form's two bytes, in order, as one
// little-endian 16-bit value.
inline bool two_byte_form(std::uint32_t unit, std::uint16_t& form) noexcept {
    if (unit - TWO_BYTE_FIRST >= TWO_BYTE_OFFSETS.size()) {
        return false;
    }
    const std::uint32_t entry = TWO_BYTE_OFFSETS[unit - TWO_BYTE_FIRST];
    form = static_cast<std::uint16_t>(text::utf8_form2(unit + entry - 1));
    return entry != 0;
}

// The `two` mask of `count` units, and their forms at `form2`.
template <class Unit>
std::uint64_t classify_two_scalar(const Unit* units, std::size_t count,
                                  std::uint16_t* form2) noexcept {
    std::uint64_t two = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (two_byte_form(static_cast<std::uint32_t>(units[k]), form2[k])) {
            two |= std::uint64_t{1} << k;
        }
    }
    return two;
}

// Letters of three UTF-8 bytes that are their own lowercase form, common
// enough in CJK text for the block scanner to take them without the Unicode
// tables (THREE_BYTE_LETTERS).
constexpr bool is_three_byte_letter(std::uint32_t unit) noexcept {
    return in_ranges(unit, text::tables::THREE_BYTE_LETTERS);
}

// Characters beyond ASCII that are neither Alphabetic nor White_Space, which
// the block scanner drops (SKIPPED).
constexpr bool is_skipped(std::uint32_t unit) noexcept {
    return in_ranges(unit, text::tables::SKIPPED);
}

// The UTF-8 form of a unit from U+0800 to U+FFFF, in the low three bytes.
constexpr std::uint32_t three_byte_form(std::uint32_t unit) noexcept {
    return text::utf8_form3(unit);
}

struct ThreeMasks {
    std::uint64_t three, skip;
};

// The `three` and `skip` masks of `count` units, and the forms and sizes of
// the letters of `three` and of ASCII at `form3` and `size3`.
template <class Unit>
ThreeMasks classify_three_scalar(const Unit* units, std::size_t count, std::uint32_t* form3,
                                 std::uint8_t* size3) noexcept {
    ThreeMasks masks{0, 0};
    for (std::size_t k = 0; k < count; ++k) {
        const auto unit = static_cast<std::uint32_t>(units[k]);
        const std::uint64_t bit = std::uint64_t{1} << k;
        form3[k] = 0;
        size3[k] = 0;
        if (is_three_byte_letter(unit)) {
            masks.three |= bit;
            form3[k] = three_byte_form(unit);
            size3[k] = 3;
        } else if ((unit | 0x20) - 'a' <= 'z' - 'a') {
            form3[k] = unit | 0x20;
            size3[k] = 1;
        }
        masks.skip |= is_skipped(unit) ? bit : 0;
    }
    return masks;
}

// What an ASCII byte is to a word.
enum AsciiClass : std::uint8_t { OTHER = 0, SPACE = 1, LETTER = 2 };

constexpr auto ASCII_CLASSES = [] {
    std::array<std::uint8_t, 128> classes{};
    for (int b : {'\t', '\n', '\v', '\f', '\r', ' '}) {
        classes[static_cast<std::size_t>(b)] = SPACE;
    }
    for (int b = 'A'; b <= 'Z'; ++b) {
        classes[static_cast<std::size_t>(b)] = LETTER;
        classes[static_cast<std::size_t>(b + 0x20)] = LETTER;
    }
    return classes;
}();

// ---------------------------------------------------------------------------
// Classification of 64 units, one kernel per instruction set. Each writes
// the three masks of the block and its 64 lowercase bytes.

struct BlockMasks {
    std::uint64_t space, letter, special;
};

template <class Unit>
BlockMasks classify_scalar(const Unit* units, std::size_t count, unsigned char* low) noexcept {
    BlockMasks masks{0, 0, 0};
    for (std::size_t k = 0; k < count; ++k) {
        const auto unit = static_cast<std::uint32_t>(units[k]);
        const std::uint64_t bit = std::uint64_t{1} << k;
        if (unit >= 0x80) {
            masks.special |= bit;
            low[k] = 0x80;
            continue;
        }
        const std::uint8_t cls = ASCII_CLASSES[unit];
        masks.space |= cls == SPACE ? bit : 0;
        masks.letter |= cls == LETTER ? bit : 0;
        low[k] = static_cast<unsigned char>(cls == LETTER ? unit | 0x20 : unit);
    }
    return masks;
}

inline std::uint64_t low_bits(unsigned count) noexcept {
    return count >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
}

// For a word of n <= 16 bytes loaded as two halves: the bytes to keep.
constexpr auto HALF_MASKS = [] {
    std::array<std::array<std::uint64_t, 2>, 17> masks{};
    for (unsigned n = 0; n <= 16; ++n) {
        const unsigned lo = std::min(n, 8u);
        const unsigned hi = n - lo;
        masks[n][0] = lo == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * lo)) - 1;
        masks[n][1] = hi == 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * hi)) - 1;
    }
    return masks;
}();

// The letters of a piece whose letters all lie in its first 16 units, in
// order: ASCII ones (`letters`) from `low`, those of two bytes (`two`) from
// `form2`, written at `out`. Returns the bytes written.
inline std::size_t gather_letters_scalar(const unsigned char* low, const std::uint16_t* form2,
                                         unsigned letters, unsigned two, char* out) noexcept {
    char* end = out;
    for (unsigned rest = letters | two; rest != 0; rest &= rest - 1) {
        const auto k = static_cast<unsigned>(__builtin_ctz(rest));
        if ((two >> k & 1) != 0) {
            std::memcpy(end, form2 + k, 2);
            end += 2;
        } else {
            *end++ = static_cast<char>(low[k]);
        }
    }
    return static_cast<std::size_t>(end - out);
}

}  // namespace parvenkel::kernels
