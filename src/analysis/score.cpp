#include <string.h>

#include <algorithm>
#include <cstdint>

#include "analysis/analysis.hpp"
#include "text/lanes.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"
#include "text/text_view.hpp"
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

constexpr bool is_ascii_lower_letter(unsigned char byte) noexcept {
    return static_cast<unsigned>(byte) - 'a' < 26u;
}

enum class Search { FOUND, ABSENT, UNDECIDED };

// Searches the lowercase form of an ASCII text for an already lowercased
// needle without building that form: candidates are the positions whose
// first and last bytes match the needle's (a letter in either case), a block
// of positions at a time, and each is verified byte by byte. Gives up
// (UNDECIDED) at the first byte that is not ASCII, whose lowercase form can
// differ in length, and when verification has cost more than a few passes
// over the text, so that an adversarial text falls back to a linear search.
class AsciiSearch {
   public:
    AsciiSearch(std::string_view needle, std::string_view text) noexcept
        : hay_(reinterpret_cast<const unsigned char*>(text.data())),
          pattern_(reinterpret_cast<const unsigned char*>(needle.data())),
          n_(text.size()),
          m_(needle.size()),
          budget_(4 * n_ + 64) {}

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
                return found;
            }
        }
        // The positions left over, and every byte not yet seen by a block.
        for (std::size_t j = i; j < n_; ++j) {
            if (hay_[j] >= 0x80) {
                return Search::UNDECIDED;
            }
        }
        for (; i + m_ <= n_; ++i) {
            if (const Search found = check(i, 1); found != Search::ABSENT) {
                return found;
            }
        }
        return Search::ABSENT;
    }

   private:
    // The candidates at `at` + the set bits of `mask`, in order: FOUND,
    // UNDECIDED when the budget is spent, or ABSENT. A folded match of a
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
            budget_ -= std::min(budget_, k + 1);
            if (budget_ == 0) {
                return Search::UNDECIDED;
            }
        }
        return Search::ABSENT;
    }

#if defined(PARVENKEL_SSE2)
    // Sixty-four positions a step while the text lasts, then sixteen; moves
    // `i` past the positions it has ruled out.
    Search scan_sse2(std::size_t& i) noexcept {
        const auto fold = [](unsigned char byte) {
            return _mm_set1_epi8(is_ascii_lower_letter(byte) ? 0x20 : 0);
        };
        const __m128i first = _mm_set1_epi8(static_cast<char>(pattern_[0]));
        const __m128i last = _mm_set1_epi8(static_cast<char>(pattern_[m_ - 1]));
        const __m128i first_fold = fold(pattern_[0]);
        const __m128i last_fold = fold(pattern_[m_ - 1]);
        for (std::size_t step : {std::size_t{64}, std::size_t{16}}) {
            for (; i + m_ - 1 + step <= n_; i += step) {
                __m128i non_ascii = _mm_setzero_si128();
                std::uint64_t mask = 0;
                for (std::size_t block = 0; block < step; block += 16) {
                    const __m128i a = load16(i + block);
                    const __m128i b = load16(i + block + m_ - 1);
                    non_ascii = _mm_or_si128(non_ascii, a);
                    const __m128i hit =
                        _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, first_fold), first),
                                      _mm_cmpeq_epi8(_mm_or_si128(b, last_fold), last));
                    mask |=
                        static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hit)))
                        << block;
                }
                if (_mm_movemask_epi8(non_ascii) != 0) {
                    return Search::UNDECIDED;
                }
                if (const Search found = check(i, mask); found != Search::ABSENT) {
                    return found;
                }
            }
        }
        return Search::ABSENT;
    }

    __m128i load16(std::size_t at) const noexcept {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay_ + at));
    }
#endif

#if defined(PARVENKEL_AVX2_TARGET)
    // The same with 32-byte vectors, sixty-four positions a step, on
    // processors that have AVX2 (chosen at run time).
    __attribute__((target("avx2"))) Search scan_avx2(std::size_t& i) noexcept {
        const __m256i first = _mm256_set1_epi8(static_cast<char>(pattern_[0]));
        const __m256i last = _mm256_set1_epi8(static_cast<char>(pattern_[m_ - 1]));
        const __m256i first_fold = _mm256_set1_epi8(is_ascii_lower_letter(pattern_[0]) ? 0x20 : 0);
        const __m256i last_fold =
            _mm256_set1_epi8(is_ascii_lower_letter(pattern_[m_ - 1]) ? 0x20 : 0);
        for (; i + m_ - 1 + 64 <= n_; i += 64) {
            const auto* at = reinterpret_cast<const __m256i*>(hay_ + i);
            const auto* shifted = reinterpret_cast<const __m256i*>(hay_ + i + m_ - 1);
            const __m256i a0 = _mm256_loadu_si256(at);
            const __m256i a1 = _mm256_loadu_si256(at + 1);
            const __m256i b0 = _mm256_loadu_si256(shifted);
            const __m256i b1 = _mm256_loadu_si256(shifted + 1);
            if (_mm256_movemask_epi8(_mm256_or_si256(a0, a1)) != 0) {
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
                    return found;
                }
            }
        }
        return Search::ABSENT;
    }
#endif

    const unsigned char* hay_;
    const unsigned char* pattern_;
    std::size_t n_;
    std::size_t m_;
    std::size_t budget_;
};

Search search_lowercase_ascii(std::string_view needle, std::string_view text) noexcept {
    return AsciiSearch(needle, text).run();
}

bool is_ascii(std::string_view text) noexcept {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Lowercases `text` a window at a time and searches each window, so that a
// match near the start ends the work early and no copy of a long text is
// made. Each window keeps the last bytes of the one before, fewer than the
// needle's length, so that a match across the seam is found.
bool lowercase_window_contains(std::string_view lowered_needle, std::string_view text) {
    constexpr std::size_t WINDOW_BYTES = 16 * 1024;
    if (text.size() <= 2 * WINDOW_BYTES) {
        return is_contained_in(lowered_needle, text::to_lowercase(text));
    }
    std::string window;
    window.reserve(WINDOW_BYTES + lowered_needle.size() + 64);
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = std::min(begin + WINDOW_BYTES, text.size());
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;  // back to the first byte of a character
        }
        const std::size_t keep = std::min(window.size(), lowered_needle.size() - 1);
        window.erase(0, window.size() - keep);
        text::append_lowercase(window, text, begin, end);
        if (is_contained_in(lowered_needle, window)) {
            return true;
        }
        begin = end;
    }
    return false;
}

// Searches the lowercase form of a fixed-width text for `needle` (lowercase
// code points, not empty) without building that form. Every character but
// U+0130 lowercases to one code point, so while the text holds no U+0130 a
// match starts at a code unit and spans as many units as the needle has
// code points. Candidates are the positions whose first and last units are
// among the code points that lowercase to the needle's first and last (a
// block of units at a time), and each is verified unit by unit. Gives up
// (UNDECIDED) on a U+0130, and when verification has cost more than a few
// passes over the text, so that an adversarial text falls back to a linear
// search.
template <class Unit>
Search search_lowercase_units(std::u32string_view needle,
                              std::basic_string_view<Unit> hay) noexcept {
    constexpr char32_t MAX_UNIT = sizeof(Unit) == 1 ? 0xFF : sizeof(Unit) == 2 ? 0xFFFF : 0x10FFFF;
    constexpr char32_t EXPANDS = 0x0130;  // lowercases to U+0069 U+0307
    constexpr bool CAN_EXPAND = EXPANDS <= MAX_UNIT;
    const std::size_t n = hay.size();
    const std::size_t m = needle.size();
    for (const char32_t cp : needle) {
        if (cp > MAX_UNIT) {
            // A code point below U+0100, or in plane 0, lowercases to one there.
            return Search::ABSENT;
        }
    }
    if (m > n) {
        return CAN_EXPAND ? Search::UNDECIDED : Search::ABSENT;
    }
    std::size_t budget = 4 * n + 64;

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
        budget -= std::min(budget, k + 1);
        return result != Search::ABSENT || budget != 0 ? result : Search::UNDECIDED;
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
                return Search::UNDECIDED;
            }
            for (mask &= LANE_BITS; mask != 0; mask &= mask - 1) {
                const std::size_t pos =
                    i + static_cast<std::size_t>(__builtin_ctzll(mask)) / sizeof(Unit);
                if (const Search found = verify(pos); found != Search::ABSENT) {
                    return found;
                }
            }
        }
    }
#endif
    // The positions left over, and every unit not yet seen by the block loop.
    if constexpr (CAN_EXPAND) {
        if (hay.find(static_cast<Unit>(EXPANDS), i) != hay.npos) {
            return Search::UNDECIDED;
        }
    }
    for (; i + m <= n; ++i) {
        if (const Search found = verify(i); found != Search::ABSENT) {
            return found;
        }
    }
    return Search::ABSENT;
}

// Whether the lowercase form of `text` contains `lowered_needle` (not empty).
bool lowercase_contains(std::string_view lowered_needle, text::TextView text) {
    if (text.form == text::Form::UTF8) {
        const std::string_view utf8 = text.as_utf8();
        if (is_ascii(lowered_needle)) {
            switch (search_lowercase_ascii(lowered_needle, utf8)) {
                case Search::FOUND:
                    return true;
                case Search::ABSENT:
                    return false;
                case Search::UNDECIDED:
                    break;
            }
        }
        return lowercase_window_contains(lowered_needle, utf8);
    }
    std::u32string needle;
    for (std::size_t i = 0; i < lowered_needle.size();) {
        const text::Utf8Char c = text::decode_utf8(lowered_needle.data() + i);
        needle.push_back(c.cp);
        i += c.length;
    }
    const Search found = text.visit([&]<class View>(View units) {
        if constexpr (std::is_same_v<typename View::value_type, char>) {
            return Search::UNDECIDED;
        } else {
            return search_lowercase_units(needle, units);
        }
    });
    if (found != Search::UNDECIDED) {
        return found == Search::FOUND;
    }
    return lowercase_window_contains(lowered_needle, text::to_utf8(text));
}

}  // namespace

double score_article(text::TextView title, text::TextView content, text::TextView query) {
    const std::string lowered_query = text::to_lowercase(query);
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
