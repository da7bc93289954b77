// The AVX2 decoders of UTF-8 into a str's units (one or two bytes a
// character; a str with a character of four bytes in UTF-8 has units of
// four and never reaches them).
//
// A block of 64 bytes is read once for which bytes start a character. It
// is then decoded in windows of eight bytes, each the characters that start
// in it: the window's starts (and where the next one is, for the length of
// its last character) pick from a table two shuffles that put each
// character's last two bytes and its lead byte in a 16-bit lane of their
// own, where masks and shifts make its code point. Every window begins
// eight bytes after the one before whatever it holds, so no window waits on
// another, and writes as many units as characters start in it. A block of
// ASCII becomes 64 units at once. A block with no character of three bytes
// (Greek, Cyrillic, accented Latin) is decoded sixteen bytes at a time:
// every byte's code point is made from it and the next byte, and those of
// the bytes that start a character are packed together.
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

// A window's key: which of the eleven bytes from its start begin a
// character (its eight, and three more to end its last character).
constexpr unsigned KEY_BITS = 11;
constexpr unsigned WINDOW = 8;

// A pattern: the window's starts (eight bits) and the length of its last
// character (1 to 3), as starts * 3 + length - 1.
constexpr unsigned PATTERNS = 256 * 3;

struct Tables {
    std::array<std::uint16_t, 1U << KEY_BITS> pattern;
    // Per pattern, two shuffles of the window's sixteen bytes: the last
    // byte of each character low and the one before it high, then its lead
    // byte (of three) high.
    alignas(16) std::array<std::array<std::uint8_t, 32>, PATTERNS> shuffles;
};

constexpr Tables make_tables() {
    Tables t{};
    for (unsigned key = 0; key < (1U << KEY_BITS); ++key) {
        const unsigned starts = key & 0xFF;
        // The last start in the window and the next one after it; a
        // window with no start, or a character longer than three bytes,
        // does not occur in these strs and gets any pattern.
        const unsigned last =
            starts == 0 ? 0 : 31 - static_cast<unsigned>(std::countl_zero(starts));
        unsigned next = last + 1;
        while (next < KEY_BITS && (key >> next & 1) == 0) {
            ++next;
        }
        const unsigned length = next - last > 3 ? 3 : next - last;
        t.pattern[key] = static_cast<std::uint16_t>(starts * 3 + length - 1);
    }
    constexpr std::uint8_t ZERO = 0x80;  // a shuffle index that gives 0
    for (unsigned id = 0; id < PATTERNS; ++id) {
        const unsigned starts = id / 3;
        std::array<std::uint8_t, 32> s{};
        s.fill(ZERO);
        unsigned lane = 0;
        for (unsigned at = 0; at < WINDOW; ++at) {
            if ((starts >> at & 1) == 0) {
                continue;
            }
            unsigned next = at + 1;
            while (next < WINDOW && (starts >> next & 1) == 0) {
                ++next;
            }
            const unsigned length = next < WINDOW ? next - at : id % 3 + 1;
            const unsigned bounded = length > 3 ? 3 : length;
            s[2 * lane] = static_cast<std::uint8_t>(at + bounded - 1);
            if (bounded >= 2) {
                s[2 * lane + 1] = static_cast<std::uint8_t>(at + bounded - 2);
            }
            if (bounded == 3) {
                s[16 + 2 * lane + 1] = static_cast<std::uint8_t>(at);
            }
            ++lane;
        }
        t.shuffles[id] = s;
    }
    return t;
}

constexpr Tables TABLES = make_tables();

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

// Sixteen bytes with no lead of three bytes: every character starting in
// them is ASCII or of two bytes, its code point made from its byte and the
// next one. All sixteen are made at once, and the lanes of the starts
// packed eight at a time. Writes sixteen units, keeps one a start.
template <class Unit>
[[gnu::always_inline]] inline Unit* decode_narrow(const unsigned char* p, unsigned starts,
                                                  Unit* out) {
    const __m256i byte = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m256i next =
        _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1)));
    const __m256i two =
        _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(byte, _mm256_set1_epi16(0x1F)), 6),
                        _mm256_and_si256(next, _mm256_set1_epi16(0x3F)));
    const __m256i points =
        _mm256_blendv_epi8(two, byte, _mm256_cmpgt_epi16(_mm256_set1_epi16(0x80), byte));
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

// A block of 64 bytes with no lead of three bytes.
template <class Unit>
[[gnu::always_inline]] inline Unit* decode_narrow_block(const unsigned char* p,
                                                        std::uint64_t starts, Unit* out) {
    for (unsigned at = 0; at < 64; at += 16) {
        out = decode_narrow(p + at, static_cast<unsigned>(starts >> at & 0xFFFF), out);
    }
    return out;
}

template <class Unit>
void decode(std::string_view text, Unit* out, std::size_t units) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = p + text.size();
    Unit* const out_end = out + units;
    // A block reads 96 bytes (its 64 and the starts after them) and writes
    // up to 72 units, of which it keeps those it decoded.
    const auto room = [&] { return end - p >= 96 && out_end - out >= 72; };
    const __m256i past_two = _mm256_set1_epi8(static_cast<char>(0xDF));
    // Whether a block has no byte above 0xDF: ASCII and characters of two
    // bytes alone (Greek, Cyrillic, Latin).
    const auto narrow = [&](__m256i top) {
        return _mm256_testz_si256(_mm256_subs_epu8(top, past_two), _mm256_set1_epi8(-1)) != 0;
    };
    // Two loops, one for the blocks with a lead of three bytes (in windows)
    // and one for the narrow blocks, each leaving for the other at a block
    // of the other kind. One loop that chose at each block ran CJK text 9%
    // slower, though it never took the narrow path; as two, the windows'
    // loop is compiled as tight as alone.
    while (room()) {
        while (room()) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
            const __m256i top = _mm256_max_epu8(a, b);
            if (_mm256_movemask_epi8(top) == 0) {
                store_ascii_block(a, b, out);
                p += 64;
                out += 64;
                continue;
            }
            // Asked at one block in eight only (where bits 6 to 8 of p are
            // 0): asked at every block, it cost CJK text 2-4%, more than the
            // few narrow blocks then taken in windows cost the others.
            if ((reinterpret_cast<std::uintptr_t>(p) & 0x1C0) == 0 && narrow(top)) {
                break;
            }
            const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 64));
            const std::uint64_t low = starts_of(a) | std::uint64_t{starts_of(b)} << 32;
            const std::uint64_t high = starts_of(c);
            for (unsigned at = 0; at < 64; at += WINDOW) {
                const std::uint64_t bits = at == 0 ? low : low >> at | high << (64 - at);
                const unsigned key = static_cast<unsigned>(bits) & ((1U << KEY_BITS) - 1);
                const auto& shuffle = TABLES.shuffles[TABLES.pattern[key]];
                const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
                const __m128i tail = _mm_shuffle_epi8(
                    in, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.data())));
                const __m128i lead = _mm_shuffle_epi8(
                    in, _mm_load_si128(reinterpret_cast<const __m128i*>(shuffle.data() + 16)));
                // The last byte's six bits (seven for ASCII), the one before
                // it's six at bit 6 (the lead of two bytes, whose sixth bit
                // is 0, gives its five), the lead of three's four at bit 12.
                const __m128i points = _mm_or_si128(
                    _mm_or_si128(_mm_and_si128(tail, _mm_set1_epi16(0x7F)),
                                 _mm_srli_epi16(_mm_and_si128(tail, _mm_set1_epi16(0x3F00)), 2)),
                    _mm_slli_epi16(_mm_and_si128(lead, _mm_set1_epi16(0x0F00)), 4));
                store_eight(points, out);
                out += std::popcount(key & 0xFF);
            }
            p += 64;
        }
        while (room()) {
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
            const __m256i top = _mm256_max_epu8(a, b);
            if (_mm256_movemask_epi8(top) == 0) {
                store_ascii_block(a, b, out);
                p += 64;
                out += 64;
                continue;
            }
            if (!narrow(top)) {
                break;
            }
            out = decode_narrow_block(p, starts_of(a) | std::uint64_t{starts_of(b)} << 32, out);
            p += 64;
        }
    }
    // The rest from the start of a character: a block ends at one only
    // where byte 64 starts one.
    while (p < end && (*p & 0xC0) == 0x80) {
        ++p;
    }
    const auto done =
        static_cast<std::size_t>(p - reinterpret_cast<const unsigned char*>(text.data()));
    text::decode_units_portable(text.substr(done), out, static_cast<std::size_t>(out_end - out));
}

// The characters (bytes above 0xBF as signed bytes: not continuation
// bytes) and the largest byte, 32 bytes a step. Each lane's count is a byte,
// summed into 64 bits every 255 steps at most, before it can wrap.
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

constexpr Decoders DECODERS{count, latin1, ucs2};

}  // namespace

template <>
const Decoders& decoders_with<Kernels::AVX2>() noexcept {
    return DECODERS;
}

}  // namespace parvenkel::kernels

#endif
