#include "index/index.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "analysis/analysis.hpp"
#include "text/lowercase.hpp"
#include "text/utf8.hpp"
#include "util/file.hpp"
#include "util/parallel.hpp"
#include "util/varint.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

namespace parvenkel::index {
namespace {

using Trigram = std::uint32_t;  // three bytes, the first in the high bits
constexpr std::size_t TRIGRAMS = std::size_t{1} << 24;

// File layout, every number little-endian:
//   header (HEADER_BYTES): magic, version, header size, article count, text
//     bytes, trigram count, posting bytes, checksum of everything after the
//     header, checksum of the header's first 56 bytes;
//   FIELDS * article count u64: the end offset of each field of each
//     article in the text, in turn;
//   the text, padded with zeros to a multiple of 8 bytes;
//   trigram count directory entries (DirEntry), by increasing trigram;
//   the posting lists, one after the other.
constexpr char MAGIC[8] = {'P', 'V', 'K', 'I', 'N', 'D', 'E', 'X'};
constexpr std::size_t HEADER_BYTES = 64;

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t header_bytes;
    std::uint64_t articles;
    std::uint64_t text_bytes;
    std::uint64_t trigrams;
    std::uint64_t posting_bytes;
    std::uint64_t body_checksum;
    std::uint64_t header_checksum;
};
static_assert(sizeof(Header) == HEADER_BYTES);

struct DirEntry {
    std::uint32_t trigram;
    std::uint32_t count;  // articles in the list
    std::uint32_t last;   // the last of them
    std::uint32_t reserved;
    std::uint64_t offset;  // of the list in the posting bytes
};
static_assert(sizeof(DirEntry) == 24);

// Each article has four fields in the text, in this order: its title and
// content as given, and their lowercase forms (to_lowercase), which queries
// search without lowercasing the article again.
constexpr std::size_t FIELDS = 4;
constexpr unsigned TITLE = 0;
constexpr unsigned CONTENT = 1;
constexpr unsigned LOWERED_TITLE = 2;
constexpr unsigned LOWERED_CONTENT = 3;

constexpr std::uint64_t padded8(std::uint64_t n) noexcept { return (n + 7) & ~std::uint64_t{7}; }

// The largest number of articles: their numbers are held in 32 bits.
constexpr std::size_t MAX_ARTICLES = UINT32_MAX;

// A posting list as bytes, with its length in articles.
struct Postings {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::uint32_t count = 0;
};

// Reads the article numbers of a list, checking every byte it reads: a
// damaged list (a number past `articles`, not increasing, running over its
// end) throws IndexFileError rather than giving wrong articles.
class PostingReader {
   public:
    PostingReader(Postings list, std::size_t articles) noexcept
        : p_(list.data), end_(list.data + list.size), left_(list.count), articles_(articles) {}

    bool next(std::uint32_t& out) {
        if (left_ == 0) {
            return false;
        }
        std::uint32_t delta = 0;
        const util::VarintStatus status = util::read_varint_checked(p_, end_, delta);
        if (status != util::VarintStatus::ok && status != util::VarintStatus::overlong) {
            throw IndexFileError("damaged posting list");
        }
        const std::uint64_t value = started_ ? std::uint64_t{current_} + delta : delta;
        if ((started_ && delta == 0) || value >= articles_) {
            throw IndexFileError("damaged posting list");
        }
        started_ = true;
        current_ = static_cast<std::uint32_t>(value);
        --left_;
        out = current_;
        return true;
    }

   private:
    const unsigned char* p_;
    const unsigned char* end_;
    std::uint32_t left_;
    std::size_t articles_;
    std::uint32_t current_ = 0;
    bool started_ = false;
};

// The distinct trigrams of `text`, appended to `out`.
void add_trigrams(std::string_view text, std::vector<Trigram>& out) {
    if (text.size() < 3) {
        return;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    Trigram t = Trigram{p[0]} << 8 | p[1];
    for (std::size_t i = 2; i < text.size(); ++i) {
        t = (t << 8 | p[i]) & (TRIGRAMS - 1);
        out.push_back(t);
    }
}

void sort_unique(std::vector<Trigram>& v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

}  // namespace

// Bytes in a mapping of their own, which grows by being remapped rather
// than copied: the text of many articles. (Large pages, asked for with
// madvise, made building a million articles half as slow again: the system
// compacts memory to find them.)
class MappedBytes {
   public:
    MappedBytes() = default;
    ~MappedBytes() {
        if (data_ != nullptr) {
            ::munmap(data_, capacity_);
        }
    }
    MappedBytes(const MappedBytes&) = delete;
    MappedBytes& operator=(const MappedBytes&) = delete;

    const char* data() const noexcept { return data_ != nullptr ? data_ : ""; }
    std::size_t size() const noexcept { return size_; }
    void append(std::string_view bytes) {
        if (bytes.empty()) {
            return;  // data_ may be null
        }
        if (capacity_ - size_ < bytes.size()) {
            grow(size_ + bytes.size());
        }
        std::memcpy(data_ + size_, bytes.data(), bytes.size());
        size_ += bytes.size();
    }
    // Keeps the first `n` bytes.
    void shrink(std::size_t n) noexcept { size_ = std::min(size_, n); }

   private:
    static constexpr std::size_t LARGE_PAGE = std::size_t{1} << 21;
    void grow(std::size_t least) {
        std::size_t capacity = std::max({least, 2 * capacity_, LARGE_PAGE});
        capacity = (capacity + LARGE_PAGE - 1) & ~(LARGE_PAGE - 1);
        void* map = data_ == nullptr ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                                     : ::mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
        if (map == MAP_FAILED) {
            throw std::bad_alloc();
        }
        data_ = static_cast<char*>(map);
        capacity_ = capacity;
    }

    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Articles built in memory. A trigram's list grows at its end as articles
// are added, so it is kept in the file's form all along.
struct ArticleIndex::Built {
    // A list's bytes, grown by doubling.
    class Bytes {
       public:
        const unsigned char* data() const noexcept { return data_.get(); }
        std::size_t size() const noexcept { return size_; }
        // Keeps the first `n` bytes.
        void shrink(std::size_t n) noexcept { size_ = std::min(size_, n); }
        void append(const unsigned char* bytes, std::size_t n) {
            if (capacity_ - size_ < n) {
                const std::size_t capacity = std::max({std::size_t{32}, 2 * capacity_, size_ + n});
                void* bigger = std::realloc(data_.get(), capacity);
                if (bigger == nullptr) {
                    throw std::bad_alloc();
                }
                static_cast<void>(data_.release());
                data_.reset(static_cast<unsigned char*>(bigger));
                capacity_ = capacity;
            }
            std::memcpy(data_.get() + size_, bytes, n);
            size_ += n;
        }

       private:
        struct Free {
            void operator()(unsigned char* p) const noexcept { std::free(p); }
        };
        std::unique_ptr<unsigned char, Free> data_;
        std::size_t size_ = 0;
        std::size_t capacity_ = 0;
    };
    struct List {
        Bytes bytes;
        std::uint32_t count = 0;
        std::uint32_t last = 0;
        Trigram trigram = 0;
    };

    MappedBytes text;
    std::vector<std::uint64_t> ends;  // title end, content end, per article
    std::vector<List> lists;
    // The numbers last put in each list, not yet in its bytes: every
    // trigram of an article is looked up here, so this is kept small (32
    // bytes a list) and the lists' bytes, spread over the memory, are
    // written a few numbers at a time. Empty between calls of add.
    struct Staged {
        static constexpr unsigned ROOM = 26;
        // Room for a number stored as 8 bytes, of which those past its
        // length are overwritten by the next.
        static constexpr unsigned FULL = ROOM - 8;
        std::uint32_t last = 0;  // the article last put in the list, plus 1; 0: none
        std::uint8_t count = 0;
        std::uint8_t size = 0;
        unsigned char bytes[ROOM];
    };
    static_assert(sizeof(Staged) == 32);
    std::vector<Staged> staged;
    std::vector<std::uint32_t> ids;  // post's lists of one text, in turn
    // Full staging entries, in the order they filled, for gather.
    struct Chunk {
        std::uint32_t list;
        std::uint8_t count;
        std::uint8_t size;
        unsigned char bytes[Staged::ROOM];
    };
    std::vector<Chunk> chunks;
    // lists[slot[t] - 1] is the list of trigram t; 0: none. Allocated
    // zeroed by the system, so its untouched pages cost nothing, when the
    // first articles are added: an index loaded from a file and only
    // queried has none.
    std::uint32_t* slot = nullptr;

    Built() = default;
    void make_slots() {
        if (slot == nullptr) {
            slot = static_cast<std::uint32_t*>(std::calloc(TRIGRAMS, sizeof(std::uint32_t)));
            if (slot == nullptr) {
                throw std::bad_alloc();
            }
        }
    }
    ~Built() { std::free(slot); }
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;

    std::size_t size() const noexcept { return ends.size() / FIELDS; }
    Postings find(Trigram t) const noexcept {
        if (slot == nullptr || slot[t] == 0) {
            return {};
        }
        const List& list = lists[slot[t] - 1];
        return {list.bytes.data(), list.bytes.size(), list.count};
    }
    // Puts `article`, which comes after every article already in the
    // lists, in the list of each trigram of `lowered`. An article already
    // last in a list is not put there again, so that a trigram found twice
    // in an article lists it once.
    void post(std::string_view lowered, std::uint32_t article) {
        if (lowered.size() < 3) {
            return;
        }
        // First the lists of all the trigrams, then the numbers: the
        // table lookups do not wait on one another, and each list's
        // staging entry is fetched ahead of its use.
        ids.resize(lowered.size() - 2);
        const auto* p = reinterpret_cast<const unsigned char*>(lowered.data());
        Trigram t = Trigram{p[0]} << 8 | p[1];
        for (std::size_t i = 2; i < lowered.size(); ++i) {
            t = (t << 8 | p[i]) & (TRIGRAMS - 1);
            ids[i - 2] = t;
            __builtin_prefetch(&slot[t]);
        }
        for (std::uint32_t& id : ids) {
            t = id;
            std::uint32_t s = slot[t];
            if (s == 0) {
                lists.emplace_back();
                lists.back().trigram = t;
                staged.emplace_back();
                s = slot[t] = static_cast<std::uint32_t>(lists.size());
            }
            __builtin_prefetch(&staged[s - 1]);
            id = s - 1;
        }
        const std::uint32_t next = article + 1;
        for (const std::uint32_t k : ids) {
            Staged& list = staged[k];
            if (list.last == next) {
                continue;
            }
            const util::PackedVarint packed =
                util::pack_varint(list.last == 0 ? article : next - list.last);
            std::memcpy(list.bytes + list.size, &packed.word, sizeof packed.word);
            list.size = static_cast<std::uint8_t>(list.size + packed.bytes);
            ++list.count;
            list.last = next;
            if (list.size > Staged::FULL) {
                chunks.push_back({k, list.count, list.size, {}});
                std::memcpy(chunks.back().bytes, list.bytes, list.size);
                list.size = 0;
                list.count = 0;
            }
        }
    }
    // Moves the full staging entries, in `chunks`, to their lists' bytes,
    // in one pass that fetches each list ahead of its turn.
    void gather() {
        constexpr std::size_t AHEAD = 16;
        const std::size_t n = chunks.size();
        for (std::size_t i = 0; i < n; ++i) {
            if (i + AHEAD < n) {
                __builtin_prefetch(&lists[chunks[i + AHEAD].list]);
            }
            if (i + AHEAD / 2 < n) {
                const List& ahead = lists[chunks[i + AHEAD / 2].list];
                __builtin_prefetch(ahead.bytes.data() + ahead.bytes.size(), 1);
            }
            const Chunk& chunk = chunks[i];
            List& list = lists[chunk.list];
            list.bytes.append(chunk.bytes, chunk.size);
            list.count += chunk.count;
            // At least the last number in the bytes; exact once flushed.
            list.last = staged[chunk.list].last - 1;
        }
        chunks.clear();
    }
    // Moves every staged number to the lists' bytes.
    void flush_all() {
        gather();
        for (std::size_t k = 0; k < staged.size(); ++k) {
            Staged& from = staged[k];
            if (from.count != 0) {
                List& list = lists[k];
                list.bytes.append(from.bytes, from.size);
                list.count += from.count;
                list.last = from.last - 1;
                from.size = 0;
                from.count = 0;
            }
        }
    }
    // Takes out every article from `articles` on, and the lists made since
    // there were `list_count`. Allocates nothing.
    void roll_back(std::size_t articles, std::size_t text_bytes, std::size_t list_count) noexcept {
        for (std::size_t k = list_count; k < lists.size(); ++k) {
            slot[lists[k].trigram] = 0;
        }
        ends.resize(std::min(ends.size(), FIELDS * articles));
        text.shrink(text_bytes);
        // Staged numbers are all of articles added since the lists were
        // last flushed, which is since `articles`.
        chunks.clear();
        staged.resize(std::min(staged.size(), list_count));
        for (Staged& list : staged) {
            list.size = 0;
            list.count = 0;
        }
        for (std::size_t k = 0; k < std::min(list_count, lists.size()); ++k) {
            List& list = lists[k];
            if (list.last < articles) {
                continue;
            }
            // Keep the numbers below `articles`: a prefix of the bytes. Only
            // `count` numbers are read: bytes after them are left over from
            // an append that failed.
            const unsigned char* p = list.bytes.data();
            std::uint32_t kept = 0;
            std::uint32_t current = 0;
            std::uint32_t last = 0;
            for (std::uint32_t n = 0; n < list.count; ++n) {
                const unsigned char* start = p;
                const std::uint32_t delta = util::read_varint(p);
                current = n == 0 ? delta : current + delta;
                if (current >= articles) {
                    p = start;
                    break;
                }
                last = current;
                ++kept;
            }
            list.bytes.shrink(static_cast<std::size_t>(p - list.bytes.data()));
            list.count = kept;
            list.last = last;
        }
        lists.resize(std::min(lists.size(), list_count));
        for (std::size_t k = 0; k < staged.size(); ++k) {
            staged[k].last = lists[k].last + 1;
        }
    }
};

// Articles read from a memory-mapped file, checked when it was opened.
struct ArticleIndex::Mapped {
    std::string path;
    void* map = nullptr;
    std::size_t map_bytes = 0;
    std::size_t articles = 0;
    const std::uint64_t* ends = nullptr;
    const char* text = nullptr;
    const unsigned char* directory = nullptr;  // DirEntry records
    std::size_t trigrams = 0;
    const unsigned char* postings = nullptr;
    std::size_t posting_bytes = 0;

    ~Mapped() {
        if (map != nullptr) {
            munmap(map, map_bytes);
        }
    }

    std::size_t size() const noexcept { return articles; }
    DirEntry entry(std::size_t k) const noexcept {
        DirEntry e;
        std::memcpy(&e, directory + k * sizeof(DirEntry), sizeof e);
        return e;
    }
    std::size_t find_entry(Trigram t) const noexcept {
        std::size_t lo = 0;
        std::size_t hi = trigrams;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            if (entry(mid).trigram < t) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        return lo < trigrams && entry(lo).trigram == t ? lo : trigrams;
    }
    std::uint64_t list_end(std::size_t k) const noexcept {
        return k + 1 < trigrams ? entry(k + 1).offset : posting_bytes;
    }
    Postings find(Trigram t) const noexcept {
        const std::size_t k = find_entry(t);
        if (k == trigrams) {
            return {};
        }
        const DirEntry e = entry(k);
        return {postings + e.offset, static_cast<std::size_t>(list_end(k) - e.offset), e.count};
    }
};

namespace {

std::string_view field(const std::uint64_t* ends, const char* text, std::size_t i,
                       unsigned which) noexcept {
    const std::size_t k = FIELDS * i + which;
    const std::uint64_t begin = k == 0 ? 0 : ends[k - 1];
    return {text + begin, static_cast<std::size_t>(ends[k] - begin)};
}

// score_article of a stored article, from its lowercase fields: the same
// byte tests on the same lowercase forms.
class Scorer {
   public:
    explicit Scorer(const std::string& lowered_query) : query_(lowered_query) {}

    double score(std::string_view lowered_title, std::string_view lowered_content) const {
        double score = 0.0;
        if (lowered_title.starts_with(query_)) {
            score = analysis::TITLE_PREFIX_SCORE;
        } else if (analysis::is_contained_in(query_, lowered_title)) {
            score = analysis::TITLE_CONTAINS_SCORE;
        }
        if (analysis::is_contained_in(query_, lowered_content)) {
            score += analysis::CONTENT_CONTAINS_BONUS;
        }
        return score;
    }

   private:
    const std::string& query_;
};

// Scores above 0 in one segment, numbered from `first`.
template <class Segment>
void segment_matches(const Segment& segment, const std::uint64_t* ends, const char* text,
                     const std::string& lowered_query, std::size_t first,
                     std::vector<Ranked>& out) {
    const std::size_t articles = segment.size();
    Scorer scorer(lowered_query);
    const auto score_one = [&](std::size_t i) {
        const double score = scorer.score(field(ends, text, i, LOWERED_TITLE),
                                          field(ends, text, i, LOWERED_CONTENT));
        if (score > 0.0) {
            out.push_back({score, first + i});
        }
    };
    if (lowered_query.size() < 3) {
        for (std::size_t i = 0; i < articles; ++i) {
            score_one(i);
        }
        return;
    }
    std::vector<Trigram> trigrams;
    add_trigrams(lowered_query, trigrams);
    sort_unique(trigrams);
    std::vector<Postings> lists;
    for (const Trigram t : trigrams) {
        const Postings list = segment.find(t);
        if (list.count == 0) {
            return;
        }
        lists.push_back(list);
    }
    std::sort(lists.begin(), lists.end(),
              [](const Postings& a, const Postings& b) { return a.count < b.count; });
    std::vector<std::uint32_t> candidates;
    candidates.reserve(lists[0].count);
    PostingReader first_list(lists[0], articles);
    for (std::uint32_t id = 0; first_list.next(id);) {
        candidates.push_back(id);
    }
    // Intersecting with a list costs a step per article in it; scoring a
    // candidate costs a search through one article. Lists much longer than
    // the candidates left are not worth reading.
    constexpr std::size_t LIST_TO_CANDIDATE_COST = 32;
    for (std::size_t k = 1; k < lists.size() && !candidates.empty(); ++k) {
        if (lists[k].count > LIST_TO_CANDIDATE_COST * candidates.size()) {
            break;
        }
        PostingReader reader(lists[k], articles);
        std::size_t kept = 0;
        std::size_t c = 0;
        std::uint32_t id = 0;
        bool more = reader.next(id);
        while (more && c < candidates.size()) {
            if (id < candidates[c]) {
                more = reader.next(id);
            } else if (candidates[c] < id) {
                ++c;
            } else {
                candidates[kept++] = id;
                ++c;
                more = reader.next(id);
            }
        }
        candidates.resize(kept);
    }
    for (const std::uint32_t i : candidates) {
        score_one(i);
    }
}

}  // namespace

ArticleIndex::ArticleIndex() : tail_(std::make_unique<Built>()) {}
ArticleIndex::~ArticleIndex() = default;

std::size_t ArticleIndex::size() const noexcept {
    return (base_ ? base_->size() : 0) + tail_->size();
}

std::string_view ArticleIndex::title(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    if (position < based) {
        return field(base_->ends, base_->text, position, TITLE);
    }
    return field(tail_->ends.data(), tail_->text.data(), position - based, TITLE);
}

std::string_view ArticleIndex::content(std::size_t position) const noexcept {
    const std::size_t based = base_ ? base_->size() : 0;
    if (position < based) {
        return field(base_->ends, base_->text, position, CONTENT);
    }
    return field(tail_->ends.data(), tail_->text.data(), position - based, CONTENT);
}

std::vector<Ranked> ArticleIndex::matches(const std::string& lowered_query) const {
    std::vector<Ranked> out;
    if (lowered_query.empty()) {
        return out;
    }
    std::size_t first = 0;
    if (base_) {
        segment_matches(*base_, base_->ends, base_->text, lowered_query, 0, out);
        first = base_->size();
    }
    segment_matches(*tail_, tail_->ends.data(), tail_->text.data(), lowered_query, first, out);
    return out;
}

std::vector<double> ArticleIndex::scores(text::TextView query) const {
    std::vector<double> all(size());
    for (const Ranked& r : matches(text::to_lowercase(query))) {
        all[r.position] = r.score;
    }
    return all;
}

std::vector<Ranked> ArticleIndex::rank(text::TextView query, std::uint64_t top_n,
                                       bool include_zero) const {
    std::vector<Ranked> found = matches(text::to_lowercase(query));
    const auto better = [](const Ranked& a, const Ranked& b) {
        return a.score != b.score ? a.score > b.score : a.position < b.position;
    };
    if (top_n < found.size()) {
        const auto cut = found.begin() + static_cast<std::ptrdiff_t>(top_n);
        std::partial_sort(found.begin(), cut, found.end(), better);
        found.erase(cut, found.end());
        return found;
    }
    std::stable_sort(found.begin(), found.end(), better);
    if (include_zero) {
        // The articles scoring 0, in position order, after the others.
        std::vector<bool> scored(size());
        for (const Ranked& r : found) {
            scored[r.position] = true;
        }
        for (std::size_t i = 0; i < scored.size() && found.size() < top_n; ++i) {
            if (!scored[i]) {
                found.push_back({0.0, i});
            }
        }
    }
    return found;
}

void ArticleIndex::add(const std::vector<Article>& articles, unsigned workers) {
    Built& built = *tail_;
    if (articles.size() > MAX_ARTICLES - size()) {
        throw std::length_error("too many articles for one index");
    }
    // Articles are converted to UTF-8 and lowercased on the threads a block
    // at a time; their trigrams are then put in the lists on this thread,
    // in article order, from the block's lowercase text while it is still
    // in the cache. A batch of blocks bounds the memory the threads hold.
    constexpr std::size_t BLOCK = 256;
    const std::size_t batch = BLOCK * 4 * std::max(1u, workers);
    struct Prepared {
        std::string text;                 // per article: title, content, lowercase forms
        std::vector<std::uint64_t> ends;  // within text
    };
    std::vector<Prepared> blocks;
    std::vector<std::string> scratches(std::max(1u, workers));  // lowercase fields
    // On a failure (std::bad_alloc) the articles already appended are taken
    // out again, so the index stays as it was.
    const std::size_t old_articles = built.size();
    const std::size_t old_text = built.text.size();
    const std::size_t old_lists = built.lists.size();
    if (!articles.empty()) {
        built.make_slots();
    }
    try {
        for (std::size_t start = 0; start < articles.size(); start += batch) {
            const std::size_t stop = std::min(articles.size(), start + batch);
            const std::size_t block_count = (stop - start + BLOCK - 1) / BLOCK;
            // Blocks are kept from batch to batch, with their buffers.
            blocks.resize(block_count);
            util::parallel_for(block_count, workers, [&](unsigned worker, std::size_t b) {
                Prepared& out = blocks[b];
                out.text.clear();
                out.ends.clear();
                const std::size_t end = std::min(stop, start + (b + 1) * BLOCK);
                for (std::size_t i = start + b * BLOCK; i < end; ++i) {
                    const std::size_t from = out.text.size();
                    text::append_utf8(out.text, articles[i].title, 0, articles[i].title.length);
                    const std::size_t title_end = out.text.size();
                    text::append_utf8(out.text, articles[i].content, 0, articles[i].content.length);
                    const std::size_t content_end = out.text.size();
                    out.ends.push_back(title_end);
                    out.ends.push_back(content_end);
                    // Each field is lowercased alone: the sigma rule looks at
                    // the characters around a sigma within its field only.
                    std::string& lowered = scratches[worker];
                    lowered.clear();
                    const std::string_view given = out.text;
                    text::append_lowercase(lowered, given.substr(from, title_end - from));
                    const std::size_t lowered_title = lowered.size();
                    text::append_lowercase(lowered,
                                           given.substr(title_end, content_end - title_end));
                    out.text += lowered;
                    out.ends.push_back(content_end + lowered_title);
                    out.ends.push_back(out.text.size());
                }
            });
            for (std::size_t b = 0; b < block_count; ++b) {
                const Prepared& block = blocks[b];
                const std::uint64_t shift = built.text.size();
                built.text.append(block.text);
                for (const std::uint64_t e : block.ends) {
                    built.ends.push_back(shift + e);
                }
                const auto first = static_cast<std::uint32_t>(old_articles + start + b * BLOCK);
                const std::string_view text = block.text;
                for (std::size_t k = 0; k < block.ends.size(); k += FIELDS) {
                    const auto article = static_cast<std::uint32_t>(first + k / FIELDS);
                    const std::uint64_t title = block.ends[k + CONTENT];
                    const std::uint64_t content = block.ends[k + LOWERED_TITLE];
                    built.post(text.substr(title, content - title), article);
                    built.post(text.substr(content, block.ends[k + LOWERED_CONTENT] - content),
                               article);
                }
            }
            built.gather();
        }
        built.flush_all();
    } catch (...) {
        built.roll_back(old_articles, old_text, old_lists);
        throw;
    }
}

namespace {

// Writes a file through a buffer, hashing what it writes after the header.
class FileWriter {
   public:
    explicit FileWriter(util::AtomicWriter& file) : file_(file) {
        state_ = XXH3_createState();
        if (state_ == nullptr) {
            throw std::bad_alloc();
        }
        XXH3_64bits_reset(state_);
        buffer_.reserve(BUFFER_BYTES);
    }
    ~FileWriter() { XXH3_freeState(state_); }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(const void* data, std::size_t bytes) {
        XXH3_64bits_update(state_, data, bytes);
        const auto* p = static_cast<const char*>(data);
        while (bytes > 0) {
            const std::size_t n = std::min(bytes, BUFFER_BYTES - buffer_.size());
            buffer_.append(p, n);
            p += n;
            bytes -= n;
            if (buffer_.size() == BUFFER_BYTES) {
                flush();
            }
        }
    }
    void write_u64(std::uint64_t v) { write(&v, sizeof v); }
    void flush() {
        file_.write(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    std::uint64_t digest() const noexcept { return XXH3_64bits_digest(state_); }

   private:
    static constexpr std::size_t BUFFER_BYTES = 1 << 20;
    util::AtomicWriter& file_;
    XXH3_state_t* state_;
    std::string buffer_;
};

// Decodes the first number of a list and gives the offset after it.
std::size_t first_varint(const unsigned char* bytes, std::uint32_t& value) noexcept {
    const unsigned char* p = bytes;
    value = util::read_varint(p);
    return static_cast<std::size_t>(p - bytes);
}

}  // namespace

void ArticleIndex::save(const std::string& path) const {
    const Built& built = *tail_;
    const std::size_t based = base_ ? base_->size() : 0;
    const std::uint64_t base_text = based > 0 ? base_->ends[FIELDS * based - 1] : 0;

    // The directory: the union of both segments' trigrams, in order. A
    // trigram in both has the base's list followed by the built one's, its
    // first number rewritten as a difference from the base's last.
    struct Merged {
        Trigram trigram;
        std::size_t base_entry;  // base_->trigrams when none
        std::size_t list;        // built.lists.size() when none
    };
    std::vector<std::size_t> order(built.lists.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        order[k] = k;
    }
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return built.lists[a].trigram < built.lists[b].trigram;
    });
    const std::size_t base_trigrams = base_ ? base_->trigrams : 0;
    std::vector<Merged> merged;
    merged.reserve(base_trigrams + order.size());
    {
        std::size_t b = 0;
        std::size_t k = 0;
        while (b < base_trigrams || k < order.size()) {
            const Trigram tb = b < base_trigrams ? base_->entry(b).trigram : TRIGRAMS;
            const Trigram tk = k < order.size() ? built.lists[order[k]].trigram : TRIGRAMS;
            if (tb < tk) {
                merged.push_back({tb, b++, built.lists.size()});
            } else if (tk < tb) {
                merged.push_back({tk, base_trigrams, order[k++]});
            } else {
                merged.push_back({tb, b++, order[k++]});
            }
        }
    }
    const auto built_list_bytes = [&](const Merged& m, std::string& first, std::size_t& rest) {
        // The built list's first number, rewritten, and where its rest starts.
        const Built::List& list = built.lists[m.list];
        std::uint32_t value = 0;
        rest = first_varint(list.bytes.data(), value);
        const std::uint64_t global = based + value;
        const std::uint64_t previous =
            m.base_entry < base_trigrams ? base_->entry(m.base_entry).last : 0;
        first.clear();
        util::put_varint(first, static_cast<std::uint32_t>(
                                    m.base_entry < base_trigrams ? global - previous : global));
    };

    // Offsets of the lists.
    std::vector<DirEntry> entries(merged.size());
    std::uint64_t offset = 0;
    std::string first;
    for (std::size_t k = 0; k < merged.size(); ++k) {
        const Merged& m = merged[k];
        DirEntry& e = entries[k];
        e = DirEntry{m.trigram, 0, 0, 0, offset};
        if (m.base_entry < base_trigrams) {
            const DirEntry b = base_->entry(m.base_entry);
            e.count = b.count;
            e.last = b.last;
            offset += base_->list_end(m.base_entry) - b.offset;
        }
        if (m.list < built.lists.size()) {
            const Built::List& list = built.lists[m.list];
            std::size_t rest = 0;
            built_list_bytes(m, first, rest);
            e.count += list.count;
            e.last = static_cast<std::uint32_t>(based + list.last);
            offset += first.size() + list.bytes.size() - rest;
        }
    }

    Header header{};
    std::memcpy(header.magic, MAGIC, sizeof MAGIC);
    header.version = FILE_VERSION;
    header.header_bytes = HEADER_BYTES;
    header.articles = size();
    header.text_bytes = base_text + built.text.size();
    header.trigrams = merged.size();
    header.posting_bytes = offset;

    util::AtomicWriter file(path);
    FileWriter out(file);
    // The header is written last, once the body's checksum is known.
    file.seek(HEADER_BYTES);
    for (std::size_t i = 0; i < FIELDS * based; ++i) {
        out.write_u64(base_->ends[i]);
    }
    for (const std::uint64_t e : built.ends) {
        out.write_u64(base_text + e);
    }
    if (base_) {
        out.write(base_->text, base_text);
    }
    out.write(built.text.data(), built.text.size());
    const char zeros[8] = {};
    out.write(zeros, padded8(header.text_bytes) - header.text_bytes);
    out.write(entries.data(), entries.size() * sizeof(DirEntry));
    for (const Merged& m : merged) {
        if (m.base_entry < base_trigrams) {
            const DirEntry b = base_->entry(m.base_entry);
            out.write(base_->postings + b.offset, base_->list_end(m.base_entry) - b.offset);
        }
        if (m.list < built.lists.size()) {
            std::size_t rest = 0;
            built_list_bytes(m, first, rest);
            const Built::Bytes& bytes = built.lists[m.list].bytes;
            out.write(first.data(), first.size());
            out.write(bytes.data() + rest, bytes.size() - rest);
        }
    }
    out.flush();
    header.body_checksum = out.digest();
    header.header_checksum = XXH3_64bits(&header, offsetof(Header, header_checksum));
    file.pwrite(&header, sizeof header, 0);
    file.commit();
}

std::unique_ptr<ArticleIndex> ArticleIndex::load(const std::string& path) {
    auto mapped = std::make_unique<Mapped>();
    mapped->path = path;
    std::uint64_t file_bytes = 0;
    {
        const util::ReadFile file(path);
        const util::ReadFile::Status status = file.status();
        if (!status.regular) {
            throw IndexFileError("not a regular file");
        }
        if (status.size < sizeof MAGIC) {
            throw IndexFileError("not a parvenkel article index (" + std::to_string(status.size) +
                                 " bytes)");
        }
        // The whole file is read into memory of the index's own: once
        // loaded, the index does not depend on the file, which may then be
        // replaced, truncated or removed. (A mapping of the file would be
        // shared between processes, but a file changed under it kills the
        // process at its next query with SIGBUS.)
        if (status.size > SIZE_MAX / 2) {
            throw std::bad_alloc();
        }
        void* map = ::mmap(nullptr, static_cast<std::size_t>(status.size), PROT_READ | PROT_WRITE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (map == MAP_FAILED) {
            throw std::bad_alloc();
        }
        mapped->map = map;
        mapped->map_bytes = static_cast<std::size_t>(status.size);
        // A file cut short meanwhile reads shorter, and is refused below.
        file_bytes = file.read(map, mapped->map_bytes);
    }
    const auto* bytes = static_cast<const unsigned char*>(mapped->map);

    if (std::memcmp(bytes, MAGIC, sizeof MAGIC) != 0) {
        throw IndexFileError("not a parvenkel article index (wrong magic number)");
    }
    if (file_bytes < HEADER_BYTES) {
        throw IndexFileError("truncated: " + std::to_string(file_bytes) +
                             " bytes, shorter than the header");
    }
    Header header;
    std::memcpy(&header, bytes, sizeof header);
    if (header.version != FILE_VERSION) {
        throw IndexFileError("unsupported format version " + std::to_string(header.version) +
                             " (this version of parvenkel reads version " +
                             std::to_string(FILE_VERSION) + ")");
    }
    if (header.header_checksum != XXH3_64bits(&header, offsetof(Header, header_checksum)) ||
        header.header_bytes != HEADER_BYTES) {
        throw IndexFileError("damaged header (checksum mismatch)");
    }
    // The size the header announces, computed without overflow.
    constexpr std::uint64_t LIMIT = std::uint64_t{1} << 56;
    if (header.articles > MAX_ARTICLES || header.text_bytes > LIMIT || header.trigrams > TRIGRAMS ||
        header.posting_bytes > LIMIT) {
        throw IndexFileError("damaged header (sizes out of range)");
    }
    const std::uint64_t expected = HEADER_BYTES + 8 * FIELDS * header.articles +
                                   padded8(header.text_bytes) + sizeof(DirEntry) * header.trigrams +
                                   header.posting_bytes;
    if (file_bytes < expected) {
        throw IndexFileError("truncated: " + std::to_string(file_bytes) + " bytes of " +
                             std::to_string(expected));
    }
    if (file_bytes > expected) {
        throw IndexFileError(std::to_string(file_bytes - expected) +
                             " bytes of unknown data after the index");
    }
    if (XXH3_64bits(bytes + HEADER_BYTES, file_bytes - HEADER_BYTES) != header.body_checksum) {
        throw IndexFileError("damaged (checksum mismatch)");
    }
    mapped->articles = static_cast<std::size_t>(header.articles);
    mapped->ends = reinterpret_cast<const std::uint64_t*>(bytes + HEADER_BYTES);
    mapped->text =
        reinterpret_cast<const char*>(bytes + HEADER_BYTES + 8 * FIELDS * header.articles);
    mapped->directory =
        bytes + HEADER_BYTES + 8 * FIELDS * header.articles + padded8(header.text_bytes);
    mapped->trigrams = static_cast<std::size_t>(header.trigrams);
    mapped->postings = mapped->directory + sizeof(DirEntry) * header.trigrams;
    mapped->posting_bytes = static_cast<std::size_t>(header.posting_bytes);

    // A file with a good checksum but inconsistent contents was not written
    // by this code: checked all the same, so that no offset reaches outside
    // the file and no text is malformed.
    std::uint64_t previous = 0;
    for (std::size_t k = 0; k < FIELDS * mapped->articles; ++k) {
        const std::uint64_t end = mapped->ends[k];
        if (end < previous || end > header.text_bytes) {
            throw IndexFileError("inconsistent text offsets");
        }
        // The fields given (not the lowercase ones, which are only compared
        // byte for byte) become str objects: they must be UTF-8.
        if (k % FIELDS <= CONTENT &&
            !text::is_valid_utf8(
                {mapped->text + previous, static_cast<std::size_t>(end - previous)})) {
            throw IndexFileError("malformed UTF-8 in article " + std::to_string(k / FIELDS));
        }
        previous = end;
    }
    if (previous != header.text_bytes) {
        throw IndexFileError("inconsistent text offsets");
    }
    for (std::size_t k = 0; k < mapped->trigrams; ++k) {
        const DirEntry e = mapped->entry(k);
        const bool ordered = k == 0 ? e.offset == 0
                                    : e.trigram > mapped->entry(k - 1).trigram &&
                                          e.offset > mapped->entry(k - 1).offset;
        if (!ordered || e.trigram >= TRIGRAMS || e.offset >= mapped->posting_bytes ||
            e.count == 0 || e.last >= mapped->articles) {
            throw IndexFileError("inconsistent trigram directory");
        }
    }
    auto index = std::make_unique<ArticleIndex>();
    index->base_ = std::move(mapped);
    return index;
}

}  // namespace parvenkel::index
