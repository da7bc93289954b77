#include <algorithm>
#include <array>
#include <cstring>
#include <random>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/simd.hpp"

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

namespace {

// What an ASCII byte is to a word: a separator, a letter or neither.
enum AsciiClass : std::uint8_t { OTHER = 0, SPACE = 1, LETTER = 2 };

constexpr auto ASCII_CLASSES = [] {
    std::array<std::uint8_t, 128> classes{};
    for (int b : {'\t', '\n', '\v', '\f', '\r', ' '}) {
        classes[static_cast<std::size_t>(b)] = SPACE;
    }
    for (int b = 'A'; b <= 'Z'; ++b) {
        classes[static_cast<std::size_t>(b)] = LETTER;
        classes[static_cast<std::size_t>(b + 0x20)] = LETTER;
    }
    return classes;
}();

#if defined(PARVENKEL_SSE2)
// Bit k of each mask describes byte k of a block of 16.
struct BlockMasks {
    unsigned space;      // ASCII White_Space: U+0009-U+000D, U+0020
    unsigned non_ascii;  // bytes of multi-byte characters
    unsigned letter;     // A-Z, a-z
    unsigned upper;      // A-Z
};

// Bytes x with lo <= x <= lo + span, as unsigned values.
inline __m128i in_range(__m128i bytes, char lo, char span) {
    const __m128i offset = _mm_sub_epi8(bytes, _mm_set1_epi8(lo));
    return _mm_cmpeq_epi8(_mm_min_epu8(offset, _mm_set1_epi8(span)), offset);
}

inline BlockMasks classify_block(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i space = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), in_range(v, 0x09, 4));
    const __m128i upper = in_range(v, 'A', 25);
    const __m128i letter = in_range(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 25);
    return {static_cast<unsigned>(_mm_movemask_epi8(space)),
            static_cast<unsigned>(_mm_movemask_epi8(v)),
            static_cast<unsigned>(_mm_movemask_epi8(letter)),
            static_cast<unsigned>(_mm_movemask_epi8(upper))};
}
#endif

// Counts the normalised words of a text. Each word's letters are gathered in
// a buffer that is reused from word to word; ASCII letters are lowercased as
// they are gathered (the sigma rule sees an ASCII letter as Cased either
// way), and only a word with a non-ASCII letter goes through the full
// lowercasing. A word already in the table costs one lookup and no
// allocation.
class KeywordCounter {
   public:
    KeywordCounter(std::vector<std::string>& stop_words, std::uint64_t seed, WordStore& store)
        : stop_set_(0, WordHash{seed}), counts_(0, WordHash{seed}), store_(store) {
        for (std::string& stop_word : stop_words) {
            if (!stop_word.empty()) {
                stop_shapes_[static_cast<unsigned char>(stop_word[0])] |= shape_bit(stop_word);
            }
            stop_set_.insert(std::move(stop_word));
        }
        // Robin Hood probing stays short at this load, and a large
        // vocabulary needs a third fewer buckets than at the default 0.5.
        counts_.max_load_factor(0.8f);
        letters_.reserve(64);
        lowered_.reserve(64);
        word_.resize(256);
    }

    void count_text(std::string_view text) {
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t size = text.size();
        std::size_t i = 0;
        while (i < size) {
            if (data[i] < 0x80 && ASCII_CLASSES[data[i]] == SPACE) {
                ++i;
                continue;
            }
#if defined(PARVENKEL_SSE2)
            // A piece of ASCII shorter than 16 bytes, ended by an ASCII
            // separator, is taken in one step from the masks of one block.
            if (data[i] < 0x80 && i + 16 <= size) {
                const BlockMasks masks = classify_block(data + i);
                const unsigned stop = masks.space | masks.non_ascii;
                if (stop != 0 && (masks.non_ascii & (stop & -stop)) == 0) {
                    const auto length = static_cast<unsigned>(__builtin_ctz(stop));
                    const unsigned inside = (1u << length) - 1;
                    count_ascii_piece(data + i, length, masks.letter & inside,
                                      masks.upper & inside);
                    i += length + 1;
                    continue;
                }
            }
#endif
            i = count_piece(text, i);
        }
    }

    // Counts a text of two or four bytes a code point where it lies, piece
    // by piece as gather_piece does for UTF-8.
    template <class Unit>
    void count_units(std::basic_string_view<Unit> units) {
        const std::size_t size = units.size();
        std::size_t i = 0;
        while (i < size) {
            const std::size_t start = i;
            char* out = word_.data();
            char* limit = word_limit();
            bool sigma = false;
            for (; i < size; ++i) {
                if (out > limit) {
                    grow_word(out, limit);
                }
                const char32_t cp = units[i];
                if (cp < 0x80) {
                    const std::uint8_t cls = ASCII_CLASSES[cp];
                    if (cls == LETTER) {
                        *out++ = static_cast<char>(cp | 0x20);
                    } else if (cls == SPACE) {
                        break;
                    }
                    continue;
                }
                if (cp < text::tables::LOWERCASE_TWO_BYTE_UNTIL) {
                    if (const std::size_t written = text::lower_two_byte_letter(cp, out)) {
                        out += written;
                        continue;
                    }
                } else if (text::is_plain_letter(cp)) {
                    out += text::encode_utf8(cp, out);
                    continue;
                }
                if (text::detail::is_white_space(cp)) {
                    break;
                }
                const text::CharInfo info = text::char_info(cp);
                if (info.is_alphabetic()) {
                    sigma |= info.is_capital_sigma();
                    text::append_lower(out, cp, info);
                }
            }
            if (sigma) {
                letters_.clear();
                for (std::size_t k = start; k < i; ++k) {
                    if (text::char_info(units[k]).is_alphabetic()) {
                        text::append_utf8(letters_, units[k]);
                    }
                }
                lower_letters();
            } else {
                const auto length = static_cast<std::size_t>(out - word_.data());
                if (length >= MIN_KEYWORD_BYTES) {
                    add({word_.data(), length});
                }
            }
            ++i;  // past the White_Space character, or the end
        }
    }

    WordCounts& counts() noexcept { return counts_; }

   private:
    // Where writing into word_ must stop: past it, the form of one more
    // character may not fit.
    char* word_limit() noexcept { return word_.data() + word_.size() - text::LOWER_MAX_BYTES; }

    // Doubles word_, keeping what `out` has written so far.
    void grow_word(char*& out, char*& limit) {
        const auto used = static_cast<std::size_t>(out - word_.data());
        word_.resize(2 * word_.size());
        out = word_.data() + used;
        limit = word_limit();
    }

    // One piece of ASCII of `length` bytes whose letters are at the set bits
    // of `letters` (those in upper case also in `upper`).
    void count_ascii_piece(const unsigned char* piece, unsigned length, unsigned letters,
                           unsigned upper) {
        if (letters == 0) {
            return;
        }
        const auto first = static_cast<unsigned>(__builtin_ctz(letters));
        const unsigned run = letters >> first;
        if ((run & (run + 1)) == 0) {
            // The letters are one run: the word is a slice of the text.
            const auto count = static_cast<unsigned>(__builtin_ctz(~run));
            if (count < MIN_KEYWORD_BYTES) {
                return;
            }
            const char* word = reinterpret_cast<const char*>(piece) + first;
            if (upper == 0) {
                add({word, count});
                return;
            }
            letters_.assign(word, count);
            for (char& c : letters_) {
                c = static_cast<char>(c | 0x20);
            }
            add(letters_);
            return;
        }
        letters_.clear();
        for (unsigned k = 0; k < length; ++k) {
            if ((letters >> k & 1) != 0) {
                letters_.push_back(static_cast<char>(piece[k] | 0x20));
            }
        }
        if (letters_.size() >= MIN_KEYWORD_BYTES) {
            add(letters_);
        }
    }

    // The piece that starts at byte `i` (not White_Space), taken byte by
    // byte; returns the offset after the White_Space character that ends it.
    std::size_t count_piece(std::string_view text, std::size_t i) {
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t size = text.size();
        // Most pieces of prose are a run of ASCII letters ended by an ASCII
        // separator: such a word is counted straight from the text when it
        // is already lowercase, with no copy at all.
        const std::size_t start = i;
        unsigned char any_upper = 0;
        while (i < size && data[i] < 0x80 && ASCII_CLASSES[data[i]] == LETTER) {
            any_upper |= static_cast<unsigned char>(~data[i] & 0x20);
            ++i;
        }
        if (i == size || (data[i] < 0x80 && ASCII_CLASSES[data[i]] == SPACE)) {
            const std::size_t length = i - start;
            if (length >= MIN_KEYWORD_BYTES) {
                if (any_upper == 0) {
                    add({text.data() + start, length});
                } else {
                    letters_.clear();
                    for (std::size_t k = start; k < i; ++k) {
                        letters_.push_back(static_cast<char>(data[k] | 0x20));
                    }
                    add(letters_);
                }
            }
            return i + 1;
        }
        // Anything else: the lowercase letters of the whole piece.
        return gather_piece(text, start, i);
    }

    // Counts the piece that starts at byte `start` and whose bytes before
    // `i` are ASCII letters, up to the next White_Space character; returns
    // the offset after that character. The letters are lowercased character
    // by character into word_, written through a pointer with room for one
    // more character's form at every step. A capital sigma, whose form
    // depends on the letters around it, sends the piece to lower_with_sigma.
    std::size_t gather_piece(std::string_view text, std::size_t start, std::size_t i) {
        const auto* data = reinterpret_cast<const unsigned char*>(text.data());
        const std::size_t size = text.size();
        if (word_.size() < i - start + 2 * text::LOWER_MAX_BYTES) {
            word_.resize(2 * (i - start) + 2 * text::LOWER_MAX_BYTES);
        }
        char* out = word_.data();
        for (std::size_t k = start; k < i; ++k) {
            *out++ = static_cast<char>(data[k] | 0x20);
        }
        char* limit = word_limit();
        bool sigma = false;
        std::size_t end = size;  // where the piece's White_Space starts
        std::size_t next = size;
        while (i < size) {
            if (out > limit) {
                grow_word(out, limit);
            }
            const unsigned char byte = data[i];
            if (byte < 0x80) {
                const std::uint8_t cls = ASCII_CLASSES[byte];
                if (cls == LETTER) {
                    *out++ = static_cast<char>(byte | 0x20);
                } else if (cls == SPACE) {
                    end = i;
                    next = i + 1;
                    break;
                }
                ++i;
                continue;
            }
            const text::Utf8Char ch = text::decode_utf8(text.data() + i);
            if (ch.length == 2) {
                if (const std::size_t written = text::lower_two_byte_letter(ch.cp, out)) {
                    out += written;
                    i += 2;
                    continue;
                }
            }
            if (text::is_plain_letter(ch.cp)) {
                out[0] = static_cast<char>(data[i]);  // three bytes, as they are
                out[1] = static_cast<char>(data[i + 1]);
                out[2] = static_cast<char>(data[i + 2]);
                out += 3;
                i += 3;
                continue;
            }
            if (text::detail::is_white_space(ch.cp)) {
                end = i;
                next = i + ch.length;
                break;
            }
            const text::CharInfo info = text::char_info(ch.cp);
            if (info.is_alphabetic()) {
                sigma |= info.is_capital_sigma();
                text::append_lower(out, ch.cp, info);
            }
            i += ch.length;
        }
        if (sigma) {
            lower_with_sigma(text, start, end);
        } else {
            const auto length = static_cast<std::size_t>(out - word_.data());
            if (length >= MIN_KEYWORD_BYTES) {
                add({word_.data(), length});
            }
        }
        return next;
    }

    // Counts the piece in bytes [start, end) of `text`, which holds a
    // capital sigma: its letters are gathered as they are and lowercased as
    // a whole.
    void lower_with_sigma(std::string_view text, std::size_t start, std::size_t end) {
        letters_.clear();
        for (std::size_t i = start; i < end;) {
            const text::Utf8Char ch = text::decode_utf8(text.data() + i);
            if (text::char_info(ch.cp).is_alphabetic()) {
                letters_.append(text.data() + i, ch.length);
            }
            i += ch.length;
        }
        lower_letters();
    }

    // Counts the word whose letters, as they are in the text, are in
    // letters_: lowercased as a whole.
    void lower_letters() {
        lowered_.clear();
        text::append_lowercase(lowered_, letters_);
        if (lowered_.size() >= MIN_KEYWORD_BYTES) {
            add(lowered_);
        }
    }

    void add(std::string_view word) {
        // Both tables hash alike, so one hash serves both lookups. Most
        // words have no stop word of their first byte and length, which
        // stop_shapes_ tells without a lookup.
        const std::size_t hash = counts_.hash_function()(word);
        if ((stop_shapes_[static_cast<unsigned char>(word[0])] & shape_bit(word)) != 0 &&
            stop_set_.find(word, hash) != stop_set_.end()) {
            return;
        }
        const auto found = counts_.find(word, hash);
        if (found != counts_.end()) {
            ++found.value();
        } else {
            counts_.insert({WordKey(word, store_), 1});
        }
    }

    // Bit min(length, 63) of entry b is set when a stop word of that length
    // starts with the byte b.
    static std::uint64_t shape_bit(std::string_view word) noexcept {
        return std::uint64_t{1} << std::min<std::size_t>(word.size(), 63);
    }

    std::array<std::uint64_t, 256> stop_shapes_{};
    WordSet stop_set_;
    WordCounts counts_;
    WordStore& store_;
    std::string letters_;
    std::string lowered_;
    std::string word_;
};

}  // namespace

namespace {

// Counts a fixed-width text a piece at a time: each piece is converted to
// UTF-8 in a buffer that is reused, and ends just after a White_Space
// character (or with the text), so no word spans two pieces and the buffer
// stays near PIECE_UNITS characters unless one word is longer.
template <class Unit>
void count_fixed_width(KeywordCounter& counter, text::TextView text,
                       std::basic_string_view<Unit> units) {
    constexpr std::size_t PIECE_UNITS = 16 * 1024;
    std::unique_ptr<char[]> buffer;
    std::size_t room = 0;
    std::size_t begin = 0;
    while (begin < units.size()) {
        std::size_t end = std::min(begin + PIECE_UNITS, units.size());
        while (end < units.size() && !text::detail::is_white_space(units[end - 1])) {
            ++end;
        }
        const std::size_t needed = text::UTF8_MAX_BYTES * (end - begin);
        if (needed > room) {
            room = std::max(needed, text::UTF8_MAX_BYTES * PIECE_UNITS);
            buffer = std::make_unique_for_overwrite<char[]>(room);
        }
        const std::size_t length = text::write_utf8(text, begin, end, buffer.get());
        counter.count_text({buffer.get(), length});
        begin = end;
    }
}

}  // namespace

Keywords extract_keywords(text::TextView text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    Keywords result;
    KeywordCounter counter(stop_words, random_hash_seed(), result.store);
    text.visit([&]<class View>(View units) {
        using Unit = typename View::value_type;
        if constexpr (std::is_same_v<Unit, char>) {
            counter.count_text(units);
        } else if constexpr (sizeof(Unit) == 1) {
            // Mostly ASCII: converted, it takes the block paths of UTF-8.
            count_fixed_width(counter, text, units);
        } else {
            counter.count_units(units);
        }
    });

    // The pairs point into the table while they are sorted; the words that
    // make the cut are then copied out to the result's own store.
    WordCounts& counts = counter.counts();
    result.pairs.reserve(counts.size());
    for (const auto& [key, count] : counts) {
        result.pairs.push_back({key.view(), count});
    }
    std::stable_sort(
        result.pairs.begin(), result.pairs.end(),
        [](const KeywordCount& a, const KeywordCount& b) { return a.count > b.count; });
    if (result.pairs.size() > top_n) {
        result.pairs.resize(static_cast<std::size_t>(top_n));
    }
    WordStore& store = result.store;
    for (KeywordCount& pair : result.pairs) {
        if (pair.word.size() <= WordKey::INLINE_BYTES) {
            pair.word = store.add(pair.word);
        }
    }
    return result;
}

Keywords extract_keywords(std::string_view text, std::vector<std::string> stop_words,
                          std::uint64_t top_n) {
    return extract_keywords(text::TextView::utf8(text), std::move(stop_words), top_n);
}

}  // namespace parvenkel::analysis
