// White_Space and Alphabetic, and keep_letters, on the generated tables of
// unicode_tables.cpp (Alphabetic through the records of char_info.hpp).
#include "text/char_classes.hpp"

#include <cstdint>

#include "text/char_info.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

// U+00AA FEMININE ORDINAL INDICATOR is the first Alphabetic code point
// outside ASCII; below it only the ASCII letters are Alphabetic.
constexpr char32_t ALPHABETIC_TABLE_FROM = 0xAA;

// Alphabetic, the whole decision. With bit 5 cleared, a-z fall onto A-Z and
// nothing else below U+00AA does.
inline bool alphabetic(char32_t cp) noexcept {
    if (detail::is_ascii_letter(cp)) {
        return true;
    }
    if (cp < ALPHABETIC_TABLE_FROM) {
        return false;
    }
    return char_info(cp).is_alphabetic();
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
