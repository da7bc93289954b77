// Loading an index: its file read into memory and checked through, so
// that no offset in it reaches outside and no text is malformed.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "index/built.hpp"
#include "index/format.hpp"
#include "index/index.hpp"
#include "index/loaded.hpp"
#include "index/shapes.hpp"
#include "text/utf8.hpp"
#include "util/file.hpp"

#define XXH_INLINE_ALL
#include <xxhash.h>

namespace parvenkel::index {

std::unique_ptr<ArticleIndex> ArticleIndex::load(const std::string& path) {
    auto mapped = std::make_unique<Loaded>();
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
        // In large pages where the system has them: queries walk the text
        // and the lists of the whole file, which in small pages spend a
        // good part of their time on address translation (a mapping of the
        // file's own pages would have them in large folios).
        ::madvise(map, static_cast<std::size_t>(status.size), MADV_HUGEPAGE);
        mapped->map = map;
        mapped->map_bytes = static_cast<std::size_t>(status.size);
        // A file cut short meanwhile reads shorter, and is refused below.
        file_bytes = file.read(map, mapped->map_bytes);
    }
    const auto* bytes = static_cast<const unsigned char*>(mapped->map);

    if (std::memcmp(bytes, MAGIC, sizeof MAGIC) != 0) {
        throw IndexFileError("not a parvenkel article index (wrong magic number)");
    }
    std::uint32_t version = 0;
    if (file_bytes >= sizeof MAGIC + sizeof version) {
        std::memcpy(&version, bytes + sizeof MAGIC, sizeof version);
    }
    const std::size_t header_bytes = version == 1 ? HEADER_V1_BYTES : HEADER_BYTES;
    if (file_bytes < header_bytes) {
        throw IndexFileError("truncated: " + std::to_string(file_bytes) +
                             " bytes, shorter than the header");
    }
    if (version < 1 || version > FILE_VERSION) {
        throw IndexFileError("unsupported format version " + std::to_string(version) +
                             " (this version of parvenkel reads versions 1 to " +
                             std::to_string(FILE_VERSION) + ")");
    }
    // Lists of their own for the titles and the contents from version 3 on.
    const bool split = version >= 3;
    const std::uint64_t max_key = split ? KEYS : TRIGRAMS;
    Header header{};
    bool header_checks = false;
    if (version == 1) {
        HeaderV1 old;
        std::memcpy(&old, bytes, sizeof old);
        header_checks =
            old.header_checksum == XXH3_64bits(&old, offsetof(HeaderV1, header_checksum));
        header.header_bytes = old.header_bytes;
        header.articles = old.articles;
        header.text_bytes = old.text_bytes;
        header.lists = old.lists;
        header.posting_bytes = old.posting_bytes;
        header.body_checksum = old.body_checksum;
    } else {
        std::memcpy(&header, bytes, sizeof header);
        header_checks =
            header.header_checksum == XXH3_64bits(&header, offsetof(Header, header_checksum)) &&
            header.reserved == 0;
    }
    if (!header_checks || header.header_bytes != header_bytes) {
        throw IndexFileError("damaged header (checksum mismatch)");
    }
    // The size the header announces, computed without overflow.
    constexpr std::uint64_t LIMIT = std::uint64_t{1} << 56;
    if (header.articles > MAX_ARTICLES || header.text_bytes > LIMIT || header.lists > max_key ||
        header.posting_bytes > LIMIT || header.id_bytes > LIMIT) {
        throw IndexFileError("damaged header (sizes out of range)");
    }
    const std::uint64_t id_offsets = version == 1 ? 0 : 8 * header.articles;
    const std::uint64_t expected = header_bytes + 8 * FIELDS * header.articles + id_offsets +
                                   padded8(header.text_bytes) + padded8(header.id_bytes) +
                                   sizeof(DirEntry) * header.lists + header.posting_bytes;
    if (file_bytes < expected) {
        throw IndexFileError("truncated: " + std::to_string(file_bytes) + " bytes of " +
                             std::to_string(expected));
    }
    if (file_bytes > expected) {
        throw IndexFileError(std::to_string(file_bytes - expected) +
                             " bytes of unknown data after the index");
    }
    if (XXH3_64bits(bytes + header_bytes, file_bytes - header_bytes) != header.body_checksum) {
        throw IndexFileError("damaged (checksum mismatch)");
    }
    const unsigned char* at = bytes + header_bytes;
    mapped->articles = static_cast<std::size_t>(header.articles);
    mapped->ends = reinterpret_cast<const std::uint64_t*>(at);
    at += 8 * FIELDS * header.articles;
    if (version != 1) {
        mapped->id_ends = reinterpret_cast<const std::uint64_t*>(at);
        at += id_offsets;
    }
    mapped->text = reinterpret_cast<const char*>(at);
    at += padded8(header.text_bytes);
    mapped->id_text = reinterpret_cast<const char*>(at);
    at += padded8(header.id_bytes);
    // The directory before the lists up to version 3, after them since.
    const bool packed = version >= 4;
    mapped->lists = static_cast<std::size_t>(header.lists);
    mapped->split = split;
    mapped->grams = packed;
    mapped->packed = packed;
    mapped->posting_bytes = static_cast<std::size_t>(header.posting_bytes);
    if (packed) {
        mapped->postings = at;
        mapped->directory = at + header.posting_bytes;
    } else {
        mapped->directory = at;
        mapped->postings = at + sizeof(DirEntry) * header.lists;
    }

    // A file with a good checksum but inconsistent contents was not written
    // by this code: checked all the same, so that no offset reaches outside
    // the file and no text is malformed.
    std::uint64_t previous = 0;
    mapped->shapes.reserve(2 * mapped->articles);
    for (std::size_t k = 0; k < FIELDS * mapped->articles; ++k) {
        const std::uint64_t end = mapped->ends[k];
        if (end < previous || end > header.text_bytes) {
            throw IndexFileError("inconsistent text offsets");
        }
        // The fields given (not the lowercase ones, which are only compared
        // byte for byte) become str objects: they must be UTF-8, and their
        // shape is counted while they are in the cache.
        if (k % FIELDS <= CONTENT) {
            const std::string_view given(mapped->text + previous,
                                         static_cast<std::size_t>(end - previous));
            std::size_t chars = 0;
            unsigned char top = 0;
            if (!text::is_valid_utf8(given, chars, top)) {
                throw IndexFileError("malformed UTF-8 in article " + std::to_string(k / FIELDS));
            }
            mapped->shapes.push_back(pack_shape(text::utf8_shape(chars, top)));
        }
        previous = end;
    }
    if (previous != header.text_bytes) {
        throw IndexFileError("inconsistent text offsets");
    }
    if (mapped->id_ends != nullptr) {
        previous = 0;
        for (std::size_t k = 0; k < mapped->articles; ++k) {
            const std::uint64_t end = mapped->id_ends[k] & ~NO_ID;
            const bool none = (mapped->id_ends[k] & NO_ID) != 0;
            if (end < previous || end > header.id_bytes || (none && end != previous)) {
                throw IndexFileError("inconsistent id offsets");
            }
            if (!text::is_valid_utf8(
                    {mapped->id_text + previous, static_cast<std::size_t>(end - previous)})) {
                throw IndexFileError("malformed UTF-8 in the id of article " + std::to_string(k));
            }
            previous = end;
        }
        if (previous != header.id_bytes) {
            throw IndexFileError("inconsistent id offsets");
        }
    }
    for (std::size_t k = 0; k < mapped->lists; ++k) {
        const DirEntry e = mapped->entry(k);
        const bool ordered =
            k == 0 ? e.offset == 0
                   : e.key > mapped->entry(k - 1).key && e.offset > mapped->entry(k - 1).offset;
        if (!ordered || e.key >= max_key || e.offset >= mapped->posting_bytes || e.count == 0 ||
            e.last >= mapped->articles) {
            throw IndexFileError("inconsistent trigram directory");
        }
    }
    mapped->index_keys();
    auto index = std::make_unique<ArticleIndex>();
    index->base_ = std::move(mapped);
    return index;
}

}  // namespace parvenkel::index
