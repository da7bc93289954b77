// The two-way search against std::basic_string_view::find on every needle
// and text over small alphabets, where periodic needles abound: the text
// whole and a few units at a time, as a windowed caller feeds it.
#include <doctest/doctest.h>

#include <string>
#include <vector>

#include "kernels/sse2/search_kernels.hpp"
#include "text/two_way.hpp"

namespace {

using parvenkel::text::TwoWaySearch;

template <class Char>
std::vector<std::basic_string<Char>> all_strings(std::basic_string<Char> alphabet,
                                                 std::size_t longest) {
    std::vector<std::basic_string<Char>> out = {{}};
    for (std::size_t i = 0; i < out.size() && out[i].size() < longest; ++i) {
        for (const Char c : alphabet) {
            out.push_back(out[i] + c);
        }
    }
    out.erase(out.begin());  // no empty needle
    return out;
}

// The offset of the first match, `piece` units given at a time; what the
// search has passed is dropped before the next piece.
template <class Char, class Find>
std::size_t find_in_pieces(const TwoWaySearch<Char, Find>& search,
                           std::basic_string_view<Char> text, std::size_t piece) {
    std::basic_string<Char> held;
    std::size_t dropped = 0;
    typename TwoWaySearch<Char, Find>::Cursor cursor;
    for (std::size_t begin = 0;; begin += piece) {
        held.erase(0, cursor.at);
        dropped += cursor.at;
        cursor.at = 0;
        held.append(text.substr(std::min(begin, text.size()), piece));
        if (search.find(held.data(), held.size(), cursor)) {
            return dropped + cursor.at;
        }
        if (begin + piece >= text.size()) {
            return text.npos;
        }
    }
}

template <class Char>
std::string units_of(const std::basic_string<Char>& text) {
    std::string out;
    for (const Char c : text) {
        out += std::to_string(static_cast<unsigned long>(c)) + " ";
    }
    return out;
}

template <class Char, class Find = parvenkel::text::FindUnitScalar>
void check_every_pair(const std::basic_string<Char>& alphabet, std::size_t needles,
                      std::size_t texts) {
    std::size_t failures = 0;
    for (const auto& needle : all_strings(alphabet, needles)) {
        const TwoWaySearch<Char, Find> search{std::basic_string_view<Char>(needle)};
        for (const auto& text : all_strings(alphabet, texts)) {
            const std::basic_string_view<Char> view(text);
            for (const std::size_t piece : {text.size(), std::size_t{1}, std::size_t{3}}) {
                if (find_in_pieces(search, view, piece) != view.find(needle) && failures++ < 3) {
                    FAIL_CHECK("needle " << units_of(needle) << "text " << units_of(text)
                                         << "piece " << piece);
                }
            }
        }
    }
    CHECK(failures == 0);
}

}  // namespace

TEST_CASE("the two-way search finds what find finds, on bytes and on wider units") {
    check_every_pair<char>("ab", 7, 11);
    check_every_pair<char>("abc", 4, 7);
    // Units beyond a byte, in both orders, and as many as a vector holds.
    check_every_pair<char16_t>(u"\u0436\u0416", 5, 10);
    check_every_pair<char32_t>(U"\U00010428\u0130", 5, 10);
#if defined(PARVENKEL_SSE2)
    // The same with the kernel layer's vector search for a unit.
    using parvenkel::kernels::sse2::FindUnit;
    check_every_pair<char16_t, FindUnit>(u"\u0436\u0416", 5, 10);
    check_every_pair<char32_t, FindUnit>(U"\U00010428\u0130", 5, 10);
#endif
}
