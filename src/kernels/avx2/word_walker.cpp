// The word walker of the AVX2 instruction set (generic/word_walker.hpp),
// compiled with the avx2 kernels. The searches have a file of their own
// (searches.cpp): in one unit the two outgrew the compiler's inlining budget
// for a unit, and the walker's per-word helpers were left out of line.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include "kernels/generic/dependencies.hpp"
// The SSE2 kernels the AVX2 ones fall back on, outside the AVX2 region.
#include "kernels/sse2/word_kernels.hpp"

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"
// The kernels the generic code calls by name.
#include "kernels/avx2/word_kernels.hpp"
// The generic code, in namespace avx2, and its registration.
#include "kernels/generic/word_walker.hpp"
// Closes the AVX2 region.
#include "kernels/avx2/end.hpp"
#endif
