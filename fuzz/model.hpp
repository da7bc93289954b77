// Second implementations of what the core does, written in the plainest way
// (code point arrays, std::map, naive search), and the helpers that shape
// the fuzz target's inputs. tools/fuzz.sh builds this file without coverage
// instrumentation: its branches say nothing about the code under test, and
// counting them made libFuzzer keep inputs for the models' sake and spend
// most of each run in the models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "text/text_view.hpp"

namespace parvenkel::fuzz {

// Reports a broken invariant (with the bytes of `detail` in hex) and aborts.
[[noreturn]] void fail(const char* what, std::string_view detail = {});
void check(bool ok, const char* what, std::string_view detail = {});

// --- UTF-8, written out from the table of well-formed byte sequences
// (Unicode, chapter 3, table 3-7), independent of src/text/utf8.hpp.

// Length of the well-formed sequence at s[i], or 0 when there is none.
std::size_t well_formed_at(std::string_view s, std::size_t i);
bool is_well_formed(std::string_view s);
// Keeps the well-formed sequences of `raw`, drops every other byte.
std::string make_well_formed(std::string_view raw);
std::u32string decode(std::string_view s);
std::string encode(std::u32string_view cps);

// --- Second implementations.

// Final_Sigma at cps[i]: preceded by a Cased character with only
// Case_Ignorable ones between, and not followed by Case_Ignorable ones and
// then a Cased one.
bool is_final_sigma(std::u32string_view cps, std::size_t i);
std::u32string lowercase_model(std::u32string_view cps);
std::vector<std::u32string> split_model(std::u32string_view cps);
std::u32string letters_model(std::u32string_view cps);
// The normalised words of a text, in text order, before the length and
// stop-word filters.
std::vector<std::string> normalised_words_model(std::u32string_view cps);
std::map<std::string, std::uint64_t> keyword_counts_model(
    std::u32string_view cps, const std::vector<std::string>& stop_words);
bool contains_model(std::string_view needle, std::string_view haystack);
double score_model(std::string_view title, std::string_view content, std::string_view query);

// --- Inputs.

// A text in the forms a caller may hold it in: its narrowest fixed width
// (UTF-8 for ASCII, as the call frame passes it), and four bytes a unit.
struct FixedWidth {
    std::basic_string<std::uint8_t> latin1;
    std::u16string ucs2;
    std::u32string ucs4;
    text::TextView narrowest;

    explicit FixedWidth(std::string_view utf8);
    text::TextView wide() const { return {ucs4.data(), ucs4.size(), text::Form::UCS4}; }
};

// A content longer than the window in which scoring lowercases long texts
// (16 KiB; texts up to twice that are lowercased whole), with the query
// written into it near the first window's end, so that matches fall before,
// across and after the seam: the content field repeated to about 16 KiB,
// the query, the content field repeated again to just over 32 KiB.
std::string make_long(const std::string& content, const std::string& query);

}  // namespace parvenkel::fuzz
