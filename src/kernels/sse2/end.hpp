// Closes the region sse2/begin.hpp opened.
#undef PARVENKEL_SET
#undef PARVENKEL_SET_KERNELS
