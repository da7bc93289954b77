// Full Unicode lowercasing with the Final_Sigma rule, on the generated
// tables of unicode_tables.cpp.
#include "text/lowercase.hpp"

#include <cstring>
#include <iterator>
#include <type_traits>

#include "text/ascii_lower.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace parvenkel::text {

namespace {

namespace t = tables;

constexpr char32_t CAPITAL_SIGMA = 0x03A3;
constexpr char32_t FINAL_SIGMA = 0x03C2;   // ς
constexpr char32_t MEDIAL_SIGMA = 0x03C3;  // σ

// Below these code points the answers are fixed and no table is read; the
// table generator checks each of them against the data.
constexpr char32_t LOWER_TABLE_FROM = 0xC0;           // only A-Z change below
constexpr char32_t CASED_TABLE_FROM = 0xAA;           // only A-Z, a-z are Cased below
constexpr char32_t CASE_IGNORABLE_TABLE_FROM = 0xA8;  // only ' . : ^ ` below

// The ASCII Case_Ignorable characters ' . : ^ ` as a 128-bit mask.
constexpr std::uint64_t ASCII_CASE_IGNORABLE[2] = {
    (std::uint64_t{1} << '\'') | (std::uint64_t{1} << '.') | (std::uint64_t{1} << ':'),
    (std::uint64_t{1} << ('^' - 64)) | (std::uint64_t{1} << ('`' - 64)),
};

constexpr bool is_ascii_letter(char32_t cp) noexcept { return (cp & ~char32_t{0x20}) - U'A' < 26; }

// Number of elements of sorted[0, n) that are at most `key` (the index
// std::upper_bound would give), by a binary search whose steps compile to
// conditional moves rather than unpredictable branches.
template <class T, class Key>
std::size_t count_at_most(const T* sorted, std::size_t n, Key key) noexcept {
    if (n == 0) {
        return 0;
    }
    const T* base = sorted;
    while (n > 1) {
        const std::size_t half = n / 2;
        base = (base[half] <= key) ? base + half : base;
        n -= half;
    }
    return static_cast<std::size_t>(base - sorted) + (*base <= key ? 1 : 0);
}

// Membership in a run-length list (layout described in unicode_tables.hpp):
// find the block by binary search, then add up its gaps until the next
// boundary lies beyond `cp`. Inside when the last boundary reached is the
// start of an inside run, which is every even position.
template <std::size_t J, class Position, class Gap, std::size_t M>
bool run_list_contains(char32_t cp, const std::uint32_t (&starts)[J],
                       const Position (&positions)[J], const Gap (&gaps)[M]) noexcept {
    const std::size_t after = count_at_most(starts, J, cp);
    if (after == 0) {
        return false;
    }
    const std::size_t block = after - 1;
    std::size_t i = positions[block];
    const std::size_t end = positions[block + 1];
    char32_t boundary = starts[block];
    while (i + 1 < end) {
        const char32_t next = boundary + gaps[i + 1];
        if (next > cp) {
            break;
        }
        boundary = next;
        ++i;
    }
    return i % 2 == 0;
}

using MultiEntry = std::remove_cv_t<std::remove_reference_t<decltype(t::LOWERCASE_MULTI[0])>>;

// The full lowercase mapping of `cp`, decided in this order: below U+00C0
// only A-Z change; from U+20000 on nothing changes; in between the
// LOWERCASE_LUT ranges decide. Returns the code point `cp` maps to; when it
// maps to several, sets `*multi` to them instead (LOWERCASE_MULTI_WIDTH
// entries padded with zeros) and returns 0. A plain code point rather than a
// LowerMapping comes back so that the hot loop of append_lowercase gets it
// in a register.
char32_t lower_code_point(char32_t cp, const MultiEntry** multi) noexcept {
    if (cp < LOWER_TABLE_FROM) {
        return cp - U'A' < 26 ? cp + 0x20 : cp;
    }
    if (cp >= t::LOWERCASE_LUT_UNTIL) {
        return cp;
    }
    // Ranges do not overlap, so the one that may map `cp` is the last one
    // starting at or before it. Only the ranges starting in the block of 256
    // code points that holds `cp`, and the last one before that block, come
    // into question.
    const std::size_t block = cp >> t::LOWERCASE_LUT_BLOCK_SHIFT;
    const std::size_t lo = t::LOWERCASE_LUT_BLOCKS[block];
    const std::size_t hi = t::LOWERCASE_LUT_BLOCKS[block + 1];
    constexpr std::uint32_t low_bits = (std::uint32_t{1} << t::LOWERCASE_LUT_FIRST_SHIFT) - 1;
    const std::uint32_t probe = std::uint32_t{cp} << t::LOWERCASE_LUT_FIRST_SHIFT | low_bits;
    const std::size_t after = lo + count_at_most(t::LOWERCASE_LUT + lo, hi - lo, probe);
    if (after == 0) {
        return cp;
    }
    const std::uint32_t key = t::LOWERCASE_LUT[after - 1];
    std::uint32_t offset = cp - (key >> t::LOWERCASE_LUT_FIRST_SHIFT);
    if ((key & t::LOWERCASE_LUT_STRIDE2) != 0) {
        if ((offset & 1) != 0) {
            return cp;  // the partner of an alternating pair, not mapped here
        }
        offset >>= 1;
    }
    if (offset > (key >> t::LOWERCASE_LUT_SPAN_SHIFT & t::LOWERCASE_LUT_SPAN_MASK)) {
        return cp;
    }
    const std::int32_t delta = t::LOWERCASE_DELTA[after - 1];
    if ((key & t::LOWERCASE_LUT_MULTI) != 0) {
        *multi = t::LOWERCASE_MULTI + static_cast<std::size_t>(delta) * t::LOWERCASE_MULTI_WIDTH;
        return 0;
    }
    return static_cast<char32_t>(static_cast<std::int32_t>(cp) + delta);
}

static_assert(t::LOWERCASE_MULTI_WIDTH <= sizeof(LowerMapping::cp) / sizeof(char32_t));

// Where the output of append_lowercase goes. The string is sized up front to
// the input's length and written through a pointer. Its size stays at least
// the write position plus the input bytes still to read, so a character
// whose lowercase form is no longer than itself needs no check. Only a
// longer form (U+0130, U+023A and U+023E grow by one byte) may grow the
// string, and then the string's own growth policy applies.
class Output {
   public:
    Output(std::string& out, std::size_t input_bytes) : out_(out), pos_(out.size()) {
        out_.resize(pos_ + input_bytes);
        data_ = out_.data();
    }

    char* at() noexcept { return data_ + pos_; }
    void advance(std::size_t n) noexcept { pos_ += n; }

    // Makes room for `produced` bytes standing for `consumed` input bytes
    // when `remaining` input bytes (these included) are left.
    void reserve_for(std::size_t produced, std::size_t consumed, std::size_t remaining) {
        const std::size_t needed = pos_ + produced + (remaining - consumed);
        if (needed > out_.size()) {
            out_.resize(needed);
            data_ = out_.data();
        }
    }

    void finish() { out_.resize(pos_); }

   private:
    std::string& out_;
    char* data_;
    std::size_t pos_;
};

}  // namespace

LowerMapping to_lower(char32_t cp) noexcept {
    const MultiEntry* multi = nullptr;
    const char32_t single = lower_code_point(cp, &multi);
    LowerMapping result{{single, 0, 0}, 1};
    if (multi != nullptr) {
        result.len = 0;
        for (std::size_t k = 0; k < t::LOWERCASE_MULTI_WIDTH && multi[k] != 0; ++k) {
            result.cp[result.len++] = multi[k];
        }
    }
    return result;
}

bool is_cased(char32_t cp) noexcept {
    if (cp < CASED_TABLE_FROM) {
        return is_ascii_letter(cp);
    }
    // The table holds Lowercase, Uppercase and General_Category Lt together.
    return run_list_contains(cp, t::CASED_RUN_STARTS, t::CASED_RUN_POSITIONS, t::CASED_RUNS);
}

bool is_case_ignorable(char32_t cp) noexcept {
    if (cp < 0x80) {
        return (ASCII_CASE_IGNORABLE[cp >> 6] >> (cp & 63) & 1) != 0;
    }
    if (cp < CASE_IGNORABLE_TABLE_FROM) {
        return false;
    }
    return run_list_contains(cp, t::CASE_IGNORABLE_RUN_STARTS, t::CASE_IGNORABLE_RUN_POSITIONS,
                             t::CASE_IGNORABLE_RUNS);
}

static_assert(std::size(t::LOWERCASE_LUT_BLOCKS) ==
              (t::LOWERCASE_LUT_UNTIL >> t::LOWERCASE_LUT_BLOCK_SHIFT) + 1);

// Final_Sigma, from the Default Case Algorithms of the Unicode Standard
// (section 3.13): C is in this context when
//     before C: \p{cased} (\p{case-ignorable})*
//     after C:  !((\p{case-ignorable})* \p{cased})
// Both walks read the input itself, not what has been lowercased so far,
// and a character that is both Cased and Case_Ignorable is skipped as
// case-ignorable on either side.
char32_t map_uppercase_sigma(std::string_view text, std::size_t offset) noexcept {
    const char* data = text.data();

    char32_t cp = 0;
    std::size_t i = offset;
    do {
        if (i == 0) {
            return MEDIAL_SIGMA;
        }
        i = utf8_previous(data, i);
        cp = decode_utf8(data + i).cp;
    } while (is_case_ignorable(cp));
    if (!is_cased(cp)) {
        return MEDIAL_SIGMA;
    }

    for (std::size_t j = offset + utf8_length(static_cast<unsigned char>(data[offset]));
         j < text.size();) {
        const Utf8Char next = decode_utf8(data + j);
        if (!is_case_ignorable(next.cp)) {
            return is_cased(next.cp) ? MEDIAL_SIGMA : FINAL_SIGMA;
        }
        j += next.length;
    }
    return FINAL_SIGMA;
}

void append_lowercase(std::string& out, std::string_view text) {
    const std::size_t n = text.size();
    if (n == 0) {
        return;
    }
    const char* src = text.data();
    Output dst(out, n);

    // The leading ASCII run, 16 bytes at a time: one byte out for each in.
    std::size_t i = detail::lower_ascii_prefix(src, n, dst.at());
    dst.advance(i);

    // The rest character by character, ASCII included.
    while (i < n) {
        const auto lead = static_cast<unsigned char>(src[i]);
        if (lead < 0x80) {
            *dst.at() = detail::lower_ascii(src[i]);
            dst.advance(1);
            ++i;
            continue;
        }
        const Utf8Char c = decode_utf8(src + i);
        if (c.cp == CAPITAL_SIGMA) {
            // U+03C2 and U+03C3 take two bytes, as U+03A3 does.
            dst.advance(encode_utf8(map_uppercase_sigma(text, i), dst.at()));
        } else {
            const MultiEntry* multi = nullptr;
            const char32_t single = lower_code_point(c.cp, &multi);
            if (single == c.cp) {
                std::memcpy(dst.at(), src + i, c.length);
                dst.advance(c.length);
            } else if (multi == nullptr) {
                dst.reserve_for(utf8_encoded_length(single), c.length, n - i);
                dst.advance(encode_utf8(single, dst.at()));
            } else {
                std::size_t produced = 0;
                for (std::size_t k = 0; k < t::LOWERCASE_MULTI_WIDTH && multi[k] != 0; ++k) {
                    produced += utf8_encoded_length(multi[k]);
                }
                dst.reserve_for(produced, c.length, n - i);
                for (std::size_t k = 0; k < t::LOWERCASE_MULTI_WIDTH && multi[k] != 0; ++k) {
                    dst.advance(encode_utf8(multi[k], dst.at()));
                }
            }
        }
        i += c.length;
    }
    dst.finish();
}

std::string to_lowercase(std::string_view text) {
    std::string out;
    append_lowercase(out, text);
    return out;
}

}  // namespace parvenkel::text
