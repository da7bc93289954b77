// Allocation counts of the text primitives: lookups allocate nothing, a
// conversion allocates its result once, and a word without letters costs
// no allocation. Counted by replacing the global operator new of this test
// program.
#include <doctest/doctest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "text/char_classes.hpp"
#include "text/char_info.hpp"
#include "text/lowercase.hpp"
#include "text_test_util.hpp"

namespace parvenkel::testing {
// When 0 or more: the number of allocations to let through before one
// fails with std::bad_alloc (test_corpus.cpp).
std::atomic<long> allocations_until_failure{-1};
}  // namespace parvenkel::testing

namespace {

std::atomic<std::size_t> allocations{0};

// Allocations made while `f` runs.
template <class F>
std::size_t count_allocations(F&& f) {
    const std::size_t before = allocations;
    f();
    return allocations - before;
}

}  // namespace

void* operator new(std::size_t size) {
    ++allocations;
    auto& until = parvenkel::testing::allocations_until_failure;
    if (until.load(std::memory_order_relaxed) >= 0 && until.fetch_sub(1) == 0) {
        throw std::bad_alloc();
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }

void operator delete(void* p, std::size_t) noexcept { std::free(p); }

// The nothrow form (std::stable_sort's buffer) goes the same way, so that
// every block is freed by the function that matches its allocation (which
// AddressSanitizer checks) and counts, and may fail, like the others.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

using namespace parvenkel::text;
using testing::utf8;

TEST_CASE("lookups allocate nothing") {
    std::size_t multi = 0;
    std::size_t spaces = 0;
    std::size_t hits = 0;
    std::size_t info_hits = 0;
    std::size_t bytes = 0;
    const std::size_t n = count_allocations([&] {
        for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
            multi += to_lower(cp).len > 1 ? 1u : 0u;
            spaces += is_white_space(cp) ? 1u : 0u;
            hits += (is_cased(cp) ? 1u : 0u) + (is_case_ignorable(cp) ? 1u : 0u) +
                    (is_alphabetic(cp) ? 1u : 0u);
            const CharInfo info = char_info(cp);
            info_hits += (info.is_cased() ? 1u : 0u) + (info.is_case_ignorable() ? 1u : 0u) +
                         (info.is_alphabetic() ? 1u : 0u);
            char buffer[LOWER_MAX_BYTES];
            char* out = buffer;
            append_lower(out, cp, info);
            bytes += static_cast<std::size_t>(out - buffer);
        }
    });
    CHECK(n == 0);
    CHECK(multi == 1);
    CHECK(spaces == 25);
    CHECK(hits == 4632 + 2794 + 147421);
    CHECK(info_hits == hits);
    CHECK(bytes > 0x110000);
}

TEST_CASE("to_lowercase allocates its result once when it fits the input's length") {
    // Mappings to the same length or shorter, with sigmas, ASCII blocks and
    // supplementary characters.
    std::u32string text;
    for (int i = 0; i < 50; ++i) {
        text += U"ABCDEFGHIJKLMNOPQRSTUVWXYZ \u0391\u03A3 \u2C62\u00C0\U00010400\u4E00.";
    }
    const std::string input = utf8(text);
    std::string result;
    CHECK(count_allocations([&] { result = to_lowercase(input); }) == 1);
    CHECK(result.size() < input.size());
    CHECK(count_allocations([&] { result = to_lowercase(""); }) == 0);
}

TEST_CASE("split_words copies nothing") {
    const std::string text = utf8(U"a long enough text\u3000to split into\u00A0several words");
    std::size_t words = 0;
    CHECK(count_allocations([&] { split_words(text, [&words](std::string_view) { ++words; }); }) ==
          0);
    CHECK(words == 9);
}

TEST_CASE("keep_letters allocates only for letters") {
    std::string letters;
    CHECK(count_allocations([&] {
              letters = keep_letters("12345678901234567890123456789012345678901234567890--");
          }) == 0);
    CHECK(letters.empty());
    // One run of letters between non-letters is appended in one step.
    const std::string word = utf8(
        U"\u00AB\u0391\u03BB\u03C6\u03AC\u03B2\u03B7\u03C4\u03BF\u03C2abcdefghijklmnopqrstuvwxyz!");
    CHECK(count_allocations([&] { letters = keep_letters(word); }) == 1);
    CHECK(letters.size() == word.size() - 3);
}
