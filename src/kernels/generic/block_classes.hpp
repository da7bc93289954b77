// The classes of a block's characters, written once over the vector of
// bytes of an instruction set (its Bytes: SSE2's of 16, AVX2's of 32, in the
// manner of simdjson's simd8) and compiled inside the namespace and region
// of each (sse2/ and avx2/word_kernels.hpp include this file after their
// Bytes, and PARVENKEL_BLOCK_INLINE, `inline` where that set's walker is
// faster with classify_block inlined into its chunk loop whatever the
// width of the units, empty where the compiler decides). No include guard.

// Bytes x with lo <= x <= hi, as unsigned values.
inline Bytes in8(Bytes bytes, int lo, int hi) noexcept {
    const Bytes offset = Bytes::sub(bytes, Bytes::splat(lo));
    return Bytes::equal(Bytes::min(offset, Bytes::splat(hi - lo)), offset);
}

inline Bytes is8(Bytes bytes, int value) noexcept {
    return Bytes::equal(bytes, Bytes::splat(value));
}

// classify_block: the masks of 64 units (ASCII White_Space, ASCII letters,
// units beyond ASCII) and their ASCII lowercase bytes, Bytes::SIZE at a
// time, each unit beyond ASCII narrowed to 0x80.
template <class Unit>
PARVENKEL_BLOCK_INLINE BlockMasks classify_block(const Unit* units, unsigned char* low) noexcept {
    BlockMasks masks{0, 0, 0};
    for (unsigned part = 0; part < 64 / Bytes::SIZE; ++part) {
        const Bytes v = Bytes::narrow(units + Bytes::SIZE * part);
        const Bytes space = is8(v, ' ') | in8(v, 0x09, 0x0D);
        const Bytes upper = in8(v, 'A', 'Z');
        const Bytes letter = in8(v | Bytes::splat(0x20), 'a', 'z');
        (v | (upper & Bytes::splat(0x20))).store(low + Bytes::SIZE * part);
        const unsigned shift = Bytes::SIZE * part;
        masks.space |= space.mask() << shift;
        masks.letter |= letter.mask() << shift;
        masks.special |= v.mask() << shift;
    }
    return masks;
}

// The low bytes of the code points of `R`, a range within one page of 256.
template <text::tables::CodePointRange R>
Bytes low_in(Bytes low) noexcept {
    static_assert(R.first >> 8 == R.last >> 8, "a range across pages");
    if constexpr (R.first == R.last) {
        return is8(low, static_cast<int>(R.first & 0xFF));
    } else {
        return in8(low, static_cast<int>(R.first & 0xFF), static_cast<int>(R.last & 0xFF));
    }
}

// The low bytes of the code points of RANGES[K + k], each within a page.
template <const auto& RANGES, std::size_t K, std::size_t... k>
Bytes any_low_in(Bytes low, std::index_sequence<k...>) noexcept {
    return (low_in<RANGES[K + k]>(low) | ...);
}

// The characters of RANGES[K...], ranges in order each within a page, from
// their high and low bytes: one test of the high byte a page.
template <const auto& RANGES, std::size_t K = 0>
Bytes any_on_pages(Bytes high, Bytes low) noexcept {
    constexpr std::size_t N = std::size(RANGES);
    constexpr char32_t PAGE = RANGES[K].first >> 8;
    constexpr std::size_t END = [] {
        std::size_t end = K;
        while (end < N && RANGES[end].first >> 8 == PAGE) {
            ++end;
        }
        return end;
    }();
    const Bytes here = is8(high, static_cast<int>(PAGE)) &
                       any_low_in<RANGES, K>(low, std::make_index_sequence<END - K>{});
    if constexpr (END < N) {
        return here | any_on_pages<RANGES, END>(high, low);
    } else {
        return here;
    }
}

// The characters of RANGES, whole pages, from their high bytes.
template <const auto& RANGES, std::size_t... k>
Bytes any_pages(Bytes high, std::index_sequence<k...>) noexcept {
    static_assert(((RANGES[k].first % 256 == 0 && RANGES[k].last % 256 == 255) && ...),
                  "a range of pages that is not whole pages");
    return (
        in8(high, static_cast<int>(RANGES[k].first >> 8), static_cast<int>(RANGES[k].last >> 8)) |
        ...);
}

template <const auto& RANGES>
constexpr auto EACH = std::make_index_sequence<std::size(RANGES)>{};

// The letters of three bytes (THREE_BYTE_LETTERS) and the characters words
// drop (SKIPPED) among characters of the Basic Multilingual Plane given as
// their high and low bytes: the classes are nearly all whole pages of 256
// code points, told apart by the high byte alone (text/kernel_ranges.hpp).
struct ThreeClasses {
    Bytes three;
    Bytes skip;
};

inline ThreeClasses three_classes(Bytes high, Bytes low) noexcept {
    namespace t = text::tables;
    constexpr auto& SPAN = t::THREE_BYTE_ON_PAGE[0];
    static_assert(std::size(t::THREE_BYTE_ON_PAGE) == 1);
    static_assert(
        [] {
            for (const auto& hole : t::THREE_BYTE_ON_PAGE_HOLES) {
                if (hole.first >> 8 != SPAN.first >> 8) {
                    return false;
                }
            }
            return true;
        }(),
        "a hole off the span's page");
    const Bytes pages =
        Bytes::and_not(any_on_pages<t::THREE_BYTE_PAGE_GAPS>(high, low),
                       any_pages<t::THREE_BYTE_PAGES>(high, EACH<t::THREE_BYTE_PAGES>));
    const Bytes span = is8(high, static_cast<int>(SPAN.first >> 8)) &
                       Bytes::and_not(any_low_in<t::THREE_BYTE_ON_PAGE_HOLES, 0>(
                                          low, EACH<t::THREE_BYTE_ON_PAGE_HOLES>),
                                      low_in<SPAN>(low));
    return {pages | span, any_on_pages<t::SKIPPED>(high, low)};
}

#undef PARVENKEL_BLOCK_INLINE
