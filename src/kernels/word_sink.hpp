// Where the word walker's words go: a word gathered in a buffer or found
// as a slice of a chunk becomes a key of the WordTable, short and middling
// keys in batches the table takes at once. Plain C++ shared by every
// instruction set's walker (generic/word_walker.hpp): the calls inline
// into each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "kernels/word_classes.hpp"
#include "kernels/word_walker.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/utf8.hpp"

namespace parvenkel::kernels {

class WordSink : public WordWalker {
   protected:
    WordSink(const std::vector<std::string>& stop_words, std::uint64_t seed, std::size_t text_bytes)
        : WordWalker(stop_words, seed, text_bytes) {
        word_.resize(3 * 64 + WORD_MARGIN);
    }

    using MediumKey = analysis::MediumKey;
    using ShortKey = analysis::ShortKey;
    using WordTable = analysis::WordTable;
    static constexpr std::size_t MIN_KEYWORD_BYTES = analysis::MIN_KEYWORD_BYTES;

    // Hands the batches to the table, at the end of a text.
    void flush() {
        table_.add_short(batch_, batched_);
        batched_ = 0;
        table_.add_medium(medium_batch_, medium_batched_);
        medium_batched_ = 0;
    }

    // Where writing into word_ must stop: past it, the form of one more
    // character (or of one run of letter_runs) may not fit.
    char* word_limit() noexcept { return word_.data() + word_.size() - WORD_MARGIN; }
    static constexpr std::size_t WORD_MARGIN = 32;
    static_assert(WORD_MARGIN >= text::LOWER_MAX_BYTES && WORD_MARGIN >= 3 * 8);

    // Doubles word_, keeping what `out` has written so far.
    void grow_word(char*& out, char*& limit) {
        const auto used = static_cast<std::size_t>(out - word_.data());
        word_.resize(2 * word_.size());
        out = word_.data() + used;
        limit = word_limit();
    }

    // Short words wait in batch_ for the table, which takes them in
    // batches. A key is written in any case and kept only when `keep`,
    // which spares the callers a hard-to-predict branch on the many words
    // too short to count.
    void push_short(std::uint64_t lo, std::uint64_t hi, bool keep = true) {
        batch_[batched_] = {lo, hi};
        batched_ += keep ? 1 : 0;
        if (batched_ == WordTable::BATCH) {
            table_.add_short(batch_, batched_);
            batched_ = 0;
        }
    }

    // The word of `length` bytes (at most 16) at `p`, which has 16 bytes
    // readable, counted when it is long enough: its key is two masked loads.
    void push_slice(const void* p, std::size_t length) {
        const auto* bytes = static_cast<const unsigned char*>(p);
        push_short(analysis::detail::load<std::uint64_t>(bytes) & HALF_MASKS[length][0],
                   analysis::detail::load<std::uint64_t>(bytes + 8) & HALF_MASKS[length][1],
                   length >= MIN_KEYWORD_BYTES);
    }

    void count_word(std::string_view word) {
        if (word.size() <= WordTable::SHORT_BYTES) {
            std::uint64_t lo = 0;
            std::uint64_t hi = 0;
            analysis::detail::load_up_to_16(word.data(), word.size(), lo, hi);
            push_short(lo, hi);
        } else if (word.size() <= WordTable::MEDIUM_BYTES) {
            medium_batch_[medium_batched_] = MediumKey::of(word);
            if (++medium_batched_ == WordTable::BATCH) {
                table_.add_medium(medium_batch_, medium_batched_);
                medium_batched_ = 0;
            }
        } else {
            table_.add(word);
        }
    }

    // Counts the word of `length` bytes gathered at the start of word_,
    // which has room for 16 bytes after it.
    void count_gathered(std::size_t length) {
        if (length > WordTable::SHORT_BYTES) {
            count_word({word_.data(), length});
            return;
        }
        push_slice(word_.data(), length);
    }

    void add_word(std::size_t length) {
        if (length >= MIN_KEYWORD_BYTES) {
            count_word({word_.data(), length});
        }
    }

    template <class Unit>
    static text::TextView fixed_view(const Unit* units, std::size_t length) noexcept {
        if constexpr (sizeof(Unit) == 1) {
            return {units, length, text::Form::LATIN1};
        } else if constexpr (sizeof(Unit) == 2) {
            return {units, length, text::Form::UCS2};
        } else {
            return {units, length, text::Form::UCS4};
        }
    }

    // Counts the piece `piece` (no White_Space in it), which holds a capital
    // sigma: its letters are gathered as they are and lowercased as a whole,
    // so that the Final_Sigma rule sees only the kept letters.
    void lower_with_sigma(text::TextView piece) {
        letters_.clear();
        piece.visit([&]<class View>(View units) {
            using Unit = typename View::value_type;
            if constexpr (std::is_same_v<Unit, char>) {
                for (std::size_t i = 0; i < units.size();) {
                    const text::Utf8Char ch = text::decode_utf8(units.data() + i);
                    if (text::char_info(ch.cp).is_alphabetic()) {
                        letters_.append(units.data() + i, ch.length);
                    }
                    i += ch.length;
                }
            } else {
                for (const Unit unit : units) {
                    if (text::char_info(unit).is_alphabetic()) {
                        text::append_utf8(letters_, unit);
                    }
                }
            }
        });
        lowered_.clear();
        text::append_lowercase(lowered_, letters_);
        if (lowered_.size() >= MIN_KEYWORD_BYTES) {
            count_word(lowered_);
        }
    }

    ShortKey batch_[WordTable::BATCH];
    std::size_t batched_ = 0;
    MediumKey medium_batch_[WordTable::BATCH];
    std::size_t medium_batched_ = 0;
    std::string word_;
    std::string letters_;
    std::string lowered_;
};

}  // namespace parvenkel::kernels
