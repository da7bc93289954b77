// Article scoring and keyword extraction over text in UTF-8 or a fixed-width
// form (text_view.hpp). Plain functions over plain values: they never fail on
// well-formed input and raise nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/dispatch.hpp"
#include "text/text_view.hpp"

namespace parvenkel::analysis {

inline constexpr double TITLE_PREFIX_SCORE = 1000.0;
inline constexpr double TITLE_CONTAINS_SCORE = 500.0;
inline constexpr double CONTENT_CONTAINS_BONUS = 100.0;

// Relevance of an article to a query: 0, 100, 500, 600, 1000 or 1100.
double score_article(text::TextView title, text::TextView content, text::TextView query);
double score_article(std::string_view title, std::string_view content, std::string_view query);

// score_article against one query for many articles: the query is
// lowercased, and what the searches of a body need is prepared, once.
// Titles and contents of two or four bytes a unit are taken unchecked: one
// that holds a surrogate, which has no UTF-8 form, gets no score
// (std::nullopt). A content is checked as it is searched, in the same pass.
class QueryScorer {
   public:
    explicit QueryScorer(text::TextView query);
    ~QueryScorer();
    QueryScorer(const QueryScorer&) = delete;
    QueryScorer& operator=(const QueryScorer&) = delete;

    // `scratch` is room for a lowercase form, kept from one article to the
    // next (one per thread).
    std::optional<double> score(text::TextView title, text::TextView content,
                                std::string& scratch) const;

   private:
    struct Prepared;
    std::unique_ptr<const Prepared> prepared_;
};

// True when `needle` occurs in `haystack` (byte comparison).
bool is_contained_in(std::string_view needle, std::string_view haystack) noexcept;

inline constexpr std::size_t MIN_KEYWORD_BYTES = 3;

// Owns the bytes of distinct words: they are appended to large blocks, so a
// new word costs no allocation of its own.
class WordStore {
   public:
    std::string_view add(std::string_view word);
    // Makes room for `bytes` more bytes, so that adding up to that many
    // allocates nothing.
    void reserve(std::size_t bytes);

   private:
    static constexpr std::size_t BLOCK_BYTES = 64 * 1024;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
};

struct KeywordCount {
    std::string_view word;  // points into Keywords::store
    std::uint64_t count;
};

struct Keywords {
    std::vector<KeywordCount> pairs;  // most frequent first
    WordStore store;
};

// The `top_n` most frequent normalised words of `text` that are not in
// `stop_words`, most frequent first (ties in no defined order).
Keywords extract_keywords(text::TextView text, std::vector<std::string> stop_words,
                          std::uint64_t top_n);
Keywords extract_keywords(std::string_view text, std::vector<std::string> stop_words,
                          std::uint64_t top_n);

// The vector instructions keyword extraction and the searches of scoring
// may use, at most: by default the best the processor has. Tests lower the
// limit to reach the kernels of every instruction set on one machine.
using Kernels = kernels::Kernels;
void limit_kernels(Kernels most) noexcept;

}  // namespace parvenkel::analysis
