// The UTF-8 helpers: round trips over every scalar value, and the byte
// forms at each length boundary.
#include <doctest/doctest.h>

#include <string>

#include "text/utf8.hpp"

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
