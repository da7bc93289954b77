// Opens the AVX-512 target region: every function defined until
// avx512/end.hpp is compiled for AVX-512 F, BW, VL, VBMI (which permutes
// the bytes of a register) and VBMI2 (which compresses the lanes that a
// mask picks), with AVX2, BMI1, BMI2 and POPCNT. Include the headers the region uses before this
// one, as for avx2/begin.hpp, which says what PARVENKEL_SET and PARVENKEL_SET_KERNELS name.
#include <immintrin.h>

#include "kernels/isa.hpp"

#define PARVENKEL_SET avx512
#define PARVENKEL_SET_KERNELS Kernels::AVX512
#define PARVENKEL_AVX512_TARGET_STRING \
    "avx2,bmi,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2"
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target(PARVENKEL_AVX512_TARGET_STRING))), \
                             apply_to = function)
#else
#define PARVENKEL_PRAGMA_STRING(x) #x
#define PARVENKEL_PRAGMA_OF(x) PARVENKEL_PRAGMA_STRING(x)
#pragma GCC push_options
_Pragma(PARVENKEL_PRAGMA_OF(GCC target(PARVENKEL_AVX512_TARGET_STRING)))
#endif
