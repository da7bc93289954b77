// The byte searches of scoring (ByteSearch and find_bytes), written once
// and compiled inside the namespace of each instruction set, where
// scan_bytes is that set's kernel: generic/searches.hpp includes it for
// every set, and avx512/searches.cpp alone, since that set takes AVX2's
// searches of fixed-width units. No include guard: each unit includes it
// once, inside the set's region, after generic/dependencies.hpp and the
// set's kernels.

namespace parvenkel::kernels::PARVENKEL_SET {

namespace {

// Searches the lowercase form of an ASCII text for an already lowercased
// needle without building that form (FOLD), or a text for the needle's
// bytes as they are: candidates are the positions whose bytes at two
// offsets match the needle's there (rare_pair's; with FOLD, its first and
// last, a letter in either case), a block of
// positions at a time, and each is verified byte by byte. Gives up
// (UNDECIDED) when verification costs too much, so that an adversarial text
// goes on with a linear search from resume(); with FOLD also at the first
// byte that is not ASCII, whose lowercase form can differ in length.
template <bool FOLD>
class ByteSearch {
   public:
    ByteSearch(std::string_view needle, std::string_view text) noexcept
        : hay_(reinterpret_cast<const unsigned char*>(text.data())),
          pattern_(reinterpret_cast<const unsigned char*>(needle.data())),
          n_(text.size()),
          m_(needle.size()),
          pair_(FOLD ? BytePair{0, m_ > 0 ? m_ - 1 : 0} : rare_pair(pattern_, m_)) {}

    Search run() noexcept {
        std::size_t i = 0;
        if (m_ <= n_) {
            auto verify = [this](std::size_t at, std::uint64_t mask) { return check(at, mask); };
            const Search found = scan_bytes<FOLD>(hay_, n_, pattern_, m_, pair_, verify, i);
            if (found != Search::ABSENT) {
                stopped_ = i;
                return found;
            }
        }
        // The positions left over, and every byte not yet seen by a block.
        stopped_ = i;
        for (std::size_t j = i; FOLD && j < n_; ++j) {
            if (hay_[j] >= 0x80) {
                return Search::UNDECIDED;
            }
        }
        for (; i + m_ <= n_; ++i) {
            if (const Search found = check(i, 1); found != Search::ABSENT) {
                stopped_ = i;
                return found;
            }
        }
        return Search::ABSENT;
    }

    // After UNDECIDED, the byte from which a linear search must look (the
    // start of a character).
    std::size_t resume() const noexcept {
        if constexpr (!FOLD) {
            return stopped_;
        }
        return resume_at(hay_, n_, m_, stopped_, [](unsigned char byte) { return byte >= 0x80; });
    }

   private:
    // The candidates at `at` + the set bits of `mask`, in order: FOUND,
    // UNDECIDED once verifying costs too much, or ABSENT. A folded match of a
    // letter can also be a non-letter (say '@' for '`'), and a byte that is
    // not ASCII matches nothing here: the exact check rules both out, and
    // the blocks see every byte that is not ASCII before they end.
    Search check(std::size_t at, std::uint64_t mask) noexcept {
        for (; mask != 0; mask &= mask - 1) {
            const std::size_t pos = at + static_cast<std::size_t>(__builtin_ctzll(mask));
            std::size_t k = 0;
            while (k < m_ && (FOLD ? lower_ascii(hay_[pos + k]) : hay_[pos + k]) == pattern_[k]) {
                ++k;
            }
            if (k == m_) {
                return Search::FOUND;
            }
            compared_ += k + 1;
            if (verified_too_much(compared_, pos)) {
                return Search::UNDECIDED;
            }
        }
        return Search::ABSENT;
    }

    const unsigned char* hay_;
    const unsigned char* pattern_;
    std::size_t n_;
    std::size_t m_;
    BytePair pair_;  // the bytes the kernels compare at every position
    std::size_t compared_ = 0;
    std::size_t stopped_ = 0;  // every position before it is ruled out (see resume())
};

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

}  // namespace parvenkel::kernels::PARVENKEL_SET
