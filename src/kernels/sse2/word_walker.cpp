// The word walker of the SSE2 instruction set (generic/word_walker.hpp),
// compiled with the sse2 kernels. The searches have a file of their own
// (searches.cpp): in one unit the two outgrew the compiler's inlining budget
// for a unit, and the walker's per-word helpers were left out of line.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_SSE2)

#include "kernels/generic/dependencies.hpp"
#include "kernels/sse2/word_kernels.hpp"

// Everything below, to end.hpp, is SSE2 code.
#include "kernels/sse2/begin.hpp"
// The generic code, in namespace sse2, and its registration.
#include "kernels/generic/word_walker.hpp"
#include "kernels/sse2/end.hpp"
#endif
