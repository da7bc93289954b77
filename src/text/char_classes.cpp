// White_Space and Alphabetic, and keep_letters, on the generated tables of
// unicode_tables.cpp.
#include "text/char_classes.hpp"

#include <cstdint>

#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

namespace t = tables;

// U+00AA FEMININE ORDINAL INDICATOR is the first Alphabetic code point
// outside ASCII; below it only the ASCII letters are Alphabetic.
constexpr char32_t ALPHABETIC_TABLE_FROM = 0xAA;

// Alphabetic, the whole decision. With bit 5 cleared, a-z fall onto A-Z and
// nothing else below U+00AA does.
inline bool alphabetic(char32_t cp) noexcept {
    if ((cp & ~char32_t{0x20}) - U'A' < 26) {
        return true;
    }
    if (cp < ALPHABETIC_TABLE_FROM || cp >= t::ALPHABETIC_LIMIT) {
        return false;
    }
    // Two-level bitset: a chunk number per 2^ALPHABETIC_CHUNK_SHIFT code
    // points, then the bit within the chunk's words.
    constexpr std::size_t words_per_chunk = t::ALPHABETIC_WORDS_PER_CHUNK;
    static_assert((words_per_chunk & (words_per_chunk - 1)) == 0);
    const std::size_t chunk = t::ALPHABETIC_INDEX[cp >> t::ALPHABETIC_CHUNK_SHIFT];
    const std::uint64_t word =
        t::ALPHABETIC_BITS[chunk * words_per_chunk + (cp >> 6 & (words_per_chunk - 1))];
    return (word >> (cp & 63) & 1) != 0;
}

}  // namespace

bool is_white_space(char32_t cp) noexcept { return detail::is_white_space(cp); }

bool is_alphabetic(char32_t cp) noexcept { return alphabetic(cp); }

std::string keep_letters(std::string_view word) {
    // Nothing is reserved: a word without letters allocates nothing. Each
    // unbroken run of letters is appended at once, so a word that is all
    // letters is copied in one step.
    std::string letters;
    const char* data = word.data();
    const std::size_t n = word.size();
    std::size_t run = 0;  // start of the current run of letters
    std::size_t i = 0;
    while (i < n) {
        const Utf8Char c = decode_utf8(data + i);
        if (!alphabetic(c.cp)) {
            if (i > run) {
                letters.append(data + run, i - run);
            }
            run = i + c.length;
        }
        i += c.length;
    }
    if (n > run) {
        letters.append(data + run, n - run);
    }
    return letters;
}

}  // namespace parvenkel::text
