// The searches of scoring with the avx2 kernels.
#include "kernels/isa.hpp"
#if defined(PARVENKEL_AVX2_TARGET)

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "kernels/search_parts.hpp"
#include "kernels/searches.hpp"
#include "kernels/sse2/search_kernels.hpp"
#include "text/lowercase.hpp"
#include "text/text_view.hpp"
#include "text/two_way.hpp"
#include "text/utf8.hpp"

// Everything below, to end.hpp, is compiled for AVX2.
#include "kernels/avx2/begin.hpp"
// The kernels the searches call by name.
#include "kernels/avx2/search_kernels.hpp"

namespace parvenkel::kernels::avx2 {

namespace {

#include "kernels/generic/searches.hpp"

template <bool FOLD>
Search find_bytes(std::string_view needle, std::string_view text, std::size_t& resume) noexcept {
    ByteSearch<FOLD> quick(needle, text);
    const Search found = quick.run();
    if (found == Search::UNDECIDED) {
        resume = quick.resume();
    }
    return found;
}

}  // namespace

extern const Searches SEARCHES;
const Searches SEARCHES = {
    find_bytes<true>,
    find_bytes<false>,
    {lowercase_units_contain<std::uint8_t, false>, lowercase_units_contain<std::uint8_t, true>},
    {lowercase_units_contain<char16_t, false>, lowercase_units_contain<char16_t, true>},
    {lowercase_units_contain<char32_t, false>, lowercase_units_contain<char32_t, true>},
};

}  // namespace parvenkel::kernels::avx2

#include "kernels/avx2/end.hpp"
#endif
