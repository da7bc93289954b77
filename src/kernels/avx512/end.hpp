// Closes the region avx512/begin.hpp opened.
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif
#undef PARVENKEL_SET
#undef PARVENKEL_SET_KERNELS
