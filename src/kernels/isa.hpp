// Which instruction sets the build compiles kernels for, decided once for
// every file. Only src/kernels/ includes this header: the rest of the core
// never names an instruction set.
//
//   PARVENKEL_SSE2         SSE2 kernels, compiled in (the x86-64 baseline).
//   PARVENKEL_AVX2_TARGET  AVX2 kernels, compiled inside avx2/begin.hpp's
//                          target region and chosen at run time.
//
// Building with PARVENKEL_NO_SIMD defined (CMake: -DPARVENKEL_SIMD=OFF)
// leaves both off, so the portable scalar kernels are the only ones; the
// test command builds and tests that variant too. An AVX-512 or NEON set
// would get its macro here, a folder beside avx2/ (begin.hpp, end.hpp, its
// kernels, a word_walker.cpp and a searches.cpp), a value of Kernels, its test in
// active.cpp's detect() and a row in dispatch.cpp.
#pragma once

#if !defined(PARVENKEL_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#define PARVENKEL_SSE2 1
#endif

#if defined(PARVENKEL_SSE2) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PARVENKEL_AVX2_TARGET 1
#endif
