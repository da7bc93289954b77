// Decoding a packed block of a posting list (util/bitpack.hpp) into its
// article numbers: the differences unpacked, then summed; and keeping the
// candidates a list's numbers hold. One implementation per instruction
// set that has its own (AVX2's and AVX-512's, avx2/ and
// avx512/posting_blocks.cpp), the portable one for the others
// (scalar/posting_blocks.cpp); posting_blocks() picks on every call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/dispatch.hpp"
#include "util/bitpack.hpp"

namespace parvenkel::kernels {

// How many numbers keep_found compares with a candidate at once: each list
// it reads is followed by this many UINT32_MAX, above every article
// number.
constexpr std::size_t FOUND_WINDOW = 16;

struct PostingBlocks {
    // Reads the block of `width` bits a number (at most 32) at `in`, of
    // which `readable` bytes may be read, as differences each less one from
    // the number before: writes the util::PACKED_BLOCK numbers, the first
    // `first` plus its difference, to `out`, and returns the last one,
    // summed without wrapping (the caller tests it against the articles).
    std::uint64_t (*unpack)(const unsigned char* in, unsigned width, std::size_t readable,
                            std::uint64_t first, std::uint32_t* out) noexcept;
    // Moves the candidates of `ids` (`count` of them, increasing) that are
    // in `a` or in `b` (each increasing, then FOUND_WINDOW times
    // UINT32_MAX) to its front, in order, and returns how many.
    std::size_t (*keep_found)(std::uint32_t* ids, std::size_t count, const std::uint32_t* a,
                              const std::uint32_t* b) noexcept;
};

// The vector decoders sum in 32-bit lanes and read each number from the
// four bytes from its first: they take numbers up to this wide (a shift
// under 8 and 24 bits make at most 31 bits)...
constexpr unsigned VECTOR_WIDEST = 24;
// ...and blocks whose first number is below this, whose sums then stay
// below 2^32: at most 2^31 + 127 + 128 x (2^24 - 1). The others take the
// portable decoder.
constexpr std::uint64_t VECTOR_FIRST_BELOW = std::uint64_t{1} << 31;

// The portable decoder: the numbers unpacked, then summed one at a time
// in 64 bits.
inline std::uint64_t unpack_numbers_portable(const unsigned char* in, unsigned width,
                                             std::size_t readable, std::uint64_t first,
                                             std::uint32_t* out) noexcept {
    util::unpack_block(in, width, out, readable);
    // A sum of 128 numbers of 32 bits, each plus one, fits 64 bits.
    std::uint64_t value = first;
    for (std::size_t i = 0; i < util::PACKED_BLOCK; ++i) {
        value += out[i];
        out[i] = static_cast<std::uint32_t>(value);
        ++value;
    }
    return value - 1;
}

// The decoder of the instruction set active() names now.
const PostingBlocks& posting_blocks() noexcept;

template <Kernels K>
const PostingBlocks& posting_blocks_with() noexcept;
template <>
const PostingBlocks& posting_blocks_with<Kernels::SCALAR>() noexcept;
template <>
const PostingBlocks& posting_blocks_with<Kernels::AVX2>() noexcept;
template <>
const PostingBlocks& posting_blocks_with<Kernels::AVX512>() noexcept;

}  // namespace parvenkel::kernels
