// Hash tables of words keyed by a random seed: the stop set and the counting
// table of keyword extraction. Lookups take a string_view, so a word that is
// already present costs no allocation.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#define XXH_INLINE_ALL
#include <tsl/robin_map.h>
#include <tsl/robin_set.h>
#include <xxhash.h>

#include "analysis/analysis.hpp"

namespace parvenkel::analysis {

// A counted word as the table keeps it: up to INLINE_BYTES bytes are held in
// the key itself, so a probe that finds a word reads no other memory; a
// longer word is kept in a WordStore and the key points to it.
class WordKey {
   public:
    static constexpr std::size_t INLINE_BYTES = 23;

    WordKey(std::string_view word, WordStore& store) {
        if (word.size() <= INLINE_BYTES) {
            if (!word.empty()) {
                std::memcpy(raw_, word.data(), word.size());
            }
            raw_[INLINE_BYTES] = static_cast<char>(word.size());
            return;
        }
        const std::string_view stored = store.add(word);
        const char* data = stored.data();
        const std::size_t size = stored.size();
        std::memcpy(raw_, &data, sizeof data);
        std::memcpy(raw_ + sizeof data, &size, sizeof size);
        raw_[INLINE_BYTES] = static_cast<char>(LONG);
    }

    // Valid while the key stays where it is (the table is not changed).
    std::string_view view() const noexcept {
        const auto tag = static_cast<unsigned char>(raw_[INLINE_BYTES]);
        if (tag != LONG) {
            return {raw_, tag};
        }
        const char* data = nullptr;
        std::size_t size = 0;
        std::memcpy(&data, raw_, sizeof data);
        std::memcpy(&size, raw_ + sizeof data, sizeof size);
        return {data, size};
    }

   private:
    static constexpr unsigned char LONG = 0xFF;
    alignas(8) char raw_[INLINE_BYTES + 1];
};

static_assert(sizeof(WordKey) == 24);

inline std::string_view view_of(std::string_view word) noexcept { return word; }
inline std::string_view view_of(const std::string& word) noexcept { return word; }
inline std::string_view view_of(const WordKey& word) noexcept { return word.view(); }

// XXH3 with a seed drawn at random for each call: the order of the table, and
// so which words collide, cannot be predicted from outside.
struct WordHash {
    using is_transparent = void;
    std::uint64_t seed = 0;

    template <class Word>
    std::size_t operator()(const Word& word) const noexcept {
        const std::string_view bytes = view_of(word);
        return static_cast<std::size_t>(XXH3_64bits_withSeed(bytes.data(), bytes.size(), seed));
    }
};

// Words are short: those of up to sixteen bytes are compared with two
// overlapping loads of a machine word or less from each side, inline,
// without a call to memcmp.
struct WordEqual {
    using is_transparent = void;

    template <class A, class B>
    bool operator()(const A& left, const B& right) const noexcept {
        const std::string_view a = view_of(left);
        const std::string_view b = view_of(right);
        const std::size_t n = a.size();
        if (n != b.size()) {
            return false;
        }
        const char* p = a.data();
        const char* q = b.data();
        if (n >= 8) {
            if (n > 16) {
                return std::memcmp(p, q, n) == 0;
            }
            return ((load<std::uint64_t>(p) ^ load<std::uint64_t>(q)) |
                    (load<std::uint64_t>(p + n - 8) ^ load<std::uint64_t>(q + n - 8))) == 0;
        }
        if (n >= 4) {
            return ((load<std::uint32_t>(p) ^ load<std::uint32_t>(q)) |
                    (load<std::uint32_t>(p + n - 4) ^ load<std::uint32_t>(q + n - 4))) == 0;
        }
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] != q[i]) {
                return false;
            }
        }
        return true;
    }

   private:
    template <class T>
    static T load(const char* p) noexcept {
        T value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
};

using WordSet = tsl::robin_set<std::string, WordHash, WordEqual>;
// The counting table keeps each entry's hash, so a probe compares the stored
// word only when the hashes agree.
using WordCounts = tsl::robin_map<WordKey, std::uint64_t, WordHash, WordEqual,
                                  std::allocator<std::pair<WordKey, std::uint64_t>>, true>;

// A fresh seed on every call; the generator is seeded once per thread from
// the operating system.
std::uint64_t random_hash_seed();

}  // namespace parvenkel::analysis
