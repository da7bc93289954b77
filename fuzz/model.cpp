// The second implementations and input helpers of the fuzz target
// (model.hpp).
#include "model.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "analysis/analysis.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"

namespace parvenkel::fuzz {

void fail(const char* what, std::string_view detail) {
    std::fprintf(stderr, "invariant broken: %s", what);
    if (!detail.empty()) {
        std::fprintf(stderr, " [");
        for (unsigned char c : detail) {
            std::fprintf(stderr, "%02X", c);
        }
        std::fprintf(stderr, "]");
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

void check(bool ok, const char* what, std::string_view detail) {
    if (!ok) {
        fail(what, detail);
    }
}

// --- UTF-8.

std::size_t well_formed_at(std::string_view s, std::size_t i) {
    const auto at = [&](std::size_t k) -> int {
        return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : -1;
    };
    const auto in = [](int b, int lo, int hi) { return b >= lo && b <= hi; };
    const int b0 = at(0);
    if (in(b0, 0x00, 0x7F)) {
        return 1;
    }
    if (in(b0, 0xC2, 0xDF)) {
        return in(at(1), 0x80, 0xBF) ? 2 : 0;
    }
    if (in(b0, 0xE0, 0xEF)) {
        const int lo = b0 == 0xE0 ? 0xA0 : 0x80;
        const int hi = b0 == 0xED ? 0x9F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    }
    if (in(b0, 0xF0, 0xF4)) {
        const int lo = b0 == 0xF0 ? 0x90 : 0x80;
        const int hi = b0 == 0xF4 ? 0x8F : 0xBF;
        return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

bool is_well_formed(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = well_formed_at(s, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string make_well_formed(std::string_view raw) {
    std::string out;
    for (std::size_t i = 0; i < raw.size();) {
        const std::size_t n = well_formed_at(raw, i);
        if (n == 0) {
            ++i;
            continue;
        }
        out.append(raw.substr(i, n));
        i += n;
    }
    return out;
}

std::u32string decode(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = well_formed_at(s, i);
        const auto byte = [&](std::size_t k) {
            return static_cast<char32_t>(static_cast<unsigned char>(s[i + k]));
        };
        char32_t cp = 0;
        switch (n) {
            case 1:
                cp = byte(0);
                break;
            case 2:
                cp = (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
                break;
            case 3:
                cp = (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
                break;
            case 4:
                cp = (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 |
                     (byte(3) & 0x3F);
                break;
            default:
                fail("decode: ill-formed input", s);
        }
        out.push_back(cp);
        i += n;
    }
    return out;
}

namespace {

bool is_scalar_value(char32_t cp) { return cp < 0x110000 && (cp < 0xD800 || cp > 0xDFFF); }

void encode_to(std::string& out, char32_t cp) {
    check(is_scalar_value(cp), "encode: not a scalar value");
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | cp >> 6));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | cp >> 12));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | cp >> 18));
        out.push_back(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::string encode(std::u32string_view cps) {
    std::string out;
    out.reserve(cps.size());
    for (char32_t cp : cps) {
        encode_to(out, cp);
    }
    return out;
}

// --- Second implementations.

bool is_final_sigma(std::u32string_view cps, std::size_t i) {
    std::size_t before = i;
    while (before > 0 && text::is_case_ignorable(cps[before - 1])) {
        --before;
    }
    if (before == 0 || !text::is_cased(cps[before - 1])) {
        return false;
    }
    std::size_t after = i + 1;
    while (after < cps.size() && text::is_case_ignorable(cps[after])) {
        ++after;
    }
    return !(after < cps.size() && text::is_cased(cps[after]));
}

std::u32string lowercase_model(std::u32string_view cps) {
    std::u32string out;
    out.reserve(cps.size());
    for (std::size_t i = 0; i < cps.size(); ++i) {
        if (cps[i] == 0x03A3) {
            out.push_back(is_final_sigma(cps, i) ? 0x03C2 : 0x03C3);
            continue;
        }
        const text::LowerMapping m = text::to_lower(cps[i]);
        check(m.len >= 1 && m.len <= 3, "to_lower: mapping length");
        check(m.len == 1 || cps[i] == 0x0130, "to_lower: only U+0130 maps to several");
        for (std::size_t k = 0; k < m.len; ++k) {
            check(is_scalar_value(m.cp[k]), "to_lower: not a scalar value");
            out.push_back(m.cp[k]);
        }
    }
    return out;
}

std::vector<std::u32string> split_model(std::u32string_view cps) {
    std::vector<std::u32string> words;
    std::u32string current;
    for (char32_t cp : cps) {
        if (text::is_white_space(cp)) {
            if (!current.empty()) {
                words.push_back(current);
                current.clear();
            }
        } else {
            current.push_back(cp);
        }
    }
    if (!current.empty()) {
        words.push_back(current);
    }
    return words;
}

std::u32string letters_model(std::u32string_view cps) {
    std::u32string out;
    for (char32_t cp : cps) {
        if (text::is_alphabetic(cp)) {
            out.push_back(cp);
        }
    }
    return out;
}

std::vector<std::string> normalised_words_model(std::u32string_view cps) {
    std::vector<std::string> out;
    for (const std::u32string& piece : split_model(cps)) {
        out.push_back(encode(lowercase_model(letters_model(piece))));
    }
    return out;
}

std::map<std::string, std::uint64_t> keyword_counts_model(
    std::u32string_view cps, const std::vector<std::string>& stop_words) {
    const std::set<std::string> stop(stop_words.begin(), stop_words.end());
    std::map<std::string, std::uint64_t> counts;
    for (const std::string& word : normalised_words_model(cps)) {
        if (word.size() >= analysis::MIN_KEYWORD_BYTES && stop.count(word) == 0) {
            ++counts[word];
        }
    }
    return counts;
}

bool contains_model(std::string_view needle, std::string_view haystack) {
    if (needle.size() > haystack.size()) {
        return false;
    }
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        bool equal = true;
        for (std::size_t k = 0; k < needle.size() && equal; ++k) {
            equal = haystack[i + k] == needle[k];
        }
        if (equal) {
            return true;
        }
    }
    return false;
}

double score_model(std::string_view title, std::string_view content, std::string_view query) {
    const std::string q = encode(lowercase_model(decode(query)));
    const std::string t = encode(lowercase_model(decode(title)));
    const std::string c = encode(lowercase_model(decode(content)));
    if (q.empty()) {
        return 0.0;
    }
    double score = 0.0;
    if (t.size() >= q.size() && t.compare(0, q.size(), q) == 0) {
        score = 1000.0;
    } else if (contains_model(q, t)) {
        score = 500.0;
    }
    if (contains_model(q, c)) {
        score += 100.0;
    }
    return score;
}

FixedWidth::FixedWidth(std::string_view utf8) : ucs4(decode(utf8)) {
    const char32_t widest = ucs4.empty() ? 0 : *std::max_element(ucs4.begin(), ucs4.end());
    if (widest < 0x80) {
        narrowest = text::TextView::utf8(utf8);
    } else if (widest < 0x100) {
        latin1.assign(ucs4.begin(), ucs4.end());
        narrowest = {latin1.data(), latin1.size(), text::Form::LATIN1};
    } else if (widest < 0x10000) {
        ucs2.assign(ucs4.begin(), ucs4.end());
        narrowest = {ucs2.data(), ucs2.size(), text::Form::UCS2};
    } else {
        narrowest = wide();
    }
}

namespace {

// `piece` (not empty) repeated `count` times.
std::string repeat(std::string_view piece, std::size_t count) {
    const std::size_t size = piece.size() * count;
    std::string out;
    out.reserve(size);
    out.append(piece.substr(0, size));
    while (out.size() < size) {
        // `out` holds whole copies of `piece`, so any prefix of it goes on
        // with the repetition; the reserve keeps data() in place.
        out.append(out.data(), std::min(out.size(), size - out.size()));
    }
    return out;
}

// The fewest copies of `piece` that bring `have` bytes to at least `want`.
std::size_t copies_to_reach(std::size_t have, std::size_t want, std::size_t piece) {
    return have >= want ? 0 : (want - have + piece - 1) / piece;
}

}  // namespace

std::string make_long(const std::string& content, const std::string& query) {
    const std::string filler = content.empty() ? std::string(" ") : content + " ";
    std::string out =
        repeat(filler, copies_to_reach(0, 16 * 1024 - query.size() / 2, filler.size()));
    out += query;
    out += repeat(filler, copies_to_reach(out.size(), 32 * 1024 + 1, filler.size()));
    return out;
}

}  // namespace parvenkel::fuzz
