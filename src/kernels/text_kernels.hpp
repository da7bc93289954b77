// The kernels of the text primitives (src/text/), each taking the SSE2
// kernel (sse2/text_kernels.hpp) when active() allows it, and its scalar
// twin otherwise. The text layer asks once per call, so limit_kernels
// reaches these paths as it does the others.
#pragma once

#include <cstddef>
#include <string_view>

#include "kernels/dispatch.hpp"
#include "kernels/isa.hpp"
#include "kernels/sse2/text_kernels.hpp"
#include "text/ascii_lower.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels {

// Whether the text primitives take their vector kernels now.
inline bool text_in_vectors() noexcept {
#if defined(PARVENKEL_SSE2)
    return active() >= Kernels::SSE2;
#else
    return false;
#endif
}

// Lowercases the longest ASCII prefix of src[0, n) into dst (same offsets)
// and returns its length; `vectors` is text_in_vectors().
inline std::size_t lower_ascii_prefix(bool vectors, const char* src, std::size_t n,
                                      char* dst) noexcept {
#if defined(PARVENKEL_SSE2)
    if (vectors) {
        return sse2::lower_ascii_prefix(src, n, dst);
    }
#endif
    static_cast<void>(vectors);
    return text::detail::lower_ascii_prefix_portable(src, n, dst);
}

// sse2::lower_short_block, for callers that asked text_in_vectors(); the
// scalar twin takes nothing, so that the caller goes on character by
// character.
inline constexpr std::size_t SHORT_BLOCK = 16;
inline std::size_t lower_short_block(const char* src, char* dst) noexcept {
#if defined(PARVENKEL_SSE2)
    return sse2::lower_short_block(src, dst);
#else
    static_cast<void>(src);
    static_cast<void>(dst);
    return 0;
#endif
}

// Writes the UTF-8 form of the `count` fixed-width code units at `units` to
// `dst`, which has room for four bytes per unit, and returns the end of what
// it wrote.
template <class Unit>
char* encode_units(const Unit* units, std::size_t count, char* dst) noexcept {
#if defined(PARVENKEL_SSE2)
    if (text_in_vectors()) {
        return sse2::encode_units(units, count, dst);
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        dst += text::store_utf8(units[i], dst);
    }
    return dst;
}

// How many units at the start of `units` hold no surrogate for certain
// (0 without vectors): where a search for one may start.
template <class Unit>
std::size_t surrogate_free_prefix(std::basic_string_view<Unit> units) noexcept {
#if defined(PARVENKEL_SSE2)
    if (text_in_vectors()) {
        return sse2::surrogate_free_prefix(units);
    }
#endif
    static_cast<void>(units);
    return 0;
}

}  // namespace parvenkel::kernels
