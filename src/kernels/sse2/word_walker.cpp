// The word walker of the SSE2 instruction set (generic/word_walker.hpp),
// compiled with the sse2 kernels. The searches have a file of their own
// (searches.cpp): in one unit the two outgrew the compiler's inlining budget
// for a unit, and the walker's per-word helpers were left out of line.
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
#include "kernels/sse2/word_kernels.hpp"
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
#include "kernels/generic/word_walker.hpp"
}  // namespace

}  // namespace parvenkel::kernels::sse2

namespace parvenkel::kernels {

template <>
std::unique_ptr<WordWalker> make_word_walker_with<Kernels::SSE2>(
    const std::vector<std::string>& stop_words, std::uint64_t seed, std::size_t text_bytes) {
    return std::make_unique<sse2::Walker>(stop_words, seed, text_bytes);
}

}  // namespace parvenkel::kernels
#endif
