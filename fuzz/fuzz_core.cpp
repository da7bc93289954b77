// Coverage-guided fuzz target (libFuzzer) for the core: the text primitives
// and both analysis functions, on arbitrary well-formed UTF-8, the scorer of
// the batch calls (check_scorer), and the article index's file reader on
// the input's bytes (check_index). Each input runs the kernels of one
// instruction set.
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
// against the second implementations of model.cpp, written in the plainest
// way (code point arrays, std::map, naive search), without the fast paths of
// the real code: the ASCII blocks, the byte-level walks of the sigma rule,
// the in-place output buffer, the seeded hash tables.
//
// The checks that cost most run on a sample of the inputs, chosen by a hash
// of the input's bytes (input_hash), so that the same bytes always get the
// same checks and a finding reproduces: each text again in every
// fixed-width form, and the scoring model on the long contents of
// make_long, on one input in THOROUGH_ONE_IN; the scoring model on the
// other contents on one in SCORE_MODEL_ONE_IN; the second lowercasings of
// check_lowercase and the letters of check_words on one in AGAIN_ONE_IN;
// the counts of many texts and their serialised form on one in
// COUNTS_ONE_IN; a long content at all on one in LONG_ONE_IN of the inputs
// that ask for one, and the whole title as the query on one in
// TITLE_QUERY_ONE_IN; the lowercasing and splitting of every stop word on
// the thorough sample; the article index's, which cost more still, on one
// in INDEX_ONE_IN. The rest keep the pace of the cheap checks, which meet
// most new inputs.
// Every input gets them all when the environment sets
// PARVENKEL_FUZZ_THOROUGH=1, as tools/fuzz.sh does when it replays the
// known inputs.
//
// Built and run by tools/fuzz.sh.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.hpp"
#include "analysis/word_table.hpp"
#include "corpus/corpus.hpp"
#include "index/index.hpp"
#include "model.hpp"
#include "text/char_classes.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "text/utf8_units.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace {

using namespace parvenkel;
using namespace parvenkel::fuzz;

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

// --- Checks of the real functions.

// `again`: also lowercase the result and append after `prefix_bytes`.
void check_lowercase(std::string_view s, unsigned prefix_bytes, bool again) {
    const std::u32string cps = decode(s);
    const std::string lowered = text::to_lowercase(s);
    check(is_well_formed(lowered), "to_lowercase: ill-formed output", s);
    check(lowered == encode(lowercase_model(cps)), "to_lowercase differs from the model", s);

    const std::size_t dotted_capital_i =
        static_cast<std::size_t>(std::count(cps.begin(), cps.end(), U'\u0130'));
    check(decode(lowered).size() == cps.size() + dotted_capital_i, "to_lowercase: character count",
          s);

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

    if (!again) {
        return;
    }
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
}

// The shape of the str of `s` and its units at every width they fit,
// against the model's code points, each into a buffer of exactly that
// many units (the sanitizer sees a unit written or a byte read past the
// end). The text is copied to a buffer of its own size for the same
// reason.
template <class Unit>
void check_units(const std::string& exact, const std::u32string& cps) {
    const auto units = std::make_unique<Unit[]>(cps.size());
    text::decode_units(exact, units.get(), cps.size());
    check(std::equal(cps.begin(), cps.end(), units.get()), "decode_units differs from the model",
          exact);
}

void check_decode(std::string_view s) {
    const std::string exact(s);
    const std::u32string cps = decode(s);
    const text::Utf8Shape shape = text::utf8_shape(exact);
    const char32_t top = cps.empty() ? 0 : *std::max_element(cps.begin(), cps.end());
    check(shape.chars == cps.size() && top <= shape.widest, "utf8_shape", s);
    if (shape.widest <= 0xFF) {
        check_units<std::uint8_t>(exact, cps);
    }
    if (shape.widest <= 0xFFFF) {
        check_units<char16_t>(exact, cps);
    }
    check_units<char32_t>(exact, cps);
}

// `with_letters`: also keep_letters of each word, against the model.
void check_words(std::string_view s, bool with_letters) {
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
        if (!with_letters) {
            continue;
        }
        const std::string letters = text::keep_letters(pieces[i]);
        check(is_well_formed(letters), "keep_letters: ill-formed output", pieces[i]);
        check(letters == encode(letters_model(expected[i])), "keep_letters differs", pieces[i]);
    }
}

// `expected`: keyword_counts_model of `s` and `stop_words`.
void check_keywords(std::string_view s, const std::vector<std::string>& stop_words,
                    const std::map<std::string, std::uint64_t>& expected, std::uint64_t top_n) {
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

// `units` with a lone surrogate put in at a place chosen by `at`.
template <class Unit>
std::basic_string<Unit> with_surrogate(std::basic_string<Unit> units, std::size_t at) {
    const auto place = static_cast<std::ptrdiff_t>(at % (units.size() + 1));
    units.insert(units.begin() + place, static_cast<Unit>(0xD800 + at % 0x800));
    return units;
}

// The scorer of the batch calls scores as score_article does on every
// form, and refuses a title or content that holds a lone surrogate
// anywhere: before, inside or after a match.
void check_scorer(const FixedWidth& t, const FixedWidth& c, const FixedWidth& q, double score,
                  std::string_view query) {
    const analysis::QueryScorer scorer(q.narrowest);
    std::string scratch;
    check(scorer.score(t.narrowest, c.narrowest, scratch) == score,
          "QueryScorer differs on the narrowest fixed-width forms", query);
    check(scorer.score(t.wide(), c.wide(), scratch) == score,
          "QueryScorer differs on four-byte forms", query);
    const std::size_t at = c.ucs4.size() * 31 + query.size() * 7 + t.ucs4.size();
    const std::u32string title4 = with_surrogate(t.ucs4, at);
    check(!scorer.score({title4.data(), title4.size(), text::Form::UCS4}, c.narrowest, scratch),
          "QueryScorer scores a title with a surrogate", query);
    const std::u32string content4 = with_surrogate(c.ucs4, at);
    check(!scorer.score(t.narrowest, {content4.data(), content4.size(), text::Form::UCS4}, scratch),
          "QueryScorer scores a four-byte content with a surrogate", query);
    if (std::all_of(c.ucs4.begin(), c.ucs4.end(), [](char32_t cp) { return cp < 0x10000; })) {
        const std::u16string content2 =
            with_surrogate(std::u16string(c.ucs4.begin(), c.ucs4.end()), at);
        check(!scorer.score(t.narrowest, {content2.data(), content2.size(), text::Form::UCS2},
                            scratch),
              "QueryScorer scores a two-byte content with a surrogate", query);
    }
}

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
    check_scorer(t, c, q, score, query);
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

// `with_model`: compare with score_model; `with_forms`: score each
// fixed-width form too (check_forms).
void check_score(std::string_view title, std::string_view content, std::string_view query,
                 bool with_model, bool with_forms) {
    const double score = analysis::score_article(title, content, query);
    if (with_forms) {
        check_forms(title, content, query, score);
    }
    const bool one_of_six = score == 0.0 || score == 100.0 || score == 500.0 || score == 600.0 ||
                            score == 1000.0 || score == 1100.0;
    check(one_of_six, "score_article: not one of the six values", query);
    if (with_model) {
        check(score == score_model(title, content, query), "score_article differs from the model",
              query);
    }
    check(analysis::is_contained_in(query, title) == contains_model(query, title),
          "is_contained_in", query);
}

// Differential check of the keyword counting table, driven on its own.
// `words`: the normalised words of the text in text order, before the
// length and stop-word filters; `expected`: the counts extract_keywords must
// report (keyword_counts_model: `words` without the stop words and those
// shorter than MIN_KEYWORD_BYTES). The words go in one at a time and in
// batches of each tier, in turn, and the table must hold `expected` exactly.
void check_word_table(const std::vector<std::string>& words,
                      const std::vector<std::string>& stop_words,
                      const std::map<std::string, std::uint64_t>& expected) {
    std::size_t bytes = 0;
    for (const std::string& word : words) {
        bytes += word.size() + 1;
    }
    analysis::WordTable table(bytes * 0x9E3779B97F4A7C15u, bytes);
    for (const std::string& stop_word : stop_words) {
        table.add_stop_word(stop_word);
    }
    std::vector<analysis::ShortKey> shorts;
    std::vector<analysis::MediumKey> mediums;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word.size() < analysis::MIN_KEYWORD_BYTES) {
            continue;
        }
        if (i % 2 == 0) {
            table.add(word);
        } else if (word.size() <= analysis::WordTable::SHORT_BYTES) {
            analysis::ShortKey key{};
            analysis::detail::load_up_to_16(word.data(), word.size(), key.lo, key.hi);
            shorts.push_back(key);
        } else if (word.size() <= analysis::WordTable::MEDIUM_BYTES) {
            mediums.push_back(analysis::MediumKey::of(word));
        } else {
            table.add(word);
        }
    }
    table.add_short(shorts.data(), shorts.size());
    table.add_medium(mediums.data(), mediums.size());
    std::map<std::string, std::uint64_t> held;
    table.for_each([&](std::string_view word, std::uint64_t count) {
        check(held.emplace(std::string(word), count).second, "word table: a word twice", word);
    });
    check(held.size() == table.size(), "word table: size differs from its words", "");
    check(held == expected, "word table differs from the model", words.empty() ? "" : words[0]);
}

// Counts kept across calls: the text counted into corpus::Counts must give
// `expected`, survive its serialised form, and double when merged with its
// copy. Then the input's bytes themselves, as a serialised form behind the
// right header: the reader must refuse them (BlobError) or load counts that
// serialise to the same bytes again.
std::map<std::string, std::uint64_t> counts_of(const corpus::Counts& counts) {
    std::map<std::string, std::uint64_t> held;
    counts.table().for_each([&](std::string_view word, std::uint64_t count) {
        held.emplace(std::string(word), count);
        check(counts.table().find(word) == count, "counts: find differs from for_each", word);
    });
    return held;
}

void check_counts(std::string_view raw, const std::string& text,
                  const std::vector<std::string>& stop_words,
                  const std::map<std::string, std::uint64_t>& expected) {
    corpus::Counts counts(stop_words);
    counts.add(corpus::count_texts(counts.stop_words(), {text::TextView::utf8(text)}, 1));
    check(counts_of(counts) == expected, "counts differ from the model", text);
    const std::unique_ptr<corpus::Counts> loaded = corpus::Counts::from_blob(counts.to_blob());
    check(loaded->to_blob() == counts.to_blob(), "counts: serialised form not kept", text);
    loaded->merge(counts);
    std::map<std::string, std::uint64_t> doubled = expected;
    for (auto& entry : doubled) {
        entry.second *= 2;
    }
    check(counts_of(*loaded) == doubled, "counts: merge differs", text);

    std::string blob("PVWC\x01");
    blob.append(raw);
    std::unique_ptr<corpus::Counts> hostile;
    try {
        hostile = corpus::Counts::from_blob(blob);
    } catch (const corpus::BlobError&) {
        return;
    }
    check(hostile->to_blob() == blob, "counts: a loaded blob serialises otherwise", "");
}

// The article index: two articles made of the title and content, saved and
// loaded again, must score the query as score_article does. Then the
// input's bytes as an index file, behind a header with the right magic
// number, version, checksums and sizes that add up, so that they go through
// every check load makes: load must refuse them (IndexFileError) or give
// an index whose queries score or report a damaged list, and which takes
// another article, is saved and loaded again likewise.
const std::string& index_folder() {
    static const std::string folder = [] {
        for (const char* base : {"/dev/shm", "/tmp"}) {
            std::string name = std::string(base) + "/parvenkel-fuzz-XXXXXX";
            if (::mkdtemp(name.data()) != nullptr) {
                return name;
            }
        }
        fail("index: cannot make a temporary folder");
    }();
    static const bool removed_at_exit = [] {
        std::atexit([] { std::filesystem::remove_all(folder); });
        return true;
    }();
    static_cast<void>(removed_at_exit);
    return folder;
}

void query_hostile(const index::ArticleIndex& hostile, const std::string& query) {
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        check(text::is_valid_utf8(hostile.title(i)) && text::is_valid_utf8(hostile.content(i)),
              "index: a loaded article is not UTF-8", query);
    }
    try {
        const std::vector<double> scores = hostile.scores(text::TextView::utf8(query));
        check(scores.size() == hostile.size(), "index: scores of another length", query);
        static_cast<void>(hostile.rank(text::TextView::utf8(query), 3, true));
    } catch (const index::IndexFileError&) {
    }
}

void check_index(std::string_view raw, const std::string& title, const std::string& content,
                 const std::string& query) {
    const std::string path = index_folder() + "/articles.idx";
    const text::TextView t = text::TextView::utf8(title);
    const text::TextView c = text::TextView::utf8(content);
    const text::TextView q = text::TextView::utf8(query);
    const std::vector<double> expected = {analysis::score_article(t, c, q),
                                          analysis::score_article(c, t, q)};
    index::ArticleIndex built;
    built.add({{t, c, std::nullopt}, {c, t, t}}, 1);
    check(built.scores(q) == expected, "index: scores differ from score_article", query);
    built.save(path);
    check(index::ArticleIndex::load(path)->scores(q) == expected,
          "index: a saved index scores otherwise", query);

    // The header: magic, version, header size, articles, text bytes,
    // trigrams, posting bytes, id bytes, a reserved 0, checksums.
    constexpr std::size_t HEADER = 80;
    std::string bytes(raw);
    bytes.resize(std::max<std::size_t>(bytes.size(), HEADER));
    const auto put = [&](std::size_t at, auto value) {
        std::memcpy(bytes.data() + at, &value, sizeof value);
    };
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    const auto padded = [](std::uint64_t n) { return (n + 7) & ~std::uint64_t{7}; };
    std::memcpy(bytes.data(), "PVKINDEX", 8);
    put(8, index::FILE_VERSION);
    put(12, static_cast<std::uint32_t>(HEADER));
    put(56, std::uint64_t{0});
    // Sizes that add up to the file's: those of the input when they do (a
    // file that save wrote, as in the seeds), or made from its bytes, with
    // no ids.
    std::uint64_t sizes[5];
    std::memcpy(sizes, bytes.data() + 16, sizeof sizes);
    const std::uint64_t body = bytes.size() - HEADER;
    const bool add_up =
        sizes[0] < body && sizes[1] < body && sizes[2] < body && sizes[3] < body &&
        sizes[4] < body &&
        40 * sizes[0] + padded(sizes[1]) + padded(sizes[4]) + 24 * sizes[2] + sizes[3] == body;
    if (!add_up) {
        const std::uint64_t articles = byte(16) % 4;
        const std::uint64_t trigrams = byte(24) % 5;
        const std::uint64_t fixed = 40 * articles + 24 * trigrams;
        const std::uint64_t rest = body >= fixed ? body - fixed : 0;
        const std::uint64_t text_bytes =
            std::min<std::uint64_t>(byte(32) % (rest + 1), rest & ~std::uint64_t{7});
        put(16, articles);
        put(24, text_bytes);
        put(32, trigrams);
        put(40, rest - padded(text_bytes));
        put(48, std::uint64_t{0});
        if (body >= fixed) {
            for (std::uint64_t k = 0; k < articles; ++k) {
                put(HEADER + 32 * articles + 8 * k, std::uint64_t{1} << 63);  // no id
            }
        }
    }
    put(64, XXH3_64bits(bytes.data() + HEADER, bytes.size() - HEADER));
    put(72, XXH3_64bits(bytes.data(), 72));
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::unique_ptr<index::ArticleIndex> hostile;
    try {
        hostile = index::ArticleIndex::load(path);
    } catch (const index::IndexFileError&) {
        return;
    }
    query_hostile(*hostile, query);
    hostile->add({{t, c, c}}, 1);
    query_hostile(*hostile, query);
    hostile->save(path);
    hostile.reset();
    query_hostile(*index::ArticleIndex::load(path), query);
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

// One input in this many gets the costly checks (see the top of the file).
constexpr std::uint64_t THOROUGH_ONE_IN = 32;
// check_index writes, maps and removes files and allocates the index's
// table of every trigram (64 MiB): some 14-20 ms an input under the
// sanitizers, twenty times the rest.
constexpr std::uint64_t INDEX_ONE_IN = 256;
// The counts' tables, serialised form and merge cost some 350 us an input
// under the sanitizers, a 32 KiB content scored some 2 ms, each more than
// all the other checks of an input together; the title as the query, as
// much as the other scoring checks.
constexpr std::uint64_t COUNTS_ONE_IN = 8;
// The scoring model of a short content, as much as the real function with
// all its other checks.
constexpr std::uint64_t SCORE_MODEL_ONE_IN = 2;
// Lowercasing each field's lowercase form again and into a buffer that
// holds text already, as much as lowercasing it and checking the model;
// and keep_letters of each word.
constexpr std::uint64_t AGAIN_ONE_IN = 2;
constexpr std::uint64_t LONG_ONE_IN = 4;
constexpr std::uint64_t TITLE_QUERY_ONE_IN = 4;

// Whether the input of `hash` is in a sample of one in `one_in`, read from
// the hash's bits from `shift` on, so that the samples are independent of
// one another.
bool sampled(std::uint64_t hash, unsigned shift, std::uint64_t one_in);

// FNV-1a over every byte of the input, options byte included, then the
// finalizer of splitmix64: FNV-1a's low bits depend on the bytes' low bits
// only, so without it a mutation of a byte's high bits would never move an
// input into or out of the sample.
std::uint64_t input_hash(const std::uint8_t* data, std::size_t size) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 0x100000001B3u;
    }
    hash = (hash ^ hash >> 30) * 0xBF58476D1CE4E5B9u;
    hash = (hash ^ hash >> 27) * 0x94D049BB133111EBu;
    return hash ^ hash >> 31;
}

bool thorough_everywhere() {
    static const bool all = [] {
        const char* value = std::getenv("PARVENKEL_FUZZ_THOROUGH");
        return value != nullptr && std::string_view(value) == "1";
    }();
    return all;
}

bool sampled(std::uint64_t hash, unsigned shift, std::uint64_t one_in) {
    return thorough_everywhere() || (hash >> shift) % one_in == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Options options(data[0]);
    const std::uint64_t hash = input_hash(data, size);
    const bool thorough = thorough_everywhere() || hash % THOROUGH_ONE_IN == 0;
    // The vector kernels of one instruction set an input, by its hash: each
    // set's kernels meet every kind of input on one machine.
    constexpr analysis::Kernels KERNELS[] = {analysis::Kernels::SCALAR, analysis::Kernels::SSE2,
                                             analysis::Kernels::AVX2, analysis::Kernels::AVX512};
    analysis::limit_kernels(KERNELS[(hash >> 32) % std::size(KERNELS)]);
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

    // The text, content and query of every input; the stop words, of
    // which an input holds some fifteen, short, on the thorough sample.
    const std::size_t checked_fields = thorough ? fields.size() : 3;
    const bool again = thorough || sampled(hash, 36, AGAIN_ONE_IN);
    for (std::size_t i = 0; i < checked_fields; ++i) {
        check_lowercase(fields[i], options.prefix_bytes, again);
        check_words(fields[i], again);
        check_decode(fields[i]);
    }

    const std::u32string text_cps = decode(text);
    const std::vector<std::string> text_words = normalised_words_model(text_cps);
    if (options.stop_text_words) {
        for (std::size_t i = 0; i < text_words.size(); i += 2) {
            stop_words.push_back(text_words[i]);
        }
    }
    const std::map<std::string, std::uint64_t> counts = keyword_counts_model(text_cps, stop_words);
    check_word_table(text_words, stop_words, counts);
    if (sampled(hash, 40, COUNTS_ONE_IN)) {
        check_counts(raw, text, stop_words, counts);
    }
    if (thorough_everywhere() || hash % INDEX_ONE_IN == 1) {
        check_index(raw, text, content, query);
    }
    check_keywords(text, stop_words, counts, choose_top_n(options.top_n_choice, counts.size()));
    if (thorough) {
        check_keyword_forms(text, stop_words);
    }

    if (options.query_from_title && !text_cps.empty()) {
        // A slice of the title chosen by the query field's length.
        const std::size_t from = query.size() % text_cps.size();
        const std::size_t length = 1 + query.size() / 3 % (text_cps.size() - from);
        query = encode(text_cps.substr(from, length));
    }
    if (options.long_content && sampled(hash, 48, LONG_ONE_IN)) {
        // The real function on each long content of the sample, for the
        // sanitizers and the coverage of the windowed search; the model,
        // which costs most here, on the thorough sample.
        check_score(text, make_long(content, query), query, thorough, thorough);
    } else {
        const bool with_model = thorough || sampled(hash, 44, SCORE_MODEL_ONE_IN);
        check_score(text, content, query, with_model, thorough);
        if (sampled(hash, 56, TITLE_QUERY_ONE_IN)) {
            check_score(text, content, text, with_model, thorough);
        }
    }
    return 0;
}
