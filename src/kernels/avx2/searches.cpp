// The searches of scoring of the AVX2 instruction set (generic/searches.hpp),
// compiled with the avx2 kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "kernels/search_parts.hpp"
#include "kernels/searches.hpp"
#include "kernels/sse2/search_kernels.hpp"
#include "kernels/word_classes.hpp"
#include "kernels/word_sink.hpp"
#include "kernels/word_walker.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"
// The kernels the generic code calls by name.
#include "kernels/avx2/search_kernels.hpp"

namespace parvenkel::kernels::avx2 {

namespace {
#include "kernels/generic/searches.hpp"
}  // namespace

}  // namespace parvenkel::kernels::avx2

namespace parvenkel::kernels {

template <>
const Searches& searches_with<Kernels::AVX2>() noexcept {
    return avx2::SEARCHES;
}

}  // namespace parvenkel::kernels

#include "kernels/avx2/end.hpp"
#endif
