// Throughput of the C++ text primitives on whole texts, without Python.
//
//   text_bench [--rounds N] FILE...
//
// For each UTF-8 file, in MB/s of input (median and best of N rounds, each
// round at least 20 ms of repeated calls). Time is the processor time of
// the process (std::clock), so that a busy machine, which takes the
// processor away now and then, disturbs the figures less:
//   to_lowercase    the whole text at once
//   lower_2k        to_lowercase of each piece of about 2 KB of the text
//                   (short article bodies; also in microseconds per piece)
//   is_alphabetic   decode every character and count the Alphabetic ones
//   char_info       the same through char_info(), when the header exists
//   keep_letters    split_words, then keep_letters of every word
// benchmarks/text_bench.sh builds it with the flags of a release build.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "text/char_classes.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#if __has_include("text/char_info.hpp")
#include "text/char_info.hpp"
#define TEXT_BENCH_HAVE_CHAR_INFO 1
#endif

namespace {

using namespace parvenkel::text;

// Keeps a result alive so that the compiler cannot drop the work.
volatile std::size_t sink = 0;

struct Figures {
    double median_mbs;
    double best_mbs;
    double seconds_per_call;  // median
};

// Calls `op` (which handles `bytes` bytes per call) for `rounds` rounds.
Figures measure(std::size_t bytes, int rounds, const std::function<std::size_t()>& op) {
    std::vector<double> per_call;
    for (int r = 0; r < rounds; ++r) {
        std::size_t calls = 0;
        const std::clock_t start = std::clock();
        std::clock_t now = start;
        do {
            sink = sink + op();
            ++calls;
            now = std::clock();
        } while (now - start < CLOCKS_PER_SEC / 50);
        per_call.push_back(static_cast<double>(now - start) / CLOCKS_PER_SEC /
                           static_cast<double>(calls));
    }
    std::sort(per_call.begin(), per_call.end());
    const double median = per_call[per_call.size() / 2];
    const auto mb = static_cast<double>(bytes) / 1e6;
    return {mb / median, mb / per_call.front(), median};
}

void report(const char* corpus, const char* what, const Figures& f, bool per_call = false) {
    std::printf("%-10s %-14s %9.1f MB/s median %9.1f MB/s best", corpus, what, f.median_mbs,
                f.best_mbs);
    if (per_call) {
        std::printf("  %8.2f us per piece", f.seconds_per_call * 1e6);
    }
    std::printf("\n");
}

// Pieces of about `size` bytes, cut at character boundaries.
std::vector<std::string_view> pieces(std::string_view text, std::size_t size) {
    std::vector<std::string_view> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = std::min(start + size, text.size());
        while (end < text.size() && is_utf8_continuation(static_cast<unsigned char>(text[end]))) {
            ++end;
        }
        out.push_back(text.substr(start, end - start));
        start = end;
    }
    return out;
}

void bench_file(const char* path, int rounds) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "text_bench: cannot read %s\n", path);
        std::exit(1);
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const char* name = std::strrchr(path, '/') != nullptr ? std::strrchr(path, '/') + 1 : path;
    const std::size_t n = text.size();

    report(name, "to_lowercase", measure(n, rounds, [&] { return to_lowercase(text).size(); }));

    // Every piece in turn: the same piece over and over would let the
    // processor learn its branches.
    const std::vector<std::string_view> bodies = pieces(text, 2048);
    Figures per_piece = measure(n, rounds, [&] {
        std::size_t size = 0;
        for (std::string_view body : bodies) {
            size += to_lowercase(body).size();
        }
        return size;
    });
    per_piece.seconds_per_call /= static_cast<double>(bodies.size());
    report(name, "lower_2k", per_piece, true);

    report(name, "is_alphabetic", measure(n, rounds, [&] {
               std::size_t count = 0;
               for (std::size_t i = 0; i < n;) {
                   const Utf8Char c = decode_utf8(text.data() + i);
                   count += is_alphabetic(c.cp) ? 1u : 0u;
                   i += c.length;
               }
               return count;
           }));

#if defined(TEXT_BENCH_HAVE_CHAR_INFO)
    report(name, "char_info", measure(n, rounds, [&] {
               std::size_t count = 0;
               for (std::size_t i = 0; i < n;) {
                   const Utf8Char c = decode_utf8(text.data() + i);
                   count += char_info(c.cp).is_alphabetic() ? 1u : 0u;
                   i += c.length;
               }
               return count;
           }));
#endif

    report(name, "keep_letters", measure(n, rounds, [&] {
               std::size_t count = 0;
               split_words(text,
                           [&count](std::string_view word) { count += keep_letters(word).size(); });
               return count;
           }));
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 15;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--rounds") == 0) {
        rounds = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (first >= argc) {
        std::fputs("usage: text_bench [--rounds N] FILE...\n", stderr);
        return 2;
    }
    for (int k = first; k < argc; ++k) {
        bench_file(argv[k], rounds);
    }
    return 0;
}
