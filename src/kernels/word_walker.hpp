// The word walker: counts the words of texts into a WordTable, as keyword
// extraction does, with the kernels of one instruction set. One
// implementation per set (generic/word_walker.hpp compiled in scalar/,
// sse2/ and avx2/), picked once per walker by make_word_walker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/word_table.hpp"
#include "kernels/dispatch.hpp"
#include "text/text_view.hpp"

namespace parvenkel::kernels {

class WordWalker {
   public:
    WordWalker(const WordWalker&) = delete;
    WordWalker& operator=(const WordWalker&) = delete;
    virtual ~WordWalker() = default;

    // Counts the words of `text` into the table: several texts counted one
    // after the other give the counts of the texts joined by white space.
    virtual void count(text::TextView text) = 0;

    analysis::WordTable& table() noexcept { return table_; }
    const analysis::WordTable& table() const noexcept { return table_; }

   protected:
    // `text_bytes` sizes the table at the start; stop words shorter than
    // MIN_KEYWORD_BYTES are left out, as they can never match.
    WordWalker(const std::vector<std::string>& stop_words, std::uint64_t seed,
               std::size_t text_bytes);

    analysis::WordTable table_;
};

// A walker with the kernels of the instruction set active() names now.
std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes);

// The walker of one instruction set: scalar/, sse2/ and avx2/word_walker.cpp
// define those the build compiles (see isa.hpp).
template <Kernels K>
std::unique_ptr<WordWalker> make_word_walker_with(const std::vector<std::string>& stop_words,
                                                  std::uint64_t seed, std::size_t text_bytes);
template <>
std::unique_ptr<WordWalker> make_word_walker_with<Kernels::SCALAR>(const std::vector<std::string>&,
                                                                   std::uint64_t, std::size_t);
template <>
std::unique_ptr<WordWalker> make_word_walker_with<Kernels::SSE2>(const std::vector<std::string>&,
                                                                 std::uint64_t, std::size_t);
template <>
std::unique_ptr<WordWalker> make_word_walker_with<Kernels::AVX2>(const std::vector<std::string>&,
                                                                 std::uint64_t, std::size_t);

}  // namespace parvenkel::kernels
