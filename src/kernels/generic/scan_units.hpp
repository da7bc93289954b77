// The scan of search_lowercase_units (generic/searches.hpp) in text of
// fixed-width units, written once and compiled inside the namespace of each
// vector instruction set (sse2/ and avx2/search_kernels.hpp), over that
// set's UnitLanes: vectors of BYTES bytes, split into lanes of one unit each.
//
// Sixty-four bytes a step from `next`: the positions whose first unit and
// unit at filter.second are candidates are verified. Stops with UNDECIDED
// at a step that holds U+0130 and, when CHECK, with SURROGATE at one that
// holds a surrogate; the units before `next` have been seen by both tests.
//
// No include guard: each set's header includes it once, inside its region.

namespace parvenkel::kernels::PARVENKEL_SET {

// The lanes of `v` that may be a filter's unit: equal to `value` once ORed
// with `fold`, or, with OTHER, equal to `other`.
template <class Unit, bool OTHER>
inline UnitLanes::Vector unit_candidates(UnitLanes::Vector v, UnitLanes::Vector fold,
                                         UnitLanes::Vector value,
                                         UnitLanes::Vector other) noexcept {
    using L = UnitLanes;
    const L::Vector hit = L::equal<Unit>(L::either(v, fold), value);
    return OTHER ? L::either(hit, L::equal<Unit>(v, other)) : hit;
}

template <class Unit, bool CHECK, bool OTHER, class Verify>
Search scan_units(const Unit* hay, std::size_t n, std::size_t m, const UnitFilter& filter,
                  Verify& verify, std::size_t& next) noexcept {
    using L = UnitLanes;
    using V = L::Vector;
    constexpr std::size_t BLOCKS = 64 / L::BYTES;
    constexpr std::size_t LANES = L::BYTES / sizeof(Unit);
    constexpr std::size_t STEP = BLOCKS * LANES;
    constexpr bool TROUBLE = sizeof(Unit) > 1;
    const V fold0 = L::splat<Unit>(filter.first.fold);
    const V value0 = L::splat<Unit>(filter.first.value);
    const V other0 = L::splat<Unit>(filter.first.other);
    const V fold1 = L::splat<Unit>(filter.at_second.fold);
    const V value1 = L::splat<Unit>(filter.at_second.value);
    const V other1 = L::splat<Unit>(filter.at_second.other);
    const V expands = L::splat<Unit>(EXPANDS);
    const V high = L::splat<Unit>(0xFFFFF800);
    const V surrogate = L::splat<Unit>(0xD800);
    const std::size_t second = filter.second;
    std::size_t i = next;
    for (; i + m - 1 + STEP <= n; i += STEP) {
        // The step's units first, for the rare step that ends the scan.
        V a[BLOCKS];
        V trouble = L::zero();
        for (std::size_t block = 0; block < BLOCKS; ++block) {
            a[block] = L::load(hay + i + block * LANES);
            if constexpr (TROUBLE) {
                trouble = L::either(trouble, L::equal<Unit>(a[block], expands));
                if constexpr (CHECK) {
                    trouble =
                        L::either(trouble, L::equal<Unit>(L::both(a[block], high), surrogate));
                }
            }
        }
        if (TROUBLE && L::any(trouble)) {
            next = i;
            return troubled<Unit, CHECK>(hay + i, STEP);
        }
        std::uint64_t mask = 0;
        for (std::size_t block = 0; block < BLOCKS; ++block) {
            const Unit* shifted = hay + i + block * LANES + second;
            const V hit =
                L::both(unit_candidates<Unit, OTHER>(a[block], fold0, value0, other0),
                        unit_candidates<Unit, OTHER>(L::load(shifted), fold1, value1, other1));
            mask |= std::uint64_t{L::top_bits(hit)} << (L::BYTES * block);
        }
        if (mask != 0) {
            // The set's own copy where it has one (compiled in its target
            // region, so that the verifier inlines into it).
            if (const Search found = verify_candidates<Unit>(mask, i, verify);
                found != Search::ABSENT) {
                next = i;
                return found;
            }
        }
    }
    next = i;
    return Search::ABSENT;
}

}  // namespace parvenkel::kernels::PARVENKEL_SET
