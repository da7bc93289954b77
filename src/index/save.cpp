// Saving an index: both segments merged into one file, written in place
// of the old one only once complete.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

}  // namespace

void ArticleIndex::save(const std::string& path) const {
    const Built& built = *tail_;
    const std::size_t based = base_ ? base_->size() : 0;
    const std::uint64_t base_text = based > 0 ? base_->ends[FIELDS * based - 1] : 0;
    const std::uint64_t base_ids =
        based > 0 && base_->id_ends != nullptr ? base_->id_ends[based - 1] & ~NO_ID : 0;

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

}  // namespace parvenkel::index
