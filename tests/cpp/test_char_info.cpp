// char_info and append_lower against the per-code-point functions, which
// the Python tests compare with the UCD files on every code point.
#include <doctest/doctest.h>

#include <cstddef>
#include <string>

#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "text_test_util.hpp"

namespace {

using namespace parvenkel::text;
using testing::show;

std::u32string mapping(char32_t cp) {
    const LowerMapping m = to_lower(cp);
    return std::u32string(m.cp, m.len);
}

std::u32string info_mapping(char32_t cp, CharInfo info) {
    if (!info.lowers_to_several()) {
        return std::u32string(1, info.lower_single(cp));
    }
    std::u32string several;
    for (std::size_t k = 0; k < parvenkel::text::tables::LOWERCASE_MULTI_WIDTH; ++k) {
        if (info.lower_several()[k] != 0) {
            several.push_back(info.lower_several()[k]);
        }
    }
    return several;
}

// What append_lower writes for `cp`, written both ways.
std::string appended(char32_t cp, bool with_info) {
    char buffer[LOWER_MAX_BYTES + 8];
    char* out = buffer;
    if (with_info) {
        append_lower(out, cp, char_info(cp));
    } else {
        append_lower(out, cp);
    }
    const auto written = static_cast<std::size_t>(out - buffer);
    CHECK(written <= LOWER_MAX_BYTES);
    return std::string(buffer, written);
}

constexpr bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

}  // namespace

TEST_CASE("char_info agrees with the per-code-point functions on every code point") {
    std::size_t mismatches = 0;
    std::size_t special = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        const CharInfo info = char_info(cp);
        const std::u32string expected = mapping(cp);
        const bool longer_or_shorter =
            expected.size() != 1 || utf8_encoded_length(expected[0]) != utf8_encoded_length(cp);
        const bool ok = info.is_alphabetic() == is_alphabetic(cp) &&
                        info.is_cased() == is_cased(cp) &&
                        info.is_case_ignorable() == is_case_ignorable(cp) &&
                        info_mapping(cp, info) == expected &&
                        info.lowers_to_several() == (expected.size() > 1) &&
                        info.is_capital_sigma() == (cp == 0x03A3) &&
                        info.lower_is_special() == (longer_or_shorter || cp == 0x03A3);
        if (!ok && mismatches++ < 10) {
            FAIL_CHECK("char_info disagrees at " << show(std::u32string(1, cp)));
        }
        special += info.lower_is_special() ? 1u : 0u;
        if (!is_surrogate(cp) && cp % 7 == 0) {  // a sample: the UTF-8 checks are slower
            const std::string utf8 = testing::utf8(expected);
            if ((appended(cp, false) != utf8 || appended(cp, true) != utf8) && mismatches++ < 10) {
                FAIL_CHECK("append_lower disagrees at " << show(std::u32string(1, cp)));
            }
        }
    }
    CHECK(mismatches == 0);
    CHECK(special > 1);
}

TEST_CASE("append_lower on the code points off the plain path and near them") {
    for (char32_t cp : {U'A', U'Z', U'[', U'\u00C0', U'\u0130', U'\u023A', U'\u023E', U'\u03A3',
                        U'\u1E9E', U'\u2126', U'\u212A', U'\u2C62', U'\uA7AE', U'\U00010400',
                        U'\U0001E921', U'\U0010FFFF'}) {
        CAPTURE(show(std::u32string(1, cp)));
        const std::string expected = cp == U'\u03A3' ? testing::utf8(U"\u03C3")  // context-free
                                                     : testing::utf8(mapping(cp));
        CHECK(show(appended(cp, false)) == show(expected));
        CHECK(show(appended(cp, true)) == show(expected));
    }
    CHECK(char_info(0x0130).lowers_to_several());
    CHECK(char_info(0x03A3).lower_single(0x03A3) == 0x03C3);
}

TEST_CASE("char_info beyond the last code point: nothing, and no mapping") {
    for (char32_t cp : {char32_t{0x110000}, char32_t{0x7FFFFFFF}, char32_t{0xFFFFFFFF}}) {
        const CharInfo info = char_info(cp);
        CHECK_FALSE(info.is_alphabetic());
        CHECK_FALSE(info.is_cased());
        CHECK_FALSE(info.is_case_ignorable());
        CHECK_FALSE(info.lower_is_special());
        CHECK(info.lower_single(cp) == cp);
        CHECK_FALSE(is_alphabetic(cp));
        CHECK_FALSE(is_cased(cp));
        CHECK_FALSE(is_case_ignorable(cp));
    }
}

TEST_CASE("is_plain_letter holds only for letters without case, mapping or spacing") {
    std::size_t plain = 0;
    std::size_t wrong = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_plain_letter(cp)) {
            continue;
        }
        ++plain;
        const CharInfo info = char_info(cp);
        if (!info.is_alphabetic() || info.is_cased() || info.is_case_ignorable() ||
            info.lower_is_special() || mapping(cp) != std::u32string(1, cp) || is_white_space(cp) ||
            utf8_encoded_length(cp) != 3) {
            ++wrong;
        }
    }
    CHECK(wrong == 0);
    // Kana, the CJK ideographs from U+4E00 and the Hangul syllables.
    CHECK(plain == (0x3097 - 0x3041) + (0x30FB - 0x30A1) + (0xA015 - 0x4E00) + (0xD7A4 - 0xAC00));
    CHECK(is_plain_letter(0x4E2D));
    CHECK_FALSE(is_plain_letter(0x3000));  // ideographic space
    CHECK_FALSE(is_plain_letter(0x30FB));  // katakana middle dot
}

TEST_CASE("lower_two_byte_letter agrees with the records below U+0800") {
    std::size_t wrong = 0;
    std::size_t taken = 0;
    for (char32_t cp = 0x80; cp < 0x800; ++cp) {
        char form[8] = {};
        const std::size_t written = lower_two_byte_letter(cp, form);
        const CharInfo info = char_info(cp);
        if (written == 0) {
            wrong += info.is_alphabetic() && !info.lower_is_special() ? 1u : 0u;
            continue;
        }
        ++taken;
        if (!info.is_alphabetic() || std::string(form, written) != appended(cp, true)) {
            ++wrong;
        }
    }
    CHECK(wrong == 0);
    CHECK(taken > 1000);
}
