#include "analysis/kernels.hpp"

#include "text/simd.hpp"

namespace parvenkel::analysis {

namespace detail {

namespace {

Kernels detect() noexcept {
#if defined(PARVENKEL_AVX2_TARGET)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) {
        return Kernels::AVX2;
    }
#endif
#if defined(PARVENKEL_SSE2)
    return Kernels::SSE2;
#else
    return Kernels::SCALAR;
#endif
}

}  // namespace

const Kernels detected_kernels = detect();
std::atomic<Kernels> kernel_limit{Kernels::AVX2};

}  // namespace detail

void limit_kernels(Kernels most) noexcept {
    detail::kernel_limit.store(most, std::memory_order_relaxed);
}

}  // namespace parvenkel::analysis
