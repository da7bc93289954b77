// White_Space and Alphabetic (Unicode 17.0.0), and the word operations built
// on them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "text/utf8.hpp"

namespace parvenkel::text {

bool is_white_space(char32_t cp) noexcept;
bool is_alphabetic(char32_t cp) noexcept;

// Calls `on_word(std::string_view)` for each maximal run of non-White_Space
// characters of `text`, in text order, as soon as its end is found. Words
// are views into `text`; no word is empty.
template <class OnWord>
void split_words(std::string_view text, OnWord&& on_word);

// The Alphabetic characters of `word`, in order; empty when it has none
// (and then nothing is allocated).
std::string keep_letters(std::string_view word);

}  // namespace parvenkel::text

#include "text/char_classes_inl.hpp"
