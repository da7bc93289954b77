// Substring search in linear time and constant space: the two-way algorithm
// of Crochemore and Perrin ("Two-way string-matching", Journal of the ACM
// 38(3), 1991), over code units of any width.
//
// The needle x, of m units, is cut into x = u v at a critical position
// l = |u|: the later of the starts of x's greatest suffix under an order of
// the units and under the reverse order. p is the period of that suffix. An
// alignment of x at text offset j compares v left to right from
// text[j + l]; when all of v matches, u right to left. A mismatch at v's
// unit k moves the alignment k + 1 units on. Past v, the next alignment is
// p units on when u occurs again p units into x (then p is x's period, and
// the first m - p units of that alignment are known to match and are not
// compared again), else max(|u|, |v|) + 1 units on. The critical
// factorisation theorem makes these shifts safe: no match is skipped, and
// a text of n units costs fewer than 2n comparisons. While nothing is known
// to match, the alignments whose unit at l differs from v's first fail at
// once and move one unit on; a vector scan for that unit skips them.
//
// The text may come a piece at a time: the search stops where the needle
// no longer fits, and carries on from its Cursor once the caller has
// appended more (and dropped the units before the cursor, if it likes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

namespace parvenkel::text {

// The first of [first, last) equal to `value`, or `last`: how TwoWaySearch
// skips alignments, memchr for bytes and std::find for wider units. The
// kernel layer passes its vector twin (kernels/sse2/search_kernels.hpp).
struct FindUnitScalar {
    template <class Char>
    static const Char* find(const Char* first, const Char* last, Char value) noexcept {
        if constexpr (sizeof(Char) == 1) {
            const void* hit = std::memchr(first, static_cast<unsigned char>(value),
                                          static_cast<std::size_t>(last - first));
            return hit != nullptr ? static_cast<const Char*>(hit) : last;
        } else {
            return std::find(first, last, value);
        }
    }
};

template <class Char, class FindUnit = FindUnitScalar>
class TwoWaySearch {
   public:
    // Where a search stands: the next alignment to try, and how many of the
    // needle's first units are known to match there.
    struct Cursor {
        std::size_t at = 0;
        std::size_t known = 0;
    };

    // `needle` is not empty, and outlives the search.
    explicit TwoWaySearch(std::basic_string_view<Char> needle) noexcept : needle_(needle) {
        const auto [start, period] = greatest_suffix(std::less<Char>());
        const auto [start_reverse, period_reverse] = greatest_suffix(std::greater<Char>());
        const bool later = start >= start_reverse;
        split_ = later ? start : start_reverse;
        const std::size_t p = later ? period : period_reverse;
        // p is at most |v|, so u and its copy p units on both lie in x.
        periodic_ = std::equal(needle.data(), needle.data() + split_, needle.data() + p);
        shift_ = periodic_ ? p : std::max(split_, needle.size() - split_) + 1;
    }

    // Tries the alignments from `cursor` on while the needle fits in the
    // `size` units at `text`: true with cursor.at at the first match, or
    // false with `cursor` at the first alignment that does not fit.
    bool find(const Char* text, std::size_t size, Cursor& cursor) const noexcept {
        const Char* const x = needle_.data();
        const std::size_t m = needle_.size();
        const std::size_t l = split_;
        std::size_t j = cursor.at;
        std::size_t known = cursor.known;
        while (m <= size && j <= size - m) {
            if (known == 0 && text[j + l] != x[l]) {
                // Such an alignment fails at v's first unit and moves one
                // on: go straight to the next whose unit there matches.
                const Char* const end = text + (size - m) + l + 1;
                j = static_cast<std::size_t>(FindUnit::find(text + j + l + 1, end, x[l]) - text) -
                    l;
                continue;
            }
            std::size_t i = std::max(l, known);
            while (i < m && x[i] == text[j + i]) {
                ++i;
            }
            if (i < m) {
                j += i - l + 1;
                known = 0;
                continue;
            }
            i = l;
            while (i > known && x[i - 1] == text[j + i - 1]) {
                --i;
            }
            if (i <= known) {
                cursor = {j, known};
                return true;
            }
            j += shift_;
            known = periodic_ ? m - shift_ : 0;
        }
        cursor = {j, known};
        return false;
    }

   private:
    // The start of the needle's greatest suffix by `less`, and that
    // suffix's period. `best` is the greatest suffix so far; the one at
    // `next` is compared with it unit by unit, `k` units in, and while they
    // agree the period `period` of the best suffix's prefix seen so far
    // repeats.
    template <class Less>
    std::pair<std::size_t, std::size_t> greatest_suffix(Less less) const noexcept {
        const Char* const x = needle_.data();
        const std::size_t m = needle_.size();
        std::size_t best = 0;
        std::size_t next = 1;
        std::size_t k = 0;
        std::size_t period = 1;
        while (next + k < m) {
            const Char a = x[next + k];
            const Char b = x[best + k];
            if (less(a, b)) {
                // The suffix at `next` is smaller, and so is every one that
                // starts before next + k + 1: all of that is one period.
                next += k + 1;
                k = 0;
                period = next - best;
            } else if (a == b) {
                if (k + 1 == period) {
                    next += period;
                    k = 0;
                } else {
                    ++k;
                }
            } else {
                // The suffix at `next` is greater: it is the best so far.
                best = next;
                next = best + 1;
                k = 0;
                period = 1;
            }
        }
        return {best, period};
    }

    std::basic_string_view<Char> needle_;
    std::size_t split_ = 0;  // l: v starts here
    std::size_t shift_ = 1;  // the move after v matched
    bool periodic_ = false;  // u occurs again shift_ units into the needle
};

}  // namespace parvenkel::text
