// The AVX-512 decoder of packed posting blocks: sixteen numbers a step.
//
// Sixteen numbers of `width` bits take 2 x width bytes, so every step
// starts on a byte, and below 25 bits each number lies in the four bytes
// from its first (its shift, under 8, and its width make at most 31 bits).
// One byte permutation (VBMI's vpermb) moves each number's four bytes into
// its 32-bit lane, a shift by the lane's own count and a mask leave the
// number, and the sixteen are summed in four steps of shifted adds, the
// sum so far carried from lane 15 into the next step. The permutation and
// the shifts depend on the width alone: a table's, made when compiled. A block of
// wider numbers, or whose sums could pass 32 bits, takes the portable
// decoder.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX512_TARGET)

#include <array>
#include <cstddef>
#include <cstdint>

#include "kernels/avx512/quiet_gcc12.hpp"
#include "kernels/posting_blocks.hpp"
#include "util/bitpack.hpp"

// Everything below, to end.hpp, is compiled for AVX-512.
#include "kernels/avx512/begin.hpp"

namespace parvenkel::kernels {

namespace {

// Per width up to VECTOR_WIDEST, for each of a step's sixteen lanes: the four
// bytes from the one its number starts in, and the number's shift there.
struct Lanes {
    alignas(64) std::uint8_t order[64];
    alignas(64) std::uint32_t shift[16];
};

constexpr std::array<Lanes, VECTOR_WIDEST + 1> make_lanes() {
    std::array<Lanes, VECTOR_WIDEST + 1> all{};
    for (unsigned width = 0; width <= VECTOR_WIDEST; ++width) {
        for (unsigned lane = 0; lane < 16; ++lane) {
            const unsigned bit = lane * width;
            for (unsigned byte = 0; byte < 4; ++byte) {
                all[width].order[4 * lane + byte] = static_cast<std::uint8_t>(bit / 8 + byte);
            }
            all[width].shift[lane] = bit % 8;
        }
    }
    return all;
}

alignas(64) constexpr std::array<Lanes, VECTOR_WIDEST + 1> LANES = make_lanes();

std::uint64_t unpack(const unsigned char* in, unsigned width, std::size_t readable,
                     std::uint64_t first, std::uint32_t* out) noexcept {
    if (width > VECTOR_WIDEST || first >= VECTOR_FIRST_BELOW) {
        return unpack_numbers_portable(in, width, readable, first, out);
    }
    const std::size_t bytes = util::packed_bytes(width);
    const __m512i order = _mm512_load_si512(LANES[width].order);
    const __m512i shift = _mm512_load_si512(LANES[width].shift);
    const __m512i mask = _mm512_set1_epi32(static_cast<int>((std::uint32_t{1} << width) - 1));
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i last_lane = _mm512_set1_epi32(15);
    // The number before the step's first, less one (the first's own one
    // is added as every other's).
    __m512i carry = _mm512_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(first) - 1));
    for (std::size_t step = 0; step < util::PACKED_BLOCK / 16; ++step) {
        // The step's bytes, none past the block's.
        const std::size_t at = step * 2 * width;
        const std::size_t left = bytes - at;
        const __mmask64 here = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        const __m512i packed = _mm512_maskz_loadu_epi8(here, in + at);
        __m512i x = _mm512_and_si512(
            _mm512_srlv_epi32(_mm512_permutexvar_epi8(order, packed), shift), mask);
        // Each difference plus one, summed across the lanes.
        x = _mm512_add_epi32(x, one);
        x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 15));
        x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 14));
        x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 12));
        x = _mm512_add_epi32(x, _mm512_alignr_epi32(x, zero, 8));
        x = _mm512_add_epi32(x, carry);
        _mm512_storeu_si512(out + 16 * step, x);
        carry = _mm512_permutexvar_epi32(last_lane, x);
    }
    return out[util::PACKED_BLOCK - 1];
}

}  // namespace

}  // namespace parvenkel::kernels

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// The window in one compare.
inline bool window_has(const std::uint32_t* window, std::uint32_t id) noexcept {
    return _mm512_cmpeq_epi32_mask(_mm512_loadu_si512(window),
                                   _mm512_set1_epi32(static_cast<int>(id))) != 0;
}

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET

// keep_found, in namespace avx512.
#include "kernels/generic/keep_found.hpp"
// Closes the AVX-512 region.
#include "kernels/avx512/end.hpp"

namespace parvenkel::kernels {

template <>
const PostingBlocks& posting_blocks_with<Kernels::AVX512>() noexcept {
    static constexpr PostingBlocks BLOCKS{unpack, avx512::keep_found};
    return BLOCKS;
}

}  // namespace parvenkel::kernels

#endif
