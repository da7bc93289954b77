#include <string.h>

#include "analysis/analysis.hpp"
#include "text/lowercase.hpp"

namespace parvenkel::analysis {

bool is_contained_in(std::string_view needle, std::string_view haystack) noexcept {
    // glibc's memmem runs in linear time in the worst case.
    return needle.empty() ||
           ::memmem(haystack.data(), haystack.size(), needle.data(), needle.size()) != nullptr;
}

double score_article(std::string_view title, std::string_view content, std::string_view query) {
    const std::string lowered_query = text::to_lowercase(query);
    const std::string lowered_title = text::to_lowercase(title);
    const std::string lowered_content = text::to_lowercase(content);
    if (lowered_query.empty()) {
        return 0.0;
    }
    double score = 0.0;
    if (lowered_title.starts_with(lowered_query)) {
        score = TITLE_PREFIX_SCORE;
    } else if (is_contained_in(lowered_query, lowered_title)) {
        score = TITLE_CONTAINS_SCORE;
    }
    if (is_contained_in(lowered_query, lowered_content)) {
        score += CONTENT_CONTAINS_BONUS;
    }
    return score;
}

}  // namespace parvenkel::analysis
