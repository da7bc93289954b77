#include "text/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace parvenkel::text {

namespace {

// The bytes of a run of ASCII from `i`, eight at a time while whole words
// are left: an index's text is mostly runs of ASCII (Latin prose, the
// spaces and punctuation of every script), which the byte loop below took
// a branch each.
std::size_t skip_ascii(const unsigned char* p, std::size_t i, std::size_t n) noexcept {
    constexpr std::uint64_t HIGH_BITS = 0x8080808080808080;
    while (n - i >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, sizeof word);
        if ((word & HIGH_BITS) != 0) {
            break;
        }
        i += 8;
    }
    while (i < n && p[i] < 0x80) {
        ++i;
    }
    return i;
}

}  // namespace

bool is_valid_utf8(std::string_view s, std::size_t& chars, unsigned char& top) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const std::size_t n = s.size();
    // Every byte is a character's first but the continuation bytes,
    // counted as each character is checked. The largest byte is that of
    // the largest lead (or 0 for ASCII alone: every ASCII byte is below
    // every lead, and only the class of the largest is wanted).
    std::size_t continuations = 0;
    unsigned largest = 0;
    for (std::size_t i = 0; i < n;) {
        const unsigned c = p[i];
        if (c < 0x80) {
            i = skip_ascii(p, i + 1, n);
            continue;
        }
        largest = largest < c ? c : largest;
        std::size_t length = 0;
        unsigned low = 0x80;
        unsigned high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (n - i < length || p[i + 1] < low || p[i + 1] > high) {
            return false;
        }
        for (std::size_t k = 2; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                return false;
            }
        }
        continuations += length - 1;
        i += length;
    }
    chars = n - continuations;
    top = static_cast<unsigned char>(largest);
    return true;
}

bool is_valid_utf8(std::string_view s) noexcept {
    std::size_t chars = 0;
    unsigned char top = 0;
    return is_valid_utf8(s, chars, top);
}

}  // namespace parvenkel::text
