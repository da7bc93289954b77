#include <string.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/analysis.hpp"
#include "text/lanes.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

namespace parvenkel::analysis {

bool is_contained_in(std::string_view needle, std::string_view haystack) noexcept {
    // glibc's memmem runs in linear time in the worst case.
    return needle.empty() ||
           ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

namespace {

constexpr unsigned char ascii_lower(unsigned char byte) noexcept {
    return static_cast<unsigned char>(static_cast<unsigned>(byte) - 'A' < 26u ? byte | 0x20 : byte);
}

#if defined(PARVENKEL_SSE2)
constexpr bool is_ascii_lower_letter(unsigned char byte) noexcept {
    return static_cast<unsigned>(byte) - 'a' < 26u;
}
#endif

enum class Search { FOUND, ABSENT, UNDECIDED };

// The quick searches below verify candidate positions one by one, which on
// a periodic text (where nearly every position is one) costs up to the
// needle's length a position. They give up, and a linear search carries on,
// once verifying has compared more units than a quarter of the positions
// passed, plus a fixed allowance.
constexpr bool verified_too_much(std::size_t compared, std::size_t position) noexcept {
    return compared > position / 4 + 256;
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
// needle without building that form: candidates are the positions whose
// first and last bytes match the needle's (a letter in either case), a block
// of positions at a time, and each is verified byte by byte. Gives up
// (UNDECIDED) at the first byte that is not ASCII, whose lowercase form can
// differ in length, and when verification costs too much, so that an
// adversarial text goes on with a linear search from resume().
class AsciiSearch {
   public:
    AsciiSearch(std::string_view needle, std::string_view text) noexcept
        : hay_(reinterpret_cast<const unsigned char*>(text.data())),
          pattern_(reinterpret_cast<const unsigned char*>(needle.data())),
          n_(text.size()),
          m_(needle.size()) {}

    Search run() noexcept {
        std::size_t i = 0;
        if (m_ <= n_) {
            Search found = Search::ABSENT;
#if defined(PARVENKEL_AVX2_TARGET)
            if (__builtin_cpu_supports("avx2")) {
                found = scan_avx2(i);
            }
#endif
#if defined(PARVENKEL_SSE2)
            if (found == Search::ABSENT) {
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
        for (std::size_t j = i; j < n_; ++j) {
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
            while (k < m_ && ascii_lower(hay_[pos + k]) == pattern_[k]) {
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
        const std::size_t n = n_;
        const std::size_t span = m_ - 1;
        std::size_t i = next;
        const auto fold = [](unsigned char byte) {
            return _mm_set1_epi8(is_ascii_lower_letter(byte) ? 0x20 : 0);
        };
        const __m128i first = _mm_set1_epi8(static_cast<char>(pattern_[0]));
        const __m128i last = _mm_set1_epi8(static_cast<char>(pattern_[m_ - 1]));
        const __m128i first_fold = fold(pattern_[0]);
        const __m128i last_fold = fold(pattern_[m_ - 1]);
        for (std::size_t step : {std::size_t{64}, std::size_t{16}}) {
            for (; i + span + step <= n; i += step) {
                __m128i non_ascii = _mm_setzero_si128();
                std::uint64_t mask = 0;
                for (std::size_t block = 0; block < step; block += 16) {
                    const __m128i a = load16(i + block);
                    const __m128i b = load16(i + block + span);
                    non_ascii = _mm_or_si128(non_ascii, a);
                    const __m128i hit =
                        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, first_fold), first),
                                      _mm_cmpeq_epi8(_mm_or_si128(b, last_fold), last));
                    mask |=
                        static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                        << block;
                }
                if (_mm_movemask_epi8(non_ascii) != 0) {
                    next = i;
                    return Search::UNDECIDED;
                }
                if (const Search found = check(i, mask); found != Search::ABSENT) {
                    next = i;
                    return found;
                }
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
        const __m256i first_fold = _mm256_set1_epi8(is_ascii_lower_letter(pattern_[0]) ? 0x20 : 0);
        const __m256i last_fold =
            _mm256_set1_epi8(is_ascii_lower_letter(pattern_[m_ - 1]) ? 0x20 : 0);
        for (; i + span + 64 <= n; i += 64) {
            const auto* at = reinterpret_cast<const __m256i*>(hay + i);
            const auto* shifted = reinterpret_cast<const __m256i*>(hay + i + span);
            const __m256i a0 = _mm256_loadu_si256(at);
            const __m256i a1 = _mm256_loadu_si256(at + 1);
            const __m256i b0 = _mm256_loadu_si256(shifted);
            const __m256i b1 = _mm256_loadu_si256(shifted + 1);
            if (_mm256_movemask_epi8(_mm256_or_si256(a0, a1)) != 0) {
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

bool is_ascii(std::string_view text) noexcept {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
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

// Searches the lowercase form of a fixed-width text for `needle` (lowercase
// code points, not empty) without building that form. Every character but
// U+0130 lowercases to one code point, so while the text holds no U+0130 a
// match starts at a code unit and spans as many units as the needle has
// code points. Candidates are the positions whose first and last units are
// among the code points that lowercase to the needle's first and last (a
// block of units at a time), and each is verified unit by unit. Gives up
// (UNDECIDED) on a U+0130, and when verification costs too much, so that
// an adversarial text goes on with a linear search; every position before
// `stopped` is then ruled out (see resume_at).
template <class Unit>
Search search_lowercase_units(std::u32string_view needle, std::basic_string_view<Unit> hay,
                              std::size_t& stopped) noexcept {
    constexpr char32_t MAX_UNIT = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
    constexpr bool CAN_EXPAND = EXPANDS <= MAX_UNIT;
    const std::size_t n = hay.size();
    const std::size_t m = needle.size();
    stopped = 0;
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
#if defined(PARVENKEL_SSE2)
    constexpr std::size_t LANES = 16 / sizeof(Unit);
    constexpr std::size_t COMPARED = 3;
    char32_t first[text::LOWER_SOURCES_MAX];
    char32_t last[text::LOWER_SOURCES_MAX];
    std::size_t first_count = text::lowercase_sources(needle[0], first);
    std::size_t last_count = text::lowercase_sources(needle[m - 1], last);
    // Sources beyond the unit range cannot occur; the others are compared
    // COMPARED at a time, padded with the needle's own code point.
    const auto keep = [](char32_t* cps, std::size_t& count) {
        count = static_cast<std::size_t>(
            std::remove_if(cps, cps + count, [](char32_t cp) { return cp > MAX_UNIT; }) - cps);
        for (std::size_t k = count; k < COMPARED; ++k) {
            cps[k] = cps[0];
        }
    };
    keep(first, first_count);
    keep(last, last_count);
    if (first_count <= COMPARED && last_count <= COMPARED) {
        const __m128i f0 = text::lanes_of<Unit>(first[0]);
        const __m128i f1 = text::lanes_of<Unit>(first[1]);
        const __m128i f2 = text::lanes_of<Unit>(first[2]);
        const __m128i l0 = text::lanes_of<Unit>(last[0]);
        const __m128i l1 = text::lanes_of<Unit>(last[1]);
        const __m128i l2 = text::lanes_of<Unit>(last[2]);
        const __m128i expands = text::lanes_of<Unit>(EXPANDS);
        // One mask bit per unit: the lowest byte of each lane.
        constexpr std::uint64_t LANE_BITS = sizeof(Unit) == 1   ? ~std::uint64_t{0}
                                            : sizeof(Unit) == 2 ? 0x5555555555555555
                                                                : 0x1111111111111111;
        constexpr std::size_t STEP = 4 * LANES;
        for (; i + m - 1 + STEP <= n; i += STEP) {
            __m128i danger = _mm_setzero_si128();
            std::uint64_t mask = 0;
            for (std::size_t block = 0; block < 4; ++block) {
                const std::size_t at = i + block * LANES;
                const __m128i a =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay.data() + at));
                const __m128i b =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay.data() + at + m - 1));
                if constexpr (CAN_EXPAND) {
                    danger = _mm_or_si128(danger, text::lanes_equal<Unit>(a, expands));
                }
                const __m128i at_first = _mm_or_si128(
                    _mm_or_si128(text::lanes_equal<Unit>(a, f0), text::lanes_equal<Unit>(a, f1)),
                    text::lanes_equal<Unit>(a, f2));
                const __m128i at_last = _mm_or_si128(
                    _mm_or_si128(text::lanes_equal<Unit>(b, l0), text::lanes_equal<Unit>(b, l1)),
                    text::lanes_equal<Unit>(b, l2));
                const auto hits =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(at_first, at_last)));
                mask |= static_cast<std::uint64_t>(hits) << (16 * block);
            }
            if (_mm_movemask_epi8(danger) != 0) {
                stopped = i;
                return Search::UNDECIDED;
            }
            for (mask &= LANE_BITS; mask != 0; mask &= mask - 1) {
                const std::size_t pos =
                    i + static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
                if (const Search found = verify(pos); found != Search::ABSENT) {
                    stopped = i;
                    return found;
                }
            }
        }
    }
#endif
    // The positions left over, and every unit not yet seen by the block loop.
    stopped = i;
    if constexpr (CAN_EXPAND) {
        if (hay.find(static_cast<Unit>(EXPANDS), i) != hay.npos) {
            return Search::UNDECIDED;
        }
    }
    for (; i + m <= n; ++i) {
        if (const Search found = verify(i); found != Search::ABSENT) {
            stopped = i;
            return found;
        }
    }
    return Search::ABSENT;
}

// Whether the lowercase form of a fixed-width text contains `needle`
// (lowercase code points, not empty).
template <class Unit>
bool lowercase_units_contain(std::u32string_view needle, std::basic_string_view<Unit> hay) {
    constexpr char32_t MAX_UNIT = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
    for (const char32_t cp : needle) {
        if (cp > MAX_UNIT) {
            // A code point below U+0100, or in plane 0, lowercases to one there.
            return false;
        }
    }
    std::size_t stopped = 0;
    switch (search_lowercase_units(needle, hay, stopped)) {
        case Search::FOUND:
            return true;
        case Search::ABSENT:
            return false;
        case Search::UNDECIDED:
            break;
    }
    const std::size_t from = resume_at(hay.data(), hay.size(), needle.size(), stopped,
                                       [](char32_t unit) { return unit == EXPANDS; });
    const std::vector<Unit> units(needle.begin(), needle.end());  // each fits, as checked
    return lowercase_units_window_contains(std::basic_string_view<Unit>(units.data(), units.size()),
                                           hay, from);
}

// Whether the lowercase form of `text` contains `lowered_needle` (not empty).
bool lowercase_contains(std::string_view lowered_needle, text::TextView text) {
    if (text.form == text::Form::UTF8) {
        const std::string_view utf8 = text.as_utf8();
        std::size_t from = 0;
        if (is_ascii(lowered_needle)) {
            AsciiSearch quick(lowered_needle, utf8);
            switch (quick.run()) {
                case Search::FOUND:
                    return true;
                case Search::ABSENT:
                    return false;
                case Search::UNDECIDED:
                    from = quick.resume();
                    break;
            }
        }
        return lowercase_window_contains(lowered_needle, utf8, from);
    }
    std::u32string needle;
    for (std::size_t i = 0; i < lowered_needle.size();) {
        const text::Utf8Char c = text::decode_utf8(lowered_needle.data() + i);
        needle.push_back(c.cp);
        i += c.length;
    }
    return text.visit([&]<class View>(View units) {
        if constexpr (std::is_same_v<typename View::value_type, char>) {
            return false;  // not a fixed-width form: handled above
        } else {
            return lowercase_units_contain(needle, units);
        }
    });
}

}  // namespace

double score_article(text::TextView title, text::TextView content, text::TextView query) {
    return score_lowered_query(title, content, text::to_lowercase(query));
}

double score_lowered_query(text::TextView title, text::TextView content,
                           const std::string& lowered_query) {
    if (lowered_query.empty()) {
        return 0.0;
    }
    const std::string lowered_title = text::to_lowercase(title);
    double score = 0.0;
    if (lowered_title.starts_with(lowered_query)) {
        score = TITLE_PREFIX_SCORE;
    } else if (is_contained_in(lowered_query, lowered_title)) {
        score = TITLE_CONTAINS_SCORE;
    }
    if (lowercase_contains(lowered_query, content)) {
        score += CONTENT_CONTAINS_BONUS;
    }
    return score;
}

double score_article(std::string_view title, std::string_view content, std::string_view query) {
    return score_article(text::TextView::utf8(title), text::TextView::utf8(content),
                         text::TextView::utf8(query));
}

}  // namespace parvenkel::analysis
