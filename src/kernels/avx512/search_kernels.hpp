// The AVX-512 kernel of the byte searches: candidate positions 64 bytes a
// step in one register, compared into mask registers. Included only inside
// the AVX-512 target region.
#pragma once

namespace parvenkel::kernels::avx512 {

// sse2::scan_bytes with one 64-byte vector a step: each offset of the pair
// is one load and one compare into a mask, where AVX2 takes two of each
// and a move of each half's bits. The positions left over go to SSE2's
// steps of sixteen.
template <bool FOLD, class Check>
Search scan_bytes(const unsigned char* hay, std::size_t n, const unsigned char* pattern,
                  std::size_t m, BytePair pair, Check& check, std::size_t& next) noexcept {
    const std::size_t span = m - 1;
    std::size_t i = next;
    const unsigned char one = pattern[pair.first];
    const unsigned char two = pattern[pair.second];
    const __m512i first = _mm512_set1_epi8(static_cast<char>(one));
    const __m512i last = _mm512_set1_epi8(static_cast<char>(two));
    const __m512i first_fold = _mm512_set1_epi8(FOLD && is_ascii_lower_letter(one) ? 0x20 : 0);
    const __m512i last_fold = _mm512_set1_epi8(FOLD && is_ascii_lower_letter(two) ? 0x20 : 0);
    for (; i + span + 64 <= n; i += 64) {
        const __m512i a = _mm512_loadu_si512(hay + i + pair.first);
        const __m512i b = _mm512_loadu_si512(hay + i + pair.second);
        if (FOLD && _mm512_movepi8_mask(a) != 0) {
            next = i;
            return Search::UNDECIDED;
        }
        const std::uint64_t mask = _mm512_mask_cmpeq_epi8_mask(
            _mm512_cmpeq_epi8_mask(_mm512_or_si512(a, first_fold), first),
            _mm512_or_si512(b, last_fold), last);
        if (mask != 0) {
            if (const Search found = check(i, mask); found != Search::ABSENT) {
                next = i;
                return found;
            }
        }
    }
    next = i;
    return sse2::scan_bytes<FOLD>(hay, n, pattern, m, pair, check, next);
}

}  // namespace parvenkel::kernels::avx512
