// Hash tables of words keyed by a random seed: the stop set and the counting
// table of keyword extraction. Lookups take a string_view, so a word that is
// already present costs no allocation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#define XXH_INLINE_ALL
#include <tsl/robin_map.h>
#include <tsl/robin_set.h>
#include <xxhash.h>

namespace parvenkel::analysis {

// XXH3 with a seed drawn at random for each call: the order of the table, and
// so which words collide, cannot be predicted from outside.
struct WordHash {
    using is_transparent = void;
    std::uint64_t seed = 0;

    std::size_t operator()(std::string_view word) const noexcept {
        return static_cast<std::size_t>(XXH3_64bits_withSeed(word.data(), word.size(), seed));
    }
};

struct WordEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
};

using WordSet = tsl::robin_set<std::string, WordHash, WordEqual>;
// The counting table keeps each entry's hash, so a probe compares the stored
// word only when the hashes agree.
using WordCounts = tsl::robin_map<std::string_view, std::uint64_t, WordHash, WordEqual,
                                  std::allocator<std::pair<std::string_view, std::uint64_t>>, true>;

// A fresh seed on every call; the generator is seeded once per thread from
// the operating system.
std::uint64_t random_hash_seed();

}  // namespace parvenkel::analysis
