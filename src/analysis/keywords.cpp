#include <algorithm>
#include <cstring>
#include <random>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"

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

std::uint64_t random_hash_seed() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seq{device(), device(), device(), device()};
        return std::mt19937_64(seq);
    }();
    return generator();
}

Keywords extract_keywords(std::string_view text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    const std::uint64_t seed = random_hash_seed();
    WordSet stop_set(0, WordHash{seed});
    for (const std::string& stop_word : stop_words) {
        stop_set.insert(stop_word);
    }

    Keywords result;
    WordCounts counts(0, WordHash{seed});
    std::string word;
    text::split_words(text, [&](std::string_view piece) {
        const std::string letters = text::keep_letters(piece);
        word.clear();
        text::append_lowercase(word, letters);
        if (word.size() < MIN_KEYWORD_BYTES) {
            return;
        }
        if (!stop_set.empty() && stop_set.find(std::string_view(word)) != stop_set.end()) {
            return;
        }
        const std::size_t hash = counts.hash_function()(std::string_view(word));
        auto found = counts.find(std::string_view(word), hash);
        if (found != counts.end()) {
            ++found.value();
        } else {
            counts.insert({result.store.add(word), 1});
        }
    });

    result.pairs.reserve(counts.size());
    for (const auto& [stored, count] : counts) {
        result.pairs.push_back({stored, count});
    }
    std::stable_sort(
        result.pairs.begin(), result.pairs.end(),
        [](const KeywordCount& a, const KeywordCount& b) { return a.count > b.count; });
    if (result.pairs.size() > top_n) {
        result.pairs.resize(static_cast<std::size_t>(top_n));
    }
    return result;
}

}  // namespace parvenkel::analysis
