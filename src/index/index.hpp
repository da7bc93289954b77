// An exact trigram index over articles, for many queries against one corpus.
//
// Each article keeps its title and content in UTF-8, and their lowercase
// forms (to_lowercase, as score_article makes them). The index holds, for
// every gram of the lowercased fields (three characters in a row, and each
// character of three bytes or more: for_each_gram in format.hpp), the list
// of articles that have it in their title, and another of those that have
// it in their content but not their title. A query can only occur in a
// field that has all of its grams, so intersecting their lists gives a
// superset of the articles that score above 0; those are then tested by
// score_article's byte tests on their lowercase forms, titles first (see
// query.cpp). Queries without a gram (two characters of fewer than three
// bytes each, or one) are answered by testing the articles one by one.
//
// Articles live in up to two segments: one read from a file (read whole
// into memory, read-only) and one built in memory, which takes articles
// added later.
// Posting lists are stored as the differences between successive article
// numbers in variable-length integers, in memory as in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_view.hpp"
#include "text/utf8_units.hpp"
#include "util/file.hpp"

namespace parvenkel::index {

// A file that is not a readable index: truncated, damaged, of another
// kind or of another version. what() names the problem (not the file).
class IndexFileError : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
};

// A failed system call on a file, with its errno and the path the caller
// gave.
using IndexIoError = util::IoError;

// The version written; versions 1 (without ids), 2 (one list a trigram
// for both fields) and 3 (lists keyed by trigrams of bytes) are read too.
inline constexpr std::uint32_t FILE_VERSION = 4;

class FieldLists;

struct Article {
    text::TextView title;
    text::TextView content;
    std::optional<text::TextView> id;  // what the caller names it by, if anything
};

struct Ranked {
    double score;
    std::size_t position;
};

class ArticleIndex {
   public:
    ArticleIndex();
    ~ArticleIndex();
    ArticleIndex(const ArticleIndex&) = delete;
    ArticleIndex& operator=(const ArticleIndex&) = delete;

    // Reads the index file at `path` into memory; throws IndexFileError or
    // IndexIoError. The index does not depend on the file afterwards.
    static std::unique_ptr<ArticleIndex> load(const std::string& path);

    // Adds articles after those already held, numbering them on; lowercases
    // and splits them on up to `workers` threads.
    void add(const std::vector<Article>& articles, unsigned workers);
    // The same, sharing the articles between up to `workers` runs of about
    // equal size, with at least `split_units` code units a run on average,
    // built at once on threads of their own and then joined: the index is
    // the same, byte for byte, however they are shared. Fewer units than
    // twice `split_units` make one run, its articles lowercased on the
    // workers and posted on this thread.
    void add(const std::vector<Article>& articles, unsigned workers, std::size_t split_units);
    // The split_units of the two-argument add: below it, a run on a thread
    // of its own costs more (a table of lists of its own, then joining it)
    // than it saves.
    static constexpr std::size_t SPLIT_UNITS = std::size_t{1} << 22;

    std::size_t size() const noexcept;
    std::string_view title(std::size_t position) const noexcept;
    std::string_view content(std::size_t position) const noexcept;
    std::optional<std::string_view> id(std::size_t position) const noexcept;
    // The shape of the str of the title (`content` false) or the content
    // of the article at `position`, counted when it was added or read.
    text::Utf8Shape shape(std::size_t position, bool content) const noexcept;

    // score_article of every article against `query`.
    std::vector<double> scores(text::TextView query) const;
    // The articles by score, highest first, equal scores in position order;
    // those scoring 0 only when include_zero; at most top_n.
    std::vector<Ranked> rank(text::TextView query, std::uint64_t top_n, bool include_zero) const;
    // rank of each query in turn, the queries shared out between up to
    // `workers` threads.
    std::vector<std::vector<Ranked>> rank_many(const std::vector<text::TextView>& queries,
                                               std::uint64_t top_n, bool include_zero,
                                               unsigned workers) const;

    // Writes the whole index to `path` through a temporary file in the same
    // directory, renamed over `path` once complete and flushed to disk;
    // throws IndexIoError naming `path`, which is then as it was.
    void save(const std::string& path) const;

    struct Loaded;
    struct Built;

   private:
    // The lists that give the articles that may hold the lowered query in
    // their title, in their content, or in their content and not in their
    // title; `to_the_end` as FieldLists takes it.
    enum class Lists { titles, contents, bodies };
    FieldLists lists_of(const std::string& lowered_query, Lists kind, bool to_the_end) const;
    // Field `which` of the article at `position`.
    std::string_view field_of(std::size_t position, unsigned which) const noexcept;
    // Every score above 0, in position order.
    std::vector<Ranked> matches(const std::string& lowered_query) const;
    // The best `top_n` scores above 0, best first, equal ones in position
    // order: all of them when there are fewer.
    std::vector<Ranked> best(const std::string& lowered_query, std::size_t top_n) const;

    std::unique_ptr<Loaded> base_;  // from a file, or none
    std::unique_ptr<Built> tail_;   // numbered after base_
};

}  // namespace parvenkel::index
