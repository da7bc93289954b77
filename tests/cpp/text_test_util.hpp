// Helpers shared by the text primitive tests: texts written as code points,
// and results shown as "U+0061 U+03C2" so that a failure reads plainly.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "text/utf8.hpp"

namespace parvenkel::text::testing {

inline std::string utf8(std::u32string_view cps) {
    std::string out;
    for (char32_t cp : cps) {
        append_utf8(out, cp);
    }
    return out;
}

inline std::u32string code_points(std::string_view text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Char c = decode_utf8(text.data() + i);
        out.push_back(c.cp);
        i += c.length;
    }
    return out;
}

inline std::string show(std::u32string_view cps) {
    std::string out;
    char buffer[16];
    for (char32_t cp : cps) {
        std::snprintf(buffer, sizeof buffer, "%sU+%04X", out.empty() ? "" : " ",
                      static_cast<unsigned>(cp));
        out += buffer;
    }
    return out;
}

// A UTF-8 string shown by its code points.
inline std::string show(std::string_view text) { return show(code_points(text)); }

}  // namespace parvenkel::text::testing
