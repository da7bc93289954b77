// Adding articles in runs built on threads of their own and then joined:
// the index is the one a single thread builds, byte for byte in its file,
// wherever the runs are cut; and a failed allocation while building or
// joining them leaves the index as it was.
#include <doctest/doctest.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "index/index.hpp"

namespace parvenkel::testing {
extern std::atomic<long> allocations_until_failure;
}

namespace {

using parvenkel::index::Article;
using parvenkel::index::ArticleIndex;
using parvenkel::text::TextView;

// Texts and ids that reach every case of a join: trigrams in every run
// and in one run only, lists whose numbers are over 128 and over 16,384
// apart (differences of two and three bytes) across a cut, Greek and CJK
// text, empty fields, articles without ids.
struct Corpus {
    std::vector<std::string> texts;  // title, content, id, in turn
    std::vector<Article> articles;

    // `words`: each content also has a word of six letters of its own,
    // so that a run holds some thousands of lists, joined in parts.
    explicit Corpus(std::size_t count, std::size_t large_every = 0, bool words = false) {
        texts.reserve(3 * count);
        for (std::size_t k = 0; k < count; ++k) {
            std::string title = "Market " + std::to_string(k);
            std::string content = k % 3 == 0 ? "the market" : "\xce\x9f\xce\x94\xce\x9f\xce\xa3 zz";
            if (k % 200 == 7) {
                content += " qqq\xe4\xb8\xad\xe6\x96\x87";
            }
            if (k % 17000 == 11) {
                content += " xjxj";
            }
            if (k % 5 == 4) {
                title.clear();
            }
            if (words) {
                content += ' ';
                for (std::size_t n = k * 7919 + 13, letter = 0; letter < 6; ++letter, n /= 26) {
                    content += static_cast<char>('a' + n % 26);
                }
            }
            if (large_every != 0 && k % large_every == large_every / 2) {
                content = std::string(std::size_t{1} << 22, 'y') + " Large \xce\xa3";
            }
            texts.push_back(std::move(title));
            texts.push_back(std::move(content));
            texts.push_back(k % 4 == 1 ? std::string() : "id " + std::to_string(k));
        }
        for (std::size_t k = 0; k < count; ++k) {
            std::optional<TextView> id;
            if (k % 4 != 1) {
                id = TextView::utf8(texts[3 * k + 2]);
            }
            articles.push_back(
                {TextView::utf8(texts[3 * k]), TextView::utf8(texts[3 * k + 1]), id});
        }
    }

    std::vector<Article> slice(std::size_t from, std::size_t to) const {
        return {articles.begin() + static_cast<std::ptrdiff_t>(from),
                articles.begin() + static_cast<std::ptrdiff_t>(to)};
    }
};

class Folder {
   public:
    Folder()
        : path_(std::filesystem::temp_directory_path() /
                ("parvenkel-index-runs-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~Folder() { std::filesystem::remove_all(path_); }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }

   private:
    std::filesystem::path path_;
};

std::string saved(const ArticleIndex& index, const Folder& folder) {
    const std::string path = folder.file("index.idx");
    index.save(path);
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST_CASE("an index added in runs saves the same bytes as one built on one thread") {
    const Folder folder;
    // 3,000 articles: each run crosses the batches of 1,024 a thread
    // posts at a time.
    const Corpus corpus(3000, 0, true);
    const std::size_t cut = 700;
    ArticleIndex one;
    one.add(corpus.slice(0, cut), 1);
    one.add(corpus.slice(cut, 3000), 1);
    const std::string expected = saved(one, folder);
    ArticleIndex whole;
    whole.add(corpus.articles, 1);
    REQUIRE(saved(whole, folder) == expected);

    for (const unsigned workers : {2u, 3u, 5u}) {
        CAPTURE(workers);
        // Into an empty index, after articles already held, and after
        // articles loaded from a file.
        ArticleIndex fresh;
        fresh.add(corpus.articles, workers, 1);
        CHECK(saved(fresh, folder) == expected);
        ArticleIndex held;
        held.add(corpus.slice(0, cut), workers, 1);
        held.add(corpus.slice(cut, 3000), workers, 1);
        CHECK(saved(held, folder) == expected);
        ArticleIndex first;
        first.add(corpus.slice(0, cut), 1);
        first.save(folder.file("first.idx"));
        const std::unique_ptr<ArticleIndex> loaded = ArticleIndex::load(folder.file("first.idx"));
        loaded->add(corpus.slice(cut, 3000), workers, 1);
        CHECK(saved(*loaded, folder) == expected);
        for (const char* query : {"market 2", "qqq\xe4\xb8\xad", "xjxj", "\xce\xbf\xce\xb4"}) {
            CHECK(loaded->scores(TextView::utf8(query)) == one.scores(TextView::utf8(query)));
        }
    }
}

TEST_CASE("large articles in runs, cut where add cuts them by default") {
    // Two articles of 2**22 code units and more make two runs of the
    // default size; each is built apart from the blocks of the others.
    const Folder folder;
    const Corpus corpus(40, 20);
    ArticleIndex one;
    one.add(corpus.articles, 1);
    const std::string expected = saved(one, folder);
    ArticleIndex two;
    two.add(corpus.articles, 2);
    CHECK(saved(two, folder) == expected);
    ArticleIndex three;
    three.add(corpus.articles, 3, 1);
    CHECK(saved(three, folder) == expected);
}

TEST_CASE("a failed allocation while adding in runs leaves the index as it was") {
    // Every allocation in turn fails, until one call makes none fail; the
    // same index takes each call, so that what a failure left behind
    // would show in the file of the index built at last. A thread that
    // cannot be started is no failure: the others do its share.
    const Folder folder;
    const Corpus corpus(1200);
    const std::vector<Article> first = corpus.slice(0, 100);
    const std::vector<Article> more = corpus.slice(100, 1200);
    ArticleIndex whole;
    whole.add(corpus.articles, 1);
    const std::string after = saved(whole, folder);
    const auto started = [&] {
        auto index = std::make_unique<ArticleIndex>();
        index->add(first, 1);
        return index;
    };
    std::unique_ptr<ArticleIndex> index = started();
    const std::vector<double> before = index->scores(TextView::utf8("market"));
    long failures = 0;
    for (long n = 0;; ++n) {
        parvenkel::testing::allocations_until_failure = n;
        bool failed = false;
        try {
            index->add(more, 3, 1);
        } catch (const std::bad_alloc&) {
            failed = true;
        }
        const bool reached = parvenkel::testing::allocations_until_failure < 0;
        parvenkel::testing::allocations_until_failure = -1;
        if (failed) {
            ++failures;
            REQUIRE(index->size() == 100);
            REQUIRE(index->scores(TextView::utf8("market")) == before);
            continue;
        }
        REQUIRE(saved(*index, folder) == after);
        if (!reached) {
            break;
        }
        index = started();
    }
    CHECK(failures > 20);
}
