// The word walker of the SCALAR instruction set (generic/word_walker.hpp),
// compiled with the scalar kernels. The searches have a file of their own
// (searches.cpp): in one unit the two outgrew the compiler's inlining budget
// for a unit, and the walker's per-word helpers were left out of line.
#include "kernels/word_walker.hpp"

#include "kernels/generic/dependencies.hpp"
#include "kernels/scalar/word_kernels.hpp"

// Everything below, to end.hpp, is the scalar set's code.
#include "kernels/scalar/begin.hpp"
// The generic code, in namespace scalar, and its registration.
#include "kernels/generic/word_walker.hpp"
#include "kernels/scalar/end.hpp"
