// The article index: a failed allocation while adding leaves it as it was,
// a file whose checksums were made to match contents this code never
// writes is refused, or its damaged list reported, rather than read out of
// bounds (the Python suite checks the scores and the damage a checksum
// finds), and the packed blocks of its lists.
#include <doctest/doctest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "analysis/analysis.hpp"
#include "index/candidates.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "kernels/posting_blocks.hpp"
#include "util/bitpack.hpp"
#include "util/file.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace parvenkel::testing {
extern std::atomic<long> allocations_until_failure;
}

namespace {

using parvenkel::index::Article;
using parvenkel::index::ArticleIndex;
using parvenkel::index::IndexFileError;
using parvenkel::index::IndexIoError;
using parvenkel::text::TextView;
using parvenkel::util::testing::Call;

std::vector<Article> as_articles(const std::vector<std::string>& parts) {
    std::vector<Article> articles;
    for (std::size_t k = 0; k + 1 < parts.size(); k += 2) {
        articles.push_back({TextView::utf8(parts[k]), TextView::utf8(parts[k + 1]), std::nullopt});
    }
    return articles;
}

const std::vector<std::string> QUERIES = {"market", "ma",  "\xce\xbf\xce\xb4\xce\xbf\xcf\x82",
                                          "the",    "zzz", "i\xcc\x87"};

std::vector<std::vector<double>> all_scores(const ArticleIndex& index) {
    std::vector<std::vector<double>> out;
    for (const std::string& q : QUERIES) {
        out.push_back(index.scores(TextView::utf8(q)));
    }
    return out;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes `bytes` with both checksums made to match.
void write_checksummed(const std::filesystem::path& path, std::string bytes) {
    const std::uint64_t body = XXH3_64bits(bytes.data() + 80, bytes.size() - 80);
    std::memcpy(bytes.data() + 64, &body, 8);
    const std::uint64_t header = XXH3_64bits(bytes.data(), 72);
    std::memcpy(bytes.data() + 72, &header, 8);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

}  // namespace

TEST_CASE("a failed allocation while adding articles leaves the index as it was") {
    std::vector<std::string> first;
    std::vector<std::string> more;
    for (std::size_t k = 0; k < 40; ++k) {
        first.push_back("Market " + std::to_string(k));
        first.push_back(k % 3 ? "the market" : "\xce\x9f\xce\x94\xce\x9f\xce\xa3 zzz");
        more.push_back("\xc4\xb0stanbul " + std::to_string(k) + std::string(k, 'z'));
        more.push_back(k % 2 ? "ma" : "the end of the market");
    }
    ArticleIndex whole;
    whole.add(as_articles(first), 1);
    whole.add(as_articles(more), 1);
    const auto expected_after = all_scores(whole);

    ArticleIndex index;
    index.add(as_articles(first), 1);
    const auto expected_before = all_scores(index);
    for (long n = 0;; ++n) {
        parvenkel::testing::allocations_until_failure = n;
        bool failed = false;
        try {
            index.add(as_articles(more), 2);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        parvenkel::testing::allocations_until_failure = -1;
        if (!failed) {
            CHECK(index.size() == 80);
            CHECK(all_scores(index) == expected_after);
            break;
        }
        REQUIRE(index.size() == 40);
        REQUIRE(all_scores(index) == expected_before);
    }
}

TEST_CASE("a checksummed file with inconsistent contents is refused, a damaged list reported") {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("parvenkel-index-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto path = folder / "articles.idx";
    ArticleIndex index;
    index.add(as_articles({"zzzz", "", "azzz", ""}), 1);
    index.save(path.string());
    const std::string good = read_file(path);
    const auto refused = [&](std::string bytes, const std::string& problem) {
        write_checksummed(path, std::move(bytes));
        CHECK_THROWS_WITH_AS(ArticleIndex::load(path.string()), problem.c_str(), IndexFileError);
    };

    std::string bytes = good;
    const std::uint64_t too_far = 1000;
    std::memcpy(bytes.data() + 80, &too_far, 8);  // the first title's end
    refused(bytes, "inconsistent text offsets");

    bytes = good;
    const std::size_t text_at = 80 + 8 * 4 * 2 + 8 * 2;
    bytes[text_at] = '\xff';  // in the first title
    refused(bytes, "malformed UTF-8 in article 0");

    bytes = good;
    bytes[16] = 9;  // nine articles announced
    refused(bytes, "truncated: " + std::to_string(good.size()) + " bytes of " +
                       std::to_string(good.size() + 7 * 40));

    bytes = good;
    const std::uint64_t too_many = std::uint64_t{1} << 32;
    std::memcpy(bytes.data() + 16, &too_many, 8);
    refused(bytes, "damaged header (sizes out of range)");

    // The directory: "azz" (article 1) and "zzz" (articles 0 and 1), after
    // the 3 bytes of their lists.
    const std::size_t directory = good.size() - 2 * 24;
    bytes = good;
    bytes[directory + 8] = 2;  // "azz" ends at article 2 of 2
    refused(bytes, "inconsistent trigram directory");
    bytes = good;
    bytes[directory + 24 + 16] = 0;  // "zzz" starts where "azz" does
    refused(bytes, "inconsistent trigram directory");

    bytes = good;
    bytes[80 + 8 * 4 * 2] = 1;  // an id of one byte for the first article, which has none
    refused(bytes, "inconsistent id offsets");
    {
        // Ids "x" and none: the first marked as none, its byte still there.
        ArticleIndex with_ids;
        const std::vector<std::string> parts = {"a", "", "b", ""};
        auto two = as_articles(parts);
        two[0].id = TextView::utf8("x");
        with_ids.add(two, 1);
        with_ids.save(path.string());
        std::string ids = read_file(path);
        ids[80 + 8 * 4 * 2 + 7] = '\x80';
        refused(ids, "inconsistent id offsets");
    }

    // The last list is that of "zzz": articles 0 and 1. A difference of 2
    // names article 2 of 2, the first that does not exist.
    bytes = good;
    bytes[directory - 1] = '\x02';
    write_checksummed(path, bytes);
    const auto loaded = ArticleIndex::load(path.string());
    CHECK(loaded->scores(TextView::utf8("azz")) == std::vector<double>{0.0, 1000.0});
    CHECK_THROWS_WITH_AS(loaded->scores(TextView::utf8("zzz")), "damaged posting list",
                         IndexFileError);
    std::filesystem::remove_all(folder);
}

TEST_CASE("each failing system call of save leaves the old file as it was and no other file") {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("parvenkel-index-calls-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto path = folder / "articles.idx";
    ArticleIndex old;
    old.add(as_articles({"Market", "old"}), 1);
    old.save(path.string());
    const std::string before = read_file(path);
    std::vector<std::string> parts;
    for (int k = 0; k < 3000; ++k) {
        parts.push_back("Market " + std::to_string(k));
        parts.push_back(std::string(400, static_cast<char>('a' + k % 26)));
    }
    ArticleIndex bigger;  // more than one buffer of writes
    bigger.add(as_articles(parts), 1);
    const auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    };
    struct Case {
        Call call;
        int error;
        unsigned skip;
    };
    for (const Case c :
         {Case{Call::open, ENOSPC, 0}, Case{Call::seek, EIO, 0}, Case{Call::write, EFBIG, 0},
          Case{Call::write, ENOSPC, 1}, Case{Call::pwrite, EIO, 0}, Case{Call::fsync, EIO, 0},
          Case{Call::link, EMLINK, 0}, Case{Call::close, EIO, 0}, Case{Call::rename, EXDEV, 0}}) {
        CAPTURE(static_cast<int>(c.call));
        CAPTURE(c.skip);
        parvenkel::util::testing::fail_call(c.call, c.error, c.skip);
        bool failed = false;
        try {
            bigger.save(path.string());
        } catch (const IndexIoError& e) {
            failed = true;
            CHECK(e.error() == c.error);
            CHECK(e.path() == path.string());
        }
        parvenkel::util::testing::fail_call(c.call, 0);
        CHECK(failed);
        CHECK(read_file(path) == before);
        CHECK(listing() == std::vector<std::string>{"articles.idx"});
        CHECK(ArticleIndex::load(path.string())->scores(TextView::utf8("old")) ==
              std::vector<double>{100.0});
    }
    for (const Case c :
         {Case{Call::open, EACCES, 0}, Case{Call::fstat, EIO, 0}, Case{Call::read, EIO, 0}}) {
        CAPTURE(static_cast<int>(c.call));
        parvenkel::util::testing::fail_call(c.call, c.error, c.skip);
        bool failed = false;
        try {
            ArticleIndex::load(path.string());
        } catch (const IndexIoError& e) {
            failed = true;
            CHECK(e.error() == c.error);
            CHECK(e.path() == path.string());
        }
        parvenkel::util::testing::fail_call(c.call, 0);
        CHECK(failed);
    }
    bigger.save(path.string());
    CHECK(ArticleIndex::load(path.string())->size() == 3000);
    CHECK(listing() == std::vector<std::string>{"articles.idx"});
    std::filesystem::remove_all(folder);
}

TEST_CASE("a save removes the temporary files of dead processes of this host, and only those") {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("parvenkel-index-stale-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto path = folder / "articles.idx";
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ::waitpid(child, nullptr, 0);  // a process that no longer runs
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string prefix = "articles.idx.tmp-" + std::string(host) + "-";
    const std::vector<std::string> kept = {
        "articles.idx", prefix + std::to_string(::getpid()) + "-999",
        "articles.idx.tmp-another" + std::string(host) + "-" + std::to_string(child) + "-0",
        prefix + std::to_string(child) + "-x"};
    for (const std::string& name : kept) {
        std::ofstream(folder / name) << "x";
    }
    std::ofstream(folder / (prefix + std::to_string(child) + "-3")) << "stale";
    ArticleIndex index;
    index.add(as_articles({"Market", "new"}), 1);
    // Once where files can be unnamed, once where they cannot.
    for (const bool unnamed : {true, false}) {
        if (!unnamed) {
            parvenkel::util::testing::fail_call(Call::open, EOPNOTSUPP);
        }
        index.save(path.string());
        parvenkel::util::testing::fail_call(Call::open, 0);
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected = kept;
        std::sort(expected.begin(), expected.end());
        CHECK(names == expected);
        CHECK(ArticleIndex::load(path.string())->size() == 1);
    }
    std::filesystem::remove_all(folder);
}

TEST_CASE("rank_many answers each query as rank does, on any number of threads") {
    std::vector<std::string> parts;
    for (std::size_t k = 0; k < 300; ++k) {
        parts.push_back("Market " + std::to_string(k));
        parts.push_back(k % 3 ? "the market" : "\xce\x9f\xce\x94\xce\x9f\xce\xa3 zzz");
    }
    ArticleIndex index;
    index.add(as_articles(parts), 1);
    std::vector<TextView> queries;
    for (int round = 0; round < 20; ++round) {
        for (const std::string& q : QUERIES) {
            queries.push_back(TextView::utf8(q));
        }
    }
    for (const bool include_zero : {false, true}) {
        std::vector<std::vector<parvenkel::index::Ranked>> expected;
        for (const TextView& q : queries) {
            expected.push_back(index.rank(q, 7, include_zero));
        }
        for (const unsigned workers : {1u, 2u, 3u}) {
            const auto many = index.rank_many(queries, 7, include_zero, workers);
            REQUIRE(many.size() == expected.size());
            for (std::size_t k = 0; k < many.size(); ++k) {
                REQUIRE(many[k].size() == expected[k].size());
                for (std::size_t j = 0; j < many[k].size(); ++j) {
                    CHECK(many[k][j].score == expected[k][j].score);
                    CHECK(many[k][j].position == expected[k][j].position);
                }
            }
        }
    }
    CHECK(index.rank_many({}, 7, false, 2).empty());
}

TEST_CASE("every set keeps the candidates a list holds, as a binary search finds them") {
    // Candidates (increasing) looked for in two lists sharing no number,
    // from as dense as they are to far denser or sparser, each list empty
    // or not, across windows of 16 numbers and the padding after them.
    using parvenkel::analysis::Kernels;
    using parvenkel::kernels::FOUND_WINDOW;
    std::mt19937 random(20261211);
    const auto below = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        std::size_t wrong = 0;
        for (const std::uint32_t spread : {1u, 2u, 7u, 64u, 1000u}) {
            for (const std::size_t size :
                 {std::size_t{0}, std::size_t{1}, std::size_t{15}, std::size_t{16}, std::size_t{17},
                  std::size_t{130}, std::size_t{3000}}) {
                // Numbers dealt at random to one list or the other.
                std::vector<std::uint32_t> lists[2];
                std::uint32_t value = 0;
                for (std::size_t k = 0; k < size; ++k) {
                    value += 1 + below(spread);
                    lists[below(3) == 0 ? 1 : 0].push_back(value);
                }
                std::vector<std::uint32_t> padded[2];
                for (unsigned j = 0; j < 2; ++j) {
                    padded[j] = lists[j];
                    padded[j].insert(padded[j].end(), FOUND_WINDOW, UINT32_MAX);
                }
                // Ids about four times as dense as the numbers to 500
                // times sparser, the last article number among them.
                for (const std::uint32_t step :
                     {spread / 4 + 1, spread, 16 * spread, 500 * spread}) {
                    std::vector<std::uint32_t> ids;
                    for (std::uint32_t id = below(step); id <= value + step;
                         id += 1 + below(step)) {
                        ids.push_back(id);
                    }
                    ids.push_back(UINT32_MAX - 1);
                    std::vector<std::uint32_t> expected;
                    for (const std::uint32_t id : ids) {
                        if (std::binary_search(lists[0].begin(), lists[0].end(), id) ||
                            std::binary_search(lists[1].begin(), lists[1].end(), id)) {
                            expected.push_back(id);
                        }
                    }
                    const std::size_t kept = parvenkel::kernels::posting_blocks().keep_found(
                        ids.data(), ids.size(), padded[0].data(), padded[1].data());
                    ids.resize(kept);
                    wrong += ids != expected ? 1u : 0u;
                }
            }
        }
        CHECK(wrong == 0);
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);
}

TEST_CASE("blocks of every width pack and unpack, and a damaged block is reported") {
    using parvenkel::util::PACKED_BLOCK;
    std::uint32_t values[PACKED_BLOCK];
    std::uint32_t back[PACKED_BLOCK];
    unsigned char bytes[parvenkel::util::packed_bytes(32) + 8] = {};
    std::uint64_t seed = 7;
    for (unsigned width = 0; width <= 32; ++width) {
        for (std::size_t i = 0; i < PACKED_BLOCK; ++i) {
            seed = seed * 6364136223846793005u + 1442695040888963407u;
            const std::uint64_t top = width == 0 ? 0 : (std::uint64_t{1} << width) - 1;
            // The largest value in one place, the others spread below it.
            values[i] =
                static_cast<std::uint32_t>(i == width % PACKED_BLOCK ? top : (seed >> 20) & top);
        }
        CHECK(parvenkel::util::packed_width(values) == width);
        parvenkel::util::pack_block(values, width, bytes);
        // Read in place, and from a copy when the block ends the bytes.
        for (const std::size_t readable : {sizeof bytes, parvenkel::util::packed_bytes(width)}) {
            std::fill(back, back + PACKED_BLOCK, 1u);
            parvenkel::util::unpack_block(bytes, width, back, readable);
            CHECK(std::equal(values, values + PACKED_BLOCK, back));
        }
    }

    // Every set's decoder of a block against the portable one: each width,
    // first numbers about the edges where the vector decoder hands over
    // (sums that could pass 32 bits), and read in place or at the end of
    // the bytes.
    using parvenkel::analysis::Kernels;
    for (const Kernels kernels : {Kernels::SCALAR, Kernels::SSE2, Kernels::AVX2, Kernels::AVX512}) {
        CAPTURE(static_cast<int>(kernels));
        parvenkel::analysis::limit_kernels(kernels);
        std::size_t wrong = 0;
        for (unsigned width = 0; width <= 32; ++width) {
            for (std::size_t i = 0; i < PACKED_BLOCK; ++i) {
                seed = seed * 6364136223846793005u + 1442695040888963407u;
                const std::uint64_t top = width == 0 ? 0 : (std::uint64_t{1} << width) - 1;
                values[i] = static_cast<std::uint32_t>(
                    i == (width * 5) % PACKED_BLOCK ? top : (seed >> 20) & top);
            }
            parvenkel::util::pack_block(values, width, bytes);
            for (const std::uint64_t first :
                 {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{1000},
                  (std::uint64_t{1} << 31) - 1, std::uint64_t{1} << 31,
                  (std::uint64_t{1} << 32) - 200}) {
                for (const std::size_t readable :
                     {sizeof bytes, parvenkel::util::packed_bytes(width)}) {
                    std::uint32_t expected_numbers[PACKED_BLOCK];
                    const std::uint64_t expected_last = parvenkel::kernels::unpack_numbers_portable(
                        bytes, width, readable, first, expected_numbers);
                    std::fill(back, back + PACKED_BLOCK, 1u);
                    const std::uint64_t last = parvenkel::kernels::posting_blocks().unpack(
                        bytes, width, readable, first, back);
                    // Past 32 bits the numbers are damage, reported by the last.
                    wrong += last != expected_last ||
                             (expected_last <= UINT32_MAX &&
                              !std::equal(back, back + PACKED_BLOCK, expected_numbers));
                }
            }
        }
        CHECK(wrong == 0);
    }
    parvenkel::analysis::limit_kernels(Kernels::AVX512);

    // A list of 130 numbers, 0 to 129: one block of width 0 (the first
    // number, then differences less one: 0 and 127 zeros), and differences
    // of 1 and 1 in LEB128.
    std::vector<unsigned char> list = {0, 1, 1};
    const auto read_all = [](const std::vector<unsigned char>& data, std::uint32_t count,
                             std::size_t articles) {
        parvenkel::index::PostingReader reader({data.data(), data.size(), count, true}, articles);
        std::vector<std::uint32_t> out;
        for (std::uint32_t n = 0; reader.next(n);) {
            out.push_back(n);
        }
        return out;
    };
    std::vector<std::uint32_t> expected(130);
    std::iota(expected.begin(), expected.end(), 0u);
    CHECK(read_all(list, 130, 130) == expected);
    CHECK_THROWS_WITH_AS(read_all(list, 130, 129), "damaged posting list", IndexFileError);
    CHECK_THROWS_WITH_AS(read_all(list, 131, 200), "damaged posting list", IndexFileError);
    list[0] = 33;  // no width is that large
    CHECK_THROWS_WITH_AS(read_all(list, 130, 130), "damaged posting list", IndexFileError);
    list[0] = 1;  // a block of 16 bytes, of which there are 2
    CHECK_THROWS_WITH_AS(read_all(list, 130, 130), "damaged posting list", IndexFileError);
}
