// Counting the words of texts exactly as keyword extraction does, into a
// table that outlives one text: the building block of counts over many
// texts (src/corpus/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "text/text_view.hpp"

namespace parvenkel::analysis {

class WordCounting {
   public:
    // `text_bytes` sizes the table at the start, as for one text of that
    // size; stop words shorter than MIN_KEYWORD_BYTES are left out, as they
    // can never match.
    WordCounting(const std::vector<std::string>& stop_words, std::uint64_t seed,
                 std::size_t text_bytes);
    WordCounting(const WordCounting&) = delete;
    WordCounting& operator=(const WordCounting&) = delete;
    ~WordCounting();

    // Counts the words of `text` into the table: several texts counted one
    // after the other give the counts of the texts joined by white space.
    void count(text::TextView text);

    const WordTable& table() const noexcept;
    WordTable& table() noexcept;

   private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The UTF-8 bytes a text takes, roughly, to size tables.
std::size_t estimated_utf8_bytes(text::TextView text) noexcept;

}  // namespace parvenkel::analysis
