// The AVX2 decoder of packed posting blocks: eight numbers a step.
//
// As AVX-512's (avx512/posting_blocks.cpp), each number is read from the
// four bytes from its first and summed in a 32-bit lane, numbers up to
// VECTOR_WIDEST bits wide. AVX2's byte shuffle stays within each half of
// a register, so the step's eight numbers (as many bytes as the width)
// are read as two windows of sixteen bytes, one for each half: from the
// step's first byte, and from the byte the fifth number starts in. The
// sums: two shifted adds within each half, the low half's last added to
// the high half, the step before carried from lane 7. A block whose
// windows would read past what may be read is copied out first.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "kernels/posting_blocks.hpp"
#include "util/bitpack.hpp"

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"

namespace parvenkel::kernels {

namespace {

// Per width up to VECTOR_WIDEST, for each of a step's eight lanes: the
// four bytes from the one its number starts in (within its half's
// window), and the number's shift there.
struct Lanes {
    alignas(32) std::uint8_t order[32];
    alignas(32) std::uint32_t shift[8];
};

// The byte of a step the high half's window starts at.
constexpr unsigned high_window(unsigned width) { return 4 * width / 8; }

constexpr std::array<Lanes, VECTOR_WIDEST + 1> make_lanes() {
    std::array<Lanes, VECTOR_WIDEST + 1> all{};
    for (unsigned width = 0; width <= VECTOR_WIDEST; ++width) {
        for (unsigned lane = 0; lane < 8; ++lane) {
            const unsigned bit = lane * width;
            const unsigned window = lane < 4 ? 0 : high_window(width);
            for (unsigned byte = 0; byte < 4; ++byte) {
                all[width].order[4 * lane + byte] =
                    static_cast<std::uint8_t>(bit / 8 - window + byte);
            }
            all[width].shift[lane] = bit % 8;
        }
    }
    return all;
}

alignas(32) constexpr std::array<Lanes, VECTOR_WIDEST + 1> LANES = make_lanes();

// The last step's high window ends at most this far past the block.
constexpr std::size_t OVERREAD = 16;

std::uint64_t unpack(const unsigned char* in, unsigned width, std::size_t readable,
                     std::uint64_t first, std::uint32_t* out) noexcept {
    if (width > VECTOR_WIDEST || first >= VECTOR_FIRST_BELOW) {
        return unpack_numbers_portable(in, width, readable, first, out);
    }
    const std::size_t bytes = util::packed_bytes(width);
    alignas(32) unsigned char copy[util::packed_bytes(VECTOR_WIDEST) + OVERREAD];
    if (readable < bytes + OVERREAD) {
        std::memcpy(copy, in, bytes);
        std::memset(copy + bytes, 0, OVERREAD);
        in = copy;
    }
    const __m256i order = _mm256_load_si256(reinterpret_cast<const __m256i*>(LANES[width].order));
    const __m256i shift = _mm256_load_si256(reinterpret_cast<const __m256i*>(LANES[width].shift));
    const __m256i mask = _mm256_set1_epi32(static_cast<int>((std::uint32_t{1} << width) - 1));
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i last_lane = _mm256_set1_epi32(7);
    const std::size_t high = high_window(width);
    // The number before the step's first, less one (the first's own one
    // is added as every other's).
    __m256i carry = _mm256_set1_epi32(static_cast<int>(static_cast<std::uint32_t>(first) - 1));
    for (std::size_t step = 0; step < util::PACKED_BLOCK / 8; ++step) {
        const unsigned char* at = in + step * width;
        const __m256i windows = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(at + high),
                                                    reinterpret_cast<const __m128i*>(at));
        __m256i x =
            _mm256_and_si256(_mm256_srlv_epi32(_mm256_shuffle_epi8(windows, order), shift), mask);
        x = _mm256_add_epi32(x, one);
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 4));
        x = _mm256_add_epi32(x, _mm256_slli_si256(x, 8));
        const __m256i low_total = _mm256_shuffle_epi32(x, 0xFF);
        x = _mm256_add_epi32(x, _mm256_permute2x128_si256(low_total, low_total, 0x08));
        x = _mm256_add_epi32(x, carry);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * step), x);
        carry = _mm256_permutevar8x32_epi32(x, last_lane);
    }
    return out[util::PACKED_BLOCK - 1];
}

}  // namespace

}  // namespace parvenkel::kernels

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// The window in one compare of each half.
inline bool window_has(const std::uint32_t* window, std::uint32_t id) noexcept {
    const __m256i wanted = _mm256_set1_epi32(static_cast<int>(id));
    const __m256i low =
        _mm256_cmpeq_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(window)), wanted);
    const __m256i high = _mm256_cmpeq_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 8)), wanted);
    const __m256i either = _mm256_or_si256(low, high);
    return _mm256_testz_si256(either, either) == 0;
}

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET

// keep_found, in namespace avx2.
#include "kernels/generic/keep_found.hpp"
// Closes the AVX2 region.
#include "kernels/avx2/end.hpp"

namespace parvenkel::kernels {

template <>
const PostingBlocks& posting_blocks_with<Kernels::AVX2>() noexcept {
    static constexpr PostingBlocks BLOCKS{unpack, avx2::keep_found};
    return BLOCKS;
}

}  // namespace parvenkel::kernels

#endif
