// Opens the AVX2 target region: every function defined until avx2/end.hpp
// is compiled for AVX2 (with BMI1, BMI2 and POPCNT, which every processor
// with AVX2 that dispatch.cpp accepts has). Include the headers the region
// uses before this one: an inline function of a shared header compiled
// inside the region would clash with its baseline copy elsewhere.
//
// PARVENKEL_SET and PARVENKEL_SET_KERNELS name the set for the code of
// generic/: its namespace and its value of Kernels.
//
// Lambdas are not covered by clang's attribute push: one that uses AVX2
// intrinsics is marked with PARVENKEL_AVX2_LAMBDA.
#include <immintrin.h>

#include "kernels/isa.hpp"

#define PARVENKEL_SET avx2
#define PARVENKEL_SET_KERNELS Kernels::AVX2
#define PARVENKEL_AVX2_TARGET_STRING "avx2,bmi,bmi2,popcnt"
#define PARVENKEL_AVX2_LAMBDA __attribute__((target(PARVENKEL_AVX2_TARGET_STRING)))
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target(PARVENKEL_AVX2_TARGET_STRING))), \
                             apply_to = function)
#else
#define PARVENKEL_PRAGMA_STRING(x) #x
#define PARVENKEL_PRAGMA_OF(x) PARVENKEL_PRAGMA_STRING(x)
#pragma GCC push_options
_Pragma(PARVENKEL_PRAGMA_OF(GCC target(PARVENKEL_AVX2_TARGET_STRING)))
#endif
