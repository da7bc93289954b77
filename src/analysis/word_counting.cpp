// Counting that outlives one text: a word walker kept from one text to the
// next.
#include "analysis/word_counting.hpp"

#include <utility>

#include "kernels/word_walker.hpp"

namespace parvenkel::analysis {

struct WordCounting::Impl {
    explicit Impl(std::unique_ptr<kernels::WordWalker> chosen) : walker(std::move(chosen)) {}
    std::unique_ptr<kernels::WordWalker> walker;
};

WordCounting::WordCounting(const std::vector<std::string>& stop_words, std::uint64_t seed,
                           std::size_t text_bytes)
    : impl_(std::make_unique<Impl>(kernels::make_word_walker(stop_words, seed, text_bytes))) {}

WordCounting::~WordCounting() = default;

void WordCounting::count(text::TextView text) { impl_->walker->count(text); }

const WordTable& WordCounting::table() const noexcept { return impl_->walker->table(); }

WordTable& WordCounting::table() noexcept { return impl_->walker->table(); }

// The bytes a text takes in UTF-8, roughly, to size the tables.
std::size_t estimated_utf8_bytes(text::TextView text) noexcept {
    switch (text.form) {
        case text::Form::UCS2:
            return 2 * text.length;
        case text::Form::UCS4:
            return 3 * text.length;
        default:
            return text.length;
    }
}

}  // namespace parvenkel::analysis
