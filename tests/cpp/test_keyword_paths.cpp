// Every code point of the Basic Multilingual Plane through every path of
// keyword extraction: a text of two bytes a unit (and, below U+0100, of one)
// takes the block scanner and the vector runs of letters, while the same
// text in UTF-8 with a character that is not ASCII in each piece takes the
// exact path, character by character through the Unicode tables. Both must
// count the same words.
#include <doctest/doctest.h>

#include <map>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "text_test_util.hpp"

namespace {

using parvenkel::analysis::extract_keywords;
using parvenkel::text::Form;
using parvenkel::text::TextView;
using parvenkel::text::testing::show;
using parvenkel::text::testing::utf8;

std::map<std::string, std::uint64_t> counts(TextView text) {
    std::map<std::string, std::uint64_t> out;
    for (const auto& pair : extract_keywords(text, {"stop"}, UINT64_MAX).pairs) {
        out.emplace(std::string(pair.word), pair.count);
    }
    return out;
}

// The pieces that put `cp` first in a run, and after a letter of each
// kernel's script (ASCII, Latin-1, Cyrillic, Greek, CJK), each piece long
// enough for a vector of eight units.
std::u32string pieces_around(char32_t cp) {
    std::u32string text;
    for (const char32_t before : {U'\0', U'a', U'\u00E9', U'\u0436', U'\u03B2', U'\u4E2D'}) {
        for (int copy = 0; copy < 2; ++copy) {
            if (before != 0) {
                text += before;
            }
            text += cp;
            text += U"xyz";
            text += cp;
            text += U"\u00E9\u0436\u4E2D ";
        }
    }
    return text;
}

}  // namespace

TEST_CASE("every BMP code point counts alike on the fast and the exact paths") {
    constexpr char32_t GROUP = 64;
    for (char32_t from = 0; from < 0x10000; from += GROUP) {
        std::u32string text;
        for (char32_t cp = from; cp < from + GROUP; ++cp) {
            if (cp < 0xD800 || cp > 0xDFFF) {
                text += pieces_around(cp);
            }
        }
        text += std::u32string(16, U' ');
        const std::string bytes = utf8(text);
        const auto expected = counts(TextView::utf8(bytes));
        const std::u16string units(text.begin(), text.end());
        CHECK_MESSAGE(counts({units.data(), units.size(), Form::UCS2}) == expected,
                      "from U+" << std::hex << static_cast<unsigned>(from));
        if (from < 0x100) {
            // The same without the pieces that need more than one byte a
            // unit: Latin-1 alone.
            std::u32string latin;
            for (char32_t cp = from; cp < from + GROUP; ++cp) {
                for (int copy = 0; copy < 2; ++copy) {
                    latin += cp;
                    latin += U"xy\u00E9";
                    latin += cp;
                    latin += U"\u00C9ab ";
                }
            }
            latin += std::u32string(16, U' ');
            const std::basic_string<std::uint8_t> narrow(latin.begin(), latin.end());
            const std::string latin_bytes = utf8(latin);
            CHECK_MESSAGE(counts({narrow.data(), narrow.size(), Form::LATIN1}) ==
                              counts(TextView::utf8(latin_bytes)),
                          show(latin.substr(0, 16)));
        }
    }
}
