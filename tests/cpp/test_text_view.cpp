// Fixed-width texts: conversion to UTF-8, the surrogate scan, the inverted
// lowercase mapping and lowercasing one code unit in its text.
#include <doctest/doctest.h>

#include <algorithm>
#include <string>

#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/utf8.hpp"

namespace {

using namespace parvenkel::text;

bool is_scalar(char32_t cp) { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

}  // namespace

TEST_CASE("every scalar value converts to its UTF-8 form from each width that holds it") {
    std::u32string ucs4;
    std::u16string ucs2;
    std::string expected_all;
    std::string expected_bmp;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_scalar(cp)) {
            continue;
        }
        ucs4.push_back(cp);
        append_utf8(expected_all, cp);
        if (cp < 0x10000) {
            ucs2.push_back(static_cast<char16_t>(cp));
            append_utf8(expected_bmp, cp);
        }
    }
    CHECK(to_utf8({ucs4.data(), ucs4.size(), Form::UCS4}) == expected_all);
    CHECK(to_utf8({ucs2.data(), ucs2.size(), Form::UCS2}) == expected_bmp);
    std::basic_string<std::uint8_t> latin1;
    std::string expected_latin1;
    for (char32_t cp = 0; cp < 0x100; ++cp) {
        latin1.push_back(static_cast<std::uint8_t>(cp));
        append_utf8(expected_latin1, cp);
    }
    // Runs of ASCII go a block at a time: start them at every offset.
    for (std::size_t shift = 0; shift < 20; ++shift) {
        const std::basic_string<std::uint8_t> text = latin1.substr(shift) + latin1;
        std::string expected;
        for (const std::uint8_t unit : text) {
            append_utf8(expected, unit);
        }
        CHECK(to_utf8({text.data(), text.size(), Form::LATIN1}) == expected);
    }
    std::string out = "kept";
    append_utf8(out, {ucs2.data(), ucs2.size(), Form::UCS2}, 0x41, 0x44);
    CHECK(out == "keptABC");
}

TEST_CASE("find_surrogate finds the first surrogate at any offset, and none in scalar values") {
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 100u}) {
        for (std::size_t at = 0; at <= length; ++at) {
            for (char32_t surrogate :
                 {char32_t{0xD800}, char32_t{0xDBFF}, char32_t{0xDC00}, char32_t{0xDFFF}}) {
                std::u16string ucs2(length, u'\u0436');
                std::u32string ucs4(length, U'\U00010428');
                if (at < length) {
                    ucs2[at] = static_cast<char16_t>(surrogate);
                    ucs4[at] = surrogate;
                    ucs2.push_back(static_cast<char16_t>(surrogate));  // a later one
                    ucs4.push_back(surrogate);
                }
                CHECK(find_surrogate(ucs2) == (at < length ? at : length));
                CHECK(find_surrogate(ucs4) == (at < length ? at : length));
            }
        }
    }
    std::u16string neighbours = u"\uD7FF\uE000";
    CHECK(find_surrogate(neighbours) == 2);
    std::u32string far = U"\U0001D800\U0010DC00";
    CHECK(find_surrogate(far) == 2);
}

TEST_CASE("lowercase_sources lists exactly the code points that lowercase to a code point") {
    std::size_t wrong = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_scalar(cp)) {
            continue;
        }
        const LowerMapping lower = to_lower(cp);
        if (lower.len != 1) {
            continue;
        }
        char32_t sources[LOWER_SOURCES_MAX];
        const std::size_t count = lowercase_sources(lower.cp[0], sources);
        if (std::find(sources, sources + count, cp) == sources + count) {
            ++wrong;  // a source left out
        }
        // And every source listed lowercases to it.
        const std::size_t own = lowercase_sources(cp, sources);
        for (std::size_t k = 0; k < own; ++k) {
            const LowerMapping back = to_lower(sources[k]);
            const bool sigma = sources[k] == 0x03A3 && (cp == 0x03C2 || cp == 0x03C3);
            if (!sigma && (back.len != 1 || back.cp[0] != cp) && to_lower(cp).cp[0] == cp) {
                ++wrong;
            }
        }
    }
    CHECK(wrong == 0);
    char32_t sources[LOWER_SOURCES_MAX];
    CHECK(lowercase_sources(U'k', sources) == 3);
    CHECK(std::u32string(sources, 3) == U"kK\u212A");
    CHECK(lowercase_sources(0x03C2, sources) == 2);
    CHECK(lowercase_sources(0x1E943, sources) == 2);
    CHECK(sources[1] == 0x1E921);
}

TEST_CASE("lower_one agrees with to_lowercase on fixed-width texts, sigma included") {
    const std::u32string samples[] = {
        U"\u0391\u03A3",
        U"\u0391\u03A3 x",
        U"\u03A3",
        U"\u0391\u03A3\u0301",
        U"\u0391\u03A3\u0301\u0392",
        U"A'\u03A3",
        U"\u212A\u212B\u2126\U00010400\u1E9E\u01C5",
    };
    for (const std::u32string& sample : samples) {
        std::string expected = to_lowercase(to_utf8({sample.data(), sample.size(), Form::UCS4}));
        std::string actual;
        for (std::size_t i = 0; i < sample.size(); ++i) {
            append_utf8(actual, lower_one(std::u32string_view(sample), i));
        }
        CHECK(actual == expected);
    }
    const std::u32string dotted = U"\u0130";
    CHECK(lower_one(std::u32string_view(dotted), 0) == 0);
}
