// to_lowercase, to_lower, map_uppercase_sigma and the two case properties.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "kernels/sse2/text_kernels.hpp"
#include "text/ascii_lower.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "text_test_util.hpp"

namespace {

using namespace parvenkel::text;
using testing::show;
using testing::utf8;

std::string lower(std::u32string_view text) { return show(to_lowercase(utf8(text))); }

std::u32string mapping(char32_t cp) {
    const LowerMapping m = to_lower(cp);
    return std::u32string(m.cp, m.len);
}

struct Case {
    std::u32string_view input;
    std::u32string_view expected;
};

void check_cases(std::initializer_list<Case> cases) {
    for (const Case& c : cases) {
        INFO("input: ", show(c.input));
        CHECK(lower(c.input) == show(c.expected));
    }
}

}  // namespace

TEST_CASE("the empty text yields the empty text and appends nothing") {
    CHECK(to_lowercase("").empty());
    std::string out = "kept";
    const std::size_t capacity = out.capacity();
    append_lowercase(out, "");
    CHECK(out == "kept");
    CHECK(out.capacity() == capacity);
}

TEST_CASE("ASCII: only A-Z change") {
    std::string all;
    std::string expected;
    for (int b = 0; b < 0x80; ++b) {
        all.push_back(static_cast<char>(b));
        expected.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + 0x20 : b));
    }
    // Long enough for whole 16-byte blocks, then a tail, at every alignment.
    for (std::size_t start = 0; start < 16; ++start) {
        const std::string text = all.substr(start) + all;
        CHECK(to_lowercase(text) == expected.substr(start) + expected);
    }
    CHECK(to_lowercase("Hello, World! 123 _-~ ZAza") == "hello, world! 123 _-~ zaza");
}

TEST_CASE("seams between the 16-byte blocks, the byte-wise run and the character path") {
    for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 48u}) {
        CAPTURE(n);
        const std::u32string capitals(n, U'Q');
        const std::u32string smalls(n, U'q');
        check_cases({
            {capitals + U"\u00C0", smalls + U"\u00E0"},
            {capitals + U"\u0130", smalls + U"i\u0307"},
            {capitals + U"\u0130" + capitals, smalls + U"i\u0307" + smalls},
            {capitals + U"\u00C0Z\u0130", smalls + U"\u00E0zi\u0307"},
            {capitals + U"\U00010400" + capitals, smalls + U"\U00010428" + smalls},
        });
    }
    // Sixteen capitals exactly fill one block.
    CHECK(to_lowercase(utf8(U"ABCDEFGHIJKLMNOP\u00C0")) == utf8(U"abcdefghijklmnop\u00E0"));
}

TEST_CASE("single code points of note") {
    check_cases({
        {U"\u0130", U"i\u0307"},                         // 2 bytes in, 3 out
        {U"I", U"i"},                                    // never U+0131
        {U"\u0131", U"\u0131"},                          // dotless i stays
        {U"\u00DF", U"\u00DF"},                          // sharp s stays
        {U"\u212A", U"k"},                               // KELVIN SIGN
        {U"\u2126", U"\u03C9"},                          // OHM SIGN
        {U"\u1E9E", U"\u00DF"},                          // CAPITAL SHARP S
        {U"\u01C4\u01C5\u01C6", U"\u01C6\u01C6\u01C6"},  // DZ with caron, all three forms
        {U"\u023A\u023E", U"\u2C65\u2C66"},              // 2 bytes in, 3 out each
        {U"\u2C62\uA7AE", U"\u026B\u026A"},              // 3 bytes in, 2 out each
        {U"\u00BF\u00C0\u00D6\u00D7\u00D8\u00DE", U"\u00BF\u00E0\u00F6\u00D7\u00F8\u00FE"},
        {U"\u0100\u0101\u012E\u012F", U"\u0101\u0101\u012F\u012F"},  // alternating pairs
        {U"\u0410\u042F\u0400", U"\u0430\u044F\u0450"},
        {U"\U00010400\U00010427", U"\U00010428\U0001044F"},
        {U"\U0001E900\U0001E921", U"\U0001E922\U0001E943"},
        {U"\uA7CE", U"\uA7CF"},  // new in 17.0.0
    });
}

TEST_CASE("code points without a mapping are unchanged") {
    for (char32_t cp : {U'\u0080', U'\u00A0', U'\u00BF', U'\u0378', U'\uE000', U'\uFFFF', U'\u4E00',
                        U'\U0001F600', U'\U0001FFFF', U'\U00020000', U'\U00033479', U'\U000F0000',
                        U'\U0010FFFF', U'a', U'0', U'\0'}) {
        CAPTURE(show(std::u32string(1, cp)));
        CHECK(mapping(cp) == std::u32string(1, cp));
        CHECK(lower(std::u32string(1, cp)) == show(std::u32string(1, cp)));
    }
}

TEST_CASE("characters new in 17.0.0: U+16EA0..U+16EB8 map to U+16EBB..U+16ED3") {
    for (char32_t cp = 0x16EA0; cp <= 0x16EB8; ++cp) {
        CHECK(mapping(cp) == std::u32string(1, cp + 0x1B));
    }
    CHECK(mapping(0x16E9F) == U"\U00016E9F");
    CHECK(mapping(0x16EB9) == U"\U00016EB9");
}

TEST_CASE("to_lower gives every code point of a multi-character mapping") {
    const LowerMapping m = to_lower(0x0130);
    REQUIRE(m.len == 2);
    CHECK(m.cp[0] == 0x0069);
    CHECK(m.cp[1] == 0x0307);
}

TEST_CASE("final sigma") {
    check_cases({
        {U"\u03A3", U"\u03C3"},
        {U"\u0391\u03A3", U"\u03B1\u03C2"},
        {U"\u03A3\u03A3", U"\u03C3\u03C2"},  // the first sees the second, uppercase Cased
        {U"\u03A3\u0391", U"\u03C3\u03B1"},
        {U"\u03A3\u03A3\u03A3", U"\u03C3\u03C3\u03C2"},
        {U"\u039F\u0394\u039F\u03A3 \u039F\u0394\u039F\u03A3",
         U"\u03BF\u03B4\u03BF\u03C2 \u03BF\u03B4\u03BF\u03C2"},
        // Case_Ignorable characters are skipped on both sides.
        {U"A.\u03A3", U"a.\u03C2"},
        {U"A'\u03A3", U"a'\u03C2"},
        {U"A\u03A3.", U"a\u03C2."},
        {U"A\u03A3.b", U"a\u03C3.b"},
        {U"A\u03A3\u0301", U"a\u03C2\u0301"},
        {U"A\u0301\u00AD\u03A3\u200B'B", U"a\u0301\u00AD\u03C3\u200B'b"},
        // Neither Cased nor Case_Ignorable before: not final.
        {U"1\u03A3", U"1\u03C3"},
        {U" \u03A3", U" \u03C3"},
        {U"A \u03A3", U"a \u03C3"},
        // Cased and Case_Ignorable at once: only skipped.
        {U"\u02B0\u03A3", U"\u02B0\u03C3"},
        {U"A\u03A3\u02B0", U"a\u03C2\u02B0"},
        {U"A\u0345\u03A3", U"a\u0345\u03C2"},
        {U"A\u03A3\u0345B", U"a\u03C3\u0345b"},
        // U+0295 is not Cased in 17.0.0.
        {U"\u0295\u03A3", U"\u0295\u03C3"},
        {U"A\u03A3\u0295", U"a\u03C2\u0295"},
        // Titlecase and supplementary Cased characters count.
        {U"\u01C5\u03A3", U"\u01C6\u03C2"},
        {U"\U00010400\u03A3\U00010400", U"\U00010428\u03C3\U00010428"},
        {U"\U00010400\U000E0001\u03A3", U"\U00010428\U000E0001\u03C2"},
        // The walks read the input: U+0130 before the sigma is Cased there,
        // whatever the output holds by then.
        {U"\u0130\u03A3", U"i\u0307\u03C2"},
        // A sigma after the ASCII prefix looks back into it.
        {U"ABCDEFGHIJKLMNOPQ\u03A3", U"abcdefghijklmnopq\u03C2"},
        {U"0123456789ABCDEF \u03A3", U"0123456789abcdef \u03C3"},
    });
}

TEST_CASE("map_uppercase_sigma looks at the whole text") {
    const std::string sigma = utf8(U"\u03A3");
    CHECK(map_uppercase_sigma(sigma, 0) == 0x03C3);
    const std::string word = utf8(U"\U00010400\u03A3");
    CHECK(map_uppercase_sigma(word, 4) == 0x03C2);
    const std::string two = utf8(U"\u03A3\u03A3x");
    CHECK(map_uppercase_sigma(two, 0) == 0x03C3);
    CHECK(map_uppercase_sigma(two, 2) == 0x03C3);
    const std::string text = utf8(U"a\u0301\u03A3\u0301.");
    CHECK(map_uppercase_sigma(text, 3) == 0x03C2);
}

TEST_CASE("append_lowercase appends after what the string holds") {
    std::string out = utf8(U"\u03A3X");
    append_lowercase(out, utf8(U"\u03A3"));
    CHECK(show(out) == show(U"\u03A3X\u03C3"));  // the held X is not context

    std::string growing = "prefix:";
    append_lowercase(growing, utf8(U"ABC\u0130\u0130\u023A"));
    CHECK(show(growing) == show(U"prefix:abci\u0307i\u0307\u2C65"));
}

TEST_CASE("results longer than the input") {
    // Every U+0130 and U+023A takes one byte more lowercased.
    std::u32string text;
    std::u32string expected;
    for (int i = 0; i < 1000; ++i) {
        text += i % 3 == 0 ? U"\u0130" : i % 3 == 1 ? U"\u023A" : U"Z";
        expected += i % 3 == 0 ? U"i\u0307" : i % 3 == 1 ? U"\u2C65" : U"z";
    }
    const std::string result = to_lowercase(utf8(text));
    CHECK(result == utf8(expected));
    CHECK(result.size() > utf8(text).size());
}

TEST_CASE("is_cased and is_case_ignorable around the fast answers") {
    struct Property {
        char32_t cp;
        bool cased;
        bool ignorable;
    };
    for (const Property& p : std::initializer_list<Property>{
             {U'A', true, false},          {U'Z', true, false},
             {U'a', true, false},          {U'z', true, false},
             {U'@', false, false},         {U'[', false, false},
             {U'`', false, true},          {U'{', false, false},
             {U'\'', false, true},         {U'.', false, true},
             {U':', false, true},          {U'^', false, true},
             {U'-', false, false},         {U'\u00A7', false, false},
             {U'\u00A8', false, true},     {U'\u00A9', false, false},
             {U'\u00AA', true, false},     {U'\u00AD', false, true},
             {U'\u00B5', true, false},     {U'\u01C5', true, false},
             {U'\u02B0', true, true},      {U'\u0345', true, true},
             {U'\u0295', false, false},    {U'\u0301', false, true},
             {U'\u2126', true, false},     {U'\u4E00', false, false},
             {U'\U0001F130', true, false}, {U'\U000E0001', false, true},
             {U'\U000E01EF', false, true}, {U'\U000E01F0', false, false},
             {U'\U0010FFFF', false, false}}) {
        CAPTURE(show(std::u32string(1, p.cp)));
        CHECK(is_cased(p.cp) == p.cased);
        CHECK(is_case_ignorable(p.cp) == p.ignorable);
    }
}

TEST_CASE("the ASCII kernels agree with each other and with the byte rule") {
    using namespace parvenkel::text::detail;
    char src[64];
    char portable[64];
    for (std::size_t n = 0; n <= sizeof src; ++n) {
        for (std::size_t stop = 0; stop <= n; ++stop) {
            for (std::size_t i = 0; i < n; ++i) {
                src[i] = static_cast<char>((i * 37 + n + stop) % 0x80);
            }
            if (stop < n) {
                src[stop] = static_cast<char>(0x80 + stop);  // ends the ASCII run
            }
            std::memset(portable, 0, sizeof portable);
            CAPTURE(n);
            CAPTURE(stop);
            const std::size_t length = lower_ascii_prefix_portable(src, n, portable);
            CHECK(length == stop);
            for (std::size_t i = 0; i < length; ++i) {
                CHECK(portable[i] == lower_ascii(src[i]));
            }
#if defined(PARVENKEL_SSE2)
            char simd[64];
            std::memset(simd, 0, sizeof simd);
            CHECK(parvenkel::kernels::sse2::lower_ascii_prefix(src, n, simd) == stop);
            CHECK(std::memcmp(simd, portable, sizeof simd) == 0);
#endif
        }
    }
    for (int b = 0; b < 0x80; ++b) {
        const auto c = static_cast<char>(b);
        CHECK(lower_ascii(c) == (b >= 'A' && b <= 'Z' ? static_cast<char>(b + 32) : c));
    }
}

namespace {

// The lowercase form of `text` by the rules, one character at a time: the
// sigma rule for U+03A3, to_lower for every other character.
std::string lower_by_characters(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text.data() + i);
        if (c.cp == 0x03A3) {
            append_utf8(out, map_uppercase_sigma(text, i));
        } else {
            const LowerMapping m = to_lower(c.cp);
            for (std::size_t k = 0; k < m.len; ++k) {
                append_utf8(out, m.cp[k]);
            }
        }
        i += c.length;
    }
    return out;
}

// Characters of every UTF-8 length, with and without a mapping, the ones
// off the plain path (other lengths, several code points, the sigma) and
// the neighbours of the fast answers' limits.
constexpr char32_t MIXED[] = {
    U'A',          U'Z',          U'a',          U' ',          U'.',          U'\'',
    U'0',          U'\u007F',     U'\u0080',     U'\u00BF',     U'\u00C0',     U'\u00D7',
    U'\u00DE',     U'\u00FF',     U'\u0130',     U'\u0131',     U'\u023A',     U'\u023E',
    U'\u0295',     U'\u02B0',     U'\u0301',     U'\u0345',     U'\u0391',     U'\u03A3',
    U'\u03C3',     U'\u0410',     U'\u042F',     U'\u0430',     U'\u07FF',     U'\u0800',
    U'\u1E9E',     U'\u2126',     U'\u212A',     U'\u2C62',     U'\u3000',     U'\u4E00',
    U'\uA7AE',     U'\uFFFF',     U'\U00010400', U'\U0001E921', U'\U0001F600', U'\U00020000',
    U'\U000E0001', U'\U0010FFFF',
};

// Mostly Cyrillic, Greek or ASCII letters, so that runs long enough for
// the blocks of 16 bytes form, with the characters of MIXED in between.
std::u32string random_text(std::uint64_t& state, std::size_t length) {
    std::u32string text;
    for (std::size_t k = 0; k < length; ++k) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const auto r = static_cast<std::uint32_t>(state >> 33);
        switch (r % 8) {
            case 0:
            case 1:
                text.push_back(U'\u0410' + r / 8 % 64);  // А-я
                break;
            case 2:
                text.push_back(U'\u0391' + r / 8 % 57);  // Α-ω, Σ among them
                break;
            case 3:
            case 4:
                text.push_back(U'A' + r / 8 % 58);  // A-z and [\]^_`
                break;
            case 5:
                text.push_back(U' ');
                break;
            default:
                text.push_back(MIXED[r / 8 % std::size(MIXED)]);
        }
    }
    return text;
}

}  // namespace

TEST_CASE("to_lowercase and append_lowercase agree with the rules taken one character at a time") {
    std::uint64_t state = 2024;
    for (int round = 0; round < 20000; ++round) {
        const std::string text = utf8(random_text(state, static_cast<std::size_t>(round % 90)));
        const std::string expected = lower_by_characters(text);
        if (to_lowercase(text) != expected) {
            FAIL_CHECK("to_lowercase of " << show(text) << ": " << show(to_lowercase(text))
                                          << ", expected " << show(expected));
            break;
        }
        std::string appended = utf8(U"\u03A3\u0130");
        append_lowercase(appended, text);
        if (appended != utf8(U"\u03A3\u0130") + expected) {
            FAIL_CHECK("append_lowercase of " << show(text));
            break;
        }
    }
}

TEST_CASE("each character off the plain path at every offset of a run") {
    const std::u32string fillers[] = {U"\u0416", U"Q", U"\u0416q", U"\u03A9 ", U"\u00C9"};
    for (char32_t special :
         {U'\u0130', U'\u023A', U'\u03A3', U'\u212A', U'\u1E9E', U'\u4E00', U'\U00010400'}) {
        for (const std::u32string& filler : fillers) {
            for (std::size_t before = 0; before < 40; ++before) {
                std::u32string text;
                while (text.size() < before) {
                    text += filler;
                }
                text.push_back(special);
                for (std::size_t after = 0; after < 20; ++after) {
                    text += filler;
                }
                const std::string input = utf8(text);
                CAPTURE(show(text));
                CHECK(show(to_lowercase(input)) == show(lower_by_characters(input)));
            }
        }
    }
}

TEST_CASE("lowercasing a text range by range gives its lowercase form") {
    // Every cut between characters, on a text whose special characters sit
    // near the cuts: sigmas whose form depends on letters across the cut,
    // U+0130 (which grows) and the Kelvin sign (which shrinks).
    const std::string text = utf8(
        U"ΑΣ ΟΔΟΣ.Α ΣΑ\u0130\u0130x\u212A Ωmega ΣΣ ABCDEFGHIJKLMNOPQRSTUVWXYZ \u03A3\u0301 "
        U"\u0130abcdefghijklmnopqrstuvwxyz ΑΣ");
    const std::string whole = to_lowercase(text);
    std::vector<std::size_t> boundaries;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            boundaries.push_back(i);
        }
    }
    for (const std::size_t cut : boundaries) {
        for (const std::size_t second_cut : {cut, boundaries[boundaries.size() / 2], text.size()}) {
            const std::size_t a = std::min(cut, second_cut);
            const std::size_t b = std::max(cut, second_cut);
            std::string pieces = "prefix:";
            append_lowercase(pieces, text, 0, a);
            append_lowercase(pieces, text, a, b);
            append_lowercase(pieces, text, b, text.size());
            CHECK(pieces == "prefix:" + whole);
        }
    }
}
