// Unsigned LEB128 numbers: seven bits a byte, lowest first, the high bit
// set on every byte but the last. One writer and two readers: a checked one
// for bytes from outside (a file, a blob), which never reads past the end
// and reports what is wrong, and an unchecked one for bytes this program
// wrote itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace parvenkel::util {

template <class Out>
void put_varint(Out& out, std::uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<char>((value & 0x7F) | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<char>(value));
}

// A number of at most 32 bits encoded into the low bytes of a 64-bit word,
// for a writer that stores eight bytes at once and keeps only `bytes` of
// them.
struct PackedVarint {
    std::uint64_t word;
    unsigned bytes;
};

inline PackedVarint pack_varint(std::uint32_t value) noexcept {
    std::uint64_t packed = 0;
    unsigned shift = 0;
    while (value >= 0x80) {
        packed |= std::uint64_t{(value & 0x7Fu) | 0x80u} << shift;
        value >>= 7;
        shift += 8;
    }
    packed |= std::uint64_t{value} << shift;
    return {packed, shift / 8 + 1};
}

// Reads a number this program wrote at `p`, and moves `p` past it.
template <class T = std::uint32_t>
T read_varint(const unsigned char*& p) noexcept {
    T value = 0;
    for (unsigned shift = 0;; shift += 7) {
        const unsigned char byte = *p++;
        value |= static_cast<T>(T{byte & 0x7Fu} << shift);
        if (byte < 0x80) {
            return value;
        }
    }
}

enum class VarintStatus {
    ok,
    truncated,  // the bytes end before the number does
    too_large,  // more bits than T holds
    overlong,   // a last byte of 0 after others: not the shortest form (the value is read)
};

// Reads a number from bytes of unknown origin at `p`, never at or past
// `end`. On ok and overlong, `out` is the number and `p` is past it.
template <class T>
VarintStatus read_varint_checked(const unsigned char*& p, const unsigned char* end,
                                 T& out) noexcept {
    constexpr unsigned BITS = std::numeric_limits<T>::digits;
    // Most numbers in a posting list are differences below 128.
    if (p != end && *p < 0x80) {
        out = *p++;
        return VarintStatus::ok;
    }
    T value = 0;
    const unsigned char* q = p;
    for (unsigned shift = 0;; shift += 7) {
        if (q == end) {
            return VarintStatus::truncated;
        }
        const unsigned char byte = *q++;
        // The byte holding the top bits has room for BITS - shift of them
        // and must be the last.
        if (shift + 7 > BITS && byte >= (1u << (BITS - shift))) {
            return VarintStatus::too_large;
        }
        value |= static_cast<T>(T{byte & 0x7Fu} << shift);
        if (byte < 0x80) {
            out = value;
            p = q;
            return byte == 0 && shift > 0 ? VarintStatus::overlong : VarintStatus::ok;
        }
    }
}

}  // namespace parvenkel::util
