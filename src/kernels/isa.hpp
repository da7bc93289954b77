// Which instruction sets the build compiles kernels for, decided once for
// every file. Only src/kernels/ includes this header: the rest of the core
// never names an instruction set.
//
//   PARVENKEL_SSE2         SSE2 kernels, compiled in (the x86-64 baseline).
//   PARVENKEL_AVX2_TARGET  AVX2 kernels, compiled inside avx2/begin.hpp's
//                          target region and chosen at run time.
//   PARVENKEL_AVX512_TARGET  AVX-512 kernels (the decoders and the byte
//                          searches; AVX2's for the rest), the same way
//                          with avx512/begin.hpp.
//
// Building with PARVENKEL_NO_SIMD defined (CMake: -DPARVENKEL_SIMD=OFF)
// leaves them all off, so the portable scalar kernels are the only ones;
// the test command builds and tests that variant too. A NEON set would get
// its macro here, a folder beside avx2/ (begin.hpp, end.hpp, its kernels),
// a value of Kernels, its test in active.cpp's detect() and a row in
// dispatch.cpp, as AVX-512 has.
#pragma once

#if !defined(PARVENKEL_NO_SIMD) && (defined(__SSE2__) || defined(_M_X64))
#define PARVENKEL_SSE2 1
#endif

#if defined(PARVENKEL_SSE2) && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define PARVENKEL_AVX2_TARGET 1
#define PARVENKEL_AVX512_TARGET 1
#endif
