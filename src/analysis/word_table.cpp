#include "analysis/word_table.hpp"

#include <algorithm>
#include <bit>
#include <random>

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace parvenkel::analysis {

std::uint64_t random_hash_seed() {
    thread_local std::mt19937_64 generator = [] {
        std::random_device device;
        std::seed_seq seq{device(), device(), device(), device()};
        return std::mt19937_64(seq);
    }();
    return generator();
}

namespace {

// splitmix64: spreads one seed into the table's four keys.
std::uint64_t split_mix(std::uint64_t& state) noexcept {
    std::uint64_t z = (state += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
}

// A power of two of at least `wanted` and `least`, at most `most`.
std::size_t initial_slots(std::size_t wanted, std::size_t least, std::size_t most) noexcept {
    return std::bit_ceil(std::clamp(wanted, least, most));
}

// Significant bytes of a zero-padded little-endian half (0 to 8).
std::size_t bytes_in(std::uint64_t half) noexcept {
    return 8 - static_cast<std::size_t>(std::countl_zero(half)) / 8;
}

}  // namespace

template <class Slot>
void WordTable::Tier<Slot>::allocate(std::size_t slots_wanted) {
    slots = std::make_unique<Slot[]>(slots_wanted);  // zeroed: all empty
    capacity = slots_wanted;
    used = 0;
    shift = static_cast<unsigned>(64 - std::countr_zero(slots_wanted));
}

WordTable::WordTable(std::uint64_t seed, std::size_t text_bytes) {
    std::uint64_t state = seed;
    for (std::uint64_t& key : keys_) {
        key = split_mix(state);
    }
    keys_[1] |= 1;  // an odd factor for words of up to eight bytes
    keys_[3] |= 1;
    // About one distinct short word per 32 bytes of a text of a few
    // megabytes; more slots than that at the start would cost memory on the
    // large texts of a small vocabulary.
    short_.allocate(initial_slots(text_bytes / 32, 256, 32 * 1024));
    medium_.allocate(initial_slots(text_bytes / 256, 64, 4 * 1024));
    long_.allocate(initial_slots(text_bytes / 512, 64, 1024));
}

void WordTable::add_stop_word(std::string_view word) {
    if (word.empty() || word.find('\0') != std::string_view::npos) {
        return;  // no normalised word is empty or holds a zero byte
    }
    if (word.size() <= SHORT_BYTES) {
        std::uint64_t lo = 0;
        std::uint64_t hi = 0;
        detail::load_up_to_16(word.data(), word.size(), lo, hi);
        insert_short(lo, hi, hash_short(lo, hi), STOP);
    } else {
        add_long(word, STOP);
    }
}

void WordTable::add_short(const ShortKey* keys, std::size_t count) {
    for (; count > BATCH; count -= BATCH, keys += BATCH) {
        add_short(keys, BATCH);
    }
    while (!short_.fits(count)) {
        grow_short();
    }
    // Locals, so that the compiler need not reload them after each store.
    const std::uint64_t k0 = keys_[0];
    const std::uint64_t k1 = keys_[1];
    ShortSlot* const slots = short_.slots.get();
    const unsigned shift = short_.shift;
    const std::size_t mask = short_.mask();
    std::size_t at[BATCH];
    for (std::size_t k = 0; k < count; ++k) {
        at[k] = static_cast<std::size_t>(detail::fold_multiply(keys[k].lo ^ k0, keys[k].hi ^ k1) >>
                                         shift);
        __builtin_prefetch(slots + at[k]);
    }
    std::size_t added = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint64_t lo = keys[k].lo;
        const std::uint64_t hi = keys[k].hi;
        probe_short(
            slots, mask, at[k], lo, hi,
            [](ShortSlot& slot) {
                // Stop words keep their mark; others count one more.
                slot.count += (slot.count >> 63) ^ 1;
            },
            [&](ShortSlot& slot) {
                slot = {lo, hi, 1};
                ++added;
            });
    }
    short_.used += added;
    words_ += added;
}

std::uint64_t WordTable::hash_long(std::string_view word) const noexcept {
    return XXH3_64bits_withSeed(word.data(), word.size(), keys_[0]);
}

std::string_view WordTable::short_word(const ShortSlot& slot) noexcept {
    const std::size_t size = slot.hi != 0 ? 8 + bytes_in(slot.hi) : bytes_in(slot.lo);
    return {reinterpret_cast<const char*>(&slot.lo), size};
}

std::string_view WordTable::medium_word(const MediumSlot& slot) noexcept {
    std::size_t size = 16;
    while (size < 32 && slot.key[size / 8] != 0) {
        size += 8;
    }
    size = size - 8 + bytes_in(slot.key[size / 8 - 1]);
    return {reinterpret_cast<const char*>(slot.key), size};
}

void WordTable::add_long(std::string_view word, std::uint64_t initial) {
    if (word.size() <= MEDIUM_BYTES) {
        insert_medium(MediumKey::of(word).key, initial);
    } else {
        insert_long(word, initial);
    }
}

void WordTable::insert_medium(const std::uint64_t key[4], std::uint64_t initial) {
    if (medium_.full()) {
        grow_medium();
    }
    place_medium(key, medium_.index(hash_medium(key)), initial);
}

bool WordTable::place_medium(const std::uint64_t key[4], std::size_t i, std::uint64_t initial) {
    for (;; i = (i + 1) & medium_.mask()) {
        MediumSlot& slot = medium_.slots[i];
        if (slot.key[0] == key[0] && slot.key[1] == key[1] && slot.key[2] == key[2] &&
            slot.key[3] == key[3]) {
            slot.count += (slot.count >> 63) ^ 1;
            return false;
        }
        if (slot.key[0] == 0) {
            std::copy(key, key + 4, slot.key);
            slot.count = initial;
            words_ += initial == 1;
            ++medium_.used;
            return true;
        }
    }
}

void WordTable::add_medium(const MediumKey* keys, std::size_t count) {
    for (; count > BATCH; count -= BATCH, keys += BATCH) {
        add_medium(keys, BATCH);
    }
    while (!medium_.fits(count)) {
        grow_medium();
    }
    std::size_t at[BATCH];
    for (std::size_t k = 0; k < count; ++k) {
        at[k] = medium_.index(hash_medium(keys[k].key));
        __builtin_prefetch(&medium_.slots[at[k]]);
    }
    for (std::size_t k = 0; k < count; ++k) {
        place_medium(keys[k].key, at[k], 1);
    }
}

void WordTable::insert_long(std::string_view word, std::uint64_t initial) {
    const std::uint64_t hash = hash_long(word);
    std::size_t i = long_.index(hash);
    for (;;) {
        LongSlot& slot = long_.slots[i];
        if (slot.data == nullptr) {
            const std::string_view stored = store_.add(word);
            slot = {hash, stored.data(), stored.size(), initial};
            long_bytes_ += word.size();
            words_ += initial == 1;
            ++long_.used;
            if (long_.full()) {
                grow_long();
            }
            return;
        }
        if (slot.hash == hash && slot.size == word.size() &&
            std::memcmp(slot.data, word.data(), word.size()) == 0) {
            slot.count += (slot.count >> 63) ^ 1;
            return;
        }
        i = (i + 1) & long_.mask();
    }
}

// Growth is kept out of line, which leaves the insertion loops small.
template <class Slot>
template <class Hash>
void WordTable::Tier<Slot>::grow(Hash hash_of) {
    // The new slots are had before anything moves: a failed allocation
    // leaves the tier as it was.
    Tier bigger;
    bigger.allocate(2 * capacity);
    for (std::size_t k = 0; k < capacity; ++k) {
        const Slot& slot = slots[k];
        if (slot.empty()) {
            continue;
        }
        std::size_t i = bigger.index(hash_of(slot));
        while (!bigger.slots[i].empty()) {
            i = (i + 1) & bigger.mask();
        }
        bigger.slots[i] = slot;
    }
    bigger.used = used;
    *this = std::move(bigger);
}

void WordTable::grow_short() {
    short_.grow([this](const ShortSlot& slot) { return hash_short(slot.lo, slot.hi); });
}

void WordTable::grow_medium() {
    medium_.grow([this](const MediumSlot& slot) { return hash_medium(slot.key); });
}

void WordTable::grow_long() {
    long_.grow([](const LongSlot& slot) { return slot.hash; });
}

// ---------------------------------------------------------------------------
// Look-ups and merging, for counts kept from one call to the next. None of
// this is on the counting path.

void WordStore::reserve(std::size_t bytes) {
    if (bytes > left_) {
        const std::size_t size = std::max(BLOCK_BYTES, bytes);
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        free_ = blocks_.back().get();
        left_ = size;
    }
}

const std::uint64_t* WordTable::probe(std::string_view word) const noexcept {
    if (word.empty() || word.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    if (word.size() <= SHORT_BYTES) {
        std::uint64_t lo = 0;
        std::uint64_t hi = 0;
        detail::load_up_to_16(word.data(), word.size(), lo, hi);
        return probe_short(
            static_cast<const ShortSlot*>(short_.slots.get()), short_.mask(),
            short_.index(hash_short(lo, hi)), lo, hi,
            [](const ShortSlot& slot) -> const std::uint64_t* { return &slot.count; },
            [](const ShortSlot&) -> const std::uint64_t* { return nullptr; });
    }
    if (word.size() <= MEDIUM_BYTES) {
        const MediumKey key = MediumKey::of(word);
        for (std::size_t i = medium_.index(hash_medium(key.key));; i = (i + 1) & medium_.mask()) {
            const MediumSlot& slot = medium_.slots[i];
            if (std::equal(key.key, key.key + 4, slot.key)) {
                return &slot.count;
            }
            if (slot.empty()) {
                return nullptr;
            }
        }
    }
    const std::uint64_t hash = hash_long(word);
    for (std::size_t i = long_.index(hash);; i = (i + 1) & long_.mask()) {
        const LongSlot& slot = long_.slots[i];
        if (slot.empty()) {
            return nullptr;
        }
        if (slot.hash == hash && std::string_view(slot.data, slot.size) == word) {
            return &slot.count;
        }
    }
}

std::uint64_t WordTable::find(std::string_view word) const noexcept {
    const std::uint64_t* count = probe(word);
    return count == nullptr || is_stop(*count) ? 0 : *count;
}

bool WordTable::is_stop_word(std::string_view word) const noexcept {
    const std::uint64_t* count = probe(word);
    return count != nullptr && is_stop(*count);
}

void WordTable::add_count(std::string_view word, std::uint64_t count) {
    if (const std::uint64_t* found = probe(word)) {
        if (!is_stop(*found)) {
            *const_cast<std::uint64_t*>(found) += count;
        }
        return;
    }
    // A new word: inserted with one occurrence by the usual path, which
    // grows the tier when it must, then given the rest.
    if (word.size() <= SHORT_BYTES) {
        std::uint64_t lo = 0;
        std::uint64_t hi = 0;
        detail::load_up_to_16(word.data(), word.size(), lo, hi);
        if (!short_.fits(1)) {
            grow_short();
        }
        insert_short(lo, hi, hash_short(lo, hi), 1);
    } else {
        add_long(word, 1);
    }
    *const_cast<std::uint64_t*>(probe(word)) += count - 1;
}

std::uint64_t WordTable::merge_from(const WordTable& other) {
    std::uint64_t added = 0;
    const ShortSlot* from[BATCH];
    std::size_t at[BATCH];
    std::size_t pending = 0;
    const auto flush = [&] {
        while (!short_.fits(pending)) {
            grow_short();
        }
        for (std::size_t k = 0; k < pending; ++k) {
            at[k] = short_.index(hash_short(from[k]->lo, from[k]->hi));
            __builtin_prefetch(&short_.slots[at[k]]);
        }
        for (std::size_t k = 0; k < pending; ++k) {
            const ShortSlot& source = *from[k];
            probe_short(
                short_.slots.get(), short_.mask(), at[k], source.lo, source.hi,
                [&](ShortSlot& slot) {
                    if (!is_stop(slot.count)) {
                        slot.count += source.count;
                        added += source.count;
                    }
                },
                [&](ShortSlot& slot) {
                    slot = source;
                    ++short_.used;
                    ++words_;
                    added += source.count;
                });
        }
        pending = 0;
    };
    for (std::size_t i = 0; i < other.short_.capacity; ++i) {
        const ShortSlot& slot = other.short_.slots[i];
        if (!slot.empty() && !is_stop(slot.count)) {
            from[pending++] = &slot;
            if (pending == BATCH) {
                flush();
            }
        }
    }
    flush();
    const auto add_one = [&](std::string_view word, std::uint64_t count) {
        if (!is_stop_word(word)) {
            add_count(word, count);
            added += count;
        }
    };
    for (std::size_t i = 0; i < other.medium_.capacity; ++i) {
        const MediumSlot& slot = other.medium_.slots[i];
        if (!slot.empty() && !is_stop(slot.count)) {
            add_one(medium_word(slot), slot.count);
        }
    }
    for (std::size_t i = 0; i < other.long_.capacity; ++i) {
        const LongSlot& slot = other.long_.slots[i];
        if (!slot.empty() && !is_stop(slot.count)) {
            add_one(std::string_view(slot.data, slot.size), slot.count);
        }
    }
    return added;
}

void WordTable::reserve(const std::size_t more[3], std::size_t long_bytes) {
    // Each tier is made large enough to take its share without growing; a
    // tier that grew before a later allocation failed is only larger.
    while (!short_.fits(more[0])) {
        grow_short();
    }
    while (!medium_.fits(more[1])) {
        grow_medium();
    }
    // The long tier grows after an insertion that leaves it full, so it
    // needs one slot more.
    while (!long_.fits(more[2] + 1)) {
        grow_long();
    }
    store_.reserve(long_bytes);
}

}  // namespace parvenkel::analysis
