// Counting and scoring over many texts at once, on worker threads: word
// counts kept from one call to the next (Counts), their compact serialised
// form, and batches of keyword lists and article scores. Plain C++: the
// Python layer above holds the texts alive while these run.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_counting.hpp"
#include "analysis/word_table.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "util/parallel.hpp"

namespace parvenkel::corpus {

// The number of threads to run for `requested` workers: -1 means one per
// processor the process may run on.
unsigned worker_count(long long requested) noexcept;

using util::parallel_for;

// A word and its count, the word pointing into the table it came from.
struct WordCountView {
    std::string_view word;
    std::uint64_t count;
};

// Orders by count, highest first, then by the word's bytes (code point
// order).
inline bool by_count_then_word(const WordCountView& a, const WordCountView& b) noexcept {
    return a.count != b.count ? a.count > b.count : a.word < b.word;
}

// The `top_n` (all when larger) words of `table` in that order.
std::vector<WordCountView> most_common(const analysis::WordTable& table, std::uint64_t top_n);

// Words of texts counted on worker threads, not yet added to any Counts.
struct Tally {
    std::vector<std::unique_ptr<analysis::WordCounting>> counters;
};

// Counts the words of `texts` on up to `workers` threads. Large texts are
// cut at ASCII white space into pieces that the threads share.
Tally count_texts(const std::vector<std::string>& stop_words,
                  const std::vector<text::TextView>& texts, unsigned workers);

// The largest sum of counts a Counts may hold.
inline constexpr std::uint64_t MAX_TOTAL = (std::uint64_t{1} << 62) - 1;

// Word counts of normalised words, kept across calls; the stop words are
// fixed at construction. Not synchronised: the caller locks.
class Counts {
   public:
    explicit Counts(std::vector<std::string> stop_words);

    // Adds the words counted in `tally`, whose tables it may take over. On
    // an exception (std::bad_alloc, std::overflow_error) the counts are
    // unchanged.
    void add(Tally& tally);
    void add(Tally&& tally) { add(tally); }

    // Adds the counts of `other` (its words that are stop words here are
    // left out). Unchanged on an exception.
    void merge(const Counts& other);

    const analysis::WordTable& table() const noexcept { return table_; }
    const std::vector<std::string>& stop_words() const noexcept { return stop_words_; }
    std::uint64_t total() const noexcept { return total_; }

    // Compact serialised form, and back; from_blob throws BlobError on a
    // blob it cannot take whole.
    std::string to_blob() const;
    static std::unique_ptr<Counts> from_blob(std::string_view blob);

   private:
    // Adds the counts of `tables` in one step that cannot fail half-way.
    void add_tables(const std::vector<const analysis::WordTable*>& tables);

    std::vector<std::string> stop_words_;  // sorted, no duplicates
    analysis::WordTable table_;
    std::uint64_t total_ = 0;
};

class BlobError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// The top words of one text; the views point into `store`.
struct TextKeywords {
    std::string store;
    std::vector<WordCountView> pairs;
};

// The top_n most common words of each text, ties in word order.
std::vector<TextKeywords> keywords_many(const std::vector<text::TextView>& texts,
                                        const std::vector<std::string>& stop_words,
                                        std::uint64_t top_n, unsigned workers);

struct Article {
    text::TextView title;
    text::TextView content;
};

// Scores of `count` articles against `query`; read(i, article) gives article
// i, or false when it cannot be read. Such an article, or one whose title
// or content holds a surrogate (QueryScorer), gets score 0 and is reported
// through `unreadable` (the least such i, or count when none). The articles
// are read by the threads that score them, so that each is read from
// memory once.
template <class Read>
std::vector<double> score_many(std::size_t count, text::TextView query, unsigned workers,
                               Read&& read, std::size_t& unreadable);

// Positions of the best articles by score, highest first, equal scores in
// position order; zero scores left out unless include_zero; at most top_n.
std::vector<std::size_t> rank_positions(const std::vector<double>& scores, std::uint64_t top_n,
                                        bool include_zero);

// Asks for a text (up to 16 KB of it) to be brought into the cache while
// the article before it is scored: the articles lie apart in memory, where
// the processor would not fetch them ahead by itself, and a body is read
// whole (for surrogates) or most of the way.
inline void prefetch(text::TextView text) noexcept {
    constexpr std::size_t AHEAD = 16384;
    const auto* bytes = static_cast<const char*>(text.data);
    const std::size_t size = std::min(AHEAD, text.length * text::unit_bytes(text.form));
    for (std::size_t at = 0; at < size; at += 64) {
        __builtin_prefetch(bytes + at);
    }
}

template <class Read>
std::vector<double> score_many(std::size_t count, text::TextView query, unsigned workers,
                               Read&& read, std::size_t& unreadable) {
    constexpr std::size_t BLOCK = 64;  // articles handed to a thread at once
    const analysis::QueryScorer scorer(query);
    std::vector<double> scores(count);
    std::atomic<std::size_t> first_unreadable{count};
    const auto report = [&](std::size_t i) {
        std::size_t seen = first_unreadable.load();
        while (i < seen && !first_unreadable.compare_exchange_weak(seen, i)) {
        }
    };
    const std::size_t blocks = (count + BLOCK - 1) / BLOCK;
    parallel_for(blocks, workers, [&](unsigned, std::size_t block) {
        std::string scratch;
        const std::size_t begin = block * BLOCK;
        const std::size_t end = std::min(count, begin + BLOCK);
        Article next;
        bool next_read = read(begin, next);
        for (std::size_t i = begin; i < end; ++i) {
            const Article article = next;
            const bool was_read = next_read;
            if (i + 1 < end && (next_read = read(i + 1, next))) {
                prefetch(next.title);
                prefetch(next.content);
            }
            const std::optional<double> score =
                was_read ? scorer.score(article.title, article.content, scratch) : std::nullopt;
            if (score) {
                scores[i] = *score;
            } else {
                report(i);
            }
        }
    });
    unreadable = first_unreadable.load();
    return scores;
}

}  // namespace parvenkel::corpus
