// The one place that chooses an implementation: the table of the
// instruction sets' implementations, indexed by active() (active.cpp).
#include "kernels/dispatch.hpp"

#include <memory>

#include "analysis/analysis.hpp"
#include "kernels/isa.hpp"
#include "kernels/posting_blocks.hpp"
#include "kernels/searches.hpp"
#include "kernels/utf8_decode.hpp"
#include "kernels/word_walker.hpp"

namespace parvenkel::kernels {

namespace {

using MakeWordWalker = decltype(&make_word_walker);
using GetSearches = decltype(&searches);
using GetDecoders = decltype(&decoders);
using GetPostingBlocks = decltype(&posting_blocks);

// What one instruction set implements.
struct Implementation {
    MakeWordWalker make_word_walker;
    GetSearches searches;
    GetDecoders decoders;
    GetPostingBlocks posting_blocks;
};

// SSE2 has no byte shuffle for a decoder: it takes the scalar one.
// AVX-512 has decoders, byte searches (with AVX2's searches of
// fixed-width units) and a decoder of posting blocks, and AVX2's word
// walker.
template <Kernels K>
constexpr Kernels WALKS_WITH = K == Kernels::AVX512 ? Kernels::AVX2 : K;
template <Kernels K>
constexpr Kernels DECODES_WITH = K >= Kernels::AVX2 ? K : Kernels::SCALAR;
// SSE2 has no variable shift for a decoder of posting blocks.
template <Kernels K>
constexpr Kernels UNPACKS_WITH = K >= Kernels::AVX2 ? K : Kernels::SCALAR;
template <Kernels K>
constexpr Implementation IMPLEMENTATION = {make_word_walker_with<WALKS_WITH<K>>, searches_with<K>,
                                           decoders_with<DECODES_WITH<K>>,
                                           posting_blocks_with<UNPACKS_WITH<K>>};

// The implementation of the set active() names: the best of those the
// build compiled that the processor has, at most the limit.
const Implementation& implementation() noexcept {
    switch (active()) {
#if defined(PARVENKEL_AVX512_TARGET)
        case Kernels::AVX512:
            return IMPLEMENTATION<Kernels::AVX512>;
#endif
#if defined(PARVENKEL_AVX2_TARGET)
        case Kernels::AVX2:
            return IMPLEMENTATION<Kernels::AVX2>;
#endif
#if defined(PARVENKEL_SSE2)
        case Kernels::SSE2:
            return IMPLEMENTATION<Kernels::SSE2>;
#endif
        default:
            return IMPLEMENTATION<Kernels::SCALAR>;
    }
}

}  // namespace

std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes) {
    return implementation().make_word_walker(stop_words, seed, text_bytes);
}

const Searches& searches() noexcept { return implementation().searches(); }

const Decoders& decoders() noexcept { return implementation().decoders(); }

const PostingBlocks& posting_blocks() noexcept { return implementation().posting_blocks(); }

WordWalker::WordWalker(const std::vector<std::string>& stop_words, std::uint64_t seed,
                       std::size_t text_bytes)
    : table_(seed, text_bytes) {
    for (const std::string& stop_word : stop_words) {
        // A stop word shorter than any counted word can never match.
        if (stop_word.size() >= analysis::MIN_KEYWORD_BYTES) {
            table_.add_stop_word(stop_word);
        }
    }
}

}  // namespace parvenkel::kernels
