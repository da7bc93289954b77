// The searches of scoring of the SCALAR instruction set (generic/searches.hpp),
// compiled with the scalar kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/searches.hpp"

#include "kernels/generic/dependencies.hpp"
#include "kernels/scalar/search_kernels.hpp"

// Everything below, to end.hpp, is the scalar set's code.
#include "kernels/scalar/begin.hpp"
// The generic code, in namespace scalar, and its registration.
#include "kernels/generic/searches.hpp"
#include "kernels/scalar/end.hpp"
