// Blocks of 128 numbers of up to 32 bits, each packed in as many bits as
// the largest of them needs (as Lucene and tantivy store their posting
// lists): 16 bytes a bit of width. The gaps between the article numbers of
// a long posting list take 4 to 10 bits where LEB128 gives each a whole
// byte or two, and a block of consecutive articles takes none.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace parvenkel::util {

constexpr std::uint32_t PACKED_BLOCK = 128;

// The bytes of a block of `width` bits a number.
constexpr std::size_t packed_bytes(unsigned width) noexcept { return PACKED_BLOCK / 8 * width; }

// The bits the largest of `values` (PACKED_BLOCK of them) needs.
inline unsigned packed_width(const std::uint32_t* values) noexcept {
    std::uint32_t all = 0;
    for (std::size_t i = 0; i < PACKED_BLOCK; ++i) {
        all |= values[i];
    }
    return static_cast<unsigned>(std::bit_width(all));
}

namespace detail {

template <unsigned W>
void unpack_block(const unsigned char* in, std::uint32_t* out) noexcept {
    if constexpr (W == 0) {
        std::fill(out, out + PACKED_BLOCK, 0u);
    } else {
        constexpr std::uint64_t MASK = (std::uint64_t{1} << W) - 1;
#pragma GCC unroll 8
        for (std::size_t i = 0; i < PACKED_BLOCK; ++i) {
            const std::size_t bit = i * W;
            std::uint64_t word = 0;
            std::memcpy(&word, in + bit / 8, sizeof word);
            out[i] = static_cast<std::uint32_t>(word >> (bit % 8) & MASK);
        }
    }
}

template <unsigned W>
void pack_block(const std::uint32_t* values, unsigned char* out) noexcept {
    if constexpr (W != 0) {
        std::uint64_t words[2 * W] = {};
#pragma GCC unroll 8
        for (std::size_t i = 0; i < PACKED_BLOCK; ++i) {
            const std::size_t bit = i * W;
            const std::size_t at = bit / 64;
            const unsigned shift = bit % 64;
            words[at] |= std::uint64_t{values[i]} << shift;
            if (shift + W > 64) {
                words[at + 1] |= std::uint64_t{values[i]} >> (64 - shift);
            }
        }
        std::memcpy(out, words, sizeof words);
    }
}

using Unpacker = void (*)(const unsigned char*, std::uint32_t*) noexcept;
using Packer = void (*)(const std::uint32_t*, unsigned char*) noexcept;

template <std::size_t... W>
constexpr std::array<Unpacker, sizeof...(W)> unpackers(std::index_sequence<W...>) noexcept {
    return {&unpack_block<static_cast<unsigned>(W)>...};
}

template <std::size_t... W>
constexpr std::array<Packer, sizeof...(W)> packers(std::index_sequence<W...>) noexcept {
    return {&pack_block<static_cast<unsigned>(W)>...};
}

}  // namespace detail

// Packs `values` (PACKED_BLOCK of them, each below 2^width) into
// packed_bytes(width) bytes at `out`, the first number in the lowest bits.
inline void pack_block(const std::uint32_t* values, unsigned width, unsigned char* out) noexcept {
    static constexpr auto PACK = detail::packers(std::make_index_sequence<33>());
    PACK[width](values, out);
}

// Unpacks a block of `width` bits (at most 32) a number from the
// packed_bytes(width) bytes at `in` into PACKED_BLOCK numbers at `out`;
// reads nothing past those bytes.
// `readable`: bytes that may be read at `in`; with 8 more than the block's,
// the numbers are read from it in place.
inline void unpack_block(const unsigned char* in, unsigned width, std::uint32_t* out,
                         std::size_t readable) noexcept {
    static constexpr auto UNPACK = detail::unpackers(std::make_index_sequence<33>());
    const std::size_t n = packed_bytes(width);
    if (readable >= n + 8) {
        UNPACK[width](in, out);
        return;
    }
    // Each number is read as a word of 8 bytes: from a copy with room after.
    unsigned char bytes[packed_bytes(32) + 8];
    std::memcpy(bytes, in, n);
    std::memset(bytes + n, 0, 8);
    UNPACK[width](bytes, out);
}

}  // namespace parvenkel::util
