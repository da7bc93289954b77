#include <string.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "kernels/dispatch.hpp"
#include "kernels/isa.hpp"
#include "text/lanes.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

namespace parvenkel::analysis {

namespace {

constexpr unsigned char ascii_lower(unsigned char byte) noexcept {
    return static_cast<unsigned char>(static_cast<unsigned>(byte) - 'A' < 26u ? byte | 0x20 : byte);
}

#if defined(PARVENKEL_SSE2)
constexpr bool is_ascii_lower_letter(unsigned char byte) noexcept {
    return static_cast<unsigned>(byte) - 'a' < 26u;
}
#endif

enum class Search { FOUND, ABSENT, UNDECIDED, SURROGATE };

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

// Searches the lowercase form of an ASCII text for an already lowercased
// needle without building that form (FOLD), or a text for the needle's
// bytes as they are: candidates are the positions whose first and last
// bytes match the needle's (with FOLD, a letter in either case), a block of
// positions at a time, and each is verified byte by byte. Gives up
// (UNDECIDED) when verification costs too much, so that an adversarial text
// goes on with a linear search from resume(); with FOLD also at the first
// byte that is not ASCII, whose lowercase form can differ in length.
template <bool FOLD>
class ByteSearch {
   public:
    ByteSearch(std::string_view needle, std::string_view text) noexcept
        : hay_(reinterpret_cast<const unsigned char*>(text.data())),
          pattern_(reinterpret_cast<const unsigned char*>(needle.data())),
          n_(text.size()),
          m_(needle.size()) {}

    Search run() noexcept {
        std::size_t i = 0;
        if (m_ <= n_) {
            Search found = Search::ABSENT;
            [[maybe_unused]] const Kernels kernels = kernels::active();
#if defined(PARVENKEL_AVX2_TARGET)
            if (kernels == Kernels::AVX2) {
                found = scan_avx2(i);
            }
#endif
#if defined(PARVENKEL_SSE2)
            if (found == Search::ABSENT && kernels >= Kernels::SSE2) {
                found = scan_sse2(i);
            }
#endif
            if (found != Search::ABSENT) {
                stopped_ = i;
                return found;
            }
        }
        // The positions left over, and every byte not yet seen by a block.
        stopped_ = i;
        for (std::size_t j = i; FOLD && j < n_; ++j) {
            if (hay_[j] >= 0x80) {
                return Search::UNDECIDED;
            }
        }
        for (; i + m_ <= n_; ++i) {
            if (const Search found = check(i, 1); found != Search::ABSENT) {
                stopped_ = i;
                return found;
            }
        }
        return Search::ABSENT;
    }

    // After UNDECIDED, the byte from which a linear search must look (the
    // start of a character).
    std::size_t resume() const noexcept {
        if constexpr (!FOLD) {
            return stopped_;
        }
        return resume_at(hay_, n_, m_, stopped_, [](unsigned char byte) { return byte >= 0x80; });
    }

   private:
    // The candidates at `at` + the set bits of `mask`, in order: FOUND,
    // UNDECIDED once verifying costs too much, or ABSENT. A folded match of a
    // letter can also be a non-letter (say '@' for '`'), and a byte that is
    // not ASCII matches nothing here: the exact check rules both out, and
    // the blocks see every byte that is not ASCII before they end.
    Search check(std::size_t at, std::uint64_t mask) noexcept {
        for (; mask != 0; mask &= mask - 1) {
            const std::size_t pos = at + static_cast<std::size_t>(__builtin_ctzll(mask));
            std::size_t k = 0;
            while (k < m_ && (FOLD ? ascii_lower(hay_[pos + k]) : hay_[pos + k]) == pattern_[k]) {
                ++k;
            }
            if (k == m_) {
                return Search::FOUND;
            }
            compared_ += k + 1;
            if (verified_too_much(compared_, pos)) {
                return Search::UNDECIDED;
            }
        }
        return Search::ABSENT;
    }

#if defined(PARVENKEL_SSE2)
    // Sixty-four positions a step while the text lasts, then sixteen; moves
    // `next` past the positions it has ruled out. The loop keeps its
    // position and the text's bounds in locals, which check() cannot touch.
    Search scan_sse2(std::size_t& next) noexcept {
        const std::size_t span = m_ - 1;
        const std::size_t alignments = n_ - span;
        std::size_t i = next;
        const auto fold = [](unsigned char byte) {
            return _mm_set1_epi8(FOLD && is_ascii_lower_letter(byte) ? 0x20 : 0);
        };
        const __m128i first = _mm_set1_epi8(static_cast<char>(pattern_[0]));
        const __m128i last = _mm_set1_epi8(static_cast<char>(pattern_[m_ - 1]));
        const __m128i first_fold = fold(pattern_[0]);
        const __m128i last_fold = fold(pattern_[m_ - 1]);
        for (std::size_t step : {std::size_t{64}, std::size_t{16}}) {
            // Steps of 64 while whole ones are left; the rest in steps of
            // 16, the last of them overlapping the one before.
            while (i < alignments && (step == 16 || alignments - i >= step)) {
                const auto [start, keep] = next_step(i, alignments, step, 1);
                if (keep == 0) {
                    break;
                }
                __m128i non_ascii = _mm_setzero_si128();
                std::uint64_t mask = 0;
                for (std::size_t block = 0; block < step; block += 16) {
                    const __m128i a = load16(start + block);
                    const __m128i b = load16(start + block + span);
                    non_ascii = _mm_or_si128(non_ascii, _mm_or_si128(a, b));
                    const __m128i hit =
                        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, first_fold), first),
                                      _mm_cmpeq_epi8(_mm_or_si128(b, last_fold), last));
                    mask |=
                        static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                        << block;
                }
                if (FOLD && _mm_movemask_epi8(non_ascii) != 0) {
                    next = start;
                    return Search::UNDECIDED;
                }
                if (const Search found = check(start, mask & keep); found != Search::ABSENT) {
                    next = start;
                    return found;
                }
                i = start + step;
            }
        }
        next = i;
        return Search::ABSENT;
    }

    __m128i load16(std::size_t at) const noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay_ + at));
    }
#endif

#if defined(PARVENKEL_AVX2_TARGET)
    // The same with 32-byte vectors, sixty-four positions a step, on
    // processors that have AVX2 (chosen at run time).
    __attribute__((target("avx2"))) Search scan_avx2(std::size_t& next) noexcept {
        const unsigned char* const hay = hay_;
        const std::size_t n = n_;
        const std::size_t span = m_ - 1;
        std::size_t i = next;
        const __m256i first = _mm256_set1_epi8(static_cast<char>(pattern_[0]));
        const __m256i last = _mm256_set1_epi8(static_cast<char>(pattern_[m_ - 1]));
        const __m256i first_fold =
            _mm256_set1_epi8(FOLD && is_ascii_lower_letter(pattern_[0]) ? 0x20 : 0);
        const __m256i last_fold =
            _mm256_set1_epi8(FOLD && is_ascii_lower_letter(pattern_[m_ - 1]) ? 0x20 : 0);
        for (; i + span + 64 <= n; i += 64) {
            const auto* at = reinterpret_cast<const __m256i*>(hay + i);
            const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + span);
            const __m256i a0 = _mm256_loadu_si256(at);
            const __m256i a1 = _mm256_loadu_si256(at + 1);
            const __m256i b0 = _mm256_loadu_si256(shifted);
            const __m256i b1 = _mm256_loadu_si256(shifted + 1);
            if (FOLD && _mm256_movemask_epi8(_mm256_or_si256(a0, a1)) != 0) {
                next = i;
                return Search::UNDECIDED;
            }
            const __m256i hit0 =
                _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a0, first_fold), first),
                                 _mm256_cmpeq_epi8(_mm256_or_si256(b0, last_fold), last));
            const __m256i hit1 =
                _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a1, first_fold), first),
                                 _mm256_cmpeq_epi8(_mm256_or_si256(b1, last_fold), last));
            const std::uint64_t mask =
                static_cast<std::uint32_t>(_mm256_movemask_epi8(hit0)) |
                static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hit1)))
                    << 32;
            if (mask != 0) {
                if (const Search found = check(i, mask); found != Search::ABSENT) {
                    next = i;
                    return found;
                }
            }
        }
        next = i;
        return Search::ABSENT;
    }
#endif

    const unsigned char* hay_;
    const unsigned char* pattern_;
    std::size_t n_;
    std::size_t m_;
    std::size_t compared_ = 0;
    std::size_t stopped_ = 0;  // every position before it is ruled out (see resume())
};

// Eight bytes a step: the top bits of all of them at once.
bool is_ascii(std::string_view text) noexcept {
    std::size_t i = 0;
    std::uint64_t high = 0;
    for (; i + 8 <= text.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + i, sizeof word);
        high |= word;
    }
    for (; i < text.size(); ++i) {
        high |= static_cast<unsigned char>(text[i]);
    }
    return (high & 0x8080808080808080) == 0;
}

// The lowercase form of a text is searched a window at a time (so that a
// match near the start ends the work early and no copy of a long text is
// made) with one two-way search across the windows. What the next alignment
// still needs of one window, fewer units than the needle has, moves to the
// front for the next; a window at least as long as the needle keeps those
// moves linear in all.
constexpr std::size_t WINDOW = 16 * 1024;

// Whether the lowercase form of `text` from byte `from` (the start of a
// character) contains `lowered_needle` (not empty).
bool lowercase_window_contains(std::string_view lowered_needle, std::string_view text,
                               std::size_t from) {
    const text::TwoWaySearch<char> search(lowered_needle);
    const std::size_t window = std::max(WINDOW, lowered_needle.size());
    std::string lowered;
    lowered.reserve(lowered_needle.size() + window + 64);
    text::TwoWaySearch<char>::Cursor cursor;
    for (std::size_t begin = from; begin < text.size();) {
        std::size_t end = std::min(begin + window, text.size());
        while (end < text.size() &&
               text::is_utf8_continuation(static_cast<unsigned char>(text[end]))) {
            --end;  // back to the first byte of a character
        }
        lowered.erase(0, cursor.at);
        cursor.at = 0;
        text::append_lowercase(lowered, text, begin, end);
        if (search.find(lowered.data(), lowered.size(), cursor)) {
            return true;
        }
        begin = end;
    }
    return false;
}

// Writes the lowercase form of unit `k` of a fixed-width text at `out`,
// which has room for LOWERCASE_MULTI_WIDTH units, and returns the end of
// what it wrote. A Latin-1 character lowercases to one in Latin-1, and one
// of plane 0 to code points of plane 0.
template <class Unit>
inline Unit* lower_unit(std::basic_string_view<Unit> units, std::size_t k, Unit* out) noexcept {
    const char32_t cp = units[k];
    if (cp < 0x80) {
        *out = static_cast<Unit>(cp - U'A' < 26 ? cp + 0x20 : cp);
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
#if defined(PARVENKEL_SSE2)
    // A vector of ASCII units at once: A-Z take 0x20, compared a byte at a
    // time (the upper bytes of wider units are zero, never a capital).
    constexpr std::size_t LANES = 16 / sizeof(Unit);
    const __m128i above_ascii = text::lanes_of<Unit>(~char32_t{0x7F});
    while (end - k >= LANES) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units.data() + k));
        const __m128i ascii = _mm_cmpeq_epi8(_mm_and_si128(v, above_ascii), _mm_setzero_si128());
        if (_mm_movemask_epi8(ascii) != 0xFFFF) {
            for (const std::size_t stop = k + LANES; k < stop; ++k) {
                out = lower_unit(units, k, out);
            }
            continue;
        }
        const __m128i upper = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('A' - 1)),
                                            _mm_cmplt_epi8(v, _mm_set1_epi8('Z' + 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20))));
        out += LANES;
        k += LANES;
    }
#endif
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
    const text::TwoWaySearch<Unit> search(needle);
    const std::size_t window = std::min(std::max(WINDOW, needle.size()), hay.size() - from);
    const std::size_t capacity = needle.size() + GROWTH * window;
    const auto buffer = std::make_unique_for_overwrite<Unit[]>(capacity);
    std::size_t size = 0;
    typename text::TwoWaySearch<Unit>::Cursor cursor;
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
bool make_lane_test(char32_t lowered, char32_t max_unit, LaneTest& test) noexcept {
    char32_t sources[text::LOWER_SOURCES_MAX];
    std::size_t count = text::lowercase_sources(lowered, sources);
    count = static_cast<std::size_t>(
        std::remove_if(sources, sources + count, [&](char32_t cp) { return cp > max_unit; }) -
        sources);
    for (std::size_t a = 0; a < count; ++a) {
        for (std::size_t b = a + 1; b < count; ++b) {
            if ((sources[a] ^ sources[b]) != 0x20) {
                continue;
            }
            if (count > 3) {
                return false;
            }
            test.fold = 0x20;
            test.value = sources[a] | 0x20;
            const std::size_t rest = 3 - a - b;  // the third index, when there is one
            test.needs_other = count == 3;
            test.other = test.needs_other ? sources[rest] : test.value;
            return true;
        }
    }
    if (count == 0 || count > 2) {
        return false;  // none: the character cannot occur in text of this width
    }
    test.fold = 0;
    test.value = sources[0];
    test.needs_other = count == 2;
    test.other = sources[count - 1];
    return true;
}

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
Search verify_candidates(std::uint64_t mask, std::size_t at, Verify& verify) noexcept {
    for (mask &= LANE_BITS<Unit>; mask != 0; mask &= mask - 1) {
        const std::size_t pos = at + static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
        if (const Search found = verify(pos); found != Search::ABSENT) {
            return found;
        }
    }
    return Search::ABSENT;
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

// What ends a kernel's step at unit `at`: the step's trouble, if it has
// any, else the first of its candidates (`mask`) that is not ABSENT.
template <class Unit, bool CHECK, class Verify>
[[gnu::always_inline]] inline Search end_of_step(bool trouble, std::uint64_t mask, const Unit* hay,
                                                 std::size_t at, std::size_t step,
                                                 Verify& verify) noexcept {
    if (trouble) {
        return troubled<Unit, CHECK>(hay + at, step);
    }
    return mask != 0 ? verify_candidates<Unit>(mask, at, verify) : Search::ABSENT;
}

#if defined(PARVENKEL_SSE2)
// Sixty-four bytes a step from `next`, with 16-byte vectors: the positions
// whose first unit and unit at filter.second are candidates are verified.
// Stops with UNDECIDED at a step that holds U+0130 and, when CHECK, with
// SURROGATE at one that holds a surrogate; the units before `next` have
// been seen by both tests.
template <class Unit, bool CHECK, bool OTHER, class Verify>
Search scan_units_sse2(const Unit* hay, std::size_t n, std::size_t m, const UnitFilter& filter,
                       Verify& verify, std::size_t& next) noexcept {
    constexpr std::size_t LANES = 16 / sizeof(Unit);
    constexpr std::size_t STEP = 4 * LANES;
    constexpr bool TROUBLE = sizeof(Unit) > 1;
    const __m128i fold0 = text::lanes_of<Unit>(filter.first.fold);
    const __m128i value0 = text::lanes_of<Unit>(filter.first.value);
    const __m128i other0 = text::lanes_of<Unit>(filter.first.other);
    const __m128i fold1 = text::lanes_of<Unit>(filter.at_second.fold);
    const __m128i value1 = text::lanes_of<Unit>(filter.at_second.value);
    const __m128i other1 = text::lanes_of<Unit>(filter.at_second.other);
    const __m128i expands = text::lanes_of<Unit>(EXPANDS);
    const __m128i high = text::lanes_of<Unit>(0xFFFFF800);
    const __m128i surrogate = text::lanes_of<Unit>(0xD800);
    const auto candidates = [](__m128i v, __m128i fold, __m128i value, __m128i other) {
        const __m128i hit = text::lanes_equal<Unit>(_mm_or_si128(v, fold), value);
        return OTHER ? _mm_or_si128(hit, text::lanes_equal<Unit>(v, other)) : hit;
    };
    const std::size_t second = filter.second;
    std::size_t i = next;
    for (; i + m - 1 + STEP <= n; i += STEP) {
        __m128i trouble = _mm_setzero_si128();
        std::uint64_t mask = 0;
        for (std::size_t block = 0; block < 4; ++block) {
            const Unit* at = hay + i + block * LANES;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + second));
            if constexpr (TROUBLE) {
                trouble = _mm_or_si128(trouble, text::lanes_equal<Unit>(a, expands));
                if constexpr (CHECK) {
                    trouble = _mm_or_si128(
                        trouble, text::lanes_equal<Unit>(_mm_and_si128(a, high), surrogate));
                }
            }
            const __m128i hit = _mm_and_si128(candidates(a, fold0, value0, other0),
                                              candidates(b, fold1, value1, other1));
            mask |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                    << (16 * block);
        }
        const bool troubled_step = TROUBLE && _mm_movemask_epi8(trouble) != 0;
        if (const Search found =
                end_of_step<Unit, CHECK>(troubled_step, mask, hay, i, STEP, verify);
            found != Search::ABSENT) {
            next = i;
            return found;
        }
    }
    next = i;
    return Search::ABSENT;
}
#endif

#if defined(PARVENKEL_AVX2_TARGET)
// The same with 32-byte vectors, on processors that have AVX2.
template <class Unit>
__attribute__((target("avx2"))) inline __m256i lanes256_of(char32_t value) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm256_set1_epi8(static_cast<char>(value));
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm256_set1_epi16(static_cast<short>(value));
    } else {
        return _mm256_set1_epi32(static_cast<int>(value));
    }
}

template <class Unit>
__attribute__((target("avx2"))) inline __m256i lanes256_equal(__m256i a, __m256i b) noexcept {
    if constexpr (sizeof(Unit) == 1) {
        return _mm256_cmpeq_epi8(a, b);
    } else if constexpr (sizeof(Unit) == 2) {
        return _mm256_cmpeq_epi16(a, b);
    } else {
        return _mm256_cmpeq_epi32(a, b);
    }
}

template <class Unit, bool OTHER>
__attribute__((target("avx2"))) inline __m256i candidates256(__m256i v, __m256i fold, __m256i value,
                                                             __m256i other) noexcept {
    const __m256i hit = lanes256_equal<Unit>(_mm256_or_si256(v, fold), value);
    return OTHER ? _mm256_or_si256(hit, lanes256_equal<Unit>(v, other)) : hit;
}

template <class Unit, bool CHECK, bool OTHER, class Verify>
__attribute__((target("avx2"))) Search scan_units_avx2(const Unit* hay, std::size_t n,
                                                       std::size_t m, const UnitFilter& filter,
                                                       Verify& verify, std::size_t& next) noexcept {
    constexpr std::size_t LANES = 32 / sizeof(Unit);
    constexpr std::size_t STEP = 2 * LANES;
    constexpr bool TROUBLE = sizeof(Unit) > 1;
    const __m256i fold0 = lanes256_of<Unit>(filter.first.fold);
    const __m256i value0 = lanes256_of<Unit>(filter.first.value);
    const __m256i other0 = lanes256_of<Unit>(filter.first.other);
    const __m256i fold1 = lanes256_of<Unit>(filter.at_second.fold);
    const __m256i value1 = lanes256_of<Unit>(filter.at_second.value);
    const __m256i other1 = lanes256_of<Unit>(filter.at_second.other);
    const __m256i expands = lanes256_of<Unit>(EXPANDS);
    const __m256i high = lanes256_of<Unit>(0xFFFFF800);
    const __m256i surrogate = lanes256_of<Unit>(0xD800);
    const std::size_t second = filter.second;
    std::size_t i = next;
    for (; i + m - 1 + STEP <= n; i += STEP) {
        const auto* at = reinterpret_cast<const __m256i*>(hay + i);
        const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + second);
        const __m256i a0 = _mm256_loadu_si256(at);
        const __m256i a1 = _mm256_loadu_si256(at + 1);
        if constexpr (TROUBLE) {
            __m256i trouble = _mm256_or_si256(lanes256_equal<Unit>(a0, expands),
                                              lanes256_equal<Unit>(a1, expands));
            if constexpr (CHECK) {
                trouble = _mm256_or_si256(
                    trouble,
                    _mm256_or_si256(lanes256_equal<Unit>(_mm256_and_si256(a0, high), surrogate),
                                    lanes256_equal<Unit>(_mm256_and_si256(a1, high), surrogate)));
            }
            if (!_mm256_testz_si256(trouble, trouble)) {
                next = i;
                return troubled<Unit, CHECK>(hay + i, STEP);
            }
        }
        const __m256i b0 = _mm256_loadu_si256(shifted);
        const __m256i b1 = _mm256_loadu_si256(shifted + 1);
        const __m256i hit0 =
            _mm256_and_si256(candidates256<Unit, OTHER>(a0, fold0, value0, other0),
                             candidates256<Unit, OTHER>(b0, fold1, value1, other1));
        const __m256i hit1 =
            _mm256_and_si256(candidates256<Unit, OTHER>(a1, fold0, value0, other0),
                             candidates256<Unit, OTHER>(b1, fold1, value1, other1));
        const std::uint64_t mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(hit0)) |
            static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hit1)))
                << 32;
        if (const Search found = end_of_step<Unit, CHECK>(false, mask, hay, i, STEP, verify);
            found != Search::ABSENT) {
            next = i;
            return found;
        }
    }
    next = i;
    return Search::ABSENT;
}
#endif

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
        [[maybe_unused]] const auto run = [&]<bool OTHER>() {
            switch (kernels::active()) {
#if defined(PARVENKEL_AVX2_TARGET)
                case Kernels::AVX2:
                    return scan_units_avx2<Unit, CHECK, OTHER>(hay.data(), n, m, filter, verify, i);
#endif
#if defined(PARVENKEL_SSE2)
                case Kernels::SSE2:
                    return scan_units_sse2<Unit, CHECK, OTHER>(hay.data(), n, m, filter, verify, i);
#endif
                default:
                    return Search::ABSENT;
            }
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

// Whether the lowercase form of `text` contains the needle (not empty), as
// lowercase_units_contain; `filters` holds the needle's filters for the
// widths of one, two and four bytes, if made. The needle is decoded when
// the text is not UTF-8.
template <bool CHECK>
Search lowercase_contains(const Needle& needle, const UnitFilter* filters, text::TextView text) {
    if (text.form == text::Form::UTF8) {
        const std::string_view utf8 = text.as_utf8();
        std::size_t from = 0;
        if (!needle.ascii && is_ascii(utf8)) {
            return Search::ABSENT;  // the lowercase form of ASCII is ASCII
        }
        if (needle.ascii) {
            ByteSearch<true> quick(needle.utf8, utf8);
            switch (quick.run()) {
                case Search::FOUND:
                    return Search::FOUND;
                case Search::UNDECIDED:
                    from = quick.resume();
                    break;
                default:
                    return Search::ABSENT;
            }
        }
        return lowercase_window_contains(needle.utf8, utf8, from) ? Search::FOUND : Search::ABSENT;
    }
    return text.visit([&]<class View>(View units) {
        using Unit = typename View::value_type;
        if constexpr (std::is_same_v<Unit, char>) {
            return Search::ABSENT;  // not a fixed-width form: handled above
        } else {
            const std::size_t width = sizeof(Unit) == 4 ? 2 : sizeof(Unit) - 1;
            return lowercase_units_contain<Unit, CHECK>(
                needle, filters != nullptr ? &filters[width] : nullptr, units);
        }
    });
}

// Whether the lowercase form of `title` starts with the needle. A
// character's lowercase form is one code point but for U+0130, so while no
// U+0130 is met the first units decide, each lowercased alone; an ASCII
// needle against UTF-8 is decided by ASCII bytes alone. Anything else is
// decided on the title's lowercase form, made in `scratch`.
bool lowercase_starts_with(const Needle& needle, text::TextView title, std::string& scratch) {
    const std::size_t m = needle.cps.size();
    const int decided = title.visit([&]<class View>(View units) {
        using Unit = typename View::value_type;
        if constexpr (std::is_same_v<Unit, char>) {
            if (!needle.ascii) {
                return -1;
            }
            const std::string_view pattern = needle.utf8;
            for (std::size_t k = 0; k < pattern.size(); ++k) {
                if (k == units.size() || static_cast<unsigned char>(units[k]) >= 0x80) {
                    return -1;  // a character beyond ASCII may lowercase to more bytes
                }
                if (ascii_lower(static_cast<unsigned char>(units[k])) !=
                    static_cast<unsigned char>(pattern[k])) {
                    return 0;
                }
            }
            return 1;
        } else {
            for (std::size_t k = 0; k < m; ++k) {
                if (k == units.size()) {
                    return -1;  // a U+0130 could still make it long enough
                }
                const char32_t lowered = text::lower_one(units, k);
                if (lowered == 0) {
                    return -1;
                }
                if (lowered != needle.cps[k]) {
                    return 0;
                }
            }
            return 1;
        }
    });
    if (decided >= 0) {
        return decided == 1;
    }
    scratch = text::to_lowercase(title);
    return std::string_view(scratch).starts_with(needle.utf8);
}

// The title's part of the score: TITLE_PREFIX_SCORE when its lowercase form
// starts with the needle, TITLE_CONTAINS_SCORE when it holds it elsewhere,
// else 0; with CHECK, nothing for a title that holds a surrogate. The
// needle is decoded when the title is not UTF-8.
template <bool CHECK>
std::optional<double> title_score(const Needle& needle, const UnitFilter* filters,
                                  text::TextView title, std::string& scratch) {
    switch (lowercase_contains<CHECK>(needle, filters, title)) {
        case Search::SURROGATE:
            return std::nullopt;
        case Search::FOUND:
            return lowercase_starts_with(needle, title, scratch) ? TITLE_PREFIX_SCORE
                                                                 : TITLE_CONTAINS_SCORE;
        default:
            return 0.0;
    }
}

bool has_surrogate(text::TextView text) noexcept {
    return text.visit([]<class View>(View units) {
        using Unit = typename View::value_type;
        if constexpr (sizeof(Unit) > 1) {
            return text::find_surrogate(units) != units.size();
        } else {
            return false;
        }
    });
}

}  // namespace

bool is_contained_in(std::string_view needle, std::string_view haystack) noexcept {
    if (needle.size() <= 1) {
        return needle.empty() ||
               std::memchr(haystack.data(), needle[0], haystack.size()) != nullptr;
    }
    ByteSearch<false> quick(needle, haystack);
    switch (quick.run()) {
        case Search::FOUND:
            return true;
        case Search::ABSENT:
            return false;
        default:
            break;
    }
    // glibc's memmem runs in linear time in the worst case.
    const std::string_view rest = haystack.substr(quick.resume());
    return ::memmem(rest.data(), rest.size(), needle.data(), needle.size()) != nullptr;
}

double score_article(text::TextView title, text::TextView content, text::TextView query) {
    const std::string lowered_query = text::to_lowercase(query);
    if (lowered_query.empty()) {
        return 0.0;
    }
    Needle needle(lowered_query);
    if (title.form != text::Form::UTF8 || content.form != text::Form::UTF8) {
        needle.decode();
    }
    std::string scratch;
    double score = *title_score<false>(needle, nullptr, title, scratch);
    if (lowercase_contains<false>(needle, nullptr, content) == Search::FOUND) {
        score += CONTENT_CONTAINS_BONUS;
    }
    return score;
}

double score_article(std::string_view title, std::string_view content, std::string_view query) {
    return score_article(text::TextView::utf8(title), text::TextView::utf8(content),
                         text::TextView::utf8(query));
}

struct QueryScorer::Prepared {
    explicit Prepared(std::string lowered_query)
        : lowered(std::move(lowered_query)), needle(lowered) {
        needle.decode();
        filters[0] = make_unit_filter<std::uint8_t>(needle.cps);
        filters[1] = make_unit_filter<char16_t>(needle.cps);
        filters[2] = make_unit_filter<char32_t>(needle.cps);
    }
    const std::string lowered;
    Needle needle;
    UnitFilter filters[3];
};

QueryScorer::QueryScorer(text::TextView query)
    : prepared_(std::make_unique<Prepared>(text::to_lowercase(query))) {}

QueryScorer::~QueryScorer() = default;

std::optional<double> QueryScorer::score(text::TextView title, text::TextView content,
                                         std::string& scratch) const {
    if (prepared_->lowered.empty()) {
        if (has_surrogate(title) || has_surrogate(content)) {
            return std::nullopt;
        }
        return 0.0;
    }
    const Needle& needle = prepared_->needle;
    std::optional<double> score = title_score<true>(needle, prepared_->filters, title, scratch);
    if (!score) {
        return std::nullopt;
    }
    switch (lowercase_contains<true>(needle, prepared_->filters, content)) {
        case Search::SURROGATE:
            return std::nullopt;
        case Search::FOUND:
            return *score + CONTENT_CONTAINS_BONUS;
        default:
            return score;
    }
}

}  // namespace parvenkel::analysis
