// Closes the region avx2/begin.hpp opened.
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#undef PARVENKEL_AVX2_LAMBDA
#undef PARVENKEL_SET
#undef PARVENKEL_SET_KERNELS
