// The index's file format, and the forms it shares with the index in
// memory: the fields of an article, posting lists and their reader.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "index/index.hpp"
#include "kernels/posting_blocks.hpp"
#include "text/utf8.hpp"
#include "util/bitpack.hpp"
#include "util/varint.hpp"

static_assert(std::endian::native == std::endian::little, "the file format is little-endian");

namespace parvenkel::index {

using Trigram = std::uint32_t;  // three bytes, the first in the high bits
constexpr std::size_t TRIGRAMS = std::size_t{1} << 24;

// File layout (version 4), every number little-endian:
//   header (HEADER_BYTES): magic, version, header size, article count, text
//     bytes, list count, posting bytes, id bytes, a reserved 0, checksum
//     of everything after the header, checksum of the header before it;
//   FIELDS * article count u64: the end offset of each field of each
//     article in the text, in turn;
//   article count u64: the end offset of each article's id in the ids,
//     with NO_ID set for an article without one;
//   the text, padded with zeros to a multiple of 8 bytes;
//   the ids (UTF-8), padded the same way;
//   the posting lists, one after the other, packed (see Postings);
//   list count directory entries (DirEntry), by increasing key.
// Up to version 3 the directory comes before the lists, and the lists are
// in LEB128 alone.
// A list's key is its field (TITLE or CONTENT) and gram (list_key, and
// for_each_gram below): the titles and the contents have lists of their
// own, a content's list leaving out the articles whose title has the gram.
// Version 3 has the same lists of trigrams of bytes (add_trigrams), the
// keys of every version before 4. Versions 1 and 2
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

// The key of a field's list of a gram: the field (TITLE or CONTENT)
// above the gram's 24 bits, so that a field's lists are together.
using Key = std::uint32_t;
constexpr std::size_t KEYS = 2 * TRIGRAMS;
constexpr Key list_key(unsigned which, Trigram t) noexcept { return Key{which} << 24 | t; }

constexpr std::uint64_t padded8(std::uint64_t n) noexcept { return (n + 7) & ~std::uint64_t{7}; }

// The largest number of articles: their numbers are held in 32 bits.
constexpr std::size_t MAX_ARTICLES = UINT32_MAX;

// A posting list as bytes, with its length in articles, in one of two
// forms. As built in memory, and in files before version 4: each number in
// LEB128, the first as it is and each other as its difference from the one
// before. Packed, in files from version 4 on: the numbers in blocks of
// util::PACKED_BLOCK, each block a byte giving its width and its numbers
// bit-packed (util::pack_block), each stored as its difference from the one
// before less one (the list's first as it is), so that a run of
// consecutive articles packs into no bits at all; then those left over in
// LEB128 as above, so that a short list has the same bytes in either form.
struct Postings {
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    std::uint32_t count = 0;
    bool packed = false;
};

// The width of the packed block at `p`, a list's bytes ending at `end`;
// throws IndexFileError where the block is damaged (no such width, or
// running over the end).
inline unsigned packed_block_width(const unsigned char* p, const unsigned char* end) {
    const unsigned width = p != end ? *p : 255u;
    if (width > 32 || static_cast<std::size_t>(end - p - 1) < util::packed_bytes(width)) {
        throw IndexFileError("damaged posting list");
    }
    return width;
}

// Reads the article numbers of a list, checking every byte it reads: a
// damaged list (a number past `articles`, not increasing, running over its
// end) throws IndexFileError rather than giving wrong articles.
class PostingReader {
   public:
    PostingReader(Postings list, std::size_t articles) noexcept
        : p_(list.data),
          end_(list.data + list.size),
          left_(list.count),
          blocks_(list.packed ? list.count / static_cast<std::uint32_t>(util::PACKED_BLOCK) : 0),
          articles_(articles) {}

    [[gnu::always_inline]] bool next(std::uint32_t& out) {
        if (left_ == 0) {
            return false;
        }
        --left_;
        // One test on the path of a list in LEB128 alone.
        if ((at_ < filled_) | (blocks_ != 0)) {
            if (at_ == filled_) {
                unpack();
            }
            out = block_[at_++];
            return true;
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
        out = current_;
        return true;
    }

    // Appends every number not yet read to `out`: a block at a time, where
    // the list has them.
    void read_all(std::vector<std::uint32_t>& out) {
        out.reserve(out.size() + left_);
        read_through(out, UINT32_MAX);  // above every article number
    }

    // Appends the numbers not yet read to `out` as far as the first that
    // is not below `last` (a block at a time, where the list has them, so
    // perhaps a few more), or to the end.
    void read_through(std::vector<std::uint32_t>& out, std::uint32_t last) {
        const auto reached = [&out, last] { return !out.empty() && out.back() >= last; };
        for (; at_ < filled_ && left_ != 0; --left_) {
            out.push_back(block_[at_++]);
        }
        for (; blocks_ != 0 && !reached();
             left_ -= static_cast<std::uint32_t>(util::PACKED_BLOCK)) {
            unpack();
            out.insert(out.end(), block_.get(), block_.get() + util::PACKED_BLOCK);
            at_ = filled_;
        }
        for (std::uint32_t number = 0; !reached() && next(number);) {
            out.push_back(number);
        }
    }

   private:
    // Reads the next block of a packed list into block_. Kept out of
    // next(), which is then small enough to inline where lists are merged.
    [[gnu::noinline]] void unpack() {
        const unsigned width = packed_block_width(p_, end_);
        if (!block_) {
            block_ = std::make_unique_for_overwrite<std::uint32_t[]>(util::PACKED_BLOCK);
        }
        // Every number is more than the one before: only the last can be
        // past the articles.
        const std::uint64_t value = kernels::posting_blocks().unpack(
            p_ + 1, width, static_cast<std::size_t>(end_ - p_ - 1),
            started_ ? std::uint64_t{current_} + 1 : 0, block_.get());
        p_ += 1 + util::packed_bytes(width);
        if (value >= articles_) {
            throw IndexFileError("damaged posting list");
        }
        started_ = true;
        current_ = static_cast<std::uint32_t>(value);
        --blocks_;
        at_ = 0;
        filled_ = util::PACKED_BLOCK;
    }

    const unsigned char* p_;
    const unsigned char* end_;
    std::uint32_t left_;
    std::uint32_t blocks_;  // packed blocks not yet read
    std::size_t articles_;
    std::uint32_t current_ = 0;
    bool started_ = false;
    std::size_t at_ = 0;      // the next number of block_ to give
    std::size_t filled_ = 0;  // numbers in block_
    // Made at the first block, so that a reader of a list in LEB128 alone
    // holds no more than it did.
    std::unique_ptr<std::uint32_t[]> block_;
};

// The trigrams of `text`, appended to `out`: the keys of a file of
// version 1 to 3, three bytes in a row.
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

// The keys of the lists from version 4 on, the grams of a lowercase text.
// A character is a byte that is not a continuation byte (10xxxxxx) and the
// continuation bytes after it, as many as the first byte says. The grams
// are:
//   - three characters in a row, all ASCII: their three bytes, as a
//     trigram of bytes (the first byte below 0x80);
//   - three characters in a row, some not ASCII: a hash of their bytes,
//     HASHED_GRAM plus HASHED_BITS bits (a first byte of 0x80 to 0xBF,
//     which starts no character, so no other gram has it);
//   - a character of three bytes or more (CJK and most other scripts
//     beyond Greek and Cyrillic): its first three bytes (the first byte
//     0xE0 or above), so that a query of one or two such characters has
//     lists too.
// A text that holds a query holds every gram of the query, since the query
// starts and ends on characters of its own. Three bytes of characters of
// two bytes carry little more than one character (every Greek or Cyrillic
// letter starts with one of four bytes); three characters, whatever their
// bytes, pick out as few articles in any script as in English. A query of
// exactly three bytes with a gram has one, which is the query: its list
// holds exactly the articles that hold the query.
//
// The hash's 65,536 lists each hold the articles of several trigrams,
// which the intersection of a query's lists and the test of each candidate
// make up for. Fewer lists build faster and take less room, the articles
// of one list sharing its entries, but leave more candidates: on 200,000
// short articles in six scripts, 65,536 lists took 80 MB (72 MB packed)
// and 1.51 s to build, 8,192 lists 72 MB and 1.35 s, and trigrams of bytes
// 80 MB and 1.61 s; on the help pages a selective Japanese query's top 10
// took 0.01 to 0.02 ms with 65,536 lists (as its trigram's list fell with
// the hash), 0.074 ms with 8,192 and 0.65 ms with trigrams of bytes.
constexpr Trigram HASHED_GRAM = 0x800000;
constexpr unsigned HASHED_BITS = 16;

// The hash gram of three characters, each its bytes in a number (the first
// byte highest).
constexpr Trigram hashed_gram(std::uint32_t a, std::uint32_t b, std::uint32_t c) noexcept {
    // Multiplicative hashing of the three, overlapped in one number: its
    // high bits depend on every bit of it.
    const std::uint64_t x = (std::uint64_t{a} << 40 ^ std::uint64_t{b} << 20 ^ c);
    return HASHED_GRAM | static_cast<Trigram>((x * 0x9E3779B97F4A7C15u) >> (64 - HASHED_BITS));
}

// Whether a gram is a hash of three characters, whose list holds the
// articles of several.
constexpr bool is_hashed_gram(Trigram gram) noexcept {
    return (gram & ~((Trigram{1} << HASHED_BITS) - 1)) == HASHED_GRAM;
}

// Calls `emit(gram)` for each gram of `text` in turn, as many times as the
// text has it: at most one a byte. A character's length is read from its
// first byte (a stray continuation byte, which well-formed text has none
// of, is taken as the start of a character of two bytes).
template <class Emit>
inline void for_each_gram(std::string_view text, Emit&& emit) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::uint32_t before = 0;  // the character two back
    std::uint32_t last = 0;    // the character one back
    unsigned wide = 0;         // bit k: the character k back (0: this one) is not ASCII
    std::size_t seen = 0;      // characters so far, up to 2
    for (std::size_t i = 0; i < n;) {
        std::uint32_t c = p[i];
        if (c < 0x80 && seen == 2 && (wide & 3) == 0) {
            // A run of ASCII after two ASCII characters: trigrams of bytes.
            Trigram t = before << 8 | last;
            do {
                t = (t << 8 | p[i]) & (TRIGRAMS - 1);
                emit(t);
                ++i;
            } while (i < n && p[i] < 0x80);
            before = t >> 8 & 0xFF;
            last = t & 0xFF;
            wide = 0;
            continue;
        }
        std::size_t length = 1;
        if (c >= 0x80) {
            length = std::min(text::utf8_length(static_cast<unsigned char>(c)), n - i);
            for (std::size_t k = 1; k < length; ++k) {
                c = c << 8 | p[i + k];
            }
            if (length >= 3) {
                emit(length == 3 ? c : c >> 8);  // the first three bytes
            }
        }
        wide = (wide << 1 | (length > 1 ? 1u : 0u)) & 7;
        if (seen == 2) {
            emit(wide == 0 ? before << 16 | last << 8 | c : hashed_gram(before, last, c));
        } else {
            ++seen;
        }
        before = last;
        last = c;
        i += length;
    }
}

// The grams of `text`, appended to `out`.
inline void add_grams(std::string_view text, std::vector<Trigram>& out) {
    for_each_gram(text, [&](Trigram t) { out.push_back(t); });
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
