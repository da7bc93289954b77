// Coverage-guided fuzz target (libFuzzer) for the core: the text primitives
// and both analysis functions, on arbitrary well-formed UTF-8.
//
// Input layout. The first byte holds options (see Options); the rest is split
// at the byte 0xFF, which never occurs in UTF-8, into fields, and each field
// is made well-formed by dropping its ill-formed bytes:
//
//   field 0: the text of extract_keywords and the title of score_article
//   field 1: the content
//   field 2: the query
//   fields 3...: stop words
//
// Every result is checked for well-formed UTF-8 and against invariants and
// against second implementations written here in the plainest way (code
// point arrays, std::map, naive search), without the fast paths of the real
// code: the ASCII blocks, the byte-level walks of the sigma rule, the
// in-place output buffer, the seeded hash tables.
//
// Built and run by tools/fuzz.sh.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"

namespace {

using namespace parvenkel;

// Code points whose lowercasing is not idempotent (to_lowercase applied
// twice differs from once), checked against the Unicode data by
// tests/test_fuzz_data.py. Unicode 17.0.0 has none: no full lowercase
// mapping yields a character that has a lowercase mapping of its own, and
// the one context rule, Final_Sigma, turns U+03A3 into U+03C2 or U+03C3,
// which map to themselves.
constexpr char32_t NOT_IDEMPOTENT[] = {
#include "lowercase_not_idempotent.inc"
    0x110000,  // end marker, not a code point
};

[[noreturn]] void fail(const char* what, std::string_view detail = {}) {
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

void check(bool ok, const char* what, std::string_view detail = {}) {
    if (!ok) {
        fail(what, detail);
    }
}

// --- UTF-8, written out from the table of well-formed byte sequences
// (Unicode, chapter 3, table 3-7), independent of src/text/utf8.hpp.

// Length of the well-formed sequence at s[i], or 0 when there is none.
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

// Keeps the well-formed sequences of `raw`, drops every other byte.
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

std::string encode(std::u32string_view cps) {
    std::string out;
    for (char32_t cp : cps) {
        encode_to(out, cp);
    }
    return out;
}

// --- Second implementations.

// Final_Sigma on an array of code points: preceded by a Cased character with
// only Case_Ignorable ones between, and not followed by Case_Ignorable ones
// and then a Cased one.
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

// The normalised words of a text, in text order, before the length and
// stop-word filters.
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

// --- Checks of the real functions.

void check_lowercase(std::string_view s, unsigned prefix_bytes) {
    const std::u32string cps = decode(s);
    const std::string lowered = text::to_lowercase(s);
    check(is_well_formed(lowered), "to_lowercase: ill-formed output", s);
    check(lowered == encode(lowercase_model(cps)), "to_lowercase differs from the model", s);

    const std::size_t dotted_capital_i =
        static_cast<std::size_t>(std::count(cps.begin(), cps.end(), U'\u0130'));
    check(decode(lowered).size() == cps.size() + dotted_capital_i, "to_lowercase: character count",
          s);

    bool idempotent_here = true;
    for (char32_t cp : cps) {
        for (const char32_t* x = NOT_IDEMPOTENT; *x != 0x110000; ++x) {
            idempotent_here = idempotent_here && cp != *x;
        }
    }
    if (idempotent_here) {
        check(text::to_lowercase(lowered) == lowered, "to_lowercase is not idempotent", s);
    }

    // Appending after existing text gives the same bytes, whatever the
    // alignment of the output.
    std::string out(prefix_bytes, '#');
    text::append_lowercase(out, s);
    check(out == std::string(prefix_bytes, '#') + lowered, "append_lowercase differs", s);

    // The sigma decision for each capital sigma, against the model.
    for (std::size_t i = 0, k = 0; i < s.size(); ++k) {
        const std::size_t n = well_formed_at(s, i);
        if (cps[k] == 0x03A3) {
            const char32_t form = text::map_uppercase_sigma(s, i);
            check(form == (is_final_sigma(cps, k) ? U'\u03C2' : U'\u03C3'), "map_uppercase_sigma",
                  s);
        }
        i += n;
    }
}

void check_words(std::string_view s) {
    const std::u32string cps = decode(s);
    std::vector<std::string> pieces;
    const char* previous_end = s.data();
    text::split_words(s, [&](std::string_view piece) {
        check(!piece.empty(), "split_words: empty word", s);
        check(piece.data() >= previous_end && piece.data() + piece.size() <= s.data() + s.size(),
              "split_words: word outside the text or out of order", s);
        previous_end = piece.data() + piece.size();
        pieces.emplace_back(piece);
    });
    const std::vector<std::u32string> expected = split_model(cps);
    check(pieces.size() == expected.size(), "split_words: number of words", s);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        check(pieces[i] == encode(expected[i]), "split_words: word differs", s);
        const std::string letters = text::keep_letters(pieces[i]);
        check(is_well_formed(letters), "keep_letters: ill-formed output", pieces[i]);
        check(letters == encode(letters_model(expected[i])), "keep_letters differs", pieces[i]);
    }
}

void check_keywords(std::string_view s, const std::vector<std::string>& stop_words,
                    std::uint64_t top_n) {
    const std::map<std::string, std::uint64_t> expected =
        keyword_counts_model(decode(s), stop_words);
    const analysis::Keywords result = analysis::extract_keywords(s, stop_words, top_n);
    const auto& pairs = result.pairs;

    check(pairs.size() == std::min<std::uint64_t>(top_n, expected.size()),
          "extract_keywords: length", s);
    std::set<std::string_view> seen;
    std::vector<std::uint64_t> counts;
    for (const analysis::KeywordCount& pair : pairs) {
        check(is_well_formed(pair.word), "extract_keywords: ill-formed word", pair.word);
        check(seen.insert(pair.word).second, "extract_keywords: word listed twice", pair.word);
        const auto found = expected.find(std::string(pair.word));
        check(found != expected.end(), "extract_keywords: word the model does not count",
              pair.word);
        check(found->second == pair.count, "extract_keywords: count differs from the model",
              pair.word);
        counts.push_back(pair.count);
    }
    check(std::is_sorted(counts.rbegin(), counts.rend()),
          "extract_keywords: counts not non-increasing", s);
    // A valid top_n: the counts are the highest ones the model has.
    std::vector<std::uint64_t> all;
    for (const auto& [word, count] : expected) {
        all.push_back(count);
    }
    std::sort(all.rbegin(), all.rend());
    all.resize(counts.size());
    check(all == counts, "extract_keywords: not the most frequent words", s);
}

// A text in the forms a caller may hold it in: its narrowest fixed width
// (UTF-8 for ASCII, as the call frame passes it), and four bytes a unit.
struct FixedWidth {
    std::basic_string<std::uint8_t> latin1;
    std::u16string ucs2;
    std::u32string ucs4;
    text::TextView narrowest;

    explicit FixedWidth(std::string_view utf8) : ucs4(decode(utf8)) {
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
    text::TextView wide() const { return {ucs4.data(), ucs4.size(), text::Form::UCS4}; }
};

// The same text in another form gives the same answers.
void check_forms(std::string_view title, std::string_view content, std::string_view query,
                 double score) {
    const FixedWidth t(title);
    const FixedWidth c(content);
    const FixedWidth q(query);
    check(analysis::score_article(t.narrowest, c.narrowest, q.narrowest) == score,
          "score_article differs on the narrowest fixed-width forms", query);
    check(analysis::score_article(t.wide(), c.wide(), q.wide()) == score,
          "score_article differs on four-byte forms", query);
}

std::map<std::string, std::uint64_t> all_counts(const analysis::Keywords& keywords) {
    std::map<std::string, std::uint64_t> counts;
    for (const analysis::KeywordCount& pair : keywords.pairs) {
        counts.emplace(pair.word, pair.count);
    }
    return counts;
}

void check_keyword_forms(std::string_view s, const std::vector<std::string>& stop_words) {
    const FixedWidth forms(s);
    const auto expected = all_counts(analysis::extract_keywords(s, stop_words, UINT64_MAX));
    check(
        all_counts(analysis::extract_keywords(forms.narrowest, stop_words, UINT64_MAX)) == expected,
        "extract_keywords differs on the narrowest fixed-width form", s);
    check(all_counts(analysis::extract_keywords(forms.wide(), stop_words, UINT64_MAX)) == expected,
          "extract_keywords differs on the four-byte form", s);
}

void check_score(std::string_view title, std::string_view content, std::string_view query) {
    const double score = analysis::score_article(title, content, query);
    check_forms(title, content, query, score);
    const bool one_of_six = score == 0.0 || score == 100.0 || score == 500.0 || score == 600.0 ||
                            score == 1000.0 || score == 1100.0;
    check(one_of_six, "score_article: not one of the six values", query);
    check(score == score_model(title, content, query), "score_article differs from the model",
          query);
    check(analysis::is_contained_in(query, title) == contains_model(query, title),
          "is_contained_in", query);
}

// Options byte.
struct Options {
    unsigned top_n_choice;  // bits 0-2
    bool stop_text_words;   // bit 3: every second word of the text is also a stop word
    bool query_from_title;  // bit 4: the query is a slice of the title
    unsigned prefix_bytes;  // bits 5-6: bytes before the output of append_lowercase
    bool long_content;      // bits 6 and 7: the content is made long (see make_long)

    explicit Options(std::uint8_t byte)
        : top_n_choice(byte & 7u),
          stop_text_words((byte & 8u) != 0),
          query_from_title((byte & 16u) != 0),
          prefix_bytes((byte >> 5 & 3u) * 5u),
          long_content((byte & 0xC0u) == 0xC0u) {}
};

// A content longer than the window in which scoring lowercases long texts
// (16 KiB; texts up to twice that are lowercased whole), with the query
// written into it near the first window's end, so that matches fall before,
// across and after the seam: the content field repeated to about 16 KiB,
// the query, the content field repeated again to just over 32 KiB.
std::string make_long(const std::string& content, const std::string& query) {
    const std::string filler = content.empty() ? std::string(" ") : content + " ";
    std::string out;
    while (out.size() < 16 * 1024 - query.size() / 2) {
        out += filler;
    }
    out += query;
    while (out.size() <= 32 * 1024) {
        out += filler;
    }
    return out;
}

std::uint64_t choose_top_n(unsigned choice, std::size_t distinct) {
    switch (choice) {
        case 0:
            return 0;
        case 1:
            return 1;
        case 2:
            return 2;
        case 3:
            return 3;
        case 4:
            return distinct > 0 ? distinct - 1 : 0;
        case 5:
            return distinct;
        case 6:
            return distinct + 1;
        default:
            return UINT64_MAX;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Options options(data[0]);
    const std::string_view raw(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= raw.size(); ++i) {
        if (i == raw.size() || static_cast<unsigned char>(raw[i]) == 0xFF) {
            fields.push_back(make_well_formed(raw.substr(start, i - start)));
            start = i + 1;
        }
    }
    fields.resize(std::max<std::size_t>(fields.size(), 3));
    const std::string& text = fields[0];
    const std::string& content = fields[1];
    std::string query = fields[2];
    std::vector<std::string> stop_words(fields.begin() + 3, fields.end());

    for (const std::string& field : fields) {
        check_lowercase(field, options.prefix_bytes);
        check_words(field);
    }

    const std::u32string text_cps = decode(text);
    if (options.stop_text_words) {
        const std::vector<std::string> words = normalised_words_model(text_cps);
        for (std::size_t i = 0; i < words.size(); i += 2) {
            stop_words.push_back(words[i]);
        }
    }
    const std::size_t distinct = keyword_counts_model(text_cps, stop_words).size();
    check_keywords(text, stop_words, choose_top_n(options.top_n_choice, distinct));
    check_keyword_forms(text, stop_words);

    if (options.query_from_title && !text_cps.empty()) {
        // A slice of the title chosen by the query field's length.
        const std::size_t from = query.size() % text_cps.size();
        const std::size_t length = 1 + query.size() / 3 % (text_cps.size() - from);
        query = encode(text_cps.substr(from, length));
    }
    if (options.long_content) {
        check_score(text, make_long(content, query), query);
    } else {
        check_score(text, content, query);
        check_score(text, content, text);
    }
    return 0;
}
