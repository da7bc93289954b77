// Keyword extraction: the words of a text counted by the word walker
// (kernels/word_walker.hpp), and the most frequent selected from its table
// without sorting the rest.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_counting.hpp"
#include "analysis/word_table.hpp"
#include "kernels/word_walker.hpp"

namespace parvenkel::analysis {

std::string_view WordStore::add(std::string_view word) {
    if (word.size() > left_) {
        const std::size_t size = std::max(BLOCK_BYTES, word.size());
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        left_ = size;
    }
    char* stored = free_;
    if (!word.empty()) {
        std::memcpy(stored, word.data(), word.size());
    }
    free_ += word.size();
    left_ -= word.size();
    return {stored, word.size()};
}

namespace {

// The `top_n` entries of highest count, most frequent first.
struct Entry {
    std::uint64_t count;
    std::string_view word;
};

std::vector<Entry> select_top(const WordTable& table, std::uint64_t top_n) {
    const auto by_count = [](const Entry& a, const Entry& b) { return a.count > b.count; };
    std::vector<Entry> entries;
    const std::size_t distinct = table.size();
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(top_n, distinct));
    if (wanted == 0) {
        return entries;
    }
    if (wanted < distinct / 8) {
        // A heap of the best so far, its least at the front: most words are
        // turned away by one comparison, and no list of every word is made.
        entries.reserve(wanted);
        table.for_each([&](std::string_view word, std::uint64_t count) {
            if (entries.size() < wanted) {
                entries.push_back({count, word});
                std::push_heap(entries.begin(), entries.end(), by_count);
            } else if (count > entries.front().count) {
                std::pop_heap(entries.begin(), entries.end(), by_count);
                entries.back() = {count, word};
                std::push_heap(entries.begin(), entries.end(), by_count);
            }
        });
        std::sort_heap(entries.begin(), entries.end(), by_count);
        return entries;
    }
    entries.reserve(distinct);
    table.for_each([&](std::string_view word, std::uint64_t count) {
        entries.push_back({count, word});
    });
    const auto cut = entries.begin() + static_cast<std::ptrdiff_t>(wanted);
    if (cut != entries.end()) {
        std::nth_element(entries.begin(), cut, entries.end(), by_count);
        entries.erase(cut, entries.end());
    }
    std::sort(entries.begin(), entries.end(), by_count);
    return entries;
}

}  // namespace

Keywords extract_keywords(text::TextView text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    const std::unique_ptr<kernels::WordWalker> walker =
        kernels::make_word_walker(stop_words, random_hash_seed(), estimated_utf8_bytes(text));
    walker->count(text);

    // The table holds the words; those that make the cut are copied out to
    // the result's own store.
    Keywords result;
    const std::vector<Entry> top = select_top(walker->table(), top_n);
    result.pairs.reserve(top.size());
    for (const Entry& entry : top) {
        result.pairs.push_back({result.store.add(entry.word), entry.count});
    }
    return result;
}

Keywords extract_keywords(std::string_view text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    return extract_keywords(text::TextView::utf8(text), std::move(stop_words), top_n);
}

}  // namespace parvenkel::analysis
