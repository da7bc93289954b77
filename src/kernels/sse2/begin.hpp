// Opens the SSE2 region. SSE2 is the baseline of x86-64, so the region sets
// no target: its functions are compiled as the rest of the core is, and may
// be inlined anywhere, the AVX2 region included.
#include <emmintrin.h>

#include "kernels/isa.hpp"
