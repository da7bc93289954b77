// The vector kernels the analysis code chooses from, decided per call.
#pragma once

#include <algorithm>
#include <atomic>

#include "analysis/analysis.hpp"

namespace parvenkel::analysis {

namespace detail {
// The best instruction set this processor has, found once.
extern const Kernels detected_kernels;
extern std::atomic<Kernels> kernel_limit;
}  // namespace detail

// The best instruction set this processor has, at most the limit set by
// limit_kernels. Cheap enough to ask on every search.
inline Kernels usable_kernels() noexcept {
    return std::min(detail::detected_kernels, detail::kernel_limit.load(std::memory_order_relaxed));
}

}  // namespace parvenkel::analysis
