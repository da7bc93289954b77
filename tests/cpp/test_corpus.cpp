// Counts kept across calls: a failed allocation anywhere in counting on
// threads or merging leaves them exactly as they were (the Python suite
// checks the counts themselves against extract_keywords).
#include <doctest/doctest.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "corpus/corpus.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"

namespace parvenkel::testing {
extern std::atomic<long> allocations_until_failure;
}

namespace {

using parvenkel::corpus::Counts;
using parvenkel::text::TextView;

// Text of many distinct words of every tier (short, 17-32 bytes, longer),
// large enough to be cut into pieces for the threads.
std::string many_words() {
    std::string text;
    for (unsigned k = 0; text.size() < (1u << 21); ++k) {
        std::string word = "wo";
        for (unsigned n = k % 5000; n > 0; n /= 26) {
            word += static_cast<char>('a' + n % 26);
        }
        text += word + " ";
        text += "the ";
        if (k % 7 == 0) {
            text += std::string(17 + k % 40, static_cast<char>('a' + k % 26)) + " ";
        }
    }
    return text;
}

// Runs `change` on counts that already hold `texts`, failing its n-th
// allocation for n = 0, 1, ... until one run needs no more: each failed run
// must leave the counts as they were, the run that succeeds must give
// `expected`.
template <class Change>
void check_failures(const std::vector<TextView>& texts, const std::string& expected,
                    Change&& change) {
    for (long n = 0;; n += 1 + n / 8) {
        Counts counts({"the"});
        counts.add(parvenkel::corpus::count_texts(counts.stop_words(), texts, 1));
        const std::string before = counts.to_blob();
        parvenkel::testing::allocations_until_failure = n;
        bool failed = false;
        try {
            change(counts);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        parvenkel::testing::allocations_until_failure = -1;
        CHECK(counts.to_blob() == (failed ? before : expected));
        if (!failed) {
            return;
        }
    }
}

}  // namespace

TEST_CASE("a failed allocation leaves the counts as they were") {
    const std::string text = many_words();
    const std::vector<TextView> texts{TextView::utf8(text), TextView::utf8("wob tiny")};
    Counts twice({"the"});
    for (int k = 0; k < 2; ++k) {
        twice.add(parvenkel::corpus::count_texts(twice.stop_words(), texts, 1));
    }
    const std::string expected = twice.to_blob();
    CHECK(expected.size() > 5000 * 8);
    check_failures(texts, expected, [&](Counts& counts) {
        counts.add(parvenkel::corpus::count_texts(counts.stop_words(), texts, 3));
    });
    check_failures(texts, expected, [&](Counts& counts) {
        Counts other({"other"});
        other.merge(counts);
        counts.merge(other);
    });
}

TEST_CASE("ranking by buckets of few scores and by sorting many agree with a plain sort") {
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        // Up to 12 distinct values: below nine the buckets rank, above a sort.
        const auto values = static_cast<unsigned>(1 + random() % 12);
        std::vector<double> scores(random() % 200);
        for (double& score : scores) {
            score = 100.0 * static_cast<double>(random() % values);
        }
        const bool include_zero = random() % 2 == 0;
        const std::uint64_t top_n = random() % 4 == 0 ? UINT64_MAX : random() % 220;
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < scores.size(); ++i) {
            if (include_zero || scores[i] > 0.0) {
                expected.push_back(i);
            }
        }
        std::sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
            return scores[a] != scores[b] ? scores[a] > scores[b] : a < b;
        });
        expected.resize(std::min<std::uint64_t>(expected.size(), top_n));
        CAPTURE(values);
        CHECK(parvenkel::corpus::rank_positions(scores, top_n, include_zero) == expected);
    }
}

TEST_CASE("a pickled word is refused unless counting could have made it") {
    // The blob reader takes U+0307 only after the "i" of U+0130: that must
    // be the one Alphabetic character whose lowercase form holds a
    // character that is not Alphabetic.
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if ((cp >= 0xD800 && cp <= 0xDFFF) || !parvenkel::text::is_alphabetic(cp)) {
            continue;
        }
        const parvenkel::text::LowerMapping lower = parvenkel::text::to_lower(cp);
        for (std::uint8_t k = 0; k < lower.len; ++k) {
            if (!parvenkel::text::is_alphabetic(lower.cp[k])) {
                CHECK(cp == 0x130);
                CHECK(lower.cp[k] == 0x307);
            }
        }
    }
    parvenkel::corpus::Counts counts({});
    std::vector<parvenkel::text::TextView> texts = {
        parvenkel::text::TextView::utf8("\xC4\xB0stanbul \xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3")};
    counts.add(parvenkel::corpus::count_texts({}, texts, 1));
    const std::string blob = counts.to_blob();
    CHECK(parvenkel::corpus::Counts::from_blob(blob)->table().size() == 2);
}
