// The index's articles read back: their number, fields and ids, over both
// segments.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "index/built.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "index/shapes.hpp"

namespace parvenkel::index {

ArticleIndex::ArticleIndex() : tail_(std::make_unique<Built>()) {}
ArticleIndex::~ArticleIndex() = default;

std::size_t ArticleIndex::size() const noexcept {
    return (base_ ? base_->size() : 0) + tail_->size();
}

std::string_view ArticleIndex::field_of(std::size_t position, unsigned which) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    if (position < based) {
        return field(base_->ends, base_->text, position, which);
    }
    return field(tail_->ends.data(), tail_->text.data(), position - based, which);
}

std::string_view ArticleIndex::title(std::size_t position) const noexcept {
    return field_of(position, TITLE);
}

std::string_view ArticleIndex::content(std::size_t position) const noexcept {
    return field_of(position, CONTENT);
}

text::Utf8Shape ArticleIndex::shape(std::size_t position, bool content) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    const std::size_t k = 2 * position + (content ? 1 : 0);
    return unpack_shape(position < based ? base_->shapes[k] : tail_->shapes[k - 2 * based]);
}

std::optional<std::string_view> ArticleIndex::id(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    const std::uint64_t* ends = tail_->id_ends.data();
    const char* ids = tail_->id_text.data();
    if (position < based) {
        ends = base_->id_ends;
        ids = base_->id_text;
        if (ends == nullptr) {
            return std::nullopt;
        }
    } else {
        position -= based;
    }
    if ((ends[position] & NO_ID) != 0) {
        return std::nullopt;
    }
    const std::uint64_t begin = position == 0 ? 0 : ends[position - 1] & ~NO_ID;
    return std::string_view(ids + begin, static_cast<std::size_t>(ends[position] - begin));
}

}  // namespace parvenkel::index
