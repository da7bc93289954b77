// The segment of an index read from its file.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

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
    const std::uint64_t* id_ends = nullptr;  // none in a file of version 1
    const char* id_text = nullptr;
    const unsigned char* directory = nullptr;  // DirEntry records
    std::size_t trigrams = 0;
    const unsigned char* postings = nullptr;
    std::size_t posting_bytes = 0;

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

}  // namespace parvenkel::index
