// Answering a query: which articles to test, in which order, and when to
// stop. score_article gives 1000 for a title that starts with the query,
// else 500 for one that holds it, plus 100 for a content that holds it, so
// every article whose title holds the query outranks every other, and
// those of one score rank by position. The best few are therefore found
// from the titles' candidates, then from the contents' in position order,
// stopping once enough are found.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/analysis.hpp"
#include "index/built.hpp"
#include "index/candidates.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "text/lowercase.hpp"

namespace parvenkel::index {
namespace {

constexpr double PREFIX = analysis::TITLE_PREFIX_SCORE;
constexpr double CONTAINS = analysis::TITLE_CONTAINS_SCORE;
constexpr double BONUS = analysis::CONTENT_CONTAINS_BONUS;

// The candidates of a walk through the contents, in order. Past the first
// few (among which a common word finds its best), they are taken a few
// ahead of the one tested, and the first bytes of their `text` (a
// callable from a position to the text its test searches) fetched
// meanwhile: a content is searched to its end unless it holds the query,
// and they lie far apart in the memory (`llint` on the help pages, some
// 680 candidates: 0.87 of the time).
template <class Text>
class FetchedCandidates {
   public:
    FetchedCandidates(FieldCandidates& candidates, Text text)
        : candidates_(candidates), text_(text) {}

    // The next candidate, and whether it surely holds the query.
    bool next(std::size_t& position, bool& sure) {
        const std::size_t depth = taken_ < EARLY ? 1 : RING;
        for (std::size_t i = 0; queued_ < depth && candidates_.next(i);) {
            const bool exact = candidates_.exact();
            if (depth > 1 && !exact) {
                const std::string_view text = text_(i);
                const std::size_t size = std::min(text.size(), FETCH_BYTES);
                for (std::size_t at = 0; at < size; at += 64) {
                    __builtin_prefetch(text.data() + at);
                }
            }
            const std::size_t slot = (head_ + queued_) % RING;
            ring_[slot] = i;
            sure_[slot] = exact;
            ++queued_;
        }
        if (queued_ == 0) {
            return false;
        }
        position = ring_[head_];
        sure = sure_[head_];
        head_ = (head_ + 1) % RING;
        --queued_;
        ++taken_;
        return true;
    }

   private:
    static constexpr std::size_t EARLY = 8;
    static constexpr std::size_t RING = 4;
    static constexpr std::size_t FETCH_BYTES = 1024;
    FieldCandidates& candidates_;
    Text text_;
    std::size_t ring_[RING] = {};
    bool sure_[RING] = {};
    std::size_t head_ = 0;
    std::size_t queued_ = 0;
    std::size_t taken_ = 0;
};

}  // namespace

FieldLists ArticleIndex::lists_of(const std::string& lowered_query, Lists kind,
                                  bool to_the_end) const {
    // A segment's keys: grams (version 4 on, and the built segment) or
    // trigrams of bytes (a file of an older version), each made once.
    const auto keys_of = [&](bool of_grams) {
        std::vector<Trigram> keys;
        if (of_grams) {
            add_grams(lowered_query, keys);
        } else {
            add_trigrams(lowered_query, keys);
        }
        sort_unique(keys);
        return keys;
    };
    const std::vector<Trigram> grams = keys_of(true);
    const std::vector<Trigram> trigrams =
        base_ && !base_->grams ? keys_of(false) : std::vector<Trigram>();
    FieldLists out(to_the_end);
    // A key's list of the contents leaves out the articles that have it in
    // their title (version 3 on, and the built segment).
    const auto add = [&](const auto& segment, bool split, bool of_grams,
                         const std::vector<Trigram>& keys) {
        // A query of three bytes with a key has one, the query itself: a
        // list holds exactly the articles that have it in its field.
        const bool whole = lowered_query.size() == 3 && !keys.empty();
        std::vector<Source> sources;
        sources.reserve(keys.size());
        for (const Trigram t : keys) {
            // Filled in place: a copy reads back what the fields' narrow
            // stores have not yet written to the cache.
            Source& source = sources.emplace_back();
            if (kind == Lists::titles) {
                source.lists[0] = segment.find(TITLE, t);
            } else if (kind == Lists::bodies && whole) {
                // The articles with the query in their content and not in
                // their title: the body-only matches, where split.
                source.lists[0] = segment.find(CONTENT, t);
            } else {
                source.lists[0] = segment.find(CONTENT, t);
                if (split) {
                    source.lists[1] = segment.find(TITLE, t);
                }
            }
            source.count = source.lists[0].count + source.lists[1].count;
            source.hashed = of_grams && is_hashed_gram(t);
        }
        const bool exact = whole && split && kind != Lists::contents;
        out.add_segment(segment.size(), keys.empty(), std::move(sources), exact,
                        segment.size() == 0 ? nullptr : &segment.ends[FIELDS * segment.size() - 1]);
    };
    if (base_) {
        add(*base_, base_->split, base_->grams, base_->grams ? grams : trigrams);
    }
    add(*tail_, true, true, grams);
    return out;
}

std::vector<Ranked> ArticleIndex::matches(const std::string& lowered_query) const {
    std::vector<Ranked> out;
    if (lowered_query.empty()) {
        return out;
    }
    const std::string& q = lowered_query;
    // The candidates of either field, in position order, each tested.
    const FieldLists title_lists = lists_of(q, Lists::titles, true);
    const FieldLists content_lists = lists_of(q, Lists::contents, true);
    FieldCandidates titles(title_lists);
    FieldCandidates contents(content_lists);
    FetchedCandidates ahead(contents,
                            [this](std::size_t i) { return field_of(i, LOWERED_CONTENT); });
    std::size_t t = 0;
    std::size_t c = 0;
    bool sure = false;
    bool more_titles = titles.next(t);
    bool more_contents = ahead.next(c, sure);
    while (more_titles || more_contents) {
        const std::size_t i = !more_contents || (more_titles && t < c) ? t : c;
        double score = 0.0;
        if (more_titles && t == i) {
            const std::string_view title = field_of(i, LOWERED_TITLE);
            if (title.starts_with(q)) {
                score = PREFIX;
            } else if (titles.exact() || analysis::is_contained_in(q, title)) {
                score = CONTAINS;
            }
            more_titles = titles.next(t);
        }
        if (more_contents && c == i) {
            if (sure || analysis::is_contained_in(q, field_of(i, LOWERED_CONTENT))) {
                score += BONUS;
            }
            more_contents = ahead.next(c, sure);
        }
        if (score > 0.0) {
            out.push_back({score, i});
        }
    }
    return out;
}

std::vector<Ranked> ArticleIndex::best(const std::string& lowered_query, std::size_t top_n) const {
    std::vector<Ranked> out;
    const std::string& q = lowered_query;
    if (q.empty() || top_n == 0) {
        return out;
    }
    // Every title candidate is tested; the bodies' only as far as needed.
    const FieldLists title_lists = lists_of(q, Lists::titles, true);
    const FieldLists body_lists = lists_of(q, Lists::bodies, false);
    // Whether the content of a title match holds the query: a search of
    // the content (the contents' lists leave out the articles whose title
    // has the gram).
    const auto holds = [&](std::size_t i) {
        return analysis::is_contained_in(q, field_of(i, LOWERED_CONTENT));
    };
    // The candidates' titles are read ahead of their test: they lie far
    // apart, and each would otherwise wait on the memory.
    constexpr std::size_t AHEAD = 8;
    const auto read_ahead = [&](const std::vector<std::size_t>& positions, std::size_t k,
                                unsigned which) {
        if (k + AHEAD < positions.size()) {
            __builtin_prefetch(field_of(positions[k + AHEAD], which).data());
        }
    };

    // The titles that hold the query, in position order: those it starts,
    // with the query in their content (1100) or not (1000), then the
    // others. Enough of the first end the search.
    std::vector<std::size_t> candidates;
    std::vector<bool> exact;
    {
        FieldCandidates titles(title_lists);
        for (std::size_t i = 0; titles.next(i);) {
            candidates.push_back(i);
            exact.push_back(titles.exact());
        }
    }
    std::vector<std::size_t> prefixed;
    std::vector<std::size_t> contained;
    {
        std::size_t with_content = 0;
        for (std::size_t k = 0; k < candidates.size(); ++k) {
            read_ahead(candidates, k, LOWERED_TITLE);
            const std::size_t i = candidates[k];
            const std::string_view title = field_of(i, LOWERED_TITLE);
            if (title.starts_with(q)) {
                if (holds(i)) {
                    out.push_back({PREFIX + BONUS, i});
                    if (++with_content == top_n) {
                        return out;
                    }
                } else {
                    prefixed.push_back(i);
                }
            } else if (exact[k] || analysis::is_contained_in(q, title)) {
                contained.push_back(i);
            }
        }
    }
    for (const std::size_t i : prefixed) {
        out.push_back({PREFIX, i});
    }
    if (out.size() >= top_n) {
        out.resize(top_n);
        return out;
    }
    {
        // Those the query does not start: with the query in their content
        // (600) first, so enough of them end the search.
        const std::size_t wanted = top_n - out.size();
        std::vector<Ranked> without;
        std::size_t with_content = 0;
        for (std::size_t k = 0; k < contained.size() && with_content < wanted; ++k) {
            read_ahead(contained, k, LOWERED_CONTENT);
            const std::size_t i = contained[k];
            if (holds(i)) {
                out.push_back({CONTAINS + BONUS, i});
                ++with_content;
            } else {
                without.push_back({CONTAINS, i});
            }
        }
        out.insert(out.end(), without.begin(), without.end());
        if (out.size() >= top_n) {
            out.resize(top_n);
            return out;
        }
    }
    // Then the contents that hold the query, of articles whose title does
    // not, in position order until enough.
    std::vector<std::size_t> titled;
    for (const Ranked& r : out) {
        titled.push_back(r.position);
    }
    std::sort(titled.begin(), titled.end());
    FieldCandidates contents(body_lists);
    FetchedCandidates ahead(contents,
                            [this](std::size_t i) { return field_of(i, LOWERED_CONTENT); });
    std::size_t t = 0;
    bool sure = false;
    for (std::size_t i = 0; out.size() < top_n && ahead.next(i, sure);) {
        while (t < titled.size() && titled[t] < i) {
            ++t;
        }
        if (t < titled.size() && titled[t] == i) {
            continue;
        }
        if (sure || analysis::is_contained_in(q, field_of(i, LOWERED_CONTENT))) {
            out.push_back({BONUS, i});
        }
    }
    return out;
}

std::vector<double> ArticleIndex::scores(text::TextView query) const {
    std::vector<double> all(size());
    for (const Ranked& r : matches(text::to_lowercase(query))) {
        all[r.position] = r.score;
    }
    return all;
}

std::vector<Ranked> ArticleIndex::rank(text::TextView query, std::uint64_t top_n,
                                       bool include_zero) const {
    const std::string lowered = text::to_lowercase(query);
    // Fewer than all: the best, found without testing every candidate.
    std::vector<Ranked> found =
        top_n < size() ? best(lowered, static_cast<std::size_t>(top_n)) : matches(lowered);
    const auto better = [](const Ranked& a, const Ranked& b) {
        return a.score != b.score ? a.score > b.score : a.position < b.position;
    };
    std::stable_sort(found.begin(), found.end(), better);
    if (include_zero && found.size() < top_n) {
        // Every article scoring above 0 is found: those scoring 0, in
        // position order, after them.
        std::vector<bool> scored(size());
        for (const Ranked& r : found) {
            scored[r.position] = true;
        }
        for (std::size_t i = 0; i < scored.size() && found.size() < top_n; ++i) {
            if (!scored[i]) {
                found.push_back({0.0, i});
            }
        }
    }
    if (found.size() > top_n) {
        found.resize(static_cast<std::size_t>(top_n));
    }
    return found;
}

}  // namespace parvenkel::index
