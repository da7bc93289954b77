// The searches of scoring, one implementation per instruction set
// (generic/searches.hpp compiled in scalar/, sse2/ and avx2/; avx512/ has
// its own byte searches and AVX2's others), the one in use picked by
// searches() on every call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kernels/dispatch.hpp"
#include "kernels/search_parts.hpp"

namespace parvenkel::kernels {

struct Searches {
    // Searches `text` for `needle` (not empty): with ascii_folded, the
    // lowercase form of an ASCII text for a lowercase needle, without
    // building that form; with bytes, the needle's bytes as they are. FOUND,
    // ABSENT, or UNDECIDED when the quick search gave up (on an adversarial
    // text, or with ascii_folded at a byte beyond ASCII), with `resume` the
    // byte from which a linear search must go on (the start of a character).
    Search (*ascii_folded)(std::string_view needle, std::string_view text,
                           std::size_t& resume) noexcept;
    Search (*bytes)(std::string_view needle, std::string_view text, std::size_t& resume) noexcept;
    // Whether the lowercase form of a fixed-width text contains the needle
    // (not empty): FOUND or ABSENT, or when checked (index 1), SURROGATE for
    // a text that holds a surrogate. The filter is the needle's for this
    // width, or null to make it.
    Search (*latin1[2])(const Needle& needle, const UnitFilter* filter,
                        std::basic_string_view<std::uint8_t> text);
    Search (*ucs2[2])(const Needle& needle, const UnitFilter* filter, std::u16string_view text);
    Search (*ucs4[2])(const Needle& needle, const UnitFilter* filter, std::u32string_view text);
};

// The searches of the instruction set active() names now.
const Searches& searches() noexcept;

// The searches of one instruction set: scalar/, sse2/, avx2/ and
// avx512/searches.cpp define those the build compiles (see isa.hpp).
template <Kernels K>
const Searches& searches_with() noexcept;
template <>
const Searches& searches_with<Kernels::SCALAR>() noexcept;
template <>
const Searches& searches_with<Kernels::SSE2>() noexcept;
template <>
const Searches& searches_with<Kernels::AVX2>() noexcept;
template <>
const Searches& searches_with<Kernels::AVX512>() noexcept;

}  // namespace parvenkel::kernels
