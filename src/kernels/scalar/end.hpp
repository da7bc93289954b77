// Closes the region scalar/begin.hpp opened.
#undef PARVENKEL_SET
#undef PARVENKEL_SET_KERNELS
