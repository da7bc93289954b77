// The searches of scoring of the SSE2 instruction set (generic/searches.hpp),
// compiled with the sse2 kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_SSE2)

#include "kernels/generic/dependencies.hpp"
#include "kernels/sse2/search_kernels.hpp"

// Everything below, to end.hpp, is SSE2 code.
#include "kernels/sse2/begin.hpp"
// The generic code, in namespace sse2, and its registration.
#include "kernels/generic/searches.hpp"
#include "kernels/sse2/end.hpp"
#endif
