// The segment of an index built in memory: the articles added since it
// was made or loaded, and their posting lists.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "index/format.hpp"
#include "index/index.hpp"
#include "text/utf8.hpp"
#include "util/varint.hpp"

namespace parvenkel::index {

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
    // Makes the size `n` bytes larger, the new bytes left to the caller to
    // write; gives where they start.
    char* extend(std::size_t n) {
        if (capacity_ - size_ < n) {
            grow(size_ + n);
        }
        char* at = data_ + size_;
        size_ += n;
        return at;
    }
    // Gives the whole pages within bytes [from, to), no longer needed, back
    // to the system; they read as zeros afterwards.
    void discard(std::size_t from, std::size_t to) noexcept {
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        from = (from + page - 1) / page * page;
        to = std::min(to, size_) / page * page;
        if (from < to) {
            ::madvise(data_ + from, to - from, MADV_DONTNEED);
        }
    }

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

// Articles built in memory. A list (of a gram in the titles or in the
// contents) grows at its end as articles are added, so it is kept in the
// file's form all along.
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
        Key key = 0;
    };

    MappedBytes text;
    std::vector<std::uint64_t> ends;     // title end, content end, per article
    std::vector<std::uint64_t> shapes;   // of the title and the content, per article
    std::string id_text;                 // the ids of those that have one, UTF-8
    std::vector<std::uint64_t> id_ends;  // per article, NO_ID set for none
    std::vector<List> lists;
    // The numbers last put in each list, not yet in its bytes: every
    // gram of an article is looked up here, so this is kept small (32
    // bytes a list) and the lists' bytes, spread over the memory, are
    // written a few numbers at a time. Empty between calls of add.
    struct Staged {
        static constexpr unsigned ROOM = 26;
        // Room for a number stored as 8 bytes, of which those past its
        // length are overwritten by the next.
        static constexpr unsigned FULL = ROOM - 8;
        // The article last put in the list, plus 1; 0: none (and 1 where
        // the list's only number was taken back: see take_back).
        std::uint32_t last = 0;
        std::uint8_t count = 0;
        std::uint8_t size = 0;
        unsigned char bytes[ROOM];
    };
    static_assert(sizeof(Staged) == 32);
    // The lists of a gram in the titles and in the contents are made
    // together, next to each other (2p and 2p + 1). Their staging entries
    // are kept apart, the contents' in one table and the titles' in
    // another: nearly every gram is a content's, so the table it looks
    // up stays as small as one list a gram makes it.
    std::vector<Staged> staged;        // of list 2p + 1, a content's
    std::vector<Staged> title_staged;  // of list 2p, a title's
    Staged& staged_of(std::size_t list) noexcept {
        return ((list & 1) == TITLE ? title_staged : staged)[list >> 1];
    }
    std::vector<std::uint32_t> ids;  // post's keys, then lists, of one text
    static constexpr std::size_t WINDOW = std::size_t{1} << 16;
    // Full staging entries, in the order they filled, for gather.
    struct Chunk {
        std::uint32_t list;
        std::uint32_t last;  // the last number in the bytes
        std::uint8_t count;
        std::uint8_t size;
        unsigned char bytes[Staged::ROOM];
    };
    std::vector<Chunk> chunks;
    // lists[2 * (slot[t] - 1) + field] is the list of gram t in a field
    // (TITLE or CONTENT); 0: none. A mapping of its own, made when the
    // first articles are added (an index loaded from a file and only
    // queried has none) and zeroed by the system, so that its untouched
    // pages cost nothing; in large pages from the first large build on
    // (ArticleIndex::add).
    std::uint32_t* slot = nullptr;
    static constexpr std::size_t SLOT_BYTES = TRIGRAMS * sizeof(std::uint32_t);

    Built() = default;
    void make_slots(bool large = false) {
        if (slot == nullptr) {
            void* map = ::mmap(nullptr, SLOT_BYTES, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (map == MAP_FAILED) {
                throw std::bad_alloc();
            }
            slot = static_cast<std::uint32_t*>(map);
        }
        if (large) {
            // Advice: where the system has no large pages, small ones serve.
            ::madvise(slot, SLOT_BYTES, MADV_HUGEPAGE);
        }
    }
    ~Built() {
        if (slot != nullptr) {
            ::munmap(slot, SLOT_BYTES);
        }
    }
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;

    std::size_t size() const noexcept { return ends.size() / FIELDS; }
    // The list of gram `t` in field `which` (TITLE or CONTENT).
    Postings find(unsigned which, Trigram t) const noexcept {
        if (slot == nullptr || slot[t] == 0) {
            return {};
        }
        const List& list = lists[2 * (slot[t] - 1) + which];
        if (list.count == 0) {
            return {};  // only the other field has the gram
        }
        return {list.bytes.data(), list.bytes.size(), list.count};
    }
    // Puts `article`, which comes after every article already in the
    // lists, in the list of field `which` (TITLE or CONTENT) of each
    // gram of `lowered`. An article already last in a list is not put
    // there again, so that a gram found twice in a field lists it once.
    void post(std::string_view lowered, std::uint32_t article, unsigned which) {
        // A long text is put a window at a time, so that `ids` stays
        // small. Each window starts on a character and takes two more past
        // where the next starts, so that every gram is in one; a gram found
        // again in a later window finds the article already last in its
        // list.
        while (lowered.size() > WINDOW + 16) {
            std::size_t cut = WINDOW;
            while (cut > 0 &&
                   text::is_utf8_continuation(static_cast<unsigned char>(lowered[cut]))) {
                --cut;
            }
            if (cut == 0) {
                cut = WINDOW;  // no character starts there: not well-formed text
            }
            const std::size_t end = text::utf8_next(lowered, text::utf8_next(lowered, cut));
            post(lowered.substr(0, end), article, which);
            lowered.remove_prefix(cut);
        }
        const std::size_t n = add_keys(lowered, 0);
        stage(which == CONTENT ? n : 0, n, article);
    }
    // The same for both fields of an article, in one pass when they are
    // short: each list's entry is then fetched further ahead of its use.
    void post(std::string_view title, std::string_view content, std::uint32_t article) {
        if (title.size() + content.size() > WINDOW) {
            post(content, article, CONTENT);
            post(title, article, TITLE);
            return;
        }
        const std::size_t contents = add_keys(content, 0);
        stage(contents, add_keys(title, contents), article);
    }
    // Puts the grams of `lowered` in `ids` from `n` on, fetching their
    // slots ahead; gives the number of keys.
    std::size_t add_keys(std::string_view lowered, std::size_t n) {
        // At most one gram a byte.
        if (ids.size() < n + lowered.size()) {
            ids.resize(std::max(n + lowered.size(), 2 * ids.size()));
        }
        std::uint32_t* const keys = ids.data();
        for_each_gram(lowered, [&](Trigram t) {
            keys[n++] = t;
            __builtin_prefetch(&slot[t]);
        });
        return n;
    }
    // slot[t] of gram `t`, its two lists made if it has none yet.
    std::uint32_t pair_of(Trigram t) {
        std::uint32_t& s = slot[t];
        if (s == 0) {
            lists.emplace_back().key = list_key(TITLE, t);
            lists.emplace_back().key = list_key(CONTENT, t);
            staged.emplace_back();
            title_staged.emplace_back();
            s = static_cast<std::uint32_t>(staged.size());
        }
        return s;
    }
    // Puts `article` in the lists of the grams in `ids`, the first
    // `contents` of its content and the rest up to `n` of its title: first
    // the pairs of all the grams, then the numbers, so that the table
    // lookups do not wait on one another, and each list's staging entry
    // is fetched ahead of its use. An article's content is staged before
    // its title (all of it, when it comes in windows).
    void stage(std::size_t contents, std::size_t n, std::uint32_t article) {
        std::uint32_t* const keys = ids.data();  // not moved by what follows
        for (std::size_t i = 0; i < contents; ++i) {
            keys[i] = pair_of(keys[i]) - 1;
            __builtin_prefetch(&staged[keys[i]]);
        }
        for (std::size_t i = 0; i < contents; ++i) {
            const std::uint32_t p = keys[i];
            put(staged[p], 2 * p + CONTENT, article);
        }
        for (std::size_t i = contents; i < n; ++i) {
            keys[i] = pair_of(keys[i]) - 1;
            __builtin_prefetch(&title_staged[keys[i]]);
            __builtin_prefetch(&staged[keys[i]]);
        }
        // A content's list leaves out the articles whose title has the
        // gram: a title's few grams take their article back out of
        // the content's list, where it was put last.
        const std::uint32_t next = article + 1;
        for (std::size_t i = contents; i < n; ++i) {
            const std::uint32_t p = keys[i];
            if (put(title_staged[p], 2 * p + TITLE, article) && staged[p].last == next) {
                take_back(p, next);
            }
        }
    }
    // Takes the last number put in the content's list of pair `p`, an
    // article numbered `next - 1`, back out of its staging entry, or of
    // the chunk it filled (and which no number has followed since).
    void take_back(std::uint32_t p, std::uint32_t next) noexcept {
        Staged& entry = staged[p];
        unsigned char* bytes = entry.bytes;
        std::uint8_t* size = &entry.size;
        std::uint8_t* count = &entry.count;
        Chunk* chunk = nullptr;
        if (entry.count == 0) {
            const std::uint32_t list = 2 * p + CONTENT;
            for (std::size_t c = chunks.size(); c-- > 0;) {
                if (chunks[c].list == list) {
                    chunk = &chunks[c];
                    break;
                }
            }
            bytes = chunk->bytes;
            size = &chunk->size;
            count = &chunk->count;
        }
        // A number's last byte is the only one below 0x80.
        std::size_t start = *size - 1u;
        while (start > 0 && bytes[start - 1] >= 0x80) {
            --start;
        }
        const unsigned char* at = bytes + start;
        const std::uint32_t step = util::read_varint(at);
        *size = static_cast<std::uint8_t>(start);
        --*count;
        // The number was the difference from the article before, or (the
        // list's first) the article itself, as if after an article 0 that
        // was never put: either way the same numbers follow.
        entry.last = next - step;
        if (chunk != nullptr) {
            chunk->last = next - 1 - step;
        }
    }
    // Puts `article` in `list`'s staging entry, unless it is there
    // already; gives whether it put it.
    bool put(Staged& entry, std::uint32_t list, std::uint32_t article) {
        const std::uint32_t next = article + 1;
        if (entry.last == next) {
            return false;
        }
        const util::PackedVarint packed =
            util::pack_varint(entry.last == 0 ? article : next - entry.last);
        std::memcpy(entry.bytes + entry.size, &packed.word, sizeof packed.word);
        entry.size = static_cast<std::uint8_t>(entry.size + packed.bytes);
        ++entry.count;
        entry.last = next;
        if (entry.size > Staged::FULL) {
            chunks.push_back({list, article, entry.count, entry.size, {}});
            std::memcpy(chunks.back().bytes, entry.bytes, entry.size);
            entry.size = 0;
            entry.count = 0;
        }
        return true;
    }
    // Moves the full staging entries, in `chunks`, to their lists' bytes,
    // in one pass that fetches each list ahead of its turn (far ahead: a
    // list's record and then its bytes are each a miss; 16 left half the
    // time of this pass waiting on them).
    void gather() {
        constexpr std::size_t AHEAD = 64;
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
            list.last = chunk.last;
        }
        chunks.clear();
    }
    // Moves every staged number to the lists' bytes.
    void flush_all() {
        gather();
        for (std::size_t k = 0; k < lists.size(); ++k) {
            Staged& from = staged_of(k);
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
    // Appends the articles of `later`, a segment built apart whose numbers
    // go on from this one's (both flushed): its text, ids and lists, each
    // list after this one's list of the same gram, on up to `workers`
    // threads. The text of `later` is given back as it is copied. On a
    // failure, roll_back takes out what was appended (segment_join.cpp).
    void append_segment(Built& later, unsigned workers);
    // The same but the text, which the caller appends.
    void append_fields_and_lists(const Built& later, std::uint64_t text_shift);
    // Takes out every article from `articles` on, and the lists made since
    // there were `list_count` (an even number: lists come in pairs).
    // Allocates nothing.
    void roll_back(std::size_t articles, std::size_t text_bytes, std::size_t list_count) noexcept {
        for (std::size_t k = list_count; k < lists.size(); ++k) {
            slot[lists[k].key & (TRIGRAMS - 1)] = 0;
        }
        ends.resize(std::min(ends.size(), FIELDS * articles));
        shapes.resize(std::min(shapes.size(), 2 * articles));
        id_ends.resize(std::min(id_ends.size(), articles));
        id_text.resize(id_ends.empty() ? 0 : id_ends.back() & ~NO_ID);
        text.shrink(text_bytes);
        // Staged numbers are all of articles added since the lists were
        // last flushed, which is since `articles`.
        chunks.clear();
        staged.resize(std::min(staged.size(), list_count / 2));
        title_staged.resize(staged.size());
        for (std::vector<Staged>* table : {&staged, &title_staged}) {
            for (Staged& list : *table) {
                list.size = 0;
                list.count = 0;
            }
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
        for (std::size_t k = 0; k < lists.size(); ++k) {
            staged_of(k).last = lists[k].count == 0 ? 0 : lists[k].last + 1;
        }
    }
};

}  // namespace parvenkel::index
