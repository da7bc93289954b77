// Joining a segment built apart, on a thread of its own, to the end of
// another: what an add on several threads does with every run but the
// first.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "index/built.hpp"
#include "index/format.hpp"
#include "util/parallel.hpp"
#include "util/varint.hpp"

namespace parvenkel::index {

void ArticleIndex::Built::append_segment(Built& later, unsigned workers) {
    // The text is copied in parts, shared out between the threads with the
    // rest, each part of `later` given back once copied, so that little of
    // it is held twice.
    constexpr std::size_t PART = std::size_t{1} << 24;
    const std::size_t bytes = later.text.size();
    const std::uint64_t text_shift = text.size();
    char* const to = text.extend(bytes);
    const std::size_t parts = (bytes + PART - 1) / PART;
    util::parallel_for(parts + 1, workers, [&](unsigned, std::size_t item) {
        if (item == 0) {
            append_fields_and_lists(later, text_shift);
            return;
        }
        const std::size_t at = (item - 1) * PART;
        const std::size_t n = std::min(PART, bytes - at);
        std::memcpy(to + at, later.text.data() + at, n);
        later.text.discard(at, at + n);
    });
}

void ArticleIndex::Built::append_fields_and_lists(const Built& later, std::uint64_t text_shift) {
    ends.reserve(ends.size() + later.ends.size());
    for (const std::uint64_t end : later.ends) {
        ends.push_back(text_shift + end);
    }
    shapes.insert(shapes.end(), later.shapes.begin(), later.shapes.end());
    const std::uint64_t id_shift = id_text.size();
    id_text += later.id_text;
    id_ends.reserve(id_ends.size() + later.id_ends.size());
    for (const std::uint64_t end : later.id_ends) {
        id_ends.push_back(((end & ~NO_ID) + id_shift) | (end & NO_ID));
    }
    // Each list of `later` starts with its first number whole; after a
    // list of this one it becomes the difference from that list's last.
    // Lists come in pairs, a gram's in the titles and in the contents,
    // one of which may be empty.
    for (const List& tail : later.lists) {
        if (tail.count == 0) {
            continue;
        }
        const std::uint32_t s = pair_of(tail.key & (TRIGRAMS - 1));
        const std::size_t k = 2 * std::size_t{s - 1} + (tail.key >> 24);
        List& list = lists[k];
        const unsigned char* rest = tail.bytes.data();
        const std::uint32_t head = util::read_varint(rest);
        const std::size_t kept = list.bytes.size();
        const util::PackedVarint packed =
            util::pack_varint(list.count == 0 ? head : head - list.last);
        unsigned char first[sizeof packed.word];
        std::memcpy(first, &packed.word, sizeof packed.word);
        list.bytes.append(first, packed.bytes);
        try {
            list.bytes.append(
                rest, tail.bytes.size() - static_cast<std::size_t>(rest - tail.bytes.data()));
        } catch (...) {
            // roll_back reads only the numbers counted: leave none half
            // appended.
            list.bytes.shrink(kept);
            throw;
        }
        list.count += tail.count;
        list.last = tail.last;
        staged_of(k).last = tail.last + 1;
    }
}

}  // namespace parvenkel::index
