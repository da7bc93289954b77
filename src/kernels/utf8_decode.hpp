// Decoding UTF-8 into the fixed-width units of a str (one, two or four
// bytes a character), and counting its characters first, one
// implementation per instruction set: AVX-512's (avx512/utf8_decode.cpp),
// AVX2's (avx2/utf8_decode.cpp) and the scalar twin the other sets take
// (scalar/utf8_decode.cpp).
// decoders() picks on every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kernels/dispatch.hpp"

namespace parvenkel::kernels {

// What a str of a UTF-8 text needs to know before it is made: how many
// characters the text has (its bytes that are not continuation bytes,
// 0x80 to 0xBF) and its largest byte.
struct Utf8Count {
    std::size_t chars;
    unsigned char top;
};

struct Decoders {
    // The characters and the largest byte of a well-formed text.
    Utf8Count (*count)(std::string_view text) noexcept;
    // Writes the `units` characters of `text` to `out`: `text` is
    // well-formed UTF-8 of exactly `units` characters, each below 0x100
    // (latin1) or 0x10000 (ucs2), or any (ucs4).
    void (*latin1)(std::string_view text, std::uint8_t* out, std::size_t units) noexcept;
    void (*ucs2)(std::string_view text, char16_t* out, std::size_t units) noexcept;
    void (*ucs4)(std::string_view text, char32_t* out, std::size_t units) noexcept;
};

// The decoders of the instruction set active() names now.
const Decoders& decoders() noexcept;

template <Kernels K>
const Decoders& decoders_with() noexcept;
template <>
const Decoders& decoders_with<Kernels::SCALAR>() noexcept;
template <>
const Decoders& decoders_with<Kernels::AVX2>() noexcept;
template <>
const Decoders& decoders_with<Kernels::AVX512>() noexcept;

}  // namespace parvenkel::kernels
