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

// Decodes the first number of a list and gives the offset after it.
std::size_t first_varint(const unsigned char* bytes, std::uint32_t& value) noexcept {
    const unsigned char* p = bytes;
    value = util::read_varint(p);
    return static_cast<std::size_t>(p - bytes);
}

// The posting lists of a file: those of `base` (articles numbered from 0,
// none when null) followed, key by key, by those of `built` (numbered from
// `based`). A key in both has the base's list followed by the built one's,
// its first number rewritten as a difference from the base's last.
class ListWriter {
   public:
    ListWriter(const ArticleIndex::Loaded* base, const ArticleIndex::Built& built,
               std::size_t based)
        : base_(base), built_(built), based_(based), base_lists_(base ? base->lists : 0) {
        // The built segment makes a gram's lists of both fields at
        // once; one of them may be empty, and is left out.
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
        // The directory, with the offsets of the lists.
        entries_.resize(merged_.size());
        std::string first;
        for (std::size_t n = 0; n < merged_.size(); ++n) {
            const Merged& m = merged_[n];
            DirEntry& e = entries_[n];
            e = DirEntry{m.key, 0, 0, 0, bytes_};
            if (m.base_entry < base_lists_) {
                const DirEntry from = base_->entry(m.base_entry);
                e.count = from.count;
                e.last = from.last;
                bytes_ += base_->list_end(m.base_entry) - from.offset;
            }
            if (m.list < built.lists.size()) {
                const ArticleIndex::Built::List& list = built.lists[m.list];
                const std::size_t rest = first_bytes(m, first);
                e.count += list.count;
                e.last = static_cast<std::uint32_t>(based + list.last);
                bytes_ += first.size() + list.bytes.size() - rest;
            }
        }
    }

    std::size_t lists() const noexcept { return entries_.size(); }
    std::uint64_t bytes() const noexcept { return bytes_; }

    void write(FileWriter& out) const {
        out.write(entries_.data(), entries_.size() * sizeof(DirEntry));
        std::string first;
        for (const Merged& m : merged_) {
            if (m.base_entry < base_lists_) {
                const DirEntry from = base_->entry(m.base_entry);
                out.write(base_->postings + from.offset,
                          base_->list_end(m.base_entry) - from.offset);
            }
            if (m.list < built_.lists.size()) {
                const std::size_t rest = first_bytes(m, first);
                const ArticleIndex::Built::Bytes& list = built_.lists[m.list].bytes;
                out.write(first.data(), first.size());
                out.write(list.data() + rest, list.size() - rest);
            }
        }
    }

   private:
    struct Merged {
        Key key;
        std::size_t base_entry;  // base_lists_ when none
        std::size_t list;        // built_.lists.size() when none
    };

    // The built list's first number, rewritten into `first`; gives where
    // the rest of its bytes starts.
    std::size_t first_bytes(const Merged& m, std::string& first) const {
        std::uint32_t value = 0;
        const std::size_t rest = first_varint(built_.lists[m.list].bytes.data(), value);
        const std::uint64_t global = based_ + value;
        const std::uint64_t previous =
            m.base_entry < base_lists_ ? base_->entry(m.base_entry).last : 0;
        first.clear();
        util::put_varint(first, static_cast<std::uint32_t>(
                                    m.base_entry < base_lists_ ? global - previous : global));
        return rest;
    }

    const ArticleIndex::Loaded* base_;
    const ArticleIndex::Built& built_;
    std::size_t based_;
    std::size_t base_lists_;
    std::vector<Merged> merged_;
    std::vector<DirEntry> entries_;
    std::uint64_t bytes_ = 0;
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
    header.posting_bytes = lists.bytes();
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
    lists.write(out);
    out.flush();
    header.body_checksum = out.digest();
    header.header_checksum = XXH3_64bits(&header, offsetof(Header, header_checksum));
    file.pwrite(&header, sizeof header, 0);
    file.commit();
}

}  // namespace parvenkel::index
