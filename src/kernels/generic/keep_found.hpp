// Keeping the candidates that a list holds (PostingBlocks::keep_found),
// written once and compiled inside the namespace of each instruction set,
// where window_has is that set's comparison of an id with FOUND_WINDOW
// numbers: scalar/, avx2/ and avx512/posting_blocks.cpp include it inside
// their region, after kernels/posting_blocks.hpp. No include guard.

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// The candidates are a few numbers apart in the lists (which hold up to
// sixteen times as many numbers): each list's window of FOUND_WINDOW
// numbers moves on to the first that ends at or above the candidate,
// where the candidate is if the list holds it, mostly not at all or by one
// step; the comparison is done without a branch, where merging or
// galloping from number to number mispredicted at about every step.
std::size_t keep_found(std::uint32_t* ids, std::size_t count, const std::uint32_t* a,
                       const std::uint32_t* b) noexcept {
    std::size_t kept = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t id = ids[k];
        // The padding after each list stops its window.
        while (a[FOUND_WINDOW - 1] < id) {
            a += FOUND_WINDOW;
        }
        while (b[FOUND_WINDOW - 1] < id) {
            b += FOUND_WINDOW;
        }
        ids[kept] = id;
        kept += window_has(a, id) || window_has(b, id) ? 1u : 0u;
    }
    return kept;
}

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET
