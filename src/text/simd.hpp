// Which vector instructions the core may use, decided once for every file.
//
//   PARVENKEL_SSE2         SSE2 kernels, compiled in (the x86-64 baseline).
//   PARVENKEL_AVX2_TARGET  AVX2 (and AVX-512) kernels may be compiled with a
//                          target attribute and chosen at run time.
//
// Building with PARVENKEL_NO_SIMD defined (CMake: -DPARVENKEL_SIMD=OFF)
// leaves both off, so the portable scalar paths are the ones that run; the
// test command builds and tests that variant too.
#pragma once

#if !defined(PARVENKEL_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#define PARVENKEL_SSE2 1
#include <emmintrin.h>
#endif

#if defined(PARVENKEL_SSE2) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PARVENKEL_AVX2_TARGET 1
#include <immintrin.h>
#endif
