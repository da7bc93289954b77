// Answering a query: the candidates from the posting lists of its
// trigrams, each scored exactly; and reading the articles back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "index/built.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "text/lowercase.hpp"

namespace parvenkel::index {
namespace {

// score_article of a stored article, from its lowercase fields: the same
// byte tests on the same lowercase forms.
class Scorer {
   public:
    explicit Scorer(const std::string& lowered_query) : query_(lowered_query) {}

    double score(std::string_view lowered_title, std::string_view lowered_content) const {
        double score = 0.0;
        if (lowered_title.starts_with(query_)) {
            score = analysis::TITLE_PREFIX_SCORE;
        } else if (analysis::is_contained_in(query_, lowered_title)) {
            score = analysis::TITLE_CONTAINS_SCORE;
        }
        if (analysis::is_contained_in(query_, lowered_content)) {
            score += analysis::CONTENT_CONTAINS_BONUS;
        }
        return score;
    }

   private:
    const std::string& query_;
};

// Scores above 0 in one segment, numbered from `first`.
template <class Segment>
void segment_matches(const Segment& segment, const std::uint64_t* ends, const char* text,
                     const std::string& lowered_query, std::size_t first,
                     std::vector<Ranked>& out) {
    const std::size_t articles = segment.size();
    Scorer scorer(lowered_query);
    const auto score_one = [&](std::size_t i) {
        const double score = scorer.score(field(ends, text, i, LOWERED_TITLE),
                                          field(ends, text, i, LOWERED_CONTENT));
        if (score > 0.0) {
            out.push_back({score, first + i});
        }
    };
    if (lowered_query.size() < 3) {
        for (std::size_t i = 0; i < articles; ++i) {
            score_one(i);
        }
        return;
    }
    std::vector<Trigram> trigrams;
    add_trigrams(lowered_query, trigrams);
    sort_unique(trigrams);
    std::vector<Postings> lists;
    for (const Trigram t : trigrams) {
        const Postings list = segment.find(t);
        if (list.count == 0) {
            return;
        }
        lists.push_back(list);
    }
    std::sort(lists.begin(), lists.end(),
              [](const Postings& a, const Postings& b) { return a.count < b.count; });
    std::vector<std::uint32_t> candidates;
    candidates.reserve(lists[0].count);
    PostingReader first_list(lists[0], articles);
    for (std::uint32_t id = 0; first_list.next(id);) {
        candidates.push_back(id);
    }
    // Intersecting with a list costs a step per article in it; scoring a
    // candidate costs a search through one article. Lists much longer than
    // the candidates left are not worth reading.
    constexpr std::size_t LIST_TO_CANDIDATE_COST = 32;
    for (std::size_t k = 1; k < lists.size() && !candidates.empty(); ++k) {
        if (lists[k].count > LIST_TO_CANDIDATE_COST * candidates.size()) {
            break;
        }
        PostingReader reader(lists[k], articles);
        std::size_t kept = 0;
        std::size_t c = 0;
        std::uint32_t id = 0;
        bool more = reader.next(id);
        while (more && c < candidates.size()) {
            if (id < candidates[c]) {
                more = reader.next(id);
            } else if (candidates[c] < id) {
                ++c;
            } else {
                candidates[kept++] = id;
                ++c;
                more = reader.next(id);
            }
        }
        candidates.resize(kept);
    }
    for (const std::uint32_t i : candidates) {
        score_one(i);
    }
}

}  // namespace

ArticleIndex::ArticleIndex() : tail_(std::make_unique<Built>()) {}
ArticleIndex::~ArticleIndex() = default;

std::size_t ArticleIndex::size() const noexcept {
    return (base_ ? base_->size() : 0) + tail_->size();
}

std::string_view ArticleIndex::title(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    if (position < based) {
        return field(base_->ends, base_->text, position, TITLE);
    }
    return field(tail_->ends.data(), tail_->text.data(), position - based, TITLE);
}

std::string_view ArticleIndex::content(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    if (position < based) {
        return field(base_->ends, base_->text, position, CONTENT);
    }
    return field(tail_->ends.data(), tail_->text.data(), position - based, CONTENT);
}

std::optional<std::string_view> ArticleIndex::id(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    const std::uint64_t* ends = tail_->id_ends.data();
    const char* ids = tail_->id_text.data();
    if (position < based) {
        ends = base_->id_ends;
        ids = base_->id_text;
        if (ends == nullptr) {
            return std::nullopt;
        }
    } else {
        position -= based;
    }
    if ((ends[position] & NO_ID) != 0) {
        return std::nullopt;
    }
    const std::uint64_t begin = position == 0 ? 0 : ends[position - 1] & ~NO_ID;
    return std::string_view(ids + begin, static_cast<std::size_t>(ends[position] - begin));
}

std::vector<Ranked> ArticleIndex::matches(const std::string& lowered_query) const {
    std::vector<Ranked> out;
    if (lowered_query.empty()) {
        return out;
    }
    std::size_t first = 0;
    if (base_) {
        segment_matches(*base_, base_->ends, base_->text, lowered_query, 0, out);
        first = base_->size();
    }
    segment_matches(*tail_, tail_->ends.data(), tail_->text.data(), lowered_query, first, out);
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
    std::vector<Ranked> found = matches(text::to_lowercase(query));
    const auto better = [](const Ranked& a, const Ranked& b) {
        return a.score != b.score ? a.score > b.score : a.position < b.position;
    };
    if (top_n < found.size()) {
        const auto cut = found.begin() + static_cast<std::ptrdiff_t>(top_n);
        std::partial_sort(found.begin(), cut, found.end(), better);
        found.erase(cut, found.end());
        return found;
    }
    std::stable_sort(found.begin(), found.end(), better);
    if (include_zero) {
        // The articles scoring 0, in position order, after the others.
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
    return found;
}

}  // namespace parvenkel::index
