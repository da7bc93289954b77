// Lowercasing of the leading ASCII run of a text, 16 bytes at a time.
//
// Internal to the text primitives; to_lowercase and append_lowercase use it
// (through kernels/text_kernels.hpp) before they go on character by
// character. This is the portable kernel, on two 64-bit words per block,
// and the scalar twin of the SSE2 one in kernels/sse2/text_kernels.hpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace parvenkel::text::detail {

inline constexpr std::size_t ASCII_BLOCK = 16;

// The ASCII lowercase rule, A-Z take 0x20 and every other value stays: the
// one scalar form of it in the core, for bytes, code units and code points.
template <class C>
constexpr C lower_ascii(C c) noexcept {
    return static_cast<std::uint32_t>(c) - 'A' < 26u ? static_cast<C>(c + 0x20) : c;
}

// Finishes a prefix byte by byte from `i`: lowercases bytes below 0x80 into
// `dst` until the first byte of 0x80 or more, and returns where it stopped.
inline std::size_t lower_ascii_tail(const char* src, std::size_t n, char* dst,
                                    std::size_t i) noexcept {
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(src[i]) >= 0x80) {
            break;
        }
        dst[i] = lower_ascii(src[i]);
    }
    return i;
}

// Lowercases one 8-byte word of ASCII bytes. For a byte b below 0x80,
// b + 0x3F has its top bit set when b >= 'A' and b + 0x25 when b > 'Z';
// neither sum carries into the next byte, so the bytes stay independent.
constexpr std::uint64_t lower_ascii_word(std::uint64_t word) noexcept {
    constexpr std::uint64_t ones = 0x0101010101010101;
    const std::uint64_t at_least_a = word + ones * (0x80 - 'A');
    const std::uint64_t above_z = word + ones * (0x80 - 'Z' - 1);
    const std::uint64_t upper = at_least_a & ~above_z & (ones * 0x80);
    return word | (upper >> 2);
}

// Portable kernel: lowercases the longest ASCII prefix of src[0, n) into dst
// (same offsets) and returns its length.
inline std::size_t lower_ascii_prefix_portable(const char* src, std::size_t n, char* dst) noexcept {
    constexpr std::uint64_t high_bits = 0x8080808080808080;
    std::size_t i = 0;
    for (; n - i >= ASCII_BLOCK; i += ASCII_BLOCK) {
        std::uint64_t words[2];
        std::memcpy(words, src + i, sizeof words);
        if (((words[0] | words[1]) & high_bits) != 0) {
            break;
        }
        words[0] = lower_ascii_word(words[0]);
        words[1] = lower_ascii_word(words[1]);
        std::memcpy(dst + i, words, sizeof words);
    }
    return lower_ascii_tail(src, n, dst, i);
}

}  // namespace parvenkel::text::detail
