// The scalar kernels of the searches, by the names the searches call: no
// vector step, so every position is verified by the linear loops that
// follow the kernels in generic/searches.hpp, and the two-way search looks
// for units one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernels/search_parts.hpp"
#include "text/two_way.hpp"

namespace parvenkel::kernels::scalar {

template <bool FOLD, class Check>
Search scan_bytes(const unsigned char*, std::size_t, const unsigned char*, std::size_t, BytePair,
                  Check&, std::size_t&) noexcept {
    return Search::ABSENT;
}

template <class Unit, bool CHECK, bool OTHER, class Verify>
Search scan_units(const Unit*, std::size_t, std::size_t, const UnitFilter&, Verify&,
                  std::size_t&) noexcept {
    return Search::ABSENT;
}

template <class Unit, class Lower>
Unit* lower_ascii_lanes(const Unit*, std::size_t&, std::size_t, Unit* out, Lower&) noexcept {
    return out;
}

using FindUnit = text::FindUnitScalar;

}  // namespace parvenkel::kernels::scalar
