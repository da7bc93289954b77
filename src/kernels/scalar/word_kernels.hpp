// The scalar kernels of the word walker, by the names the walker calls:
// the portable twins of word_classes.hpp, for builds and processors without
// vector instructions and for the sweeps that compare every set with them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/word_classes.hpp"

namespace parvenkel::kernels::scalar {

template <class Unit>
BlockMasks classify_block(const Unit* units, unsigned char* low) noexcept {
    return classify_scalar(units, 64, low);
}

template <class Unit>
std::uint64_t classify_two_block(const Unit* units, std::uint16_t* form2) noexcept {
    return classify_two_scalar(units, 64, form2);
}

template <class Unit>
ThreeMasks classify_three_block(const Unit* units, std::uint32_t* form3,
                                std::uint8_t* size3) noexcept {
    return classify_three_scalar(units, 64, form3, size3);
}

inline constexpr bool GATHERS = false;
inline std::size_t gather_letters(const unsigned char* low, const std::uint16_t* form2,
                                  unsigned letters, unsigned two, char* out) noexcept {
    return gather_letters_scalar(low, form2, letters, two, out);
}

// The exact path takes every character through the Unicode tables.
inline constexpr bool LETTER_RUNS = false;
template <class Unit>
std::size_t letter_runs(const Unit*, char*&) noexcept {
    return 0;
}

}  // namespace parvenkel::kernels::scalar
