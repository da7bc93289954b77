// The searches of scoring of the SSE2 instruction set (generic/searches.hpp),
// compiled with the sse2 kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_SSE2)

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

namespace parvenkel::kernels::sse2 {

namespace {
#include "kernels/generic/searches.hpp"
}  // namespace

}  // namespace parvenkel::kernels::sse2

namespace parvenkel::kernels {

template <>
const Searches& searches_with<Kernels::SSE2>() noexcept {
    return sse2::SEARCHES;
}

}  // namespace parvenkel::kernels
#endif
