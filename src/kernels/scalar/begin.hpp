// Opens the region of the portable scalar kernels, which sets no target:
// PARVENKEL_SET and PARVENKEL_SET_KERNELS name the set for the code of
// generic/: its namespace and its value of Kernels.
#define PARVENKEL_SET scalar
#define PARVENKEL_SET_KERNELS Kernels::SCALAR
