// The searches of scoring of the SCALAR instruction set (generic/searches.hpp),
// compiled with the scalar kernels, in a unit apart from the word walker
// (word_walker.cpp) so that each keeps the compiler's inlining budget.
#include "kernels/searches.hpp"

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
#include "kernels/isa.hpp"
#include "kernels/scalar/search_kernels.hpp"
#include "kernels/search_parts.hpp"
#include "kernels/word_classes.hpp"
#include "kernels/word_sink.hpp"
#include "kernels/word_walker.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels::scalar {

namespace {
#include "kernels/generic/searches.hpp"
}  // namespace

}  // namespace parvenkel::kernels::scalar

namespace parvenkel::kernels {

template <>
const Searches& searches_with<Kernels::SCALAR>() noexcept {
    return scalar::SEARCHES;
}

}  // namespace parvenkel::kernels
