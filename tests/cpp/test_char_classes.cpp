// is_white_space, is_alphabetic, split_words and keep_letters.
#include <doctest/doctest.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_classes.hpp"
#include "text_test_util.hpp"

namespace {

using namespace parvenkel::text;
using testing::show;
using testing::utf8;

std::vector<std::string> words_of(std::u32string_view text) {
    std::vector<std::string> words;
    split_words(utf8(text), [&words](std::string_view word) { words.push_back(show(word)); });
    return words;
}

std::vector<std::string> shown(std::initializer_list<std::u32string_view> words) {
    std::vector<std::string> out;
    for (std::u32string_view w : words) {
        out.push_back(show(w));
    }
    return out;
}

constexpr char32_t WHITE_SPACE[] = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680,
    0x2000, 0x2001, 0x2002, 0x2003, 0x2004, 0x2005, 0x2006, 0x2007, 0x2008,
    0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

}  // namespace

TEST_CASE("is_white_space holds for exactly the 25 White_Space code points") {
    std::vector<char32_t> found;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (is_white_space(cp)) {
            found.push_back(cp);
        }
    }
    CHECK(found == std::vector<char32_t>(std::begin(WHITE_SPACE), std::end(WHITE_SPACE)));
}

TEST_CASE("is_alphabetic") {
    SUBCASE("not Alphabetic") {
        for (char32_t cp :
             {U'0',          U'9',          U'_',          U'\'',     U'-',          U'@',
              U'[',          U'`',          U'{',          U'\u00A9', U'\u00B2',     U'\u00D7',
              U'\u00F7',     U'\u0660',     U'\u0301',     U'\u200B', U'\U0001F600', U'\uE000',
              U'\U000F0000', U'\U00033480', U'\U0010FFFF', U'\u0000', U'\u007F',     U'\u00A0'}) {
            CAPTURE(show(std::u32string(1, cp)));
            CHECK_FALSE(is_alphabetic(cp));
        }
    }
    SUBCASE("Alphabetic") {
        for (char32_t cp :
             {U'A',          U'Z',          U'a',          U'z',          U'\u00AA',
              U'\u00B5',     U'\u00BA',     U'\u00C0',     U'\u00FF',     U'\u02B0',
              U'\u0345',     U'\u0E31',     U'\u093E',     U'\u2160',     U'\u3007',
              U'\u24B6',     U'\u24E9',     U'\U0001F130', U'\u4E00',     U'\uFF21',
              U'\U0001D400', U'\U00010940', U'\U00011DB0', U'\U00016EA0', U'\U0001E6C0',
              U'\U000323B0', U'\U00033479'}) {
            CAPTURE(show(std::u32string(1, cp)));
            CHECK(is_alphabetic(cp));
        }
    }
    SUBCASE("the circled letters U+24B6..U+24E9, and only those around them") {
        for (char32_t cp = 0x24B0; cp <= 0x24F0; ++cp) {
            CAPTURE(show(std::u32string(1, cp)));
            CHECK(is_alphabetic(cp) == (cp >= 0x24B6 && cp <= 0x24E9));
        }
    }
}

TEST_CASE("split_words") {
    struct Split {
        std::u32string_view text;
        std::initializer_list<std::u32string_view> words;
    };
    for (const Split& s : std::initializer_list<Split>{
             {U"", {}},
             {U" ", {}},
             {U" \t\n\r\v\f ", {}},
             {U"\u3000\u00A0", {}},
             {U"word", {U"word"}},
             {U"  lead", {U"lead"}},
             {U"trail  ", {U"trail"}},
             {U"one  \t\ntwo", {U"one", U"two"}},
             {U" a b  c ", {U"a", U"b", U"c"}},
             // Only White_Space separates.
             {U"a\u200Bb", {U"a\u200Bb"}},
             {U"a\u001Cb\u001Dc\u001Ed\u001Fe", {U"a\u001Cb\u001Dc\u001Ed\u001Fe"}},
             {U"a\u180Eb\u2060c\uFEFFd", {U"a\u180Eb\u2060c\uFEFFd"}},
             {U"don't-stop,1.5!", {U"don't-stop,1.5!"}},
             // Non-ASCII White_Space splits like a space.
             {U"a\u0085b\u00A0c\u1680d\u2007e\u202Ff\u3000g",
              {U"a", U"b", U"c", U"d", U"e", U"f", U"g"}},
             {U"\u2028\u0391\u03A3\u2029\U00010400\u205F", {U"\u0391\u03A3", U"\U00010400"}},
         }) {
        INFO("text: ", show(s.text));
        CHECK(words_of(s.text) == shown(s.words));
    }
}

TEST_CASE("split_words hands out views into the text, in order") {
    const std::string text = "alpha beta  gamma";
    std::vector<std::string_view> words;
    split_words(text, [&words](std::string_view w) { words.push_back(w); });
    REQUIRE(words.size() == 3);
    CHECK(words[0].data() == text.data());
    CHECK(words[1].data() == text.data() + 6);
    CHECK(words[2].data() == text.data() + 12);
    CHECK(words[2] == "gamma");
}

TEST_CASE("keep_letters") {
    struct Keep {
        std::u32string_view word;
        std::u32string_view letters;
    };
    for (const Keep& k : std::initializer_list<Keep>{
             {U"", U""},
             {U"word", U"word"},
             {U"a\u200Bb", U"ab"},
             {U"e\u0301", U"e"},      // the combining accent is not Alphabetic
             {U"\u00E9", U"\u00E9"},  // the precomposed letter is
             {U"don't", U"dont"},
             {U"well-known", U"wellknown"},
             {U"12345", U""},
             {U"--x--", U"x"},
             {U"\u0915\u093E", U"\u0915\u093E"},  // a spacing vowel sign stays
             {U"\U0001F600a\U0001F600", U"a"},
             {U"\u00AAb\u00B2c\u00BA", U"\u00AAbc\u00BA"},
             {U"\u4E00\u3001\u4E8C", U"\u4E00\u4E8C"},
         }) {
        INFO("word: ", show(k.word));
        CHECK(show(keep_letters(utf8(k.word))) == show(k.letters));
    }
}

TEST_CASE("keep_letters allocates nothing for a word without letters") {
    const std::size_t empty_capacity = std::string().capacity();
    for (std::string_view word : {"", "1234567890123456789012345678901234567890", "--''--",
                                  "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80\xF0\x9F\x98\x80"
                                  "\xF0\x9F\x98\x80"}) {
        const std::string letters = keep_letters(word);
        CHECK(letters.empty());
        CHECK(letters.capacity() == empty_capacity);
    }
}
