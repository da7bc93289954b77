// The searches of scoring against a plain model (to_lowercase and
// std::string::find on UTF-8), under the kernels of each instruction set:
// random titles, bodies and queries in each fixed-width form, written with
// the characters the searches treat apart (both members of a case pair,
// the signs that lowercase to ASCII and Latin-1, sigma, U+0130, letters of
// several sources, astral letters and lone surrogates), long enough to
// cross several vector steps, with queries cut from the body so that they
// are found at every offset of a step.
#include <doctest/doctest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "text/lowercase.hpp"
#include "text_test_util.hpp"

namespace {

using parvenkel::analysis::Kernels;
using parvenkel::analysis::QueryScorer;
using parvenkel::text::Form;
using parvenkel::text::TextView;
using parvenkel::text::testing::show;
using parvenkel::text::testing::utf8;

constexpr char32_t ALPHABET[] = {
    U'a',    U'n',    U'N',   U'k',  U'K',   0x212A,  // Kelvin sign
    0xE5,    0xC5,    0x212B,                         // å, Å, Angstrom sign
    0x3C3,   0x3A3,   0x3C2,  0x3B1,                  // σ, Σ, ς, α
    0x130,   U'i',    0x307,                          // İ lowercases to i U+0307
    0x436,   0x416,   0x1C4,  0x1C5, 0x1C6,           // ж, Ж, Ǆ, ǅ, ǆ
    0x10400, 0x10428, U' ',   0xE9,  0xD800, 0xDFFF,  // Deseret, é, surrogates
};

bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Code points in the narrowest form that holds them, or a wider one, or
// (widen 3, without surrogates) in UTF-8.
struct Units {
    std::string bytes;
    std::vector<std::uint8_t> latin1;
    std::vector<char16_t> ucs2;
    std::vector<char32_t> ucs4;
    TextView view;

    Units(const std::u32string& cps, int widen) {
        char32_t widest = 0;
        for (const char32_t cp : cps) {
            widest = std::max(widest, cp);
        }
        const int width = std::max(widest > 0xFFFF ? 2 : widest > 0xFF ? 1 : 0, widen);
        if (width == 3 && std::none_of(cps.begin(), cps.end(), is_surrogate)) {
            bytes = utf8(cps);
            view = TextView::utf8(bytes);
        } else if (width == 0) {
            latin1.assign(cps.begin(), cps.end());
            view = {latin1.data(), latin1.size(), Form::LATIN1};
        } else if (width == 1) {
            ucs2.assign(cps.begin(), cps.end());
            view = {ucs2.data(), ucs2.size(), Form::UCS2};
        } else {
            ucs4.assign(cps.begin(), cps.end());  // widen 3 with a surrogate too
            view = {ucs4.data(), ucs4.size(), Form::UCS4};
        }
    }
};

std::optional<double> model(const std::u32string& title, const std::u32string& content,
                            const std::u32string& query) {
    for (const std::u32string* text : {&title, &content}) {
        if (std::any_of(text->begin(), text->end(), is_surrogate)) {
            return std::nullopt;
        }
    }
    using parvenkel::text::to_lowercase;
    const std::string q = to_lowercase(std::string_view(utf8(query)));
    if (q.empty()) {
        return 0.0;
    }
    const std::string t = to_lowercase(std::string_view(utf8(title)));
    const std::string c = to_lowercase(std::string_view(utf8(content)));
    double score = t.starts_with(q) ? 1000.0 : t.find(q) != std::string::npos ? 500.0 : 0.0;
    return score + (c.find(q) != std::string::npos ? 100.0 : 0.0);
}

}  // namespace

TEST_CASE("scores of articles in every form agree with the model under every kernel") {
    std::mt19937 random(20261209);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<unsigned>(n));
    };
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        for (int round = 0; round < 10000; ++round) {
            // Mostly one script with a few others, so that each alphabet
            // letter is sometimes the only character beyond a form.
            std::u32string content;
            const std::size_t length = pick(260);
            const std::size_t common = pick(std::size(ALPHABET));
            const bool with_surrogates = pick(8) == 0;
            const bool ascii = pick(4) == 0;  // for the searches of ASCII in UTF-8
            while (content.size() < length) {
                char32_t cp = pick(3) != 0 ? ALPHABET[common] : ALPHABET[pick(std::size(ALPHABET))];
                if (ascii) {
                    cp = U"anNkKi x@`"[pick(10)];
                }
                if (is_surrogate(cp) && !with_surrogates) {
                    cp = U'x';
                }
                content += cp;
            }
            std::u32string query;
            if (!content.empty() && pick(4) != 0) {
                const std::size_t at = pick(content.size());
                query = content.substr(at, 1 + pick(7));
                if (pick(3) == 0) {
                    query[pick(query.size())] = ascii ? U'x' : ALPHABET[pick(std::size(ALPHABET))];
                }
            } else {
                for (std::size_t k = pick(5); k > 0; --k) {
                    query += ALPHABET[pick(std::size(ALPHABET))];
                }
            }
            std::u32string title = content.substr(0, pick(40));
            if (pick(2) == 0) {
                title = query + title;
            }
            std::erase_if(query, is_surrogate);
            CAPTURE(show(title));
            CAPTURE(show(content));
            CAPTURE(show(query));
            const Units t(title, static_cast<int>(pick(4)));
            const Units c(content, static_cast<int>(pick(4)));
            const Units q(query, 0);
            const std::optional<double> expected = model(title, content, query);
            std::string scratch;
            CHECK(QueryScorer(q.view).score(t.view, c.view, scratch) == expected);
            if (expected) {
                CHECK(parvenkel::analysis::score_article(t.view, c.view, q.view) == *expected);
            }
        }
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);
}

TEST_CASE("byte search agrees with std::string_view::find under every kernel") {
    std::mt19937 random(11);
    const auto pick = [&](std::size_t n) {
        return static_cast<std::size_t>(random() % static_cast<unsigned>(n));
    };
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        for (int round = 0; round < 20000; ++round) {
            // Few distinct bytes, so that candidates abound and periodic
            // texts send the search on to its linear fallback.
            const std::string bytes = pick(2) == 0 ? "ab" : "aAb\xCF\x83 ";
            std::string hay(pick(300), 'a');
            for (char& c : hay) {
                c = bytes[pick(bytes.size())];
            }
            std::string needle = hay.substr(hay.empty() ? 0 : pick(hay.size()), pick(9));
            if (pick(3) == 0 && !needle.empty()) {
                needle[pick(needle.size())] = bytes[pick(bytes.size())];
            }
            if (pick(8) == 0) {
                // A periodic text: every position is a candidate.
                hay.assign(pick(3000), 'a');
                needle = std::string(1 + pick(8), 'a') + (pick(2) == 0 ? "b" : "a");
                hay += pick(2) == 0 ? needle : "";
            }
            CAPTURE(hay);
            CAPTURE(needle);
            CHECK(parvenkel::analysis::is_contained_in(needle, hay) ==
                  (hay.find(needle) != std::string::npos));
        }
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);
}

TEST_CASE("a sign that lowercases to ASCII is seen at every offset of a vector step") {
    // The search of an ASCII needle in UTF-8 hands a text back to the
    // lowercasing search at its first byte beyond ASCII: the Kelvin sign
    // (U+212A) lowercases to k and U+0130 to i and U+0307, so a step that
    // missed one would miss these matches.
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        for (const char32_t sign : {char32_t{0x212A}, char32_t{0x130}}) {
            const std::u32string query = sign == 0x212A ? U"xk" : U"xi";
            for (std::size_t at = 1; at < 200; ++at) {
                std::u32string content(at, U'x');
                content += sign;
                content += std::u32string(at % 70, U'y');
                CAPTURE(at);
                const Units c(content, 3);
                const Units t(std::u32string(U"title"), 3);
                const Units q(query, 0);
                std::string scratch;
                CHECK(QueryScorer(q.view).score(t.view, c.view, scratch) == 100.0);
            }
        }
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);
}
