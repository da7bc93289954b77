#include "text/text_view.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "kernels/text_kernels.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

constexpr bool is_surrogate(char32_t unit) noexcept { return (unit & 0xFFFFF800) == 0xD800; }

template <class Unit>
std::size_t find_surrogate_scalar(std::basic_string_view<Unit> units, std::size_t from) noexcept {
    for (std::size_t i = from; i < units.size(); ++i) {
        if (is_surrogate(units[i])) {
            return i;
        }
    }
    return units.size();
}

}  // namespace

std::size_t find_surrogate(std::u16string_view units) noexcept {
    return find_surrogate_scalar(units, kernels::surrogate_free_prefix(units));
}

std::size_t find_surrogate(std::u32string_view units) noexcept {
    return find_surrogate_scalar(units, kernels::surrogate_free_prefix(units));
}
std::size_t write_utf8(TextView text, std::size_t begin, std::size_t end, char* out) noexcept {
    if (begin >= end) {
        return 0;
    }
    return text.visit([&]<class View>(View units) -> std::size_t {
        using Unit = typename View::value_type;
        if constexpr (std::is_same_v<Unit, char>) {
            std::memcpy(out, units.data() + begin, end - begin);
            return end - begin;
        } else {
            return static_cast<std::size_t>(
                kernels::encode_units(units.data() + begin, end - begin, out) - out);
        }
    });
}

void append_utf8(std::string& out, TextView text, std::size_t begin, std::size_t end) {
    if (begin >= end) {
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + UTF8_MAX_BYTES * (end - begin));
    out.resize(start + write_utf8(text, begin, end, out.data() + start));
}

std::string to_utf8(TextView text) {
    std::string out;
    append_utf8(out, text, 0, text.length);
    return out;
}

std::string to_lowercase(TextView text) {
    if (text.form == Form::UTF8) {
        return to_lowercase(text.as_utf8());
    }
    return to_lowercase(to_utf8(text));
}

// Final_Sigma as in lowercase.cpp, on code units that are code points.
template <class Unit>
char32_t map_uppercase_sigma(std::basic_string_view<Unit> units, std::size_t at) noexcept {
    constexpr char32_t FINAL_SIGMA = 0x03C2;
    constexpr char32_t MEDIAL_SIGMA = 0x03C3;
    std::size_t i = at;
    char32_t cp = 0;
    do {
        if (i == 0) {
            return MEDIAL_SIGMA;
        }
        cp = units[--i];
    } while (is_case_ignorable(cp));
    if (!is_cased(cp)) {
        return MEDIAL_SIGMA;
    }
    for (std::size_t j = at + 1; j < units.size(); ++j) {
        const char32_t next = units[j];
        if (!is_case_ignorable(next)) {
            return is_cased(next) ? MEDIAL_SIGMA : FINAL_SIGMA;
        }
    }
    return FINAL_SIGMA;
}

template char32_t map_uppercase_sigma(std::basic_string_view<std::uint8_t>, std::size_t) noexcept;
template char32_t map_uppercase_sigma(std::u16string_view, std::size_t) noexcept;
template char32_t map_uppercase_sigma(std::u32string_view, std::size_t) noexcept;

std::size_t lowercase_sources(char32_t lowered, char32_t out[LOWER_SOURCES_MAX]) noexcept {
    std::size_t count = 0;
    out[count++] = lowered;
    const char32_t plane = lowered >> 16;
    if (plane < 2) {
        const std::uint16_t* const targets = tables::LOWERCASE_SOURCE_TARGETS;
        const std::uint16_t* const first =
            targets + (plane == 0 ? 0 : tables::LOWERCASE_SOURCES_PLANE_1);
        const std::uint16_t* const last =
            plane == 0 ? targets + tables::LOWERCASE_SOURCES_PLANE_1
                       : targets + std::size(tables::LOWERCASE_SOURCE_TARGETS);
        const auto [from, to] = std::equal_range(first, last, static_cast<std::uint16_t>(lowered));
        for (const std::uint16_t* p = from; p != to; ++p) {
            out[count++] = plane << 16 | tables::LOWERCASE_SOURCES[p - targets];
        }
    }
    if (lowered == 0x03C2) {
        out[count++] = 0x03A3;  // U+03A3 lowercases to U+03C2 in final position
    }
    return count;
}

}  // namespace parvenkel::text
