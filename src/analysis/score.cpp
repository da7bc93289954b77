// Article scoring: whether the lowercase forms of a title and a content
// start with or contain the lowercase query. The searches with vector
// kernels are the kernel layer's (kernels/searches.hpp); this file holds
// what comes before and after them.
#include <string.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "kernels/search_parts.hpp"
#include "kernels/searches.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

namespace parvenkel::analysis {

namespace {

using kernels::Needle;
using kernels::Search;
using kernels::UnitFilter;
using kernels::WINDOW;

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

// Whether the lowercase form of `text` contains the needle (not empty), as
// lowercase_units_contain; `filters` holds the needle's filters for the
// widths of one, two and four bytes, if made. The needle is decoded when
// the text is not UTF-8.
template <bool CHECK>
Search lowercase_contains(const Needle& needle, const UnitFilter* filters, text::TextView text) {
    if (text.form == text::Form::UTF8) {
        const std::string_view utf8 = text.as_utf8();
        std::size_t from = 0;
        if (!needle.ascii && kernels::is_ascii(utf8)) {
            return Search::ABSENT;  // the lowercase form of ASCII is ASCII
        }
        if (needle.ascii) {
            switch (kernels::searches().ascii_folded(needle.utf8, utf8, from)) {
                case Search::FOUND:
                    return Search::FOUND;
                case Search::UNDECIDED:
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
            const UnitFilter* filter = filters != nullptr ? &filters[width] : nullptr;
            const kernels::Searches& searches = kernels::searches();
            if constexpr (sizeof(Unit) == 1) {
                return searches.latin1[CHECK](needle, filter, units);
            } else if constexpr (sizeof(Unit) == 2) {
                return searches.ucs2[CHECK](needle, filter, units);
            } else {
                return searches.ucs4[CHECK](needle, filter, units);
            }
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
                if (kernels::lower_ascii(static_cast<unsigned char>(units[k])) !=
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
    std::size_t resume = 0;
    switch (kernels::searches().bytes(needle, haystack, resume)) {
        case Search::FOUND:
            return true;
        case Search::ABSENT:
            return false;
        default:
            break;
    }
    // glibc's memmem runs in linear time in the worst case.
    const std::string_view rest = haystack.substr(resume);
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
        filters[0] = kernels::make_unit_filter<std::uint8_t>(needle.cps);
        filters[1] = kernels::make_unit_filter<char16_t>(needle.cps);
        filters[2] = kernels::make_unit_filter<char32_t>(needle.cps);
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
