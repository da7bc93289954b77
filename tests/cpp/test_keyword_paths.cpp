// The paths of keyword extraction against each other and against a plain
// model, under the kernels of each instruction set:
//
//   * every code point of the Basic Multilingual Plane: a text of two bytes
//     a unit (and, below U+0100, of one) takes the block scanner and the
//     vector runs of letters, while the same text in UTF-8, with a character
//     that is not ASCII in each piece, takes the exact path, character by
//     character through the Unicode tables;
//   * long random texts in each form, against split_words, keep_letters,
//     to_lowercase and a std::unordered_map.
#include <doctest/doctest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "analysis/analysis.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"
#include "text_test_util.hpp"

namespace {

using parvenkel::analysis::extract_keywords;
using parvenkel::analysis::Kernels;
using parvenkel::text::Form;
using parvenkel::text::TextView;
using parvenkel::text::testing::show;
using parvenkel::text::testing::utf8;
using Counts = std::map<std::string, std::uint64_t>;

// Runs `check` with the kernels of each instruction set (those the
// processor lacks fall back to the best it has).
template <class F>
void for_each_kernel(F&& check) {
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        check();
    }
}

Counts counts(TextView text, const std::vector<std::string>& stop_words = {"stop"}) {
    Counts out;
    for (const auto& pair : extract_keywords(text, stop_words, UINT64_MAX).pairs) {
        out.emplace(std::string(pair.word), pair.count);
    }
    return out;
}

// The pieces that put `cp` first in a run, and after a letter of each
// kernel's script (ASCII, Latin-1, Cyrillic, Greek, CJK), each piece long
// enough for a vector of eight units. With `cjk` false, the pieces hold
// nothing the block scanner cannot take itself but `cp`.
std::u32string pieces_around(char32_t cp, bool cjk = true) {
    std::u32string text;
    for (const char32_t before : {U'\0', U'a', U'\u00E9', U'\u0436', U'\u03B2', U'\u4E2D'}) {
        if (!cjk && before == U'\u4E2D') {
            continue;
        }
        for (int copy = 0; copy < 2; ++copy) {
            if (before != 0) {
                text += before;
            }
            text += cp;
            text += U"xyz";
            text += cp;
            text += cjk ? U"\u00E9\u0436\u4E2D " : U"\u00E9\u0436 ";
        }
    }
    return text;
}

void check_every_bmp_code_point() {
    constexpr char32_t GROUP = 64;
    for (char32_t from = 0; from < 0x10000; from += GROUP) {
        std::u32string text;
        for (char32_t cp = from; cp < from + GROUP; ++cp) {
            if (cp < 0xD800 || cp > 0xDFFF) {
                text += pieces_around(cp);
                if (cp < 0x500) {
                    text += pieces_around(cp, false);
                }
            }
        }
        text += std::u32string(16, U' ');
        const std::string bytes = utf8(text);
        const Counts expected = counts(TextView::utf8(bytes));
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

// The model: the text primitives, one step per rule, and a plain map.
Counts model_counts(const std::string& text, const std::vector<std::string>& stop_words) {
    const std::unordered_set<std::string> stop(stop_words.begin(), stop_words.end());
    std::unordered_map<std::string, std::uint64_t> found;
    parvenkel::text::split_words(text, [&](std::string_view piece) {
        const std::string word =
            parvenkel::text::to_lowercase(parvenkel::text::keep_letters(piece));
        if (word.size() >= parvenkel::analysis::MIN_KEYWORD_BYTES && stop.count(word) == 0) {
            ++found[word];
        }
    });
    return {found.begin(), found.end()};
}

void check_random_texts() {
    // Pieces of every kind the scanner tells apart, and every separator.
    std::vector<std::u32string> pieces = {
        U"a", U"of", U"the", U"The,", U"co-op", U"x9y", U"word.", U"ABCDEFGHIJKLMNOP",
        U"abcdefghijklmnopq", U"abcdefghijklmnopqrstuvwxyzabcdef",
        U"abcdefghijklmnopqrstuvwxyzabcdefg", U"\u00e9t\u00e9", U"NA\u00cfVE",
        U"\u00ab\u00e9\u00bb", U"\u0416\u0443\u043a\u0438",
        U"\u0401\u0436\u0438\u043a\u0438\u0436\u0438\u043a\u0438", U"\u0391\u03a3", U"a\u03a3",
        U"\u039f\u0394\u039f\u03a3-\u0391", U"\u4e2d\u6587\u3001\u6f22\u5b57\u3002abc",
        U"\u30ab\u30fc\u30c9", U"\u0130", U"\u212a\u212a", U"don\u2019t", U"\u00d7\u00f7", U"2024",
        U"\u200bzw",
        // Last: only in some texts, so that the others have a form of two
        // bytes a unit.
        U"\U00010400\U00010428"};
    // Pieces longer than a block, which the masks take across blocks (and
    // chunks): CJK with ASCII, punctuation and letters of two bytes, and
    // ASCII alone.
    std::u32string cjk_sentence;
    std::u32string ascii_word;
    for (int k = 0; k < 9; ++k) {
        cjk_sentence += U"\u6f22\u5b57\u3068Debian\u3001\u30ab\u30fc\u30c9\uac00";
        ascii_word += U"Abcdefgh";
    }
    pieces.insert(pieces.end() - 1, {cjk_sentence + U"\u00e9", cjk_sentence, ascii_word});
    const std::u32string mix =
        U"abcxyzABXZ'-9.\u00e9\u00c9\u00df\u00ff\u00d7\u0436\u0416\u0401\u03b1\u0391\u03a3\u03c2"
        U"\u4e2d\u30fc\u2019\u00ab";
    const std::u32string cjk_mix =
        U"abcXYZ'-9.\u4e2d\u6587\u3042\u30fc\u3005\uac00\u3001\u300c\u2019\uff08";
    const std::u32string rare = U"\u03a3\u0101\u00e9\u0416\u00ab\u3000";
    const std::u32string spaces =
        U"\t\n\v\f\r \u0085\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000";
    const std::vector<std::string> stop_words = {"the", "abcdefghijklmnopq",
                                                 "\u0436\u0443\u043a\u0438",
                                                 "abcdefghijklmnopqrstuvwxyzabcdefg"};
    std::mt19937_64 rng(2024);
    for (int round = 0; round < 40; ++round) {
        std::u32string text(rng() % 130, U'x');
        text += U' ';
        const std::size_t count = 200 + rng() % 2000;
        for (std::size_t k = 0; k < count; ++k) {
            if (k % 2 == 0 && round % 4 == 2) {
                // CJK, ASCII and what words drop, up to a block and more
                // long, now and then with one letter the masks do not know.
                const std::size_t length = 1 + rng() % 70;
                std::u32string piece;
                for (std::size_t i = 0; i < length; ++i) {
                    piece += cjk_mix[rng() % cjk_mix.size()];
                }
                if (rng() % 4 == 0) {
                    piece[rng() % length] = rare[rng() % rare.size()];
                }
                text += piece;
            } else if (k % 2 == 0) {
                // A piece of 1-24 characters drawn from a mix, so that each
                // kind of letter comes at every position of a piece.
                const std::size_t length = 1 + rng() % 24;
                for (std::size_t i = 0; i < length; ++i) {
                    text += mix[rng() % mix.size()];
                }
            } else {
                text += pieces[rng() % (pieces.size() - (round % 3 == 0 ? 0 : 1))];
            }
            text += spaces[rng() % (round % 2 == 0 ? 6 : spaces.size())];
        }
        const std::string bytes = utf8(text);
        const Counts expected = model_counts(bytes, stop_words);
        CHECK(counts(TextView::utf8(bytes), stop_words) == expected);
        CHECK(counts({text.data(), text.size(), Form::UCS4}, stop_words) == expected);
        if (std::all_of(text.begin(), text.end(), [](char32_t cp) { return cp < 0x10000; })) {
            const std::u16string units(text.begin(), text.end());
            CHECK(counts({units.data(), units.size(), Form::UCS2}, stop_words) == expected);
        }
    }
}

}  // namespace

TEST_CASE("every BMP code point counts alike on the fast and the exact paths") {
    for_each_kernel([] { check_every_bmp_code_point(); });
}

TEST_CASE("long random texts of each form count as the plain model does") {
    for_each_kernel([] { check_random_texts(); });
}
