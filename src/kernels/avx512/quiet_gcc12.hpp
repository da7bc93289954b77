// GCC 12 takes the undefined registers that its AVX-512 intrinsics start
// from for uninitialized variables (its bug 105593, mended in GCC 13): a
// unit of AVX-512 kernels includes this first, before the intrinsics'
// headers, whose lines the warnings name. No include guard, no pop: the
// warnings stay off to the unit's end.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
