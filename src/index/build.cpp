// Adding articles: many of them in runs, each built on a thread of its own
// and joined to the index in order; a run's articles converted and
// lowercased on the workers, their grams put in the posting lists on the
// run's thread.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "index/built.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "index/shapes.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "util/parallel.hpp"

namespace parvenkel::index {
namespace {

// An article of at least this many code units is converted and lowercased
// on the calling thread straight into the index's text, rather than in a
// block of its own first: building then holds at most one more copy of it
// (its lowercase form, for a moment) beside what the index keeps.
constexpr std::size_t LARGE_UNITS = std::size_t{1} << 22;

// A build of at least this many code units in all gets its gram table
// in large pages (ArticleIndex::add).
constexpr std::uint64_t LARGE_BUILD_UNITS = std::uint64_t{1} << 25;

bool is_large(const Article& article) noexcept {
    return article.title.length + article.content.length >= LARGE_UNITS;
}

// The most UTF-8 bytes a code unit of `text` can take.
std::size_t utf8_bound(text::TextView text) noexcept {
    return text.length * (text::unit_bytes(text.form) == 1 ? 2 : 3) + 16;
}

// Puts article `number` in the lists of the grams of its lowercase
// title and content.
void post_article(ArticleIndex::Built& built, std::string_view lowered_title,
                  std::string_view lowered_content, std::uint32_t number) {
    built.post(lowered_title, lowered_content, number);
}

void add_large(ArticleIndex::Built& built, const Article& article, std::uint32_t number) {
    const std::size_t at = built.text.size();
    std::size_t title_bytes = 0;
    std::size_t given_bytes = 0;
    {
        // Reserved room costs nothing until written.
        std::string given;
        given.reserve(utf8_bound(article.title) + utf8_bound(article.content));
        text::append_utf8(given, article.title, 0, article.title.length);
        title_bytes = given.size();
        text::append_utf8(given, article.content, 0, article.content.length);
        given_bytes = given.size();
        built.text.append(given);
    }
    built.ends.push_back(at + title_bytes);
    built.ends.push_back(at + given_bytes);
    {
        const std::string_view stored(built.text.data() + at, given_bytes);
        built.shapes.push_back(shape_of(stored.substr(0, title_bytes)));
        built.shapes.push_back(shape_of(stored.substr(title_bytes)));
    }
    std::size_t lowered_title = 0;
    std::size_t lowered_bytes = 0;
    {
        // Lowercasing makes a character at most half as long again.
        std::string lowered;
        lowered.reserve(given_bytes + given_bytes / 2 + 16);
        const std::string_view stored(built.text.data() + at, given_bytes);
        text::append_lowercase(lowered, stored.substr(0, title_bytes));
        lowered_title = lowered.size();
        text::append_lowercase(lowered, stored.substr(title_bytes));
        lowered_bytes = lowered.size();
        built.text.append(lowered);  // may move the text
    }
    built.ends.push_back(at + given_bytes + lowered_title);
    built.ends.push_back(at + given_bytes + lowered_bytes);
    const std::string_view text(built.text.data(), built.text.size());
    post_article(built, text.substr(at + given_bytes, lowered_title),
                 text.substr(at + given_bytes + lowered_title, lowered_bytes - lowered_title),
                 number);
}

// Adds `count` articles from `articles` at the end of `built`, numbered
// from `first`, and leaves every number in the lists' bytes. Articles are
// converted to UTF-8 and lowercased on up to `workers` threads a block at a
// time; their grams are then put in the lists on this thread, in article
// order, from the block's lowercase text while it is still in the cache. A
// batch of blocks bounds the memory the threads hold. On a failure, what
// was added is left for the caller to take out (Built::roll_back).
// `large_slots`: the gram table in large pages (see ArticleIndex::add).
void fill(ArticleIndex::Built& built, const Article* articles, std::size_t count,
          std::uint32_t first, unsigned workers, bool large_slots) {
    constexpr std::size_t BLOCK = 256;
    const std::size_t batch = BLOCK * 4 * std::max(1u, workers);
    struct Prepared {
        std::string text;                   // per article: title, content, lowercase forms
        std::vector<std::uint64_t> ends;    // within text
        std::vector<std::uint64_t> shapes;  // of the title and the content
        bool large = false;                 // some articles left to add_large
    };
    std::vector<Prepared> blocks;
    std::vector<std::string> scratches(std::max(1u, workers));  // lowercase fields
    if (count != 0) {
        built.make_slots(large_slots);
    }
    for (std::size_t start = 0; start < count; start += batch) {
        const std::size_t stop = std::min(count, start + batch);
        const std::size_t block_count = (stop - start + BLOCK - 1) / BLOCK;
        // Blocks are kept from batch to batch, with their buffers.
        blocks.resize(block_count);
        util::parallel_for(block_count, workers, [&](unsigned worker, std::size_t b) {
            Prepared& out = blocks[b];
            out.text.clear();
            out.ends.clear();
            out.shapes.clear();
            out.large = false;
            const std::size_t end = std::min(stop, start + (b + 1) * BLOCK);
            for (std::size_t i = start + b * BLOCK; i < end; ++i) {
                if (is_large(articles[i])) {
                    out.large = true;
                    continue;
                }
                const std::size_t from = out.text.size();
                text::append_utf8(out.text, articles[i].title, 0, articles[i].title.length);
                const std::size_t title_end = out.text.size();
                text::append_utf8(out.text, articles[i].content, 0, articles[i].content.length);
                const std::size_t content_end = out.text.size();
                out.ends.push_back(title_end);
                out.ends.push_back(content_end);
                const std::string_view given = out.text;
                out.shapes.push_back(shape_of(given.substr(from, title_end - from)));
                out.shapes.push_back(shape_of(given.substr(title_end, content_end - title_end)));
                // Each field is lowercased alone: the sigma rule looks at
                // the characters around a sigma within its field only.
                std::string& lowered = scratches[worker];
                lowered.clear();
                text::append_lowercase(lowered, given.substr(from, title_end - from));
                const std::size_t lowered_title = lowered.size();
                text::append_lowercase(lowered, given.substr(title_end, content_end - title_end));
                out.text += lowered;
                out.ends.push_back(content_end + lowered_title);
                out.ends.push_back(out.text.size());
            }
        });
        for (std::size_t b = 0; b < block_count; ++b) {
            const Prepared& block = blocks[b];
            const std::size_t given = start + b * BLOCK;
            const std::size_t given_end = std::min(stop, given + BLOCK);
            for (std::size_t i = given; i < given_end; ++i) {
                if (const auto& id = articles[i].id) {
                    text::append_utf8(built.id_text, *id, 0, id->length);
                    built.id_ends.push_back(built.id_text.size());
                } else {
                    built.id_ends.push_back(built.id_text.size() | NO_ID);
                }
            }
            const std::string_view text = block.text;
            if (block.large) {
                // Article by article, the large ones from their input.
                std::size_t k = 0;
                std::uint64_t from = 0;
                for (std::size_t i = given; i < given_end; ++i) {
                    const auto article = static_cast<std::uint32_t>(first + i);
                    if (is_large(articles[i])) {
                        add_large(built, articles[i], article);
                        continue;
                    }
                    const std::uint64_t shift = built.text.size() - from;
                    const std::uint64_t to = block.ends[k + LOWERED_CONTENT];
                    built.text.append(text.substr(from, to - from));
                    for (unsigned f = 0; f < FIELDS; ++f) {
                        built.ends.push_back(shift + block.ends[k + f]);
                    }
                    built.shapes.push_back(block.shapes[k / FIELDS * 2]);
                    built.shapes.push_back(block.shapes[k / FIELDS * 2 + 1]);
                    const std::uint64_t title = block.ends[k + CONTENT];
                    const std::uint64_t content = block.ends[k + LOWERED_TITLE];
                    post_article(built, text.substr(title, content - title),
                                 text.substr(content, to - content), article);
                    from = to;
                    k += FIELDS;
                }
                continue;
            }
            const std::uint64_t shift = built.text.size();
            built.text.append(block.text);
            for (const std::uint64_t e : block.ends) {
                built.ends.push_back(shift + e);
            }
            built.shapes.insert(built.shapes.end(), block.shapes.begin(), block.shapes.end());
            const auto block_first = static_cast<std::uint32_t>(first + given);
            for (std::size_t k = 0; k < block.ends.size(); k += FIELDS) {
                const auto article = static_cast<std::uint32_t>(block_first + k / FIELDS);
                const std::uint64_t title = block.ends[k + CONTENT];
                const std::uint64_t content = block.ends[k + LOWERED_TITLE];
                post_article(built, text.substr(title, content - title),
                             text.substr(content, block.ends[k + LOWERED_CONTENT] - content),
                             article);
            }
        }
        built.gather();
    }
    built.flush_all();
}

// The code units of the titles and contents of `articles`.
std::uint64_t units_of(const std::vector<Article>& articles) noexcept {
    std::uint64_t units = 0;
    for (const Article& article : articles) {
        units += article.title.length + article.content.length;
    }
    return units;
}

// Where to cut `articles`, of `units` code units in all (units_of), into up
// to `parts` runs of about equal size in code units, at least `least` units
// a run on average: the start of each run, and the end of the last.
std::vector<std::size_t> cut(const std::vector<Article>& articles, std::uint64_t units,
                             unsigned parts, std::size_t least) {
    if (parts <= 1) {
        return {0, articles.size()};
    }
    const std::uint64_t most = least == 0 ? parts : units / least;
    parts = static_cast<unsigned>(std::clamp<std::uint64_t>(most, 1, parts));
    std::vector<std::size_t> starts{0};
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < articles.size() && starts.size() < parts; ++i) {
        seen += articles[i].title.length + articles[i].content.length;
        if (seen * parts >= units * starts.size() && i + 1 < articles.size()) {
            starts.push_back(i + 1);
        }
    }
    starts.push_back(articles.size());
    return starts;
}

}  // namespace

void ArticleIndex::add(const std::vector<Article>& articles, unsigned workers) {
    add(articles, workers, SPLIT_UNITS);
}

void ArticleIndex::add(const std::vector<Article>& articles, unsigned workers,
                       std::size_t split_units) {
    Built& built = *tail_;
    if (articles.size() > MAX_ARTICLES - size()) {
        throw std::length_error("too many articles for one index");
    }
    // On a failure (std::bad_alloc) the articles already appended are taken
    // out again, so the index stays as it was.
    const std::size_t old_articles = built.size();
    const std::size_t old_text = built.text.size();
    const std::size_t old_lists = built.lists.size();
    const auto first = static_cast<std::uint32_t>(old_articles);
    try {
        const std::uint64_t units = units_of(articles);
        const std::vector<std::size_t> starts = cut(articles, units, workers, split_units);
        // The gram table of a large build in large pages: its look-ups
        // land all over its 64 MiB, and in small pages each page is a fault
        // of its own (read as zeros, then written) and each look-up likely
        // a miss of the address translation's cache. Building 100,000
        // short articles took 4% less time on one worker and 5% less on
        // two. Only for a large build, which touches most of the table
        // anyway: the whole of it is then in memory, 36 MB more than a
        // build of 20,000 short articles touches.
        const bool large = units >= LARGE_BUILD_UNITS;
        const std::size_t runs = starts.size() - 1;
        if (runs <= 1) {
            fill(built, articles.data(), articles.size(), first, workers, large);
            return;
        }
        // Each run on a thread of its own: the first into the index, each
        // other into a segment of its own, numbered where it will go; the
        // segments then join the index in order. Only the index's own gram
        // table is in large pages: a segment's, asked for at the same time,
        // often waited on the system compacting memory to find them, and
        // its run then took a third longer than the first (help pages on
        // two workers: 0.36 s instead of 0.32, where one worker took 0.50).
        std::vector<std::unique_ptr<Built>> segments(runs);
        util::parallel_for(runs, workers, [&](unsigned, std::size_t r) {
            Built* into = &built;
            if (r > 0) {
                segments[r] = std::make_unique<Built>();
                into = segments[r].get();
            }
            fill(*into, articles.data() + starts[r], starts[r + 1] - starts[r],
                 static_cast<std::uint32_t>(first + starts[r]), 1, large && r == 0);
        });
        for (std::size_t r = 1; r < runs; ++r) {
            built.append_segment(*segments[r], workers);
            segments[r].reset();
        }
    } catch (...) {
        built.roll_back(old_articles, old_text, old_lists);
        throw;
    }
}

}  // namespace parvenkel::index
