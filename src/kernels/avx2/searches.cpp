// The searches of scoring of the AVX2 instruction set (generic/searches.hpp),
// compiled with the avx2 kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include "kernels/generic/dependencies.hpp"
// The SSE2 kernels the AVX2 ones fall back on, outside the AVX2 region.
#include "kernels/sse2/search_kernels.hpp"

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"
// The kernels the generic code calls by name.
#include "kernels/avx2/search_kernels.hpp"
// The generic code, in namespace avx2, and its registration.
#include "kernels/generic/searches.hpp"
// Closes the AVX2 region.
#include "kernels/avx2/end.hpp"
#endif
