// The vector kernels the analysis code chooses from, decided per call.
#pragma once

#include "analysis/analysis.hpp"

namespace parvenkel::analysis {

// The best instruction set this processor has, at most the limit set by
// limit_kernels.
Kernels usable_kernels() noexcept;

}  // namespace parvenkel::analysis
