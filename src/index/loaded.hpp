// The segment of an index read from its file.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "index/format.hpp"
#include "index/index.hpp"

namespace parvenkel::index {

// Articles read from a file into memory of their own, checked when it was
// read.
struct ArticleIndex::Loaded {
    std::string path;
    void* map = nullptr;
    std::size_t map_bytes = 0;
    std::size_t articles = 0;
    const std::uint64_t* ends = nullptr;
    const char* text = nullptr;
    std::vector<std::uint64_t> shapes;       // of the title and the content, per article
    const std::uint64_t* id_ends = nullptr;  // none in a file of version 1
    const char* id_text = nullptr;
    const unsigned char* directory = nullptr;  // DirEntry records
    std::size_t lists = 0;
    // Whether the titles and the contents have lists of their own (version
    // 3 on); before, one list a trigram holds the articles that have it in
    // either, a superset of each field's.
    bool split = false;
    // Whether the keys are grams (version 4 on) or trigrams of bytes.
    bool grams = false;
    // Whether the lists are packed (version 4 on: see Postings).
    bool packed = false;
    const unsigned char* postings = nullptr;
    std::size_t posting_bytes = 0;
    // The directory's entries by key, made on load: an open-addressed
    // table of key << 32 | (entry + 1), 0 where empty, at most half full.
    // A query's lists are found in a read or two each, where a binary
    // search through the help pages' 128,778 entries took seventeen, most
    // of them misses of the cache (a tenth of the time of a thousand topic
    // queries).
    std::vector<std::uint64_t> by_key;

    ~Loaded() {
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
    static std::size_t slot_of(Key key, std::size_t mask) noexcept {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15) >> 32) & mask;
    }
    // Makes by_key from the directory (whose keys are distinct).
    void index_keys() {
        std::size_t size = 16;
        while (size < 2 * lists) {
            size *= 2;
        }
        by_key.assign(size, 0);
        const std::size_t mask = size - 1;
        for (std::size_t k = 0; k < lists; ++k) {
            const Key key = entry(k).key;
            std::size_t s = slot_of(key, mask);
            while (by_key[s] != 0) {
                s = (s + 1) & mask;
            }
            by_key[s] = (std::uint64_t{key} << 32) | (k + 1);
        }
    }
    // The entry of `key`, or `lists` when there is none.
    std::size_t find_entry(Key key) const noexcept {
        const std::size_t mask = by_key.size() - 1;
        for (std::size_t s = slot_of(key, mask);; s = (s + 1) & mask) {
            const std::uint64_t e = by_key[s];
            if (e == 0) {
                return lists;
            }
            if (static_cast<Key>(e >> 32) == key) {
                return static_cast<std::size_t>(e & 0xFFFFFFFF) - 1;
            }
        }
    }
    std::uint64_t list_end(std::size_t k) const noexcept {
        return k + 1 < lists ? entry(k + 1).offset : posting_bytes;
    }
    // The list of gram `t` in field `which` (TITLE or CONTENT); in a
    // file of version 1 or 2, that of both fields.
    Postings find(unsigned which, Trigram t) const noexcept {
        const std::size_t k = find_entry(split ? list_key(which, t) : t);
        if (k == lists) {
            return {};
        }
        const DirEntry e = entry(k);
        return {postings + e.offset, static_cast<std::size_t>(list_end(k) - e.offset), e.count,
                packed};
    }
};

}  // namespace parvenkel::index
