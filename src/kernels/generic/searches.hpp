// The searches of scoring, written once and compiled inside the namespace
// of each instruction set (scalar/, sse2/ and avx2/searches.cpp), where
// scan_bytes, scan_units, lower_ascii_lanes and FindUnit are that set's
// kernels; the byte searches are in generic/byte_search.hpp. No include
// guard: each searches.cpp includes this file once, inside the set's
// region (begin.hpp, which names the set), after generic/dependencies.hpp
// (every header it needs) and the set's kernels.

#include "kernels/generic/byte_search.hpp"

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// Writes the lowercase form of unit `k` of a fixed-width text at `out`,
// which has room for LOWERCASE_MULTI_WIDTH units, and returns the end of
// what it wrote. A Latin-1 character lowercases to one in Latin-1, and one
// of plane 0 to code points of plane 0.
template <class Unit>
inline Unit* lower_unit(std::basic_string_view<Unit> units, std::size_t k, Unit* out) noexcept {
    const char32_t cp = units[k];
    if (cp < 0x80) {
        *out = static_cast<Unit>(lower_ascii(cp));
        return out + 1;
    }
    const char32_t lowered = text::lower_one(units, k);
    if (lowered != 0) [[likely]] {
        *out = static_cast<Unit>(lowered);
        return out + 1;
    }
    const text::LowerMapping several = text::to_lower(cp);
    for (std::size_t i = 0; i < several.len; ++i) {
        *out++ = static_cast<Unit>(several.cp[i]);
    }
    return out;
}

// The same for units [begin, end), with room for LOWERCASE_MULTI_WIDTH
// units each.
template <class Unit>
Unit* lower_units(std::basic_string_view<Unit> units, std::size_t begin, std::size_t end,
                  Unit* out) noexcept {
    std::size_t k = begin;
    auto lower = [units](std::size_t at, Unit* to) { return lower_unit(units, at, to); };
    out = lower_ascii_lanes(units.data(), k, end, out, lower);
    for (; k < end; ++k) {
        out = lower_unit(units, k, out);
    }
    return out;
}

// Whether the lowercase form of a fixed-width text from unit `from` on
// contains `needle` (lowercase code points, not empty): the same linear
// search on lowercase units.
template <class Unit>
bool lowercase_units_window_contains(std::basic_string_view<Unit> needle,
                                     std::basic_string_view<Unit> hay, std::size_t from) {
    constexpr std::size_t GROWTH = text::tables::LOWERCASE_MULTI_WIDTH;
    const text::TwoWaySearch<Unit, FindUnit> search(needle);
    const std::size_t window = std::min(std::max(WINDOW, needle.size()), hay.size() - from);
    const std::size_t capacity = needle.size() + GROWTH * window;
    const auto buffer = std::make_unique_for_overwrite<Unit[]>(capacity);
    std::size_t size = 0;
    typename text::TwoWaySearch<Unit, FindUnit>::Cursor cursor;
    for (std::size_t begin = from; begin < hay.size();) {
        size -= cursor.at;
        std::memmove(buffer.get(), buffer.get() + cursor.at, size * sizeof(Unit));
        cursor.at = 0;
        const std::size_t end = begin + std::min(hay.size() - begin, (capacity - size) / GROWTH);
        size = static_cast<std::size_t>(lower_units(hay, begin, end, buffer.get() + size) -
                                        buffer.get());
        if (search.find(buffer.get(), size, cursor)) {
            return true;
        }
        begin = end;
    }
    return false;
}

// Searches the lowercase form of a fixed-width text for `needle` (lowercase
// code points, not empty, each within the unit's range) without building
// that form. Every character but U+0130 lowercases to one code point, so
// while the text holds no U+0130 a match starts at a code unit and spans as
// many units as the needle has code points. Candidates are the positions
// whose units pass the filter (a block of units at a time), and each is
// verified unit by unit. Gives up (UNDECIDED) on a U+0130, and when
// verification costs too much, so that an adversarial text goes on with a
// linear search; every position before `stopped` is then ruled out (see
// resume_at). With CHECK, the units before `checked` have been checked for
// surrogates, and SURROGATE says one was found.
template <class Unit, bool CHECK>
Search search_lowercase_units(std::u32string_view needle, const UnitFilter& filter,
                              std::basic_string_view<Unit> hay, std::size_t& stopped,
                              std::size_t& checked) noexcept {
    constexpr bool CAN_EXPAND = EXPANDS <= MAX_UNIT<Unit>;
    const std::size_t n = hay.size();
    const std::size_t m = needle.size();
    stopped = 0;
    checked = 0;
    if (m > n) {
        return CAN_EXPAND ? Search::UNDECIDED : Search::ABSENT;
    }
    std::size_t compared = 0;

    // Verifies the candidate at `at`: FOUND, ABSENT or UNDECIDED.
    const auto verify = [&](std::size_t at) noexcept {
        std::size_t k = 0;
        Search result = Search::FOUND;
        for (; k < m; ++k) {
            const char32_t lowered = text::lower_one(hay, at + k);
            if (lowered != needle[k]) {
                result = lowered == 0 ? Search::UNDECIDED : Search::ABSENT;
                break;
            }
        }
        compared += k + 1;
        return result != Search::ABSENT || !verified_too_much(compared, at) ? result
                                                                            : Search::UNDECIDED;
    };

    std::size_t i = 0;
    Search found = Search::ABSENT;
    if (filter.usable) {
        const auto run = [&]<bool OTHER>() {
            return scan_units<Unit, CHECK, OTHER>(hay.data(), n, m, filter, verify, i);
        };
        found =
            filter.needs_other ? run.template operator()<true>() : run.template operator()<false>();
    }
    stopped = i;
    checked = i;
    if (found != Search::ABSENT) {
        return found;
    }
    // The positions left over, and every unit not yet seen by the kernels.
    if constexpr (CAN_EXPAND) {
        if (hay.find(static_cast<Unit>(EXPANDS), i) != hay.npos) {
            return Search::UNDECIDED;
        }
    }
    for (; i + m <= n; ++i) {
        if (const Search result = verify(i); result != Search::ABSENT) {
            stopped = i;
            return result;
        }
    }
    return Search::ABSENT;
}

// Whether the lowercase form of a fixed-width text contains the needle (not
// empty): FOUND or ABSENT, or with CHECK, SURROGATE for a text that holds
// a surrogate. `prepared` is the needle's filter for this width, if made.
template <class Unit, bool CHECK>
Search lowercase_units_contain(const Needle& needle, const UnitFilter* prepared,
                               std::basic_string_view<Unit> hay) {
    const auto clean_from = [&](std::size_t from) {
        if constexpr (CHECK && sizeof(Unit) > 1) {
            return text::find_surrogate(hay.substr(from)) == hay.size() - from;
        } else {
            return true;
        }
    };
    if (needle.max_cp > MAX_UNIT<Unit>) {
        // A code point below U+0100, or in plane 0, lowercases to one there.
        return clean_from(0) ? Search::ABSENT : Search::SURROGATE;
    }
    const UnitFilter filter = prepared != nullptr ? *prepared : make_unit_filter<Unit>(needle.cps);
    std::size_t stopped = 0;
    std::size_t checked = 0;
    const Search found =
        search_lowercase_units<Unit, CHECK>(needle.cps, filter, hay, stopped, checked);
    if (found == Search::SURROGATE || !clean_from(checked)) {
        return Search::SURROGATE;
    }
    if (found != Search::UNDECIDED) {
        return found;
    }
    const std::size_t from = resume_at(hay.data(), hay.size(), needle.cps.size(), stopped,
                                       [](char32_t unit) { return unit == EXPANDS; });
    // Each code point fits the unit, as checked.
    const std::vector<Unit> units(needle.cps.begin(), needle.cps.end());
    return lowercase_units_window_contains(std::basic_string_view<Unit>(units.data(), units.size()),
                                           hay, from)
               ? Search::FOUND
               : Search::ABSENT;
}

// The searches of this instruction set, as kernels::searches() hands them out.
constexpr Searches SEARCHES = {
    find_bytes<true>,
    find_bytes<false>,
    {lowercase_units_contain<std::uint8_t, false>, lowercase_units_contain<std::uint8_t, true>},
    {lowercase_units_contain<char16_t, false>, lowercase_units_contain<char16_t, true>},
    {lowercase_units_contain<char32_t, false>, lowercase_units_contain<char32_t, true>},
};

}  // namespace

}  // namespace parvenkel::kernels::PARVENKEL_SET

namespace parvenkel::kernels {

template <>
const Searches& searches_with<PARVENKEL_SET_KERNELS>() noexcept {
    return PARVENKEL_SET::SEARCHES;
}

}  // namespace parvenkel::kernels
