// The index's file format, and the forms it shares with the index in
// memory: the fields of an article, posting lists and their reader.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "index/index.hpp"
#include "util/varint.hpp"

static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

namespace parvenkel::index {

using Trigram = std::uint32_t;  // three bytes, the first in the high bits
constexpr std::size_t TRIGRAMS = std::size_t{1} << 24;

// File layout (version 3), every number little-endian:
//   header (HEADER_BYTES): magic, version, header size, article count, text
//     bytes, list count, posting bytes, id bytes, a reserved 0, checksum
//     of everything after the header, checksum of the header before it;
//   FIELDS * article count u64: the end offset of each field of each
//     article in the text, in turn;
//   article count u64: the end offset of each article's id in the ids,
//     with NO_ID set for an article without one;
//   the text, padded with zeros to a multiple of 8 bytes;
//   the ids (UTF-8), padded the same way;
//   list count directory entries (DirEntry), by increasing key;
//   the posting lists, one after the other.
// A list's key is its field (TITLE or CONTENT) and trigram (list_key):
// the titles and the contents have lists of their own, a content's list
// leaving out the articles whose title has the trigram. Versions 1 and 2
// have one list a trigram, of the articles that have it in their title or
// their content, keyed by the trigram alone. Version 1 has neither the ids
// nor their offsets, and a header without the id bytes and the reserved
// word (HEADER_V1_BYTES).
constexpr char MAGIC[8] = {'P', 'V', 'K', 'I', 'N', 'D', 'E', 'X'};
constexpr std::size_t HEADER_BYTES = 80;
constexpr std::size_t HEADER_V1_BYTES = 64;

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t header_bytes;
    std::uint64_t articles;
    std::uint64_t text_bytes;
    std::uint64_t lists;
    std::uint64_t posting_bytes;
    std::uint64_t id_bytes;
    std::uint64_t reserved;
    std::uint64_t body_checksum;
    std::uint64_t header_checksum;
};
static_assert(sizeof(Header) == HEADER_BYTES);

struct HeaderV1 {
    char magic[8];
    std::uint32_t version;
    std::uint32_t header_bytes;
    std::uint64_t articles;
    std::uint64_t text_bytes;
    std::uint64_t lists;
    std::uint64_t posting_bytes;
    std::uint64_t body_checksum;
    std::uint64_t header_checksum;
};
static_assert(sizeof(HeaderV1) == HEADER_V1_BYTES);

// Set in an id's end offset when the article has no id.
constexpr std::uint64_t NO_ID = std::uint64_t{1} << 63;

struct DirEntry {
    std::uint32_t key;    // list_key, or the trigram alone before version 3
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

// The key of a field's list of a trigram: the field (TITLE or CONTENT)
// above the trigram's 24 bits, so that a field's lists are together.
using Key = std::uint32_t;
constexpr std::size_t KEYS = 2 * TRIGRAMS;
constexpr Key list_key(unsigned which, Trigram t) noexcept { return Key{which} << 24 | t; }

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
inline void add_trigrams(std::string_view text, std::vector<Trigram>& out) {
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

inline void sort_unique(std::vector<Trigram>& v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

// Field `which` of article `i`, from the end offsets of every field.
inline std::string_view field(const std::uint64_t* ends, const char* text, std::size_t i,
                              unsigned which) noexcept {
    const std::size_t k = FIELDS * i + which;
    const std::uint64_t begin = k == 0 ? 0 : ends[k - 1];
    return {text + begin, static_cast<std::size_t>(ends[k] - begin)};
}

}  // namespace parvenkel::index
