#include "kernels/dispatch.hpp"

#include <algorithm>
#include <atomic>
#include <memory>

#include "kernels/isa.hpp"
#include "kernels/searches.hpp"
#include "kernels/word_walker.hpp"

namespace parvenkel::kernels {

namespace scalar {
std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes);
extern const Searches SEARCHES;
}  // namespace scalar
#if defined(PARVENKEL_SSE2)
namespace sse2 {
std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes);
extern const Searches SEARCHES;
}  // namespace sse2
#endif
#if defined(PARVENKEL_AVX2_TARGET)
namespace avx2 {
std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes);
extern const Searches SEARCHES;
}  // namespace avx2
#endif

namespace {

Kernels detect() noexcept {
#if defined(PARVENKEL_AVX2_TARGET)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) {
        return Kernels::AVX2;
    }
#endif
#if defined(PARVENKEL_SSE2)
    return Kernels::SSE2;
#else
    return Kernels::SCALAR;
#endif
}

const Kernels detected = detect();
std::atomic<Kernels> limit{Kernels::AVX2};

}  // namespace

Kernels active() noexcept { return std::min(detected, limit.load(std::memory_order_relaxed)); }

std::unique_ptr<WordWalker> make_word_walker(const std::vector<std::string>& stop_words,
                                             std::uint64_t seed, std::size_t text_bytes) {
    switch (active()) {
#if defined(PARVENKEL_AVX2_TARGET)
        case Kernels::AVX2:
            return avx2::make_word_walker(stop_words, seed, text_bytes);
#endif
#if defined(PARVENKEL_SSE2)
        case Kernels::SSE2:
            return sse2::make_word_walker(stop_words, seed, text_bytes);
#endif
        default:
            return scalar::make_word_walker(stop_words, seed, text_bytes);
    }
}

const Searches& searches() noexcept {
    switch (active()) {
#if defined(PARVENKEL_AVX2_TARGET)
        case Kernels::AVX2:
            return avx2::SEARCHES;
#endif
#if defined(PARVENKEL_SSE2)
        case Kernels::SSE2:
            return sse2::SEARCHES;
#endif
        default:
            return scalar::SEARCHES;
    }
}

WordWalker::WordWalker(const std::vector<std::string>& stop_words, std::uint64_t seed,
                       std::size_t text_bytes)
    : table_(seed, text_bytes) {
    for (const std::string& stop_word : stop_words) {
        // A stop word shorter than any counted word can never match.
        if (stop_word.size() >= analysis::MIN_KEYWORD_BYTES) {
            table_.add_stop_word(stop_word);
        }
    }
}

}  // namespace parvenkel::kernels

namespace parvenkel::analysis {

void limit_kernels(Kernels most) noexcept { kernels::limit.store(most, std::memory_order_relaxed); }

}  // namespace parvenkel::analysis
