// What the searches of scoring share across instruction sets: the needle
// and its candidate filters, the outcomes, and the plain helpers the
// kernels and their callers use alike. Plain C++, compiled alike everywhere.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "text/ascii_lower.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels {

using text::detail::lower_ascii;

constexpr bool is_ascii_lower_letter(unsigned char byte) noexcept {
    return static_cast<unsigned>(byte) - 'a' < 26u;
}

enum class Search { FOUND, ABSENT, UNDECIDED, SURROGATE };

// The two bytes of a needle that the byte searches compare at every
// position, at offsets `first` <= `second`: its first and last bytes, but
// for a first byte that leads a character of two bytes or more, whose
// next byte is taken instead. One lead byte starts most letters of a script
// (0xCE and 0xCF all of Greek's, 0xD0 and 0xD1 all of Cyrillic's, 0xE3 to
// 0xE9 most kana and ideographs), so that in such text it passes about a
// third of the positions, where a continuation byte picks one character in
// 64 of its lead. The last byte of a needle never leads a character.
struct BytePair {
    std::size_t first = 0;
    std::size_t second = 0;
};

constexpr BytePair rare_pair(const unsigned char* needle, std::size_t m) noexcept {
    if (m < 2) {
        return {};
    }
    const std::size_t first = needle[0] >= 0xC0 && m > 2 ? 1 : 0;
    return {first, m - 1};
}

// The quick searches below verify candidate positions one by one, which on
// a periodic text (where nearly every position is one) costs up to the
// needle's length a position. They give up, and a linear search carries on,
// once verifying has compared more units than a quarter of the positions
// passed, plus a fixed allowance.
constexpr bool verified_too_much(std::size_t compared, std::size_t position) noexcept {
    return compared > position / 4 + 256;
}

// Where the vector step that tests alignment `i` on starts, of `step` bytes
// (at most 64) over units of `unit` bytes, and a byte mask of its positions
// still to test: a step from `i` while a whole one is left before
// `alignments`, else the last step, which ends there and overlaps the one
// before it; no positions (0) when the text has fewer than a step.
struct Step {
    std::size_t start;
    std::uint64_t keep;
};

inline Step next_step(std::size_t i, std::size_t alignments, std::size_t step,
                      std::size_t unit) noexcept {
    const std::size_t units = step / unit;
    if (alignments - i >= units) {
        return {i, ~std::uint64_t{0}};
    }
    if (alignments < units) {
        return {i, 0};
    }
    const std::size_t start = alignments - units;
    return {start, ~std::uint64_t{0} << ((i - start) * unit)};
}

// Where the linear search starts after a quick search gave up at `stopped`.
// The quick searches read the lowercase form in step with the text, unit
// for unit, which holds only up to the first unit that lowercases to more
// units (`lengthens`); none comes before `stopped`. So the alignments before
// `stopped` are ruled out, except those whose `m` units reach such a unit.
template <class Unit, class Lengthens>
std::size_t resume_at(const Unit* hay, std::size_t n, std::size_t m, std::size_t stopped,
                      Lengthens lengthens) noexcept {
    const std::size_t reach = std::min(n, stopped + m - 1);
    for (std::size_t p = stopped; p < reach; ++p) {
        if (lengthens(hay[p])) {
            return p + 1 >= m ? p + 1 - m : 0;
        }
    }
    return stopped;
}

// Eight bytes a step: the top bits of all of them at once.
bool is_ascii(std::string_view text) noexcept;

// The lowercase form of a text is searched a window at a time (so that a
// match near the start ends the work early and no copy of a long text is
// made) with one two-way search across the windows. What the next alignment
// still needs of one window, fewer units than the needle has, moves to the
// front for the next; a window at least as long as the needle keeps those
// moves linear in all.
constexpr std::size_t WINDOW = 16 * 1024;

// The one character that lowercases to several code points (U+0069 U+0307).
constexpr char32_t EXPANDS = 0x0130;

template <class Unit>
constexpr char32_t MAX_UNIT = sizeof(Unit) == 1   ? 0xFF
                              : sizeof(Unit) == 2 ? 0xFFFF
                                                  : 0x10FFFF;

// A lowercased query as the body searches take it.
struct Needle {
    std::string_view utf8;
    bool ascii = false;
    std::u32string cps;  // its code points, once decoded
    char32_t max_cp = 0;

    explicit Needle(std::string_view lowered) : utf8(lowered), ascii(is_ascii(lowered)) {}

    void decode() {
        for (std::size_t i = 0; i < utf8.size();) {
            const text::Utf8Char c = text::decode_utf8(utf8.data() + i);
            cps.push_back(c.cp);
            max_cp = std::max(max_cp, c.cp);
            i += c.length;
        }
    }
};

// How the vector kernels pick candidates for one needle character: units
// equal to `value` once OR-ed with `fold`, or equal to `other`. A fold of
// 0x20 takes both members of a pair that differ in that bit alone (A and a,
// Ж and ж, Å and å) in one comparison; `other` takes one more source.
struct LaneTest {
    char32_t fold = 0;
    char32_t value = 0;
    char32_t other = 0;
    bool needs_other = false;
};

// The candidate filter of a needle in text of one unit width: its first
// character and the one at `second` (the last that needs the fewest
// comparisons). Unusable when the first character has more sources than
// two comparisons take; every position is then verified.
struct UnitFilter {
    bool usable = false;
    std::size_t second = 0;
    LaneTest first;
    LaneTest at_second;
    bool needs_other = false;
};

// The test for a lowercase code point whose sources (lowercase_sources) fit
// `max_unit`; false if two comparisons cannot cover them.
bool make_lane_test(char32_t lowered, char32_t max_unit, LaneTest& test) noexcept;

template <class Unit>
UnitFilter make_unit_filter(std::u32string_view needle) noexcept {
    UnitFilter filter;
    if (needle.empty() || !make_lane_test(needle[0], MAX_UNIT<Unit>, filter.first)) {
        return filter;
    }
    filter.usable = true;
    filter.at_second = filter.first;
    // The last character that one comparison takes, else the last that two
    // do, among the last few (each costs a look-up in the tables).
    constexpr std::size_t LOOKED_AT = 4;
    bool cheap = false;
    const std::size_t from = needle.size() > LOOKED_AT ? needle.size() - LOOKED_AT : 1;
    for (std::size_t k = needle.size() - 1; k >= from && !cheap; --k) {
        LaneTest test;
        if (!make_lane_test(needle[k], MAX_UNIT<Unit>, test) ||
            (filter.second != 0 && test.needs_other)) {
            continue;
        }
        filter.second = k;
        filter.at_second = test;
        cheap = !test.needs_other;
    }
    filter.needs_other = filter.first.needs_other || filter.at_second.needs_other;
    return filter;
}

// One mask bit per unit of a byte mask: the lowest byte of each lane.
template <class Unit>
constexpr std::uint64_t LANE_BITS = sizeof(Unit) == 1   ? ~std::uint64_t{0}
                                    : sizeof(Unit) == 2 ? 0x5555555555555555
                                                        : 0x1111111111111111;

// Verifies the candidates of a step that starts at unit `at`, one per lane
// bit of the byte mask: FOUND or UNDECIDED end the search there.
template <class Unit, class Verify>
[[gnu::always_inline]] inline Search first_candidate(std::uint64_t mask, std::size_t at,
                                                     Verify& verify) noexcept {
    for (mask &= LANE_BITS<Unit>; mask != 0; mask &= mask - 1) {
        const std::size_t pos = at + static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
        if (const Search found = verify(pos); found != Search::ABSENT) {
            return found;
        }
    }
    return Search::ABSENT;
}

// first_candidate out of line, so that the vector constants of the scans
// stay in registers, saved only around the rare step with candidates. A
// set whose kernels are compiled under a target region has its own copy
// there (avx2/search_kernels.hpp): this one has the baseline target, and a
// verifier compiled for a larger set is not inlined into it, which would
// cost a call per candidate.
template <class Unit, class Verify>
[[gnu::noinline]] Search verify_candidates(std::uint64_t mask, std::size_t at,
                                           Verify& verify) noexcept {
    return first_candidate<Unit>(mask, at, verify);
}

// A step whose units include U+0130 or, when checked, a surrogate:
// SURROGATE if there is one (the text has no UTF-8 form), else UNDECIDED.
template <class Unit, bool CHECK>
Search troubled(const Unit* units, std::size_t count) noexcept {
    if constexpr (CHECK && sizeof(Unit) > 1) {
        for (std::size_t k = 0; k < count; ++k) {
            if ((static_cast<char32_t>(units[k]) & 0xFFFFF800) == 0xD800) {
                return Search::SURROGATE;
            }
        }
    }
    return Search::UNDECIDED;
}

}  // namespace parvenkel::kernels
