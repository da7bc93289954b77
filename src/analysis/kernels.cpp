#include "analysis/kernels.hpp"

#include <atomic>

#include "text/simd.hpp"

namespace parvenkel::analysis {

namespace {

std::atomic<Kernels> kernel_limit{Kernels::AVX2};

}  // namespace

void limit_kernels(Kernels most) noexcept { kernel_limit.store(most, std::memory_order_relaxed); }

Kernels usable_kernels() noexcept {
    [[maybe_unused]] const Kernels limit = kernel_limit.load(std::memory_order_relaxed);
#if defined(PARVENKEL_AVX2_TARGET)
    if (limit >= Kernels::AVX2 && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("bmi2")) {
        return Kernels::AVX2;
    }
#endif
#if defined(PARVENKEL_SSE2)
    if (limit >= Kernels::SSE2) {
        return Kernels::SSE2;
    }
#endif
    return Kernels::SCALAR;
}

}  // namespace parvenkel::analysis
