// The portable decoder of packed posting blocks, which the scalar and
// SSE2 sets take (dispatch.cpp).
#include "kernels/posting_blocks.hpp"

namespace parvenkel::kernels {

template <>
const PostingBlocks& posting_blocks_with<Kernels::SCALAR>() noexcept {
    static constexpr PostingBlocks BLOCKS{unpack_numbers_portable};
    return BLOCKS;
}

}  // namespace parvenkel::kernels
