// The AVX-512 decoders of UTF-8 into a str's units (one, two or four
// bytes a character). The set takes AVX2's word walker (dispatch.cpp)
// and AVX2's count of a text's characters.
//
// As AVX2's (avx2/utf8_decode.cpp), a block of 64 bytes is read once for
// which bytes start a character, and every byte is decoded as if it
// started one: its code point as ASCII, as the lead of two bytes and of
// three (and of four, for units of four bytes), all made in the lanes of
// one register, the byte's own value picking one. Then one instruction
// (VBMI2's compress) packs the lanes of the starts, where AVX2 takes a
// table's shuffle for each eight: 32 lanes of 16 bits at a time, or 16 of
// 32 bits. A block of ASCII becomes 64 units at once.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX512_TARGET)

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kernels/avx512/quiet_gcc12.hpp"
#include "kernels/utf8_decode.hpp"
#include "text/utf8_units.hpp"

// Everything below, to end.hpp, is compiled for AVX-512.
#include "kernels/avx512/begin.hpp"

namespace parvenkel::kernels {

namespace {

// The bits of the 64 bytes that start a character (all but the
// continuation bytes, 0x80 to 0xBF: the signed bytes below -64).
inline std::uint64_t starts_of(__m512i bytes) {
    return _mm512_cmpgt_epi8_mask(bytes, _mm512_set1_epi8(-65));
}

// The bits of the `count` bytes (or lanes) from `p` that lie before `end`.
template <class Mask>
inline Mask before_end(const unsigned char* p, const unsigned char* end, unsigned count) {
    const std::ptrdiff_t left = end - p;
    if (left <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(left) >= count ? static_cast<Mask>(~Mask{0})
                                                   : static_cast<Mask>((Mask{1} << left) - 1);
}

// The 32 bytes at `p` in 16-bit lanes, and the 16 at `p` in 32-bit lanes;
// with MASKED, only those before `end`, the others read as zeros.
// (Functions, not lambdas, which clang's target region does not cover.)
template <bool MASKED>
inline __m512i widen_32(const unsigned char* p, const unsigned char* end) {
    if constexpr (MASKED) {
        return _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(before_end<__mmask32>(p, end, 32), p));
    } else {
        return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
}
template <bool MASKED>
inline __m512i widen_16(const unsigned char* p, const unsigned char* end) {
    if constexpr (MASKED) {
        return _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(before_end<__mmask16>(p, end, 16), p));
    } else {
        return _mm512_cvtepu8_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
}

// The code point of each of the 32 bytes at `p` as if it started a
// character of one, two or three bytes (no character of four: a str of one
// or two bytes a unit), in 16-bit lanes.
template <bool MASKED>
inline __m512i points_of_32(const unsigned char* p, const unsigned char* end) {
    const __m512i byte = widen_32<MASKED>(p, end);
    const __m512i six = _mm512_set1_epi16(0x3F);
    const __m512i low_next = _mm512_and_si512(widen_32<MASKED>(p + 1, end), six);
    const __m512i two = _mm512_or_si512(
        _mm512_slli_epi16(_mm512_and_si512(byte, _mm512_set1_epi16(0x1F)), 6), low_next);
    const __m512i three = _mm512_or_si512(
        _mm512_or_si512(_mm512_slli_epi16(byte, 12), _mm512_slli_epi16(low_next, 6)),
        _mm512_and_si512(widen_32<MASKED>(p + 2, end), six));
    const __m512i points =
        _mm512_mask_blend_epi16(_mm512_cmpgt_epu16_mask(byte, _mm512_set1_epi16(0xDF)), two, three);
    return _mm512_mask_blend_epi16(_mm512_cmplt_epu16_mask(byte, _mm512_set1_epi16(0x80)), points,
                                   byte);
}

// The same for the 16 bytes at `p` in 32-bit lanes, a lead of four bytes
// too.
template <bool MASKED>
inline __m512i points_of_16(const unsigned char* p, const unsigned char* end) {
    const __m512i byte = widen_16<MASKED>(p, end);
    const __m512i six = _mm512_set1_epi32(0x3F);
    const __m512i c1 = _mm512_and_si512(widen_16<MASKED>(p + 1, end), six);
    const __m512i c2 = _mm512_and_si512(widen_16<MASKED>(p + 2, end), six);
    const __m512i c3 = _mm512_and_si512(widen_16<MASKED>(p + 3, end), six);
    const __m512i two =
        _mm512_or_si512(_mm512_slli_epi32(_mm512_and_si512(byte, _mm512_set1_epi32(0x1F)), 6), c1);
    const __m512i low_three = _mm512_or_si512(_mm512_slli_epi32(c1, 6), c2);
    const __m512i three = _mm512_or_si512(
        _mm512_slli_epi32(_mm512_and_si512(byte, _mm512_set1_epi32(0x0F)), 12), low_three);
    const __m512i four = _mm512_or_si512(
        _mm512_or_si512(_mm512_slli_epi32(_mm512_and_si512(byte, _mm512_set1_epi32(0x07)), 18),
                        _mm512_slli_epi32(low_three, 6)),
        c3);
    __m512i points = _mm512_mask_blend_epi32(_mm512_cmpgt_epu32_mask(byte, _mm512_set1_epi32(0xEF)),
                                             three, four);
    points = _mm512_mask_blend_epi32(_mm512_cmpgt_epu32_mask(byte, _mm512_set1_epi32(0xDF)), two,
                                     points);
    return _mm512_mask_blend_epi32(_mm512_cmplt_epu32_mask(byte, _mm512_set1_epi32(0x80)), points,
                                   byte);
}

// A block of 64 bytes whose starts are `starts`: writes up to 64 units,
// keeps one a start. Units of one byte are packed as units of two, then
// narrowed. With MASKED (the text's last block) it reads no byte from
// `end` on and writes one unit a start, none from `out_end` on.
template <bool MASKED, class Unit>
inline Unit* decode_block(const unsigned char* p, const unsigned char* end, std::uint64_t starts,
                          Unit* out, Unit* out_end) {
    const auto room = [&](unsigned lanes) {
        return static_cast<unsigned>(std::min<std::ptrdiff_t>(out_end - out, lanes));
    };
    if constexpr (sizeof(Unit) == 4) {
        for (unsigned at = 0; at < 64; at += 16) {
            const auto lanes = static_cast<__mmask16>(starts >> at);
            const unsigned count =
                std::min(static_cast<unsigned>(std::popcount(lanes)), MASKED ? room(16) : 16u);
            const __m512i packed =
                _mm512_maskz_compress_epi32(lanes, points_of_16<MASKED>(p + at, end));
            if constexpr (MASKED) {
                _mm512_mask_storeu_epi32(
                    out, static_cast<__mmask16>((std::uint32_t{1} << count) - 1), packed);
            } else {
                _mm512_storeu_si512(out, packed);
            }
            out += count;
        }
    } else {
        for (unsigned at = 0; at < 64; at += 32) {
            const auto lanes = static_cast<__mmask32>(starts >> at);
            const unsigned count =
                std::min(static_cast<unsigned>(std::popcount(lanes)), MASKED ? room(32) : 32u);
            const __m512i packed =
                _mm512_maskz_compress_epi16(lanes, points_of_32<MASKED>(p + at, end));
            const auto kept = static_cast<__mmask32>((std::uint64_t{1} << count) - 1);
            if constexpr (sizeof(Unit) == 1) {
                if constexpr (MASKED) {
                    _mm256_mask_storeu_epi8(out, kept, _mm512_cvtepi16_epi8(packed));
                } else {
                    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                        _mm512_cvtepi16_epi8(packed));
                }
            } else if constexpr (MASKED) {
                _mm512_mask_storeu_epi16(out, kept, packed);
            } else {
                _mm512_storeu_si512(out, packed);
            }
            out += count;
        }
    }
    return out;
}

// 64 bytes of ASCII as 64 units.
inline void store_ascii_block(__m512i bytes, std::uint8_t* out) { _mm512_storeu_si512(out, bytes); }

inline void store_ascii_block(__m512i bytes, char16_t* out) {
    _mm512_storeu_si512(out, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(bytes)));
    _mm512_storeu_si512(out + 32, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(bytes, 1)));
}

inline void store_ascii_block(__m512i bytes, char32_t* out) {
    _mm512_storeu_si512(out, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(bytes, 0)));
    _mm512_storeu_si512(out + 16, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(bytes, 1)));
    _mm512_storeu_si512(out + 32, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(bytes, 2)));
    _mm512_storeu_si512(out + 48, _mm512_cvtepu8_epi32(_mm512_extracti32x4_epi32(bytes, 3)));
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
        const __m512i bytes = _mm512_loadu_si512(p);
        if (_mm512_movepi8_mask(bytes) == 0) {
            store_ascii_block(bytes, out);
            out += 64;
        } else {
            out = decode_block<false>(p, end, starts_of(bytes), out, out_end);
        }
        p += 64;
    }
    // The rest (a short text's whole) in blocks that read and write only
    // what is there.
    for (; p < end && out < out_end; p += 64) {
        const auto here = before_end<__mmask64>(p, end, 64);
        out = decode_block<true>(p, end, starts_of(_mm512_maskz_loadu_epi8(here, p)) & here, out,
                                 out_end);
    }
}

}  // namespace

}  // namespace parvenkel::kernels

#include "kernels/avx512/end.hpp"

namespace parvenkel::kernels {

template <>
const Decoders& decoders_with<Kernels::AVX512>() noexcept {
    // AVX2's count, which reads at the memory's speed already.
    static const Decoders decoders{decoders_with<Kernels::AVX2>().count, decode<std::uint8_t>,
                                   decode<char16_t>, decode<char32_t>};
    return decoders;
}

}  // namespace parvenkel::kernels

#endif
