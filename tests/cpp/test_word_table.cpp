// The purpose-built counting table against std::unordered_map: the same
// words counted both ways give the same counts, across the inline-key
// limits (16 and 32 bytes), the batch, growth of every tier and stop words
// of every tier.
#include <doctest/doctest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/word_table.hpp"

namespace {

using parvenkel::analysis::WordTable;

// A word of `length` bytes from 1-255 (a normalised word holds no zero
// byte), drawn from a small alphabet so that words repeat.
std::string random_word(std::mt19937_64& rng, std::size_t length, unsigned alphabet) {
    std::string word(length, '\0');
    for (char& c : word) {
        c = static_cast<char>(1 + rng() % alphabet * (254 / alphabet));
    }
    return word;
}

std::map<std::string, std::uint64_t> table_counts(const WordTable& table) {
    std::map<std::string, std::uint64_t> counts;
    table.for_each([&](std::string_view word, std::uint64_t count) {
        CHECK(counts.emplace(std::string(word), count).second);
    });
    CHECK(counts.size() == table.size());
    return counts;
}

}  // namespace

TEST_CASE("word table counts as std::unordered_map does") {
    for (const unsigned alphabet : {2u, 3u, 255u}) {
        for (const std::size_t text_bytes : {0ul, 1ul << 20}) {
            std::mt19937_64 rng(alphabet * 7919 + text_bytes);
            std::vector<std::string> stop_words;
            for (std::size_t length = 1; length <= 40; ++length) {
                stop_words.push_back(random_word(rng, length, alphabet));
            }
            WordTable table(rng(), text_bytes);
            std::unordered_set<std::string> stop(stop_words.begin(), stop_words.end());
            for (const std::string& word : stop_words) {
                table.add_stop_word(word);
            }
            std::unordered_map<std::string, std::uint64_t> expected;
            // Enough distinct words to grow each tier several times.
            // Short words go in batches of every size, some over the largest.
            std::vector<parvenkel::analysis::ShortKey> batch;
            for (int k = 0; k < 60000; ++k) {
                const std::size_t length = 1 + rng() % (k % 3 == 0 ? 70 : 34);
                const std::string word = random_word(rng, length, alphabet);
                if (word.size() <= WordTable::SHORT_BYTES && k % 2 == 0) {
                    std::uint64_t lo = 0;
                    std::uint64_t hi = 0;
                    parvenkel::analysis::detail::load_up_to_16(word.data(), word.size(), lo, hi);
                    batch.push_back({lo, hi});
                    if (batch.size() >= 1 + static_cast<std::size_t>(k) % (2 * WordTable::BATCH)) {
                        table.add_short(batch.data(), batch.size());
                        batch.clear();
                    }
                } else {
                    table.add(word);
                }
                if (stop.count(word) == 0) {
                    ++expected[word];
                }
            }
            table.add_short(batch.data(), batch.size());
            const std::map<std::string, std::uint64_t> want(expected.begin(), expected.end());
            CHECK(table_counts(table) == want);
        }
    }
}

TEST_CASE("word table: stop words never counted, short keys by halves") {
    WordTable table(42, 0);
    table.add_stop_word("abcdefghijklmnop");    // 16 bytes, inline
    table.add_stop_word("abcdefghijklmnopq");   // 17 bytes, second tier
    table.add_stop_word(std::string(33, 'x'));  // out of line
    table.add_stop_word(std::string("ab\0cd", 5));
    for (int k = 0; k < 3; ++k) {
        table.add("abcdefghijklmnop");
        table.add("abcdefghijklmnopq");
        table.add(std::string(33, 'x'));
        table.add("abcdefghijklmno");
        const parvenkel::analysis::ShortKey abc{0x636261, 0};
        table.add_short(&abc, 1);
    }
    const std::map<std::string, std::uint64_t> want{{"abc", 3}, {"abcdefghijklmno", 3}};
    CHECK(table_counts(table) == want);
}
