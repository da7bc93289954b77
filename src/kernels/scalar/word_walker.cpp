// The word walker with the scalar kernels.
#include "kernels/word_walker.hpp"

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
#include "kernels/scalar/word_kernels.hpp"
#include "kernels/word_classes.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels::scalar {

namespace {
#include "kernels/generic/word_walker.hpp"
}  // namespace

std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes) {
    return std::make_unique<Walker>(stop_words, seed, text_bytes);
}

}  // namespace parvenkel::kernels::scalar
