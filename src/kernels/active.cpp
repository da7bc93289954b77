// Which instruction set the kernels run: the processor read once, and the
// limit the tests set (limit_kernels). The text primitives ask it too, so
// this file links with nothing else of the core.
#include <algorithm>
#include <atomic>

#include "analysis/analysis.hpp"
#include "kernels/dispatch.hpp"
#include "kernels/isa.hpp"

namespace parvenkel::kernels {

namespace {

Kernels detect() noexcept {
#if defined(PARVENKEL_AVX2_TARGET)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) {
#if defined(PARVENKEL_AVX512_TARGET)
        // The processor's and the system's (which saves the registers).
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
            __builtin_cpu_supports("avx512vbmi2")) {
            return Kernels::AVX512;
        }
#endif
        return Kernels::AVX2;
    }
#endif
#if defined(PARVENKEL_SSE2)
    return Kernels::SSE2;
#else
    return Kernels::SCALAR;
#endif
}

const Kernels detected = detect();
std::atomic<Kernels> limit{Kernels::AVX512};

}  // namespace

Kernels active() noexcept { return std::min(detected, limit.load(std::memory_order_relaxed)); }

}  // namespace parvenkel::kernels

namespace parvenkel::analysis {

void limit_kernels(Kernels most) noexcept { kernels::limit.store(most, std::memory_order_relaxed); }

}  // namespace parvenkel::analysis
