// Keyword extraction: split at White_Space, keep the Alphabetic characters,
// lowercase, count the words of at least MIN_KEYWORD_BYTES that are not stop
// words, and select the most frequent.
//
// The text is read in chunks of CHUNK code units, in whichever form it has
// (UTF-8, or one, two or four bytes a code point). A chunk is first
// classified, a block of 64 units at a time (AVX2, SSE2 or scalar kernels,
// chosen at run time): bitmaps mark the ASCII White_Space units, the ASCII
// letters and the units that are not ASCII, and the units' ASCII lowercase
// forms are written to a byte buffer; a block that holds units that are not
// ASCII also gets a bitmap of its simple letters of two UTF-8 bytes (Latin-1,
// basic Greek and Cyrillic) and their lowercase forms and, in text of two or
// four bytes a unit that has them, bitmaps of its common CJK letters of three
// bytes (kana, ideographs, Hangul) and of the punctuation beyond ASCII that
// words drop, with the UTF-8 form of each unit. The pieces between White_Space
// units are then walked a block at a time, from a mask of their starts, with
// count-trailing-zeros:
//
//   * a piece of ASCII (most pieces of Latin prose) or of simple letters of
//     two bytes is counted from the bitmaps and the buffers: its letters are
//     usually one run, which becomes the table's key with two loads and two
//     masks;
//   * a piece with CJK letters, or one longer than 63 units, is counted from
//     the bitmaps and forms too (masked_piece) if they cover all it holds;
//   * a piece with any other character, or one running past the chunk,
//     takes the exact path from its first unit to the White_Space character
//     that ends it (which may be one that is not ASCII): vector runs of
//     letters of one script where they apply (letter_runs), otherwise
//     character by character through the Unicode tables.
//
// Words are counted in a WordTable (word_table.hpp), and the most frequent
// are selected from it without sorting the rest.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/kernels.hpp"
#include "analysis/word_counting.hpp"
#include "analysis/word_table.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"

namespace parvenkel::analysis {

std::string_view WordStore::add(std::string_view word) {
    if (word.size() > left_) {
        const std::size_t size = std::max(BLOCK_BYTES, word.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        left_ = size;
    }
    char* stored = free_;
    if (!word.empty()) {
        std::memcpy(stored, word.data(), word.size());
    }
    free_ += word.size();
    left_ -= word.size();
    return {stored, word.size()};
}

namespace {

using text::detail::is_white_space;

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

// The letters of two UTF-8 bytes whose lowercase form is a fixed offset
// away, which the block scanner takes without the Unicode tables: Latin-1
// (but U+00D7 and U+00F7), basic Greek (but U+03A2, unassigned, and U+03A3,
// whose form depends on the text) and basic Cyrillic. Writes the form's two
// bytes, in order, as one little-endian 16-bit value.
inline bool two_byte_form(std::uint32_t unit, std::uint16_t& form) noexcept {
    std::uint32_t lowered = unit;
    if (unit - 0xC0 <= 0xFF - 0xC0) {
        if (unit == 0xD7 || unit == 0xF7) {
            return false;
        }
        lowered += unit <= 0xDE ? 0x20 : 0;
    } else if (unit - 0x391 <= 0x3CE - 0x391) {
        if (unit == 0x3A2 || unit == 0x3A3) {
            return false;
        }
        lowered += unit <= 0x3AB ? 0x20 : 0;
    } else if (unit - 0x400 <= 0x45F - 0x400) {
        lowered += unit < 0x410 ? 0x50 : unit < 0x430 ? 0x20 : 0;
    } else {
        return false;
    }
    form = static_cast<std::uint16_t>((0xC0 | lowered >> 6) | (0x80 | (lowered & 0x3F)) << 8);
    return true;
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
// tables: kana (with the prolonged sound and iteration marks), the
// ideographic iteration and closing marks and number zero, CJK ideographs
// with extension A, and Hangul syllables.
constexpr bool is_three_byte_letter(std::uint32_t unit) noexcept {
    return (unit - 0x3041 <= 0x3096 - 0x3041) || (unit - 0x309D <= 0x309F - 0x309D) ||
           (unit - 0x30A1 <= 0x30FA - 0x30A1) || (unit - 0x30FC <= 0x30FF - 0x30FC) ||
           (unit - 0x3005 <= 0x3007 - 0x3005) || (unit - 0x3400 <= 0x4DBF - 0x3400) ||
           (unit - 0x4E00 <= 0x9FFF - 0x4E00) || (unit - 0xAC00 <= 0xD7A3 - 0xAC00);
}

// Characters beyond ASCII that are neither Alphabetic nor White_Space, which
// the block scanner drops: general punctuation up to U+2027, CJK
// punctuation and brackets, the katakana middle dot and fullwidth ASCII
// punctuation and digits.
constexpr bool is_skipped(std::uint32_t unit) noexcept {
    return (unit - 0x2010 <= 0x2027 - 0x2010) || (unit - 0x3001 <= 0x3004 - 0x3001) ||
           (unit - 0x3008 <= 0x301F - 0x3008) || unit == 0x30FB ||
           (unit - 0xFF01 <= 0xFF20 - 0xFF01);
}

// The UTF-8 form of a unit from U+0800 to U+FFFF, in the low three bytes.
constexpr std::uint32_t three_byte_form(std::uint32_t unit) noexcept {
    return (0xE0 | unit >> 12) | (0x80 | (unit >> 6 & 0x3F)) << 8 | (0x80 | (unit & 0x3F)) << 16;
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

#if defined(PARVENKEL_SSE2)
// Bytes x with lo <= x <= lo + span, as unsigned values.
inline __m128i in_range(__m128i bytes, char lo, char span) noexcept {
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(lo));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(span)), offset);
}

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

template <class Unit>
BlockMasks classify_sse2(const Unit* units, unsigned char* low) noexcept {
    BlockMasks masks{0, 0, 0};
    for (unsigned part = 0; part < 4; ++part) {
        const __m128i v = narrow16(units + 16 * part);
        const __m128i space =
            _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), in_range(v, 0x09, 4));
        const __m128i upper = in_range(v, 'A', 25);
        const __m128i letter = in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 25);
        _mm_store_si128(reinterpret_cast<__m128i*>(low + 16 * part),
                        _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
        const unsigned shift = 16 * part;
        masks.space |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(space))} << shift;
        masks.letter |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(letter))}
                        << shift;
        masks.special |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(v))} << shift;
    }
    return masks;
}
#endif

#if defined(PARVENKEL_SSE2)
// classify_three_scalar for 64 units of two bytes, 16 at a time as their
// high and low bytes; classify_three_avx2 says how.
inline ThreeMasks classify_three_sse2(const char16_t* units, std::uint32_t* form3,
                                      std::uint8_t* size3) noexcept {
    const auto in8 = [](__m128i bytes, int lo, int hi) {
        return in_range(bytes, static_cast<char>(lo), static_cast<char>(hi - lo));
    };
    const auto is8 = [](__m128i bytes, int value) {
        return _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(value)));
    };
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
        const __m128i page30 = is8(high, 0x30);
        const __m128i kana = _mm_or_si128(
            _mm_andnot_si128(
                _mm_or_si128(in8(low, 0x97, 0x9C), _mm_or_si128(is8(low, 0xA0), is8(low, 0xFB))),
                in8(low, 0x41, 0xFF)),
            in8(low, 0x05, 0x07));
        const __m128i three = _mm_or_si128(
            _mm_or_si128(_mm_andnot_si128(_mm_and_si128(is8(high, 0x4D), in8(low, 0xC0, 0xFF)),
                                          in8(high, 0x34, 0x9F)),
                         _mm_andnot_si128(_mm_and_si128(is8(high, 0xD7), in8(low, 0xA4, 0xFF)),
                                          in8(high, 0xAC, 0xD7))),
            _mm_and_si128(page30, kana));
        const __m128i skip = _mm_or_si128(
            _mm_and_si128(page30,
                          _mm_or_si128(_mm_or_si128(in8(low, 0x01, 0x04), in8(low, 0x08, 0x1F)),
                                       is8(low, 0xFB))),
            _mm_or_si128(_mm_and_si128(is8(high, 0x20), in8(low, 0x10, 0x27)),
                         _mm_and_si128(is8(high, 0xFF), in8(low, 0x01, 0x20))));
        const __m128i folded = _mm_or_si128(low, set8(0x20));
        const __m128i letter = _mm_and_si128(is8(high, 0), in8(folded, 'a', 'z'));
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
#endif

#if defined(PARVENKEL_AVX2_TARGET)
#define PARVENKEL_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

template <class Unit>
PARVENKEL_AVX2 inline __m256i narrow32(const Unit* units) noexcept {
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

PARVENKEL_AVX2 inline __m256i in_range32(__m256i bytes, char lo, char span) noexcept {
    const __m256i offset = _mm256_sub_epi8(bytes, _mm256_set1_epi8(lo));
    return _mm256_cmpeq_epi8(_mm256_min_epu8(offset, _mm256_set1_epi8(span)), offset);
}

template <class Unit>
PARVENKEL_AVX2 BlockMasks classify_avx2(const Unit* units, unsigned char* low) noexcept {
    BlockMasks masks{0, 0, 0};
    for (unsigned part = 0; part < 2; ++part) {
        const __m256i v = narrow32(units + 32 * part);
        const __m256i space =
            _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')), in_range32(v, 0x09, 4));
        const __m256i upper = in_range32(v, 'A', 25);
        const __m256i letter = in_range32(_mm256_or_si256(v, _mm256_set1_epi8(0x20)), 'a', 25);
        _mm256_store_si256(reinterpret_cast<__m256i*>(low + 32 * part),
                           _mm256_or_si256(v, _mm256_and_si256(upper, _mm256_set1_epi8(0x20))));
        const unsigned shift = 32 * part;
        masks.space |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(space))}
                       << shift;
        masks.letter |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(letter))}
                        << shift;
        masks.special |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(v))}
                         << shift;
    }
    return masks;
}
#endif

#if defined(PARVENKEL_AVX2_TARGET)
PARVENKEL_AVX2 inline __m256i lanes16(int value) noexcept {
    return _mm256_set1_epi16(static_cast<short>(value));
}

// Lanes of 16 bits with lo <= x <= hi, as unsigned values.
PARVENKEL_AVX2 inline __m256i in16(__m256i v, int lo, int hi) noexcept {
    const __m256i offset = _mm256_sub_epi16(v, lanes16(lo));
    return _mm256_cmpeq_epi16(_mm256_subs_epu16(offset, lanes16(hi - lo)), _mm256_setzero_si256());
}

PARVENKEL_AVX2 inline __m256i is16(__m256i v, int unit) noexcept {
    return _mm256_cmpeq_epi16(v, lanes16(unit));
}

PARVENKEL_AVX2 inline __m256i or16(__m256i a, __m256i b) noexcept { return _mm256_or_si256(a, b); }

// classify_two_scalar for 64 units of one or two bytes, 16 at a time.
template <class Unit>
PARVENKEL_AVX2 std::uint64_t classify_two_avx2(const Unit* units, std::uint16_t* form2) noexcept {
    std::uint64_t two = 0;
    for (unsigned part = 0; part < 4; ++part) {
        __m256i v;
        if constexpr (sizeof(Unit) == 1) {
            v = _mm256_cvtepu8_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 16 * part)));
        } else {
            v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + 16 * part));
        }
        const __m256i up_20 = or16(
            _mm256_andnot_si256(is16(v, 0xD7), in16(v, 0xC0, 0xDE)),
            or16(_mm256_andnot_si256(or16(is16(v, 0x3A2), is16(v, 0x3A3)), in16(v, 0x391, 0x3AB)),
                 in16(v, 0x410, 0x42F)));
        const __m256i up_50 = in16(v, 0x400, 0x40F);
        const __m256i letters =
            or16(or16(up_20, up_50), or16(_mm256_andnot_si256(is16(v, 0xF7), in16(v, 0xDF, 0xFF)),
                                          or16(in16(v, 0x3AC, 0x3CE), in16(v, 0x430, 0x45F))));
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
#endif

#if defined(PARVENKEL_AVX2_TARGET)
PARVENKEL_AVX2 inline __m256i bytes8(int value) noexcept {
    return _mm256_set1_epi8(static_cast<char>(value));
}

// Bytes with lo <= x <= hi, as unsigned values.
PARVENKEL_AVX2 inline __m256i in8(__m256i bytes, int lo, int hi) noexcept {
    return in_range32(bytes, static_cast<char>(lo), static_cast<char>(hi - lo));
}

PARVENKEL_AVX2 inline __m256i is8(__m256i bytes, int value) noexcept {
    return _mm256_cmpeq_epi8(bytes, bytes8(value));
}

// classify_three_scalar for 64 units of two or four bytes, 32 at a time as
// their high and low bytes: the ranges of the classes are nearly all whole
// pages of 256 code points, told apart by the high byte alone. Units of four
// bytes are narrowed with saturation: those past U+FFFF become U+FFFF, which
// is in neither class.
template <class Unit>
PARVENKEL_AVX2 ThreeMasks classify_three_avx2(const Unit* units, std::uint32_t* form3,
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
        // Ideographs (U+3400-U+9FFF but U+4DC0-U+4DFF), Hangul syllables
        // (U+AC00-U+D7A3), and on page U+30xx kana and marks.
        const __m256i page30 = is8(high, 0x30);
        const __m256i kana = _mm256_or_si256(
            _mm256_andnot_si256(_mm256_or_si256(in8(low, 0x97, 0x9C),
                                                _mm256_or_si256(is8(low, 0xA0), is8(low, 0xFB))),
                                in8(low, 0x41, 0xFF)),
            in8(low, 0x05, 0x07));
        const __m256i three = _mm256_or_si256(
            _mm256_or_si256(
                _mm256_andnot_si256(_mm256_and_si256(is8(high, 0x4D), in8(low, 0xC0, 0xFF)),
                                    in8(high, 0x34, 0x9F)),
                _mm256_andnot_si256(_mm256_and_si256(is8(high, 0xD7), in8(low, 0xA4, 0xFF)),
                                    in8(high, 0xAC, 0xD7))),
            _mm256_and_si256(page30, kana));
        const __m256i skip = _mm256_or_si256(
            _mm256_and_si256(
                page30, _mm256_or_si256(_mm256_or_si256(in8(low, 0x01, 0x04), in8(low, 0x08, 0x1F)),
                                        is8(low, 0xFB))),
            _mm256_or_si256(_mm256_and_si256(is8(high, 0x20), in8(low, 0x10, 0x27)),
                            _mm256_and_si256(is8(high, 0xFF), in8(low, 0x01, 0x20))));
        const __m256i folded = _mm256_or_si256(low, bytes8(0x20));
        const __m256i letter = _mm256_and_si256(is8(high, 0), in8(folded, 'a', 'z'));
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
#endif

#if defined(PARVENKEL_AVX2_TARGET)
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
PARVENKEL_AVX2 std::size_t gather_letters(const unsigned char* low, const std::uint16_t* form2,
                                          unsigned letters, unsigned two, char* out) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low));
    const __m128i bit = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
    const auto wide = [&](unsigned half) PARVENKEL_AVX2 {
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
#endif

// The instruction sets a kernel can be chosen from.
using Isa = Kernels;

Isa best_isa() noexcept { return usable_kernels(); }

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

// ---------------------------------------------------------------------------

// Counts the words of one text into a WordTable.
class KeywordCounter {
   public:
    KeywordCounter(const std::vector<std::string>& stop_words, std::uint64_t seed,
                   std::size_t text_bytes)
        : table_(seed, text_bytes), isa_(best_isa()) {
        for (const std::string& stop_word : stop_words) {
            // A stop word shorter than any counted word can never match.
            if (stop_word.size() >= MIN_KEYWORD_BYTES) {
                table_.add_stop_word(stop_word);
            }
        }
        word_.resize(3 * 64 + WORD_MARGIN);
        chunk_ = std::make_unique<Chunk>();
    }

    template <class Unit>
    void count(const Unit* units, std::size_t size) {
        std::size_t pos = 0;
        for (std::size_t chunks = 0; pos < size; ++chunks) {
            const std::size_t length = std::min(CHUNK, size - pos);
            // Text without letters of two bytes (CJK, say) skips looking
            // for them after a chunk that had none, looking again now and
            // then; their pieces then take the exact path, which counts them
            // all the same.
            look_for_two_ = found_two_ || chunks % 8 == 0;
            found_two_ = false;
            // The same for letters of three bytes, in text that has them.
            look_for_three_ = found_three_ || chunks % 8 == 0;
            found_three_ = false;
            if constexpr (sizeof(Unit) >= 2) {
                if (!three_) {
                    // Every field is written before it is read.
                    three_ = std::make_unique_for_overwrite<ThreeChunk>();
                }
            }
            if (three_) {
                // Also for a text of another form counted after one that
                // had them: no block of this chunk is classified yet.
                three_->classified = 0;
            }
            classify(units + pos, length);
            pos = walk(units, size, pos, length);
        }
        table_.add_short(batch_, batched_);
        batched_ = 0;
        table_.add_medium(medium_batch_, medium_batched_);
        medium_batched_ = 0;
    }

    WordTable& table() noexcept { return table_; }

   private:
    template <class Unit>
    void classify(const Unit* units, std::size_t length) {
        Chunk& chunk = *chunk_;
        const std::size_t blocks = length / 64;
        for (std::size_t b = 0; b < blocks; ++b) {
            BlockMasks masks;
            switch (isa_) {
#if defined(PARVENKEL_AVX2_TARGET)
                case Isa::AVX2:
                    masks = classify_avx2(units + 64 * b, chunk.low + 64 * b);
                    break;
#endif
#if defined(PARVENKEL_SSE2)
                case Isa::SSE2:
                    masks = classify_sse2(units + 64 * b, chunk.low + 64 * b);
                    break;
#endif
                default:
                    masks = classify_scalar(units + 64 * b, 64, chunk.low + 64 * b);
                    break;
            }
            chunk.space[b] = masks.space;
            chunk.letter[b] = masks.letter;
            chunk.special[b] = masks.special;
            chunk.two[b] =
                masks.special == 0 || !look_for_two_ ? 0 : classify_two(units + 64 * b, 64, b);
            if constexpr (sizeof(Unit) >= 2) {
                if (look_for_three_ && (masks.special & ~chunk.two[b]) != 0) {
                    classify_three(units + 64 * b, 64, b);
                }
            }
        }
        std::size_t b = blocks;
        const std::size_t rest = length % 64;
        if (rest != 0) {
            const BlockMasks masks = classify_scalar(units + 64 * b, rest, chunk.low + 64 * b);
            // Past the end of the chunk everything reads as White_Space.
            chunk.space[b] = masks.space | ~low_bits(static_cast<unsigned>(rest));
            chunk.letter[b] = masks.letter;
            chunk.special[b] = masks.special;
            chunk.two[b] =
                masks.special == 0 || !look_for_two_ ? 0 : classify_two(units + 64 * b, rest, b);
            if constexpr (sizeof(Unit) >= 2) {
                if (look_for_three_ && (masks.special & ~chunk.two[b]) != 0) {
                    classify_three(units + 64 * b, rest, b);
                }
            }
            ++b;
        }
        for (; b < CHUNK_WORDS + 2; ++b) {
            chunk.space[b] = ~std::uint64_t{0};
            chunk.letter[b] = 0;
            chunk.special[b] = 0;
            chunk.two[b] = 0;
        }
    }

    // The `three` and `skip` masks of `count` units (of two or four bytes)
    // of block b, which has units beyond ASCII that are not letters of two
    // bytes.
    template <class Unit>
    void classify_three(const Unit* units, std::size_t count, std::size_t b) noexcept {
        ThreeChunk& chunk = *three_;
        ThreeMasks masks;
        std::uint32_t* form3 = chunk.form3 + 64 * b;
        std::uint8_t* size3 = chunk.size3 + 64 * b;
#if defined(PARVENKEL_AVX2_TARGET)
        if (isa_ == Isa::AVX2 && count == 64) {
            masks = classify_three_avx2(units, form3, size3);
        } else
#endif
#if defined(PARVENKEL_SSE2)
            if (std::is_same_v<Unit, char16_t> && isa_ == Isa::SSE2 && count == 64) {
            masks = classify_three_sse2(reinterpret_cast<const char16_t*>(units), form3, size3);
        } else
#endif
        {
            masks = classify_three_scalar(units, count, form3, size3);
        }
        found_three_ |= masks.three != 0;
        chunk.classified |= std::uint64_t{1} << b;
        chunk.three[b] = masks.three;
        chunk.skip[b] = masks.skip;
    }

    // The letters of two bytes among `count` units of block b, with their
    // forms; none in texts of four bytes a unit or in UTF-8 (which here is
    // ASCII but for callers from C++, and takes the exact path).
    template <class Unit>
    std::uint64_t classify_two(const Unit* units, std::size_t count, std::size_t b) noexcept {
        const std::uint64_t two = classify_two_of(units, count, b);
        found_two_ |= two != 0;
        return two;
    }

    template <class Unit>
    std::uint64_t classify_two_of(const Unit* units, std::size_t count, std::size_t b) noexcept {
        std::uint16_t* form2 = chunk_->form2 + 64 * b;
        if constexpr (sizeof(Unit) == 2 || (sizeof(Unit) == 1 && !std::is_same_v<Unit, char>)) {
#if defined(PARVENKEL_AVX2_TARGET)
            if (isa_ == Isa::AVX2 && count == 64) {
                return classify_two_avx2(units, form2);
            }
#endif
            return classify_two_scalar(units, count, form2);
        } else {
            return 0;
        }
    }

    // Counts the pieces that start in the chunk of `length` units at `base`
    // of the text, which has `size` units; returns where the next chunk
    // starts (a White_Space character ends every piece before it).
    //
    // The pieces are found a block at a time: a piece starts at a unit that
    // is not White_Space after one that is, so the starts of a block are one
    // mask, walked with count-trailing-zeros; most pieces also end in the
    // block where they start.
    template <class Unit>
    std::size_t walk(const Unit* units, std::size_t size, std::size_t base, std::size_t length) {
        const Chunk& chunk = *chunk_;
        const bool last = base + length == size;
        const std::size_t blocks = (length + 63) / 64;
        // The unit before a chunk is White_Space (or there is none).
        std::uint64_t carry = 1;
        // Pieces that start before `resume` were taken by the exact path.
        std::size_t resume = 0;
        for (std::size_t b = 0; b < blocks; ++b) {
            const std::uint64_t spaces = chunk.space[b];
            std::uint64_t starts = ~spaces & (spaces << 1 | carry);
            carry = spaces >> 63;
            // A piece may go on into the next block: each mask is read
            // through a window of 64 units from the piece's start.
            const std::uint64_t spaces_after = chunk.space[b + 1];
            const std::uint64_t letters_here = chunk.letter[b];
            const std::uint64_t letters_after = chunk.letter[b + 1];
            const std::uint64_t special_here = chunk.special[b];
            const std::uint64_t special_after = chunk.special[b + 1];
            const std::uint64_t two_here = chunk.two[b];
            const std::uint64_t two_after = chunk.two[b + 1];
            for (; starts != 0; starts &= starts - 1) {
                const auto offset = static_cast<unsigned>(__builtin_ctzll(starts));
                const std::size_t start = 64 * b + offset;
                if (start < resume) [[unlikely]] {
                    continue;
                }
                // x << 1 << (63 - offset): no shift by 64 when offset is 0.
                const unsigned back = 63 - offset;
                const std::uint64_t ahead = spaces >> offset | spaces_after << 1 << back;
                const std::uint64_t letters = letters_here >> offset | letters_after << 1 << back;
                const std::uint64_t special = special_here >> offset | special_after << 1 << back;
                const std::uint64_t two = two_here >> offset | two_after << 1 << back;
                const auto piece = static_cast<unsigned>(ahead == 0 ? 64 : __builtin_ctzll(ahead));
                const std::uint64_t inside = low_bits(piece);
                if (ahead == 0 || (special & ~two & inside) != 0 ||
                    (start + piece == length && !last)) [[unlikely]] {
                    if constexpr (sizeof(Unit) >= 2) {
                        // Most pieces of CJK text: shorter than a block,
                        // their letters of three bytes and ASCII.
                        if (ahead != 0 && found_three_ && (two & inside) == 0 &&
                            start + piece != length &&
                            three_piece(b, offset, piece, special & inside)) {
                            continue;
                        }
                    }
                    const std::size_t next =
                        other_pieces(units, size, base, length, start, ahead == 0);
                    if (next > base + length) {
                        return next;
                    }
                    resume = next - base;
                    continue;
                }
                if ((two & inside) == 0) [[likely]] {
                    count_ascii_piece(chunk, start, letters & inside);
                } else {
                    count_two_piece(chunk, start, letters & inside, two & inside);
                }
            }
        }
        return base + length;
    }

    // Counts the piece of `piece` units at `offset` of block b of the chunk,
    // which has no letters of two bytes and its units beyond ASCII at
    // `special` (from its start), if all are letters of three bytes or
    // skipped; returns whether it did.
    bool three_piece(std::size_t b, unsigned offset, unsigned piece, std::uint64_t special) {
        const ThreeChunk& wide = *three_;
        const bool across = offset + piece > 64;
        const std::uint64_t blocks = across ? 3 : 1;
        if ((wide.classified >> b & blocks) != blocks) {
            return false;
        }
        std::uint64_t known = (wide.three[b] | wide.skip[b]) >> offset;
        if (across) {
            known |= (wide.three[b + 1] | wide.skip[b + 1]) << (64 - offset);
        }
        if ((special & ~known) != 0) {
            return false;
        }
        const std::size_t start = 64 * b + offset;
        char* out = word_.data();  // room for 3 * 64 bytes and more
        for (std::size_t k = start; k < start + piece; ++k) {
            std::memcpy(out, wide.form3 + k, 4);
            out += wide.size3[k];
        }
        count_gathered(static_cast<std::size_t>(out - word_.data()));
        return true;
    }

    // Counts the piece at `start` of the chunk at `base`, which the walk
    // does not take: a long piece, or one with letters of three bytes, may
    // still be one the masks can take; any other takes the exact path, which
    // ends at the piece's real end. Returns where the pieces of the masks
    // take over again (in the text).
    template <class Unit>
    std::size_t other_pieces(const Unit* units, std::size_t size, std::size_t base,
                             std::size_t length, std::size_t start, bool long_piece) {
        if (long_piece || found_three_) {
            const std::size_t end = masked_piece(start, length, base + length == size);
            if (end != 0) {
                return base + end;
            }
        }
        return exact_pieces(units, size, base, length, start);
    }

    // Counts the piece at `start` of the chunk, of any length, from the
    // chunk's masks and forms, if it ends in the chunk (or the text) and
    // holds nothing that is not ASCII but letters of `two` and `three` and
    // characters of `skip`; returns where it ends, or 0 if it does not
    // qualify.
    std::size_t masked_piece(std::size_t start, std::size_t length, bool last) {
        const Chunk& chunk = *chunk_;
        const std::size_t first = start / 64;
        std::size_t b = first;
        std::uint64_t spaces = chunk.space[b] & ~low_bits(static_cast<unsigned>(start % 64));
        while (spaces == 0) {
            spaces = chunk.space[++b];  // the blocks past the chunk are White_Space
        }
        const std::size_t end = 64 * b + static_cast<std::size_t>(__builtin_ctzll(spaces));
        if (end >= length && !last) {
            return 0;  // it may go on in the next chunk
        }
        const std::size_t final = (end - 1) / 64;
        // Texts of one byte a unit, and UTF-8, have no ThreeChunk; the
        // masks of three are those of the blocks classified.
        const ThreeChunk* wide = three_.get();
        const std::uint64_t classified = wide != nullptr ? wide->classified : 0;
        const auto three_of = [wide, classified](std::size_t block) {
            return (classified >> block & 1) != 0 ? wide->three[block] : 0;
        };
        std::uint64_t other = 0;
        bool has_two = false;
        for (b = first; b <= final; ++b) {
            const std::uint64_t inside = piece_bits(b, start, end);
            const std::uint64_t skip = (classified >> b & 1) != 0 ? wide->skip[b] : 0;
            other |= chunk.special[b] & ~(chunk.two[b] | three_of(b) | skip) & inside;
            has_two |= (chunk.two[b] & inside) != 0;
        }
        if (other != 0) {
            return 0;
        }
        const std::size_t room = 3 * (end - start) + WORD_MARGIN;
        if (word_.size() < room) {
            word_.resize(std::max(room, 2 * word_.size()));
        }
        char* out = word_.data();
        const std::uint64_t blocks = low_bits(static_cast<unsigned>(final - first + 1));
        if ((classified >> first & blocks) == blocks && !has_two) {
            // Every unit has its form, of 0 to 3 bytes: one store each.
            for (std::size_t k = start; k < end; ++k) {
                std::memcpy(out, wide->form3 + k, 4);
                out += wide->size3[k];
            }
            count_gathered(static_cast<std::size_t>(out - word_.data()));
            return end;
        }
        for (b = first; b <= final; ++b) {
            const std::uint64_t inside = piece_bits(b, start, end);
            const std::uint64_t letters = chunk.letter[b] & inside;
            const std::uint64_t two = chunk.two[b] & inside;
            const std::uint64_t three = three_of(b) & inside;
            // Runs of one kind at a time: ASCII and letters of two bytes
            // are copied as they lie, letters of three bytes in steps of 4
            // bytes from their forms.
            for (std::uint64_t rest = letters | two | three; rest != 0;) {
                const auto k = static_cast<unsigned>(__builtin_ctzll(rest));
                const std::uint64_t kind = (three >> k & 1) != 0 ? three
                                           : (two >> k & 1) != 0 ? two
                                                                 : letters;
                const std::uint64_t after = ~(kind >> k);
                const unsigned n = after == 0 ? 64 : static_cast<unsigned>(__builtin_ctzll(after));
                rest &= ~(low_bits(n) << k);
                const std::size_t at = 64 * b + k;
                if (kind == three) {
                    for (unsigned j = 0; j < n; ++j) {
                        std::memcpy(out + 3 * j, wide->form3 + at + j, 4);
                    }
                    out += 3 * n;
                } else if (kind == two) {
                    copy_run(out, chunk.form2 + at, 2 * n);
                } else {
                    copy_run(out, chunk.low + at, n);
                }
            }
        }
        count_gathered(static_cast<std::size_t>(out - word_.data()));
        return end;
    }

    // The bits of block b inside the piece [start, end) of the chunk.
    static std::uint64_t piece_bits(std::size_t b, std::size_t start, std::size_t end) noexcept {
        const std::size_t from = std::max(start, 64 * b) - 64 * b;
        const std::size_t to = std::min(end, 64 * b + 64) - 64 * b;
        return low_bits(static_cast<unsigned>(to)) & ~low_bits(static_cast<unsigned>(from));
    }

    // Copies `n` bytes from `from`, 16 at a time: both sides have room.
    static void copy_run(char*& out, const void* from, std::size_t n) noexcept {
        const auto* bytes = static_cast<const unsigned char*>(from);
        for (std::size_t j = 0; j < n; j += 16) {
            std::memcpy(out + j, bytes + j, 16);
        }
        out += n;
    }

    // A piece at `start` of the chunk of ASCII and letters of two bytes
    // (the set bits of `two`), with its ASCII letters at the set bits of
    // `letters`. A word of one script is a run of forms in form2.
    void count_two_piece(const Chunk& chunk, std::size_t start, std::uint64_t letters,
                         std::uint64_t two) {
        const auto first = static_cast<unsigned>(__builtin_ctzll(two));
        const std::uint64_t run = two >> first;
        if (letters == 0 && (run & (run + 1)) == 0) {
            const auto bytes = 2 * static_cast<unsigned>(__builtin_ctzll(~run));
            const auto* p = reinterpret_cast<const unsigned char*>(chunk.form2 + start + first);
            if (bytes <= WordTable::SHORT_BYTES) {
                push_slice(p, bytes);
            } else {
                count_word({reinterpret_cast<const char*>(p), bytes});
            }
            return;
        }
        const unsigned char* low = chunk.low + start;
        const std::uint16_t* form2 = chunk.form2 + start;
#if defined(PARVENKEL_AVX2_TARGET)
        if (isa_ >= Isa::AVX2 && ((letters | two) >> 16) == 0) {
            count_gathered(gather_letters(low, form2, static_cast<unsigned>(letters),
                                          static_cast<unsigned>(two), word_.data()));
            return;
        }
#endif
        char* out = word_.data();
        for (std::uint64_t rest = letters | two; rest != 0; rest &= rest - 1) {
            const auto k = static_cast<unsigned>(__builtin_ctzll(rest));
            if ((two >> k & 1) != 0) {
                std::memcpy(out, form2 + k, 2);
                out += 2;
            } else {
                *out++ = static_cast<char>(low[k]);
            }
        }
        add_word(static_cast<std::size_t>(out - word_.data()));
    }

    // Counts, by the exact path, the piece at `start` of the chunk at
    // `base`, and those after it that the chunk's masks do not show as
    // pieces: a piece that follows White_Space that is not ASCII. Returns
    // where the pieces of the masks take over again (in the text).
    template <class Unit>
    std::size_t exact_pieces(const Unit* units, std::size_t size, std::size_t base,
                             std::size_t length, std::size_t start) {
        const Chunk& chunk = *chunk_;
        const auto is_space = [&](std::size_t at) {
            return (chunk.space[at / 64] >> (at % 64) & 1) != 0;
        };
        std::size_t next = exact_piece(units, size, base + start);
        while (next < base + length && !is_space(next - base - 1) && !is_space(next - base)) {
            next = exact_piece(units, size, next);
        }
        return next;
    }

    // A piece of ASCII at `start` of the chunk whose letters are the set
    // bits of `letters` (relative to `start`).
    void count_ascii_piece(const Chunk& chunk, std::size_t start, std::uint64_t letters) {
        // A piece has at most 63 units here, so bit 63 stands in for "no
        // letter" (a run of one, too short to count).
        const auto first = static_cast<unsigned>(__builtin_ctzll(letters | std::uint64_t{1} << 63));
        const std::uint64_t run = letters >> first | (letters == 0 ? 1 : 0);
        const auto n = static_cast<unsigned>(__builtin_ctzll(~run));
        const unsigned char* from = chunk.low + start;
        if ((run & (run + 1)) != 0 || n > WordTable::SHORT_BYTES) [[unlikely]] {
#if defined(PARVENKEL_AVX2_TARGET)
            if (isa_ >= Isa::AVX2 && (letters >> 16) == 0) {
                count_gathered(gather_letters(from, chunk.form2 + start,
                                              static_cast<unsigned>(letters), 0, word_.data()));
                return;
            }
#endif
            char* out = word_.data();
            for (std::uint64_t rest = letters; rest != 0; rest &= rest - 1) {
                *out++ = static_cast<char>(from[__builtin_ctzll(rest)]);
            }
            add_word(static_cast<std::size_t>(out - word_.data()));
            return;
        }
        // One run of letters: the word is a slice of the lowercase bytes.
        push_slice(from + first, n);
    }

    // ------------------------------------------------------------------
    // The exact path: one piece, character by character.

    // Where writing into word_ must stop: past it, the form of one more
    // character (or of one run of letter_runs) may not fit.
    char* word_limit() noexcept { return word_.data() + word_.size() - WORD_MARGIN; }
    static constexpr std::size_t WORD_MARGIN = 32;
    static_assert(WORD_MARGIN >= text::LOWER_MAX_BYTES && WORD_MARGIN >= 3 * 8);

    // Doubles word_, keeping what `out` has written so far.
    void grow_word(char*& out, char*& limit) {
        const auto used = static_cast<std::size_t>(out - word_.data());
        word_.resize(2 * word_.size());
        out = word_.data() + used;
        limit = word_limit();
    }

    // Short words wait in batch_ for the table, which takes them in
    // batches. A key is written in any case and kept only when `keep`,
    // which spares the callers a hard-to-predict branch on the many words
    // too short to count.
    void push_short(std::uint64_t lo, std::uint64_t hi, bool keep = true) {
        batch_[batched_] = {lo, hi};
        batched_ += keep ? 1 : 0;
        if (batched_ == WordTable::BATCH) {
            table_.add_short(batch_, batched_);
            batched_ = 0;
        }
    }

    // The word of `length` bytes (at most 16) at `p`, which has 16 bytes
    // readable, counted when it is long enough: its key is two masked loads.
    void push_slice(const void* p, std::size_t length) {
        const auto* bytes = static_cast<const unsigned char*>(p);
        push_short(detail::load<std::uint64_t>(bytes) & HALF_MASKS[length][0],
                   detail::load<std::uint64_t>(bytes + 8) & HALF_MASKS[length][1],
                   length >= MIN_KEYWORD_BYTES);
    }

    void count_word(std::string_view word) {
        if (word.size() <= WordTable::SHORT_BYTES) {
            std::uint64_t lo = 0;
            std::uint64_t hi = 0;
            detail::load_up_to_16(word.data(), word.size(), lo, hi);
            push_short(lo, hi);
        } else if (word.size() <= WordTable::MEDIUM_BYTES) {
            medium_batch_[medium_batched_] = MediumKey::of(word);
            if (++medium_batched_ == WordTable::BATCH) {
                table_.add_medium(medium_batch_, medium_batched_);
                medium_batched_ = 0;
            }
        } else {
            table_.add(word);
        }
    }

    // Counts the word of `length` bytes gathered at the start of word_,
    // which has room for 16 bytes after it.
    void count_gathered(std::size_t length) {
        if (length > WordTable::SHORT_BYTES) {
            count_word({word_.data(), length});
            return;
        }
        push_slice(word_.data(), length);
    }

    void add_word(std::size_t length) {
        if (length >= MIN_KEYWORD_BYTES) {
            count_word({word_.data(), length});
        }
    }

    // Counts the piece that starts at byte `start` of a UTF-8 text (not
    // White_Space) and returns the offset after the White_Space character
    // that ends it, or the text's size. The letters are lowercased character
    // by character into word_, written through a pointer with room for one
    // more character's form at every step. A capital sigma, whose form
    // depends on the letters around it, sends the piece to
    // lower_with_sigma.
    std::size_t exact_piece(const char* data, std::size_t size, std::size_t start) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        char* out = word_.data();
        char* limit = word_limit();
        bool sigma = false;
        std::size_t i = start;
        std::size_t end = size;  // where the piece's White_Space starts
        std::size_t next = size;
        while (i < size) {
            if (out > limit) {
                grow_word(out, limit);
            }
            const unsigned char byte = bytes[i];
            if (byte < 0x80) {
                const std::uint8_t cls = ASCII_CLASSES[byte];
                if (cls == LETTER) {
                    *out++ = static_cast<char>(byte | 0x20);
                } else if (cls == SPACE) {
                    end = i;
                    next = i + 1;
                    break;
                }
                ++i;
                continue;
            }
            const text::Utf8Char ch = text::decode_utf8(data + i);
            if (ch.length == 2) {
                if (const std::size_t written = text::lower_two_byte_letter(ch.cp, out)) {
                    out += written;
                    i += 2;
                    continue;
                }
            } else if (text::is_plain_letter(ch.cp)) {
                std::memcpy(out, data + i, 3);  // three bytes, as they are
                out += 3;
                i += 3;
                continue;
            }
            if (is_white_space(ch.cp)) {
                end = i;
                next = i + ch.length;
                break;
            }
            const text::CharInfo info = text::char_info(ch.cp);
            if (info.is_alphabetic()) {
                sigma |= info.is_capital_sigma();
                text::append_lower(out, ch.cp, info);
            }
            i += ch.length;
        }
        if (sigma) {
            lower_with_sigma(text::TextView::utf8({data + start, end - start}));
        } else {
            add_word(static_cast<std::size_t>(out - word_.data()));
        }
        return next;
    }

    // The same for a text of one code point a unit.
    template <class Unit>
    std::size_t exact_piece(const Unit* units, std::size_t size, std::size_t start) {
        char* out = word_.data();
        char* limit = word_limit();
        bool sigma = false;
        std::size_t i = start;
        for (; i < size; ++i) {
            if (out > limit) {
                grow_word(out, limit);
            }
#if defined(PARVENKEL_SSE2)
            if constexpr (sizeof(Unit) <= 2) {
                if (i + 8 <= size && isa_ != Isa::SCALAR) {
                    const std::size_t taken = letter_runs(units + i, out);
                    if (taken != 0) {
                        i += taken - 1;
                        continue;
                    }
                }
            }
#endif
            const char32_t cp = units[i];
            if (cp < 0x80) {
                const std::uint8_t cls = ASCII_CLASSES[cp];
                if (cls == LETTER) {
                    *out++ = static_cast<char>(cp | 0x20);
                } else if (cls == SPACE) {
                    break;
                }
                continue;
            }
            if (cp < text::tables::LOWERCASE_TWO_BYTE_UNTIL) {
                if (const std::size_t written = text::lower_two_byte_letter(cp, out)) {
                    out += written;
                    continue;
                }
            } else if (text::is_plain_letter(cp)) {
                out += text::encode_utf8(cp, out);
                continue;
            }
            if (is_white_space(cp)) {
                break;
            }
            const text::CharInfo info = text::char_info(cp);
            if (info.is_alphabetic()) {
                sigma |= info.is_capital_sigma();
                text::append_lower(out, cp, info);
            }
        }
        if (sigma) {
            lower_with_sigma(fixed_view(units + start, i - start));
        } else {
            add_word(static_cast<std::size_t>(out - word_.data()));
        }
        return i + 1;  // past the White_Space character, or the end
    }

#if defined(PARVENKEL_SSE2)
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

    template <class Unit>
    static std::size_t letter_runs(const Unit* units, char*& out) noexcept {
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

    template <Script script, class Unit>
    static std::size_t runs_of(const Unit* units, char*& out) noexcept {
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
            return _mm_cmpeq_epi16(
                _mm_subs_epu16(offset, _mm_set1_epi16(static_cast<short>(hi - lo))),
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

        const __m128i ascii_upper = in('A', 'Z');
        const __m128i ascii_letter = either(ascii_upper, in('a', 'z'));
        const __m128i ascii_space = either(in(0x09, 0x0D), is(' '));
        __m128i drop = _mm_andnot_si128(either(ascii_letter, ascii_space), in(0, 0x7F));
        if constexpr (sizeof(Unit) == 2) {
            drop = either(drop, in(0x2010, 0x2027));  // dashes, quotes, bullets
        }
        // Letters of two bytes: those that map 0x20 up, or are their own
        // form.
        __m128i up_20 = none;
        __m128i two = none;
        __m128i three = none;
        if constexpr (latin) {
            // Latin-1, but U+00D7 and U+00F7 (signs); guillemets dropped.
            up_20 = _mm_andnot_si128(is(0xD7), in(0xC0, 0xDE));
            two = either(up_20, _mm_andnot_si128(is(0xF7), in(0xDF, 0xFF)));
            drop = either(drop, either(is(0xAB), is(0xBB)));
        } else if constexpr (cjk) {
            // Kana (with the prolonged sound and iteration marks), CJK
            // ideographs, Hangul syllables; CJK and fullwidth punctuation.
            three = either(either(either(in(0x3041, 0x3096), in(0x309D, 0x309F)),
                                  either(in(0x30A1, 0x30FA), in(0x30FC, 0x30FF))),
                           either(in(0x4E00, 0x9FFF), in(0xAC00, 0xD7A3)));
            drop = either(
                drop, either(either(in(0x3001, 0x3003), in(0x3008, 0x3011)), in(0xFF01, 0xFF20)));
        }
        const auto bits = [none](__m128i lanes) {
            return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(lanes, none)));
        };
        const __m128i taken = either(either(ascii_letter, two), either(three, drop));
        const auto run = static_cast<std::size_t>(__builtin_ctz(~bits(taken)));
        if (run == 0) {
            return 0;
        }
        const __m128i lowered =
            _mm_add_epi16(v, _mm_and_si128(either(up_20, ascii_upper), set(0x20)));
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
#endif

    template <class Unit>
    static text::TextView fixed_view(const Unit* units, std::size_t length) noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return {units, length, text::Form::LATIN1};
        } else if constexpr (sizeof(Unit) == 2) {
            return {units, length, text::Form::UCS2};
        } else {
            return {units, length, text::Form::UCS4};
        }
    }

    // Counts the piece `piece` (no White_Space in it), which holds a capital
    // sigma: its letters are gathered as they are and lowercased as a whole,
    // so that the Final_Sigma rule sees only the kept letters.
    void lower_with_sigma(text::TextView piece) {
        letters_.clear();
        piece.visit([&]<class View>(View units) {
            using Unit = typename View::value_type;
            if constexpr (std::is_same_v<Unit, char>) {
                for (std::size_t i = 0; i < units.size();) {
                    const text::Utf8Char ch = text::decode_utf8(units.data() + i);
                    if (text::char_info(ch.cp).is_alphabetic()) {
                        letters_.append(units.data() + i, ch.length);
                    }
                    i += ch.length;
                }
            } else {
                for (const Unit unit : units) {
                    if (text::char_info(unit).is_alphabetic()) {
                        text::append_utf8(letters_, unit);
                    }
                }
            }
        });
        lowered_.clear();
        text::append_lowercase(lowered_, letters_);
        if (lowered_.size() >= MIN_KEYWORD_BYTES) {
            count_word(lowered_);
        }
    }

    WordTable table_;
    bool look_for_two_ = true;
    bool found_two_ = false;
    bool look_for_three_ = true;
    bool found_three_ = false;
    ShortKey batch_[WordTable::BATCH];
    std::size_t batched_ = 0;
    MediumKey medium_batch_[WordTable::BATCH];
    std::size_t medium_batched_ = 0;
    Isa isa_;
    std::unique_ptr<Chunk> chunk_;
    std::unique_ptr<ThreeChunk> three_;  // for texts of two or four bytes a unit
    std::string word_;
    std::string letters_;
    std::string lowered_;
};

// The bytes a text takes in UTF-8, roughly, to size the tables.
std::size_t estimated_bytes(text::TextView text) noexcept {
    switch (text.form) {
        case text::Form::UCS2:
            return 2 * text.length;
        case text::Form::UCS4:
            return 3 * text.length;
        default:
            return text.length;
    }
}

// The `top_n` entries of highest count, most frequent first.
struct Entry {
    std::uint64_t count;
    std::string_view word;
};

std::vector<Entry> select_top(const WordTable& table, std::uint64_t top_n) {
    const auto by_count = [](const Entry& a, const Entry& b) { return a.count > b.count; };
    std::vector<Entry> entries;
    const std::size_t distinct = table.size();
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(top_n, distinct));
    if (wanted == 0) {
        return entries;
    }
    if (wanted < distinct / 8) {
        // A heap of the best so far, its least at the front: most words are
        // turned away by one comparison, and no list of every word is made.
        entries.reserve(wanted);
        table.for_each([&](std::string_view word, std::uint64_t count) {
            if (entries.size() < wanted) {
                entries.push_back({count, word});
                std::push_heap(entries.begin(), entries.end(), by_count);
            } else if (count > entries.front().count) {
                std::pop_heap(entries.begin(), entries.end(), by_count);
                entries.back() = {count, word};
                std::push_heap(entries.begin(), entries.end(), by_count);
            }
        });
        std::sort_heap(entries.begin(), entries.end(), by_count);
        return entries;
    }
    entries.reserve(distinct);
    table.for_each([&](std::string_view word, std::uint64_t count) {
        entries.push_back({count, word});
    });
    const auto cut = entries.begin() + static_cast<std::ptrdiff_t>(wanted);
    if (cut != entries.end()) {
        std::nth_element(entries.begin(), cut, entries.end(), by_count);
        entries.erase(cut, entries.end());
    }
    std::sort(entries.begin(), entries.end(), by_count);
    return entries;
}

}  // namespace

Keywords extract_keywords(text::TextView text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    KeywordCounter counter(stop_words, random_hash_seed(), estimated_bytes(text));
    text.visit([&]<class View>(View units) { counter.count(units.data(), units.size()); });

    // The table holds the words; those that make the cut are copied out to
    // the result's own store.
    Keywords result;
    const std::vector<Entry> top = select_top(counter.table(), top_n);
    result.pairs.reserve(top.size());
    for (const Entry& entry : top) {
        result.pairs.push_back({result.store.add(entry.word), entry.count});
    }
    return result;
}

Keywords extract_keywords(std::string_view text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    return extract_keywords(text::TextView::utf8(text), std::move(stop_words), top_n);
}

// ---------------------------------------------------------------------------
// Counting that outlives one text.

struct WordCounting::Impl {
    Impl(const std::vector<std::string>& stop_words, std::uint64_t seed, std::size_t text_bytes)
        : counter(stop_words, seed, text_bytes) {}
    KeywordCounter counter;
};

WordCounting::WordCounting(const std::vector<std::string>& stop_words, std::uint64_t seed,
                           std::size_t text_bytes)
    : impl_(std::make_unique<Impl>(stop_words, seed, text_bytes)) {}

WordCounting::~WordCounting() = default;

void WordCounting::count(text::TextView text) {
    text.visit([&]<class View>(View units) { impl_->counter.count(units.data(), units.size()); });
}

const WordTable& WordCounting::table() const noexcept { return impl_->counter.table(); }

std::size_t estimated_utf8_bytes(text::TextView text) noexcept { return estimated_bytes(text); }

}  // namespace parvenkel::analysis
