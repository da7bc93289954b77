// The one place that chooses an instruction set: the processor is read
// once, the test hook limit_kernels (analysis.hpp) may lower the choice, and
// every entry point of the kernel layer takes the implementation this names.
#pragma once

#include <cstdint>

namespace parvenkel::kernels {

// The instruction sets, in order: each set's kernels may use those before.
enum class Kernels : std::uint8_t { SCALAR, SSE2, AVX2, AVX512 };

// The best instruction set this processor has and this build compiled, at
// most the limit set by limit_kernels. Cheap enough to ask on every call.
Kernels active() noexcept;

}  // namespace parvenkel::kernels
