// Opens the SSE2 region. SSE2 is the baseline of x86-64, so the region sets
// no target: its functions are compiled as the rest of the core is, and may
// be inlined anywhere, the AVX2 region included. PARVENKEL_SET and
// PARVENKEL_SET_KERNELS name the set for the code of generic/: its namespace
// and its value of Kernels.
#include <emmintrin.h>

#include "kernels/isa.hpp"

#define PARVENKEL_SET sse2
#define PARVENKEL_SET_KERNELS Kernels::SSE2
