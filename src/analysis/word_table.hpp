// The counting table of keyword extraction: normalised word -> count, with
// the stop words held in the same table under a mark, so that each word
// costs one probe whether it is a stop word or not.
//
// Purpose-built because it is the hot path: a profile of the counting loop
// showed a general-purpose map (tsl::robin_map with XXH3) taking over 40% of
// the time. Its design:
//
//   * Three tiers by word length, each an open-addressing table with linear
//     probing and a power-of-two size. Words of up to 16 bytes (most words
//     of every script but CJK) are held inline as two 64-bit halves, words
//     of 17-32 bytes as four; longer words are kept in a WordStore and the
//     slot holds their hash, address and length.
//   * Inline keys are zero-padded: a normalised word never holds a zero
//     byte (U+0000 is not Alphabetic, and no lowercase form holds it), so
//     the padding cannot make two words equal, and an all-zero key marks an
//     empty slot.
//   * Inline keys are hashed by a multiply-fold of their halves keyed by a
//     seed drawn at random for each table, longer ones by XXH3 with that
//     seed: which words collide cannot be predicted from outside.
//   * Words of up to 32 bytes are counted in batches: all the words of a
//     batch are hashed and their slots prefetched, then all are inserted,
//     so that the memory accesses of several words overlap.
//
// tests/cpp/test_word_table.cpp checks it against std::unordered_map.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "analysis/analysis.hpp"

namespace parvenkel::analysis {

// A fresh seed on every call; the generator is seeded once per thread from
// the operating system.
std::uint64_t random_hash_seed();

// Keys are built and read back as little-endian numbers.
static_assert(std::endian::native == std::endian::little,
              "the word table's inline keys assume a little-endian processor");

namespace detail {

template <class T>
inline T load(const void* p) noexcept {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Bytes [0, n) of p as a little-endian number, n <= 8, reading only those
// bytes.
inline std::uint64_t load_up_to_8(const char* p, std::size_t n) noexcept {
    if (n >= 4) {
        const std::uint64_t first = load<std::uint32_t>(p);
        const std::uint64_t last = load<std::uint32_t>(p + n - 4);
        return first | last << (8 * (n - 4));
    }
    std::uint64_t value = 0;
    for (std::size_t k = 0; k < n; ++k) {
        value |= std::uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
    }
    return value;
}

// Bytes [0, n) of p as two little-endian halves, zero-padded, 0 < n <= 16.
inline void load_up_to_16(const char* p, std::size_t n, std::uint64_t& lo,
                          std::uint64_t& hi) noexcept {
    if (n > 8) {
        lo = load<std::uint64_t>(p);
        hi = load<std::uint64_t>(p + n - 8) >> (8 * (16 - n));
    } else {
        lo = load_up_to_8(p, n);
        hi = 0;
    }
}

inline std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
    __extension__ using u128 = unsigned __int128;
    const u128 product = static_cast<u128>(a) * b;
    return static_cast<std::uint64_t>(product) ^ static_cast<std::uint64_t>(product >> 64);
}

}  // namespace detail

// A word of 1-16 bytes as two little-endian halves, zero-padded.
struct ShortKey {
    std::uint64_t lo, hi;
};

// A word of 17-32 bytes as four little-endian quarters, zero-padded.
struct MediumKey {
    std::uint64_t key[4];

    static MediumKey of(std::string_view word) noexcept {
        MediumKey key;
        key.key[0] = detail::load<std::uint64_t>(word.data());
        key.key[1] = detail::load<std::uint64_t>(word.data() + 8);
        detail::load_up_to_16(word.data() + 16, word.size() - 16, key.key[2], key.key[3]);
        return key;
    }
};

class WordTable {
   public:
    static constexpr std::size_t SHORT_BYTES = 16;
    static constexpr std::size_t MEDIUM_BYTES = 32;
    // Words add_short and add_medium hash and prefetch at once (they take
    // more in steps of this many).
    static constexpr std::size_t BATCH = 128;

    // `text_bytes` sizes the tables at the start: a text of a few megabytes
    // starts large enough for its vocabulary, a bigger one grows from there.
    WordTable(std::uint64_t seed, std::size_t text_bytes);
    WordTable(const WordTable&) = delete;
    WordTable& operator=(const WordTable&) = delete;

    // Marks `word` as a stop word: counting it does nothing. Call before
    // counting.
    void add_stop_word(std::string_view word);

    // Counts one occurrence of `word` (not empty).
    void add(std::string_view word) {
        if (word.size() <= SHORT_BYTES) {
            std::uint64_t lo = 0;
            std::uint64_t hi = 0;
            detail::load_up_to_16(word.data(), word.size(), lo, hi);
            const ShortKey key{lo, hi};
            add_short(&key, 1);
        } else {
            add_long(word);
        }
    }

    // Counts one occurrence of each of `count` words of 1-16 bytes, given
    // as their zero-padded halves: all are hashed and their slots
    // prefetched first, then all are inserted, so that the memory accesses
    // of the batch overlap.
    void add_short(const ShortKey* keys, std::size_t count);

    // The same for words of 17-32 bytes.
    void add_medium(const MediumKey* keys, std::size_t count);

    // Calls f(word, count) for every counted word, in no defined order. The
    // views point into the table: valid until it changes or goes.
    template <class F>
    void for_each(F&& f) const {
        for (std::size_t i = 0; i < short_.capacity; ++i) {
            const ShortSlot& slot = short_.slots[i];
            if (!slot.empty() && !is_stop(slot.count)) {
                f(short_word(slot), slot.count);
            }
        }
        for (std::size_t i = 0; i < medium_.capacity; ++i) {
            const MediumSlot& slot = medium_.slots[i];
            if (!slot.empty() && !is_stop(slot.count)) {
                f(medium_word(slot), slot.count);
            }
        }
        for (std::size_t i = 0; i < long_.capacity; ++i) {
            const LongSlot& slot = long_.slots[i];
            if (!slot.empty() && !is_stop(slot.count)) {
                f(std::string_view(slot.data, slot.size), slot.count);
            }
        }
    }

    // Distinct words counted (stop words not included).
    std::size_t size() const noexcept { return words_; }

    // Exchanges the contents of two tables: words, counts, stop words and
    // hash keys.
    void swap(WordTable& other) noexcept {
        std::swap(keys_, other.keys_);
        std::swap(short_, other.short_);
        std::swap(medium_, other.medium_);
        std::swap(long_, other.long_);
        std::swap(words_, other.words_);
        std::swap(long_bytes_, other.long_bytes_);
        std::swap(store_, other.store_);
    }

    // The count of `word`: 0 when it was never counted or is a stop word.
    std::uint64_t find(std::string_view word) const noexcept;
    bool is_stop_word(std::string_view word) const noexcept;

    // Adds `count` (at least 1) occurrences of `word` (a normalised word,
    // not empty, no zero byte) at once; nothing for a stop word. Growth is
    // as for add, unless reserve_for made room first.
    void add_count(std::string_view word, std::uint64_t count);

    // Adds every count of `other` (a table with its own seed); words that
    // are stop words here are left out. Returns the sum of the counts
    // added. Short words go in batches, hashed and prefetched first.
    std::uint64_t merge_from(const WordTable& other);

    // Makes room for every word of `others` (a range of WordTable
    // pointers) to be added with add_count without allocating. Either it
    // succeeds or it throws std::bad_alloc with the counts unchanged.
    template <class Tables>
    void reserve_for(const Tables& others) {
        std::size_t more[3] = {};
        std::size_t long_bytes = 0;
        for (const WordTable* other : others) {
            more[0] += other->short_.used;
            more[1] += other->medium_.used;
            more[2] += other->long_.used;
            long_bytes += other->long_bytes_;
        }
        reserve(more, long_bytes);
    }

   private:
    static constexpr std::uint64_t STOP = std::uint64_t{1} << 63;

    struct ShortSlot {
        std::uint64_t lo, hi, count;
        bool empty() const noexcept { return lo == 0; }
    };
    struct MediumSlot {
        std::uint64_t key[4];
        std::uint64_t count;
        bool empty() const noexcept { return key[0] == 0; }
    };
    struct LongSlot {
        std::uint64_t hash;
        const char* data;
        std::size_t size;
        std::uint64_t count;
        bool empty() const noexcept { return data == nullptr; }
    };

    // One tier: slots, a power of two of them, none of them full beyond
    // three quarters.
    template <class Slot>
    struct Tier {
        std::unique_ptr<Slot[]> slots;
        std::size_t capacity = 0;
        std::size_t used = 0;
        unsigned shift = 64;

        void allocate(std::size_t slots_wanted);
        // Moves every entry to a tier twice the size; `hash_of` gives a
        // slot's hash.
        template <class Hash>
        void grow(Hash hash_of);
        std::size_t index(std::uint64_t hash) const noexcept {
            return static_cast<std::size_t>(hash >> shift);
        }
        std::size_t mask() const noexcept { return capacity - 1; }
        // The most entries `capacity` slots take: three quarters.
        static constexpr std::size_t most(std::size_t slots) noexcept {
            return slots / 2 + slots / 4;
        }
        bool full() const noexcept { return used > most(capacity); }
        // Whether `more` entries fit without growing.
        bool fits(std::size_t more) const noexcept { return used + more <= most(capacity); }
    };

    static bool is_stop(std::uint64_t count) noexcept { return (count & STOP) != 0; }

    std::uint64_t hash_short(std::uint64_t lo, std::uint64_t hi) const noexcept {
        return detail::fold_multiply(lo ^ keys_[0], hi ^ keys_[1]);
    }
    std::uint64_t hash_medium(const std::uint64_t key[4]) const noexcept {
        return detail::fold_multiply(key[0] ^ keys_[0], key[1] ^ keys_[1]) ^
               detail::fold_multiply(key[2] ^ keys_[2], key[3] ^ keys_[3]);
    }
    std::uint64_t hash_long(std::string_view word) const noexcept;

    static std::string_view short_word(const ShortSlot& slot) noexcept;
    static std::string_view medium_word(const MediumSlot& slot) noexcept;

    // The one probe loop of the short tier: from slot i of `slots` (a tier
    // of mask + 1) on, the slot that holds the key (lo, hi) goes to `found`,
    // or else the empty one where it belongs to `empty`; returns what they
    // return.
    template <class Slot, class Found, class Empty>
    static decltype(auto) probe_short(Slot* slots, std::size_t mask, std::size_t i,
                                      std::uint64_t lo, std::uint64_t hi, Found&& found,
                                      Empty&& empty) {
        for (;; i = (i + 1) & mask) {
            Slot& slot = slots[i];
            if (slot.lo == lo && slot.hi == hi) {
                return found(slot);
            }
            if (slot.empty()) {
                return empty(slot);
            }
        }
    }

    // Counts the word (or marks it, with `initial` STOP) in its tier.
    void insert_short(std::uint64_t lo, std::uint64_t hi, std::uint64_t hash,
                      std::uint64_t initial) {
        probe_short(
            short_.slots.get(), short_.mask(), short_.index(hash), lo, hi,
            [](ShortSlot& slot) {
                // Stop words keep their mark; others count one more.
                slot.count += (slot.count >> 63) ^ 1;
            },
            [&](ShortSlot& slot) {
                slot = {lo, hi, initial};
                words_ += initial == 1;
                ++short_.used;
                if (short_.full()) [[unlikely]] {
                    grow_short();
                }
            });
    }
    void add_long(std::string_view word, std::uint64_t initial = 1);
    // Inserts into the middle tier, growing it first when it is full.
    void insert_medium(const std::uint64_t key[4], std::uint64_t initial);
    // Inserts from slot i on, with room in the tier; true for a new word.
    bool place_medium(const std::uint64_t key[4], std::size_t i, std::uint64_t initial);
    void insert_long(std::string_view word, std::uint64_t initial);
    void grow_short();
    void grow_medium();
    void grow_long();
    void reserve(const std::size_t more[3], std::size_t long_bytes);
    // The slot's count for `word`, or nullptr when it is absent.
    const std::uint64_t* probe(std::string_view word) const noexcept;

    std::uint64_t keys_[4];
    Tier<ShortSlot> short_;
    Tier<MediumSlot> medium_;
    Tier<LongSlot> long_;
    std::size_t words_ = 0;
    std::size_t long_bytes_ = 0;  // bytes of the words of the long tier
    WordStore store_;
};

}  // namespace parvenkel::analysis
