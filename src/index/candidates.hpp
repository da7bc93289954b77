// Reading the posting lists for a query: the articles that may hold it in
// one field, found a few at a time in position order, so that a query
// that needs only the first few reads only the start of the lists.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "index/format.hpp"
#include "kernels/posting_blocks.hpp"

namespace parvenkel::index {

// The articles of one gram to intersect with the others': one list, or
// the union of two lists that share no article (a gram's list of the
// titles and its list of the contents of the other articles).
struct Source {
    Postings lists[2];
    std::uint32_t count = 0;
    bool hashed = false;  // the gram is a hash of several
};

// Reads the articles of a Source in order, checking every byte as
// PostingReader does.
class SourceReader {
   public:
    SourceReader(const Source& source, std::size_t articles)
        : a_(source.lists[0], articles), b_(source.lists[1], articles) {
        more_a_ = a_.next(va_);
        more_b_ = b_.next(vb_);
    }

    [[gnu::always_inline]] bool next(std::uint32_t& out) {
        if (more_a_ && (!more_b_ || va_ <= vb_)) {
            out = va_;
            if (more_b_ && vb_ == va_) {
                more_b_ = b_.next(vb_);
            }
            more_a_ = a_.next(va_);
            return true;
        }
        if (more_b_) {
            out = vb_;
            more_b_ = b_.next(vb_);
            return true;
        }
        return false;
    }

    // Appends every article not yet given to `out`.
    void read_all(std::vector<std::uint32_t>& out) {
        if (more_b_) {
            for (std::uint32_t id = 0; next(id);) {
                out.push_back(id);
            }
            return;
        }
        if (more_a_) {
            out.push_back(va_);
            a_.read_all(out);
            more_a_ = false;
        }
    }

   private:
    PostingReader a_;
    PostingReader b_;
    std::uint32_t va_ = 0;
    std::uint32_t vb_ = 0;
    bool more_a_ = false;
    bool more_b_ = false;
};

// The articles in every one of some lists of one segment, in order.
class Intersection {
   public:
    Intersection() = default;
    // `lists` all of one segment of `articles` articles, none empty.
    Intersection(std::vector<Source> lists, std::size_t articles) {
        std::sort(lists.begin(), lists.end(),
                  [](const Source& a, const Source& b) { return a.count < b.count; });
        // Every list read costs a step per article in it, up to where the
        // walk stops; the few shortest leave few candidates to test (the
        // intersection is a superset of the matches all the same), and a
        // list much longer than the shortest saves less than it costs. Up
        // to eight times as long, as intersect reads them: `llint` on the
        // help pages (bodies in its lists: about 1,300, 4,800 and 7,100; in
        // all three about 680, 21 of which hold it) tested some 950
        // candidates with a bound of four, and took 4-5% longer.
        constexpr std::size_t MOST_LISTS = 3;
        constexpr std::size_t LONGER = 8;
        for (const Source& list : lists) {
            if (readers_.size() == MOST_LISTS || list.count > LONGER * lists[0].count) {
                break;
            }
            readers_.emplace_back(list, articles);
        }
        current_.resize(readers_.size());
        for (std::size_t k = 1; k < readers_.size(); ++k) {
            if (!readers_[k].next(current_[k])) {
                readers_.clear();
            }
        }
    }

    // The next article in every list, if any.
    bool next(std::uint32_t& out) {
        if (readers_.empty()) {
            return false;
        }
        std::uint32_t id = 0;
        while (readers_[0].next(id)) {
            bool in_all = true;
            for (std::size_t k = 1; k < readers_.size() && in_all; ++k) {
                while (current_[k] < id) {
                    if (!readers_[k].next(current_[k])) {
                        readers_.clear();
                        return false;
                    }
                }
                in_all = current_[k] == id;
            }
            if (in_all) {
                out = id;
                return true;
            }
        }
        readers_.clear();
        return false;
    }

   private:
    std::vector<SourceReader> readers_;   // the shortest list first; none once done
    std::vector<std::uint32_t> current_;  // the number each other reader is at
};

// The articles in every one of some lists of one segment, all at once:
// for short lists, whose reading costs little, read shortest first, each
// only while it is not much longer than the candidates left.
// `text_end` points to the end of the segment's text, if it has any.
inline std::vector<std::uint32_t> intersect(std::vector<Source> lists, std::size_t articles,
                                            const std::uint64_t* text_end) {
    std::sort(lists.begin(), lists.end(),
              [](const Source& a, const Source& b) { return a.count < b.count; });
    std::vector<std::uint32_t> out;
    out.reserve(lists[0].count);
    SourceReader(lists[0], articles).read_all(out);
    // Intersecting with a list costs a step per article in it; testing a
    // candidate costs a search through one article, far in the memory,
    // some ten steps: a list that leaves most candidates (a common
    // gram) is not worth reading past that.
    constexpr std::size_t LIST_TO_CANDIDATE_COST = 8;
    // But the candidates of one hashed gram's list alone are those of
    // several grams, most of them false where the query's gram is rare
    // (one in 20 held `过程如` on the help pages, whose other grams are
    // characters in 12 to 25 times as many articles), and each is
    // searched to its end: the next list is worth what testing them
    // costs, up to twice as far. A test reads the article's two forms of
    // each field in the text: a list step per 128 bytes of one form. Once
    // two lists agree, the candidates are mostly matches, found among the
    // first few tested, and a list read further removes few (a Russian
    // word's third list took 1.45 times as long when read as far as 16
    // times).
    const auto after_hashed = [&] {
        const std::size_t form_bytes =
            text_end == nullptr ? 0 : static_cast<std::size_t>(*text_end) / articles / 2;
        return std::clamp<std::size_t>(form_bytes / 128, LIST_TO_CANDIDATE_COST,
                                       2 * LIST_TO_CANDIDATE_COST);
    };
    std::vector<std::uint32_t> numbers[2];
    for (std::size_t k = 1; k < lists.size() && !out.empty(); ++k) {
        std::size_t worth = LIST_TO_CANDIDATE_COST;
        if (k == 1 && lists[0].hashed) [[unlikely]] {
            worth = after_hashed();
        }
        if (lists[k].count > worth * out.size()) {
            break;
        }
        // The list's numbers, each of its two parts apart (a block at a
        // time where packed), and each candidate looked for in them a
        // window at a time (kernels::PostingBlocks::keep_found). Merging
        // the list number by number mispredicted most of its branches;
        // galloping through it, about one a step: the window took 0.58 of
        // the time of the merge with `загрузки` on 200,000 short articles
        // (lists about as long as the candidates), and 0.88 of the
        // galloping with `トしな` on the help pages (a list seven times as
        // long). As a merge stops there, the list is read no further than
        // the last candidate.
        for (unsigned j = 0; j < 2; ++j) {
            numbers[j].clear();
            // Room for the padding too: growing for it copied the numbers
            // to twice the room, where a long list's took fresh pages.
            numbers[j].reserve(lists[k].lists[j].count + kernels::FOUND_WINDOW);
            if (lists[k].lists[j].count != 0) {
                PostingReader(lists[k].lists[j], articles).read_through(numbers[j], out.back());
            }
            numbers[j].insert(numbers[j].end(), kernels::FOUND_WINDOW, UINT32_MAX);
        }
        const std::size_t kept = kernels::posting_blocks().keep_found(
            out.data(), out.size(), numbers[0].data(), numbers[1].data());
        out.resize(kept);
    }
    return out;
}

// What a query's grams give in one field of each segment of an index,
// looked up once for the walks through them (FieldCandidates): short
// lists intersected at once, long ones left to be read as far as needed.
class FieldLists {
   public:
    // `to_the_end`: the lists will be read to their end, so they are
    // intersected at once whatever their length.
    explicit FieldLists(bool to_the_end) noexcept : to_the_end_(to_the_end) {}

    // Adds the next segment, of `size` articles: every one of them a
    // candidate, or those in all `sources` (one a gram of the query),
    // which are exact or not; `text_end` points to the end of its text.
    void add_segment(std::size_t size, bool every, std::vector<Source> sources, bool exact,
                     const std::uint64_t* text_end) {
        Part part;
        part.first = first_;
        part.size = size;
        first_ += size;
        part.every = every;
        part.exact = exact && !every;
        if (!every) {
            std::size_t shortest = SIZE_MAX;
            for (const Source& source : sources) {
                shortest = std::min<std::size_t>(shortest, source.count);
            }
            if (shortest == 0) {
                return;  // none in this segment
            }
            if (to_the_end_ || shortest <= AT_ONCE) {
                part.found = intersect(std::move(sources), size, text_end);
                part.at_once = true;
            } else {
                part.lists = std::move(sources);
            }
        }
        parts_.push_back(std::move(part));
    }

   private:
    friend class FieldCandidates;
    // A shortest list of at most this many articles is read whole, with
    // every list that cuts its candidates (intersect): a selective query,
    // whose few candidates each cost a search. Longer ones are read as far
    // as the walk goes: a common word finds its best ten among its first
    // few hundred candidates, and reading its lists whole (up to 4,096
    // articles each, before) took most of its time.
    static constexpr std::size_t AT_ONCE = 256;
    struct Part {
        std::vector<Source> lists;         // read as needed
        std::vector<std::uint32_t> found;  // when at_once
        std::size_t first = 0;             // the position of its first article
        std::size_t size = 0;
        bool every = false;
        bool at_once = false;
        bool exact = false;
    };
    std::vector<Part> parts_;
    std::size_t first_ = 0;
    bool to_the_end_;
};

// The positions of the articles that may hold a query in one field, over
// the segments of an index in position order: those in all the field's
// lists of the query's grams, or every article for a query of fewer
// than 3 bytes. Where a segment's lists are exact (a query of exactly 3
// bytes, lists of the field alone), a candidate surely holds the query.
class FieldCandidates {
   public:
    explicit FieldCandidates(const FieldLists& lists) : parts_(lists.parts_) { start(); }

    // The next candidate's position, if any.
    bool next(std::size_t& position) {
        while (at_ < parts_.size()) {
            const FieldLists::Part& part = parts_[at_];
            std::uint32_t id = 0;
            bool more = false;
            if (part.every) {
                more = k_ < part.size;
                id = static_cast<std::uint32_t>(k_++);
            } else if (part.at_once) {
                more = k_ < part.found.size();
                id = more ? part.found[k_++] : 0;
            } else {
                more = lazy_.next(id);
            }
            if (more) {
                position = current_ = part.first + id;
                return started_ = true;
            }
            ++at_;
            start();
        }
        return false;
    }
    // Whether the last candidate given surely holds the query.
    bool exact() const noexcept { return parts_[at_].exact; }

   private:
    void start() {
        k_ = 0;
        if (at_ < parts_.size() && !parts_[at_].every && !parts_[at_].at_once) {
            lazy_ = Intersection(parts_[at_].lists, parts_[at_].size);
        }
    }

    const std::vector<FieldLists::Part>& parts_;
    std::size_t at_ = 0;  // the part of the last candidate given
    std::size_t k_ = 0;   // in that part, when every or at_once
    Intersection lazy_;   // in that part, otherwise
    std::size_t current_ = 0;
    bool started_ = false;
};

}  // namespace parvenkel::index
