// The AVX2 decoders of UTF-8 into a str's units (one, two or four bytes a
// character), and the count of a text's characters.
//
// A block of 64 bytes is read once for which bytes start a character
// (all but the continuation bytes). It is then decoded a chunk at a time,
// each byte as if it started a character: its code point as ASCII, as the
// lead of two bytes (with the next byte), of three (with the next two) and,
// for units of four bytes, of four, are all made in the lanes of one
// register, and the byte's own value picks one. A table then packs the
// lanes of the bytes that do start a character: a shuffle of 16-bit lanes
// for each byte of starts, eight lanes at a time, or a permutation of
// eight 32-bit lanes. A block of ASCII becomes 64 units at once.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/utf8_decode.hpp"
#include "text/utf8_units.hpp"

namespace parvenkel::kernels {

namespace {

// Per byte of eight starts, the shuffle that moves the 16-bit lanes of
// those starts to the front, in order.
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_packs() {
    std::array<std::array<std::uint8_t, 16>, 256> packs{};
    for (unsigned starts = 0; starts < 256; ++starts) {
        auto& pack = packs[starts];
        pack.fill(0x80);
        unsigned lane = 0;
        for (unsigned at = 0; at < 8; ++at) {
            if ((starts >> at & 1) != 0) {
                pack[2 * lane] = static_cast<std::uint8_t>(2 * at);
                pack[2 * lane + 1] = static_cast<std::uint8_t>(2 * at + 1);
                ++lane;
            }
        }
    }
    return packs;
}

alignas(64) constexpr std::array<std::array<std::uint8_t, 16>, 256> PACKS = make_packs();

// Per byte of eight starts, the lanes of those starts first, for a
// permutation of eight 32-bit lanes.
constexpr std::array<std::array<std::uint32_t, 8>, 256> make_wide_packs() {
    std::array<std::array<std::uint32_t, 8>, 256> packs{};
    for (unsigned starts = 0; starts < 256; ++starts) {
        unsigned lane = 0;
        for (unsigned at = 0; at < 8; ++at) {
            if ((starts >> at & 1) != 0) {
                packs[starts][lane++] = at;
            }
        }
    }
    return packs;
}

alignas(64) constexpr std::array<std::array<std::uint32_t, 8>, 256> WIDE_PACKS = make_wide_packs();

}  // namespace

}  // namespace parvenkel::kernels

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"

namespace parvenkel::kernels {

namespace {

// Sixteen bytes of ASCII as sixteen units.
inline void store_ascii(__m128i bytes, std::uint8_t* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
}
inline void store_ascii(__m128i bytes, char16_t* out) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepu8_epi16(bytes));
}
inline void store_ascii(__m128i bytes, char32_t* out) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepu8_epi32(bytes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8),
                        _mm256_cvtepu8_epi32(_mm_srli_si128(bytes, 8)));
}

// Eight 16-bit code points as units.
inline void store_eight(__m128i points, std::uint8_t* out) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(points, points));
}
inline void store_eight(__m128i points, char16_t* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), points);
}

// The bits of the bytes at `p` that start a character (all but the
// continuation bytes, 0x80 to 0xBF: the signed bytes below -64).
inline std::uint32_t starts_of(__m256i bytes) {
    return ~static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpgt_epi8(_mm256_set1_epi8(-64), bytes)));
}

// A block of 64 bytes of ASCII as 64 units.
template <class Unit>
[[gnu::always_inline]] inline void store_ascii_block(__m256i a, __m256i b, Unit* out) {
    store_ascii(_mm256_castsi256_si128(a), out);
    store_ascii(_mm256_extracti128_si256(a, 1), out + 16);
    store_ascii(_mm256_castsi256_si128(b), out + 32);
    store_ascii(_mm256_extracti128_si256(b, 1), out + 48);
}

// Sixteen bytes of a str of one or two bytes a unit (no character of four
// bytes in UTF-8): every byte's code point is made as if it started a
// character of one, two and three bytes, the right one kept by its lead
// byte, and the lanes of the starts packed eight at a time. Writes sixteen
// units, keeps one a start.
template <class Unit>
[[gnu::always_inline]] inline Unit* decode_sixteen(const unsigned char* p, unsigned starts,
                                                   Unit* out) {
    const __m256i byte = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i next =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)));
    const __m256i third =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)));
    const __m256i six = _mm256_set1_epi16(0x3F);
    const __m256i low_next = _mm256_and_si256(next, six);
    const __m256i two = _mm256_or_si256(
        _mm256_slli_epi16(_mm256_and_si256(byte, _mm256_set1_epi16(0x1F)), 6), low_next);
    const __m256i three = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi16(byte, 12), _mm256_slli_epi16(low_next, 6)),
        _mm256_and_si256(third, six));
    __m256i points =
        _mm256_blendv_epi8(two, three, _mm256_cmpgt_epi16(byte, _mm256_set1_epi16(0xDF)));
    points = _mm256_blendv_epi8(points, byte, _mm256_cmpgt_epi16(_mm256_set1_epi16(0x80), byte));
    const unsigned first = starts & 0xFF;
    const unsigned second = starts >> 8;
    store_eight(
        _mm_shuffle_epi8(_mm256_castsi256_si128(points),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(PACKS[first].data()))),
        out);
    out += std::popcount(first);
    store_eight(
        _mm_shuffle_epi8(_mm256_extracti128_si256(points, 1),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(PACKS[second].data()))),
        out);
    return out + std::popcount(second);
}

// Eight bytes of a str of four bytes a unit, as decode_sixteen does with
// 32-bit lanes and a lead of four bytes too. Writes eight units, keeps one
// a start.
[[gnu::always_inline]] inline char32_t* decode_eight_wide(const unsigned char* p, unsigned starts,
                                                          char32_t* out) {
    const auto bytes_at = [p](std::size_t k) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + k)));
    };
    const __m256i byte = bytes_at(0);
    const __m256i six = _mm256_set1_epi32(0x3F);
    const __m256i c1 = _mm256_and_si256(bytes_at(1), six);
    const __m256i c2 = _mm256_and_si256(bytes_at(2), six);
    const __m256i c3 = _mm256_and_si256(bytes_at(3), six);
    const __m256i two =
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(byte, _mm256_set1_epi32(0x1F)), 6), c1);
    const __m256i low_three = _mm256_or_si256(_mm256_slli_epi32(c1, 6), c2);
    const __m256i three = _mm256_or_si256(
        _mm256_slli_epi32(_mm256_and_si256(byte, _mm256_set1_epi32(0x0F)), 12), low_three);
    const __m256i four = _mm256_or_si256(
        _mm256_or_si256(_mm256_slli_epi32(_mm256_and_si256(byte, _mm256_set1_epi32(0x07)), 18),
                        _mm256_slli_epi32(low_three, 6)),
        c3);
    __m256i points =
        _mm256_blendv_epi8(three, four, _mm256_cmpgt_epi32(byte, _mm256_set1_epi32(0xEF)));
    points = _mm256_blendv_epi8(two, points, _mm256_cmpgt_epi32(byte, _mm256_set1_epi32(0xDF)));
    points = _mm256_blendv_epi8(points, byte, _mm256_cmpgt_epi32(_mm256_set1_epi32(0x80), byte));
    const __m256i order =
        _mm256_load_si256(reinterpret_cast<const __m256i*>(WIDE_PACKS[starts].data()));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                        _mm256_permutevar8x32_epi32(points, order));
    return out + std::popcount(starts);
}

// The chunks of a block: sixteen bytes for units of one or two bytes, eight
// for units of four.
template <class Unit>
[[gnu::always_inline]] inline Unit* decode_block(const unsigned char* p, std::uint64_t starts,
                                                 Unit* out) {
    if constexpr (sizeof(Unit) == 4) {
        for (unsigned at = 0; at < 64; at += 8) {
            out = decode_eight_wide(p + at, static_cast<unsigned>(starts >> at & 0xFF), out);
        }
    } else {
        for (unsigned at = 0; at < 64; at += 16) {
            out = decode_sixteen(p + at, static_cast<unsigned>(starts >> at & 0xFFFF), out);
        }
    }
    return out;
}

// The last bytes of a text, fewer than a block reads or holding fewer
// characters than a block writes (a short title's all): copied into a
// buffer with zeros after them, decoded by blocks there, and the `units`
// characters they hold copied out. The help pages' titles and the first
// 300 characters of their contents took 0.78 of the time a character at a
// time took (the titles alone 0.91). Fewer than 8 bytes go a character at
// a time.
template <class Unit>
void decode_rest(const unsigned char* p, const unsigned char* end, Unit* out,
                 std::size_t units) noexcept {
    // Fewer than 64 characters of four bytes at most, after up to three
    // continuation bytes of the character before them.
    constexpr std::size_t MOST = 3 + 63 * 4;
    const auto rest = static_cast<std::size_t>(end - p);
    if (rest < 8 || rest > MOST || units > rest) {
        while (p < end && (*p & 0xC0) == 0x80) {
            ++p;  // the end of a character a block decoded
        }
        text::decode_units_portable(
            std::string_view(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p)),
            out, units);
        return;
    }
    // Zeros as far as the last block reads (its 64 bytes and three more).
    const std::size_t read = (rest + 63) / 64 * 64 + 3;
    alignas(32) unsigned char bytes[(MOST + 63) / 64 * 64 + 3];
    std::memcpy(bytes, p, rest);
    std::memset(bytes + rest, 0, read - rest);
    alignas(32) Unit units_out[(MOST + 1) / 64 * 64 + 64 + 64];
    Unit* written = units_out;
    for (std::size_t at = 0; at < rest; at += 64) {
        const __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes + at));
        const __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes + at + 32));
        written =
            decode_block(bytes + at, starts_of(a) | std::uint64_t{starts_of(b)} << 32, written);
    }
    std::memcpy(out, units_out, units * sizeof(Unit));
}

template <class Unit>
void decode(std::string_view text, Unit* out, std::size_t units) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    Unit* const out_end = out + units;
    // A block reads 67 bytes at most (its 64 and the three after them, for
    // a character that starts at its end) and writes up to 64 units, of
    // which it keeps one a character that starts in it.
    while (end - p >= 67 && out_end - out >= 64) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
            store_ascii_block(a, b, out);
            p += 64;
            out += 64;
            continue;
        }
        out = decode_block(p, starts_of(a) | std::uint64_t{starts_of(b)} << 32, out);
        p += 64;
    }
    decode_rest(p, end, out, static_cast<std::size_t>(out_end - out));
}

// The characters (the bytes that are not continuation bytes: above 0xBF
// as signed bytes) and the largest byte, 64 bytes a step. Each lane's
// count is a byte, summed into 64 bits every 255 steps at most, before it
// can wrap.
Utf8Count count(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    if (n < 64) {
        return text::utf8_count_portable(text);  // a title, an id, a word
    }
    const __m256i zero = _mm256_setzero_si256();
    const __m256i last_continuation = _mm256_set1_epi8(static_cast<char>(0xBF));
    __m256i top = zero;
    __m256i total = zero;
    std::size_t i = 0;
    constexpr std::size_t MOST_STEPS = 255;
    while (n - i >= 64) {
        const std::size_t steps = std::min(MOST_STEPS, (n - i) / 64);
        __m256i a = zero;  // two sets of counts, for two chains at once
        __m256i b = zero;
        for (std::size_t k = 0; k < steps; ++k, i += 64) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
            const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32));
            top = _mm256_max_epu8(top, _mm256_max_epu8(x, y));
            a = _mm256_sub_epi8(a, _mm256_cmpgt_epi8(x, last_continuation));
            b = _mm256_sub_epi8(b, _mm256_cmpgt_epi8(y, last_continuation));
        }
        total = _mm256_add_epi64(total, _mm256_sad_epu8(a, zero));
        total = _mm256_add_epi64(total, _mm256_sad_epu8(b, zero));
    }
    // The lanes folded in halves: the largest byte and the sum.
    __m128i top16 = _mm_max_epu8(_mm256_castsi256_si128(top), _mm256_extracti128_si256(top, 1));
    top16 = _mm_max_epu8(top16, _mm_srli_si128(top16, 8));
    top16 = _mm_max_epu8(top16, _mm_srli_si128(top16, 4));
    top16 = _mm_max_epu8(top16, _mm_srli_si128(top16, 2));
    top16 = _mm_max_epu8(top16, _mm_srli_si128(top16, 1));
    __m128i sum = _mm_add_epi64(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
    sum = _mm_add_epi64(sum, _mm_unpackhi_epi64(sum, sum));
    Utf8Count rest = text::utf8_count_portable(text.substr(i));
    rest.chars += static_cast<std::size_t>(_mm_cvtsi128_si64(sum));
    rest.top = std::max(rest.top, static_cast<unsigned char>(_mm_cvtsi128_si32(top16) & 0xFF));
    return rest;
}

void latin1(std::string_view text, std::uint8_t* out, std::size_t units) noexcept {
    decode(text, out, units);
}

void ucs2(std::string_view text, char16_t* out, std::size_t units) noexcept {
    decode(text, out, units);
}

}  // namespace

}  // namespace parvenkel::kernels

#include "kernels/avx2/end.hpp"

namespace parvenkel::kernels {

namespace {

void ucs4(std::string_view text, char32_t* out, std::size_t units) noexcept {
    decode(text, out, units);
}

constexpr Decoders DECODERS{count, latin1, ucs2, ucs4};

}  // namespace

template <>
const Decoders& decoders_with<Kernels::AVX2>() noexcept {
    return DECODERS;
}

}  // namespace parvenkel::kernels

#endif
