// The UTF-8 helpers: round trips over every scalar value, and the byte
// forms at each length boundary.
#include <doctest/doctest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.hpp"
#include "text/utf8.hpp"
#include "text/utf8_units.hpp"
#include "text_test_util.hpp"

namespace {

using namespace parvenkel::text;

bool is_scalar(char32_t cp) { return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF); }

}  // namespace

TEST_CASE("encode and decode every scalar value") {
    char buffer[4];
    std::size_t mismatches = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (!is_scalar(cp)) {
            continue;
        }
        const std::size_t n = encode_utf8(cp, buffer);
        const auto lead = static_cast<unsigned char>(buffer[0]);
        const Utf8Char c = decode_utf8(buffer);
        if (n != utf8_encoded_length(cp) || utf8_length(lead) != n || c.cp != cp || c.length != n ||
            utf8_previous(buffer, n) != 0) {
            ++mismatches;
        }
    }
    CHECK(mismatches == 0);
}

TEST_CASE("encodings at the length boundaries") {
    struct Encoding {
        char32_t cp;
        std::string bytes;
    };
    for (const Encoding& e :
         {Encoding{0x0000, std::string(1, '\0')}, Encoding{0x007F, "\x7F"},
          Encoding{0x0080, "\xC2\x80"}, Encoding{0x07FF, "\xDF\xBF"},
          Encoding{0x0800, "\xE0\xA0\x80"}, Encoding{0xFFFF, "\xEF\xBF\xBF"},
          Encoding{0x10000, "\xF0\x90\x80\x80"}, Encoding{0x10FFFF, "\xF4\x8F\xBF\xBF"}}) {
        CAPTURE(static_cast<unsigned>(e.cp));
        std::string out = "x";
        append_utf8(out, e.cp);
        CHECK(out == "x" + e.bytes);
    }
}

TEST_CASE("utf8_previous steps back over whole characters") {
    const std::string text = "a\xC3\xA9\xE4\xB8\x80\xF0\x9F\x98\x80z";  // a é 一 😀 z
    CHECK(utf8_previous(text.data(), text.size()) == 10);
    CHECK(utf8_previous(text.data(), 10) == 6);
    CHECK(utf8_previous(text.data(), 6) == 3);
    CHECK(utf8_previous(text.data(), 3) == 1);
    CHECK(utf8_previous(text.data(), 1) == 0);
}

TEST_CASE("is_valid_utf8 takes the shortest forms of scalar values, whole, and nothing else") {
    // Every code point up to U+13FFFF in each form of two to four bytes that
    // holds it (longer than the shortest: overlong), whole, with its last
    // byte not a continuation, cut short, and followed by a stray one.
    const auto form = [](char32_t cp, std::size_t length) {
        constexpr unsigned char LEAD[] = {0, 0, 0xC0, 0xE0, 0xF0};
        std::string out(length, '\0');
        for (std::size_t k = length - 1; k > 0; --k, cp >>= 6) {
            out[k] = static_cast<char>(0x80 | (cp & 0x3F));
        }
        out[0] = static_cast<char>(LEAD[length] | cp);
        return out;
    };
    std::size_t wrong = 0;
    for (char32_t cp = 0; cp < 0x140000; ++cp) {
        const std::size_t shortest = cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
        for (std::size_t length = std::max<std::size_t>(shortest, 2); length <= 4; ++length) {
            const std::string bytes = form(cp, length);
            const bool valid = length == shortest && is_scalar(cp);
            std::string broken = bytes;
            broken.back() = 'a';
            if (is_valid_utf8(bytes) != valid || is_valid_utf8(broken) ||
                is_valid_utf8(std::string_view(bytes).substr(0, length - 1)) ||
                is_valid_utf8("a" + bytes + "\x80")) {
                ++wrong;
            }
        }
    }
    CHECK(wrong == 0);
    for (unsigned byte = 0; byte < 256; ++byte) {
        CHECK(is_valid_utf8(std::string(1, static_cast<char>(byte))) == (byte < 0x80));
    }
}

TEST_CASE("is_valid_utf8 finds a fault anywhere in a run of ASCII, read eight bytes at a time") {
    // A stray continuation, an overlong form, a surrogate, a code point
    // past U+10FFFF and forms cut short, and well-formed characters of each
    // length, at every offset of the words of a run of ASCII and before
    // ASCII of every length up to a word and a byte.
    const char* const bad[] = {"\x80", "\xC0\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                               "\xC3", "\xE2\x82", "\xFF"};
    const char* const good[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"};
    std::size_t wrong = 0;
    for (std::size_t before = 0; before <= 24; ++before) {
        for (std::size_t after = 0; after <= 9; ++after) {
            const std::string head(before, 'a');
            const std::string tail(after, 'b');
            for (const char* piece : bad) {
                wrong += is_valid_utf8(head + piece + tail);
            }
            for (const char* piece : good) {
                wrong += !is_valid_utf8(head + piece + tail + piece);
            }
        }
    }
    CHECK(wrong == 0);
}

namespace {

// Decodes `text` into units of `Unit` with room for a guard after them,
// and checks the units and that the guard is untouched.
template <class Unit>
bool decodes_exactly(const std::u32string& cps, const std::string& text) {
    constexpr Unit GUARD = 0x5A;
    std::vector<Unit> units(cps.size() + 80, GUARD);
    decode_units(text, units.data(), cps.size());
    bool same = true;
    for (std::size_t k = 0; k < cps.size(); ++k) {
        same = same && units[k] == static_cast<Unit>(cps[k]);
    }
    return same && std::all_of(units.begin() + static_cast<std::ptrdiff_t>(cps.size()), units.end(),
                               [](Unit u) { return u == GUARD; });
}

}  // namespace

TEST_CASE(
    "utf8_shape, the checked count and decode_units give each character at every width under every "
    "kernel") {
    using parvenkel::analysis::Kernels;
    // Ranges of one UTF-8 length each (and Latin-1 beyond ASCII), so that a
    // text mixes runs of lengths as the scripts of an article do.
    struct Range {
        char32_t low, high;
    };
    constexpr Range RANGES[] = {{0x00, 0x7F},    {0x80, 0xFF},     {0x100, 0x7FF},
                                {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
    // The widest range each width may hold, and the bound utf8_shape gives.
    constexpr std::size_t WIDTH_RANGES[] = {1, 2, 5, 6};
    constexpr char32_t BOUNDS[] = {0x7F, 0xFF, 0xFFFF, 0x10FFFF};
    std::mt19937 random(20261210);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<unsigned>(n));
    };
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        std::size_t wrong = 0;
        for (int round = 0; round < 4000; ++round) {
            // One round in 200 a text past the count's 255 blocks of 64 bytes
            // (16,320), of each width in turn.
            const bool long_text = round % 200 == 0;
            const std::size_t width =
                long_text ? static_cast<std::size_t>(round / 200 % 4) : pick(4);
            std::u32string cps;
            const std::size_t length = long_text      ? 16'000 + pick(12'000)
                                       : pick(5) == 0 ? pick(20)
                                                      : pick(400);
            while (cps.size() < length) {
                // Runs of one range: long ones make blocks of one length,
                // short ones chunks that mix them.
                const Range range = RANGES[pick(WIDTH_RANGES[width])];
                const std::size_t run = 1 + (pick(2) == 0 ? pick(3) : pick(90));
                for (std::size_t k = 0; k < run && cps.size() < length; ++k) {
                    cps.push_back(range.low +
                                  static_cast<char32_t>(pick(range.high - range.low + 1)));
                }
            }
            const std::string text = testing::utf8(cps);
            const Utf8Shape shape = utf8_shape(text);
            const char32_t top = cps.empty() ? 0 : *std::max_element(cps.begin(), cps.end());
            const std::size_t bound =
                static_cast<std::size_t>(std::find_if(std::begin(BOUNDS), std::end(BOUNDS),
                                                      [&](char32_t b) { return top <= b; }) -
                                         std::begin(BOUNDS));
            wrong += shape.chars != cps.size() || shape.widest != BOUNDS[bound];
            // The shape the checked read of a file's text counts on the way.
            std::size_t chars = 0;
            unsigned char top_byte = 0;
            const bool valid = parvenkel::text::is_valid_utf8(text, chars, top_byte);
            const Utf8Shape checked = utf8_shape(chars, top_byte);
            wrong += !valid || checked.chars != cps.size() || checked.widest != BOUNDS[bound];
            if (shape.widest <= 0xFF) {
                wrong += !decodes_exactly<std::uint8_t>(cps, text);
            }
            if (shape.widest <= 0xFFFF) {
                wrong += !decodes_exactly<char16_t>(cps, text);
            }
            wrong += !decodes_exactly<char32_t>(cps, text);
        }
        CHECK(wrong == 0);
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);
}
