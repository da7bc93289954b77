// The searches of scoring of the AVX-512 instruction set: its own byte
// searches (generic/byte_search.hpp over avx512::scan_bytes), and AVX2's
// searches of fixed-width units, which 64-byte vectors made 1-6% slower
// (a comparison gives a mask, which their generic scan would turn back
// into a vector).
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX512_TARGET)

#include "kernels/generic/dependencies.hpp"
// The SSE2 kernels the AVX-512 ones fall back on, outside the AVX-512
// region.
#include "kernels/sse2/search_kernels.hpp"

// Everything below, to end.hpp, is compiled for AVX-512.
#include "kernels/avx512/begin.hpp"
#include "kernels/avx512/search_kernels.hpp"
// The byte searches, in namespace avx512.
#include "kernels/generic/byte_search.hpp"
// Closes the AVX-512 region.
#include "kernels/avx512/end.hpp"

namespace parvenkel::kernels {

template <>
const Searches& searches_with<Kernels::AVX512>() noexcept {
    // Made at the first search, whenever that runs (even from another
    // unit's static initializer): AVX2's table is a constant.
    static const Searches searches = [] {
        Searches made = searches_with<Kernels::AVX2>();
        made.ascii_folded = avx512::find_bytes<true>;
        made.bytes = avx512::find_bytes<false>;
        return made;
    }();
    return searches;
}

}  // namespace parvenkel::kernels
#endif
