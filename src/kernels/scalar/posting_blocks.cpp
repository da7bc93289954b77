// The portable decoder of packed posting blocks, which every set but
// AVX-512 takes (dispatch.cpp).
#include "kernels/posting_blocks.hpp"

namespace parvenkel::kernels {

template <>
const PostingBlocks& posting_blocks_with<Kernels::SCALAR>() noexcept {
    static constexpr PostingBlocks BLOCKS{unpack_numbers_portable};
    return BLOCKS;
}

}  // namespace parvenkel::kernels
