// Saving an index: both segments merged into one file, written in place
// of the old one only once complete.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "index/built.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "util/bitpack.hpp"
#include "util/file.hpp"
#include "util/varint.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace parvenkel::index {
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

// One posting list packed (see Postings), into bytes that the caller
// writes: numbers go into blocks as they come, and those left over after
// the last whole block are written in LEB128 by finish.
class PackedList {
   public:
    explicit PackedList(std::string& bytes) noexcept : bytes_(bytes) { bytes_.clear(); }

    // Goes on from `count` numbers already written, the last `last` (-1:
    // none), which end with a whole block.
    void resume(std::uint32_t count, std::int64_t last) noexcept {
        count_ = count;
        last_ = last;
    }
    void add(std::uint32_t number) {
        block_[n_++] = static_cast<std::uint32_t>(number - last_ - 1);
        last_ = number;
        ++count_;
        if (n_ == util::PACKED_BLOCK) {
            pack();
        }
    }
    // The `count` numbers of a built list (`bytes` in LEB128, the first as
    // it is, then differences), each plus `shift`. As the whole list, those
    // of its whole blocks are decoded and packed, and the bytes of those
    // after them copied, their form being the same, but for a first number
    // to shift; after numbers of a base, each is added in turn.
    void add_built(const unsigned char* p, const unsigned char* end, std::uint32_t count,
                   std::uint32_t last, std::uint32_t shift) {
        if (count_ != 0) {
            std::uint32_t number = 0;
            for (std::uint32_t i = 0; i < count; ++i) {
                number = i == 0 ? util::read_varint(p) : number + util::read_varint(p);
                add(number + shift);
            }
            return;
        }
        const std::uint32_t whole = count - count % static_cast<std::uint32_t>(util::PACKED_BLOCK);
        std::size_t n = 0;
        std::int64_t before = -1;
        std::uint32_t number = 0;
        for (std::uint32_t i = 0; i < whole; ++i) {
            const std::uint32_t read = util::read_varint(p);
            number = i == 0 ? read : number + read;
            const std::uint32_t global = number + shift;
            // In local variables, which the bytes written do not make the
            // compiler read again.
            block_[n++] = static_cast<std::uint32_t>(global - before - 1);
            before = global;
            if (n == util::PACKED_BLOCK) {
                pack();
                n = 0;
            }
        }
        if (whole == 0 && count != 0 && shift != 0) {
            util::put_varint(bytes_, util::read_varint(p) + shift);
        }
        bytes_.append(reinterpret_cast<const char*>(p), static_cast<std::size_t>(end - p));
        count_ = count;
        last_ = std::int64_t{last} + shift;
    }
    // Writes the numbers left over after the last block, each the
    // difference from the one before (the list's first as it is).
    void finish() {
        for (std::size_t i = 0; i < n_; ++i) {
            const bool first = count_ - n_ + i == 0;
            util::put_varint(bytes_, std::uint64_t{block_[i]} + (first ? 0 : 1));
        }
        n_ = 0;
    }

    std::uint32_t count() const noexcept { return count_; }
    std::uint32_t last() const noexcept { return static_cast<std::uint32_t>(last_); }

   private:
    void pack() {
        const unsigned width = util::packed_width(block_);
        const std::size_t at = bytes_.size();
        bytes_.resize(at + 1 + util::packed_bytes(width));
        bytes_[at] = static_cast<char>(width);
        util::pack_block(block_, width, reinterpret_cast<unsigned char*>(&bytes_[at + 1]));
        n_ = 0;
    }

    std::string& bytes_;
    std::uint32_t block_[util::PACKED_BLOCK];
    std::size_t n_ = 0;
    std::uint32_t count_ = 0;
    std::int64_t last_ = -1;
};

// The posting lists of a file, packed, and then their directory: those of
// `base` (a file of version 4 on, articles numbered from 0; none when null)
// followed, key by key, by those of `built` (numbered from `based`). A key
// in both has the base's list, its whole blocks copied as they are, then
// the built one's numbers.
class ListWriter {
   public:
    ListWriter(const ArticleIndex::Loaded* base, const ArticleIndex::Built& built,
               std::size_t based)
        : base_(base), built_(built), based_(based), base_lists_(base ? base->lists : 0) {
        // The built segment makes a gram's lists of both fields at once;
        // one of them may be empty, and is left out.
        std::vector<std::size_t> order;
        for (std::size_t k = 0; k < built.lists.size(); ++k) {
            if (built.lists[k].count != 0) {
                order.push_back(k);
            }
        }
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return built.lists[a].key < built.lists[b].key;
        });
        merged_.reserve(base_lists_ + order.size());
        std::size_t b = 0;
        std::size_t k = 0;
        constexpr Key NONE = KEYS;
        while (b < base_lists_ || k < order.size()) {
            const Key kb = b < base_lists_ ? base_->entry(b).key : NONE;
            const Key kk = k < order.size() ? built.lists[order[k]].key : NONE;
            if (kb < kk) {
                merged_.push_back({kb, b++, built.lists.size()});
            } else if (kk < kb) {
                merged_.push_back({kk, base_lists_, order[k++]});
            } else {
                merged_.push_back({kb, b++, order[k++]});
            }
        }
    }

    std::size_t lists() const noexcept { return merged_.size(); }

    // Writes the lists and then the directory; gives the lists' bytes.
    std::uint64_t write(FileWriter& out) const {
        std::vector<DirEntry> entries(merged_.size());
        std::uint64_t offset = 0;
        std::string bytes;
        for (std::size_t n = 0; n < merged_.size(); ++n) {
            const Merged& m = merged_[n];
            PackedList list(bytes);
            const std::uint64_t start = offset;
            if (m.base_entry < base_lists_) {
                copy_base(m.base_entry, out, offset, list);
            }
            // The built lists lie all over the memory: their records and
            // then their bytes are fetched ahead.
            if (n + 8 < merged_.size() && merged_[n + 8].list < built_.lists.size()) {
                __builtin_prefetch(&built_.lists[merged_[n + 8].list]);
            }
            if (n + 4 < merged_.size() && merged_[n + 4].list < built_.lists.size()) {
                __builtin_prefetch(built_.lists[merged_[n + 4].list].bytes.data());
            }
            if (m.list < built_.lists.size()) {
                const ArticleIndex::Built::List& from = built_.lists[m.list];
                list.add_built(from.bytes.data(), from.bytes.data() + from.bytes.size(), from.count,
                               from.last, static_cast<std::uint32_t>(based_));
            }
            list.finish();
            out.write(bytes.data(), bytes.size());
            entries[n] = DirEntry{m.key, list.count(), list.last(), 0, start};
            offset += bytes.size();
        }
        out.write(entries.data(), entries.size() * sizeof(DirEntry));
        return offset;
    }

   private:
    struct Merged {
        Key key;
        std::size_t base_entry;  // base_lists_ when none
        std::size_t list;        // built_.lists.size() when none
    };

    // Writes list `k` of the base, which starts at `offset`: its whole
    // blocks as they are, which moves `offset` on, and the numbers after
    // them into `list`, which the built ones follow. Its bytes are read
    // with every check a query makes.
    void copy_base(std::size_t k, FileWriter& out, std::uint64_t& offset, PackedList& list) const {
        const DirEntry e = base_->entry(k);
        const unsigned char* begin = base_->postings + e.offset;
        const unsigned char* end = base_->postings + base_->list_end(k);
        const unsigned char* p = begin;
        const std::uint32_t blocks = e.count / util::PACKED_BLOCK;
        for (std::uint32_t b = 0; b < blocks; ++b) {
            p += 1 + util::packed_bytes(packed_block_width(p, end));
        }
        out.write(begin, static_cast<std::size_t>(p - begin));
        offset += static_cast<std::uint64_t>(p - begin);
        // The numbers after the blocks, as differences from the one before
        // (the list's first as it is): the one before them is found back
        // from the list's last.
        std::uint32_t rest[util::PACKED_BLOCK];
        const std::uint32_t left = e.count % util::PACKED_BLOCK;
        std::int64_t span = 0;
        for (std::uint32_t i = 0; i < left; ++i) {
            const util::VarintStatus status = util::read_varint_checked(p, end, rest[i]);
            if (status != util::VarintStatus::ok && status != util::VarintStatus::overlong) {
                throw IndexFileError("damaged posting list");
            }
            span += rest[i];
        }
        std::int64_t number = blocks == 0 ? 0 : std::int64_t{e.last} - span;
        if (blocks != 0 && number < 0) {
            throw IndexFileError("damaged posting list");
        }
        list.resume(blocks * static_cast<std::uint32_t>(util::PACKED_BLOCK),
                    blocks == 0 ? -1 : number);
        for (std::uint32_t i = 0; i < left; ++i) {
            number += rest[i];
            list.add(static_cast<std::uint32_t>(number));
        }
    }

    const ArticleIndex::Loaded* base_;
    const ArticleIndex::Built& built_;
    std::size_t based_;
    std::size_t base_lists_;
    std::vector<Merged> merged_;
};

// The lists of every article of `base` (a file of version 1 to 3, whose
// keys are trigrams of bytes, and before version 3 one list a trigram for
// both fields) and then of `built`, made again from their lowercase text.
void post_again(const ArticleIndex::Loaded& base, const ArticleIndex::Built& built,
                ArticleIndex::Built& out) {
    out.make_slots();
    const auto post = [&](const std::uint64_t* ends, const char* text, std::size_t i,
                          std::size_t article) {
        const auto number = static_cast<std::uint32_t>(article);
        out.post(field(ends, text, i, LOWERED_TITLE), field(ends, text, i, LOWERED_CONTENT),
                 number);
        if (article % 1024 == 1023) {
            out.gather();
        }
    };
    for (std::size_t i = 0; i < base.size(); ++i) {
        post(base.ends, base.text, i, i);
    }
    for (std::size_t i = 0; i < built.size(); ++i) {
        post(built.ends.data(), built.text.data(), i, base.size() + i);
    }
    out.flush_all();
}

}  // namespace

void ArticleIndex::save(const std::string& path) const {
    const Built& built = *tail_;
    const std::size_t based = base_ ? base_->size() : 0;
    const std::uint64_t base_text = based > 0 ? base_->ends[FIELDS * based - 1] : 0;
    const std::uint64_t base_ids =
        based > 0 && base_->id_ends != nullptr ? base_->id_ends[based - 1] & ~NO_ID : 0;

    // A file of an older version has its lists made again.
    std::unique_ptr<Built> again;
    if (base_ && !base_->grams) {
        again = std::make_unique<Built>();
        post_again(*base_, built, *again);
    }
    const ListWriter lists =
        again ? ListWriter(nullptr, *again, 0) : ListWriter(base_.get(), built, based);

    Header header{};
    std::memcpy(header.magic, MAGIC, sizeof MAGIC);
    header.version = FILE_VERSION;
    header.header_bytes = HEADER_BYTES;
    header.articles = size();
    header.text_bytes = base_text + built.text.size();
    header.lists = lists.lists();
    header.id_bytes = base_ids + built.id_text.size();

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
    for (std::size_t i = 0; i < based; ++i) {
        // A file of version 1 has no ids.
        out.write_u64(base_->id_ends != nullptr ? base_->id_ends[i] : NO_ID);
    }
    for (const std::uint64_t e : built.id_ends) {
        out.write_u64(base_ids + e);
    }
    if (base_) {
        out.write(base_->text, base_text);
    }
    out.write(built.text.data(), built.text.size());
    const char zeros[8] = {};
    out.write(zeros, padded8(header.text_bytes) - header.text_bytes);
    if (base_ids > 0) {
        out.write(base_->id_text, base_ids);
    }
    out.write(built.id_text.data(), built.id_text.size());
    out.write(zeros, padded8(header.id_bytes) - header.id_bytes);
    header.posting_bytes = lists.write(out);
    out.flush();
    header.body_checksum = out.digest();
    header.header_checksum = XXH3_64bits(&header, offsetof(Header, header_checksum));
    file.pwrite(&header, sizeof header, 0);
    file.commit();
}

}  // namespace parvenkel::index
