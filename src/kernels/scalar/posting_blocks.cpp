// The portable decoder of packed posting blocks and keeping of the
// candidates a list holds, which the scalar and SSE2 sets take
// (dispatch.cpp).
#include "kernels/posting_blocks.hpp"

#include <cstddef>
#include <cstdint>

// Everything below, to end.hpp, is portable code.
#include "kernels/scalar/begin.hpp"

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// A loop the compiler makes a few vector compares of the baseline set.
inline bool window_has(const std::uint32_t* window, std::uint32_t id) noexcept {
    unsigned equal = 0;
    for (std::size_t j = 0; j < FOUND_WINDOW; ++j) {
        equal |= window[j] == id ? 1u : 0u;
    }
    return equal != 0;
}

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET

// keep_found, in namespace scalar.
#include "kernels/generic/keep_found.hpp"
// Closes the scalar region.
#include "kernels/scalar/end.hpp"

namespace parvenkel::kernels {

template <>
const PostingBlocks& posting_blocks_with<Kernels::SCALAR>() noexcept {
    static constexpr PostingBlocks BLOCKS{unpack_numbers_portable, scalar::keep_found};
    return BLOCKS;
}

}  // namespace parvenkel::kernels
