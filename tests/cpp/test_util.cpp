// The shared tools: the checked LEB128 reader at the edges of each width,
// against the writer.
#include <doctest/doctest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "util/varint.hpp"

namespace {

using parvenkel::util::VarintStatus;

template <class T>
VarintStatus read(const std::string& bytes, T& value, std::size_t& used) {
    const auto* begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* p = begin;
    const VarintStatus status =
        parvenkel::util::read_varint_checked(p, begin + bytes.size(), value);
    used = static_cast<std::size_t>(p - begin);
    return status;
}

}  // namespace

TEST_CASE("the checked reader takes every width's largest number and refuses one bit more") {
    struct Case {
        std::string bytes;
        VarintStatus as32;
        VarintStatus as64;
    };
    const std::vector<Case> cases = {
        {std::string("\x00", 1), VarintStatus::ok, VarintStatus::ok},
        {"\x7f", VarintStatus::ok, VarintStatus::ok},
        {"\x80", VarintStatus::truncated, VarintStatus::truncated},
        {"", VarintStatus::truncated, VarintStatus::truncated},
        {std::string("\x80\x00", 2), VarintStatus::overlong, VarintStatus::overlong},
        {"\xff\xff\xff\xff\x0f", VarintStatus::ok, VarintStatus::ok},         // 2^32 - 1
        {"\x80\x80\x80\x80\x10", VarintStatus::too_large, VarintStatus::ok},  // 2^32
        {"\xff\xff\xff\xff\x8f\x01", VarintStatus::too_large, VarintStatus::ok},
        {"\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", VarintStatus::too_large, VarintStatus::ok},
        {"\x80\x80\x80\x80\x80\x80\x80\x80\x80\x02", VarintStatus::too_large,
         VarintStatus::too_large},
        {"\x80\x80\x80\x80\x80\x80\x80\x80\x80\x81\x01", VarintStatus::too_large,
         VarintStatus::too_large},
    };
    for (const Case& c : cases) {
        CAPTURE(c.bytes.size());
        std::uint32_t small = 7;
        std::uint64_t large = 7;
        std::size_t used = 0;
        CHECK(read(c.bytes, small, used) == c.as32);
        if (c.as32 == VarintStatus::ok) {
            CHECK(used == c.bytes.size());
            std::string again;
            parvenkel::util::put_varint(again, small);
            CHECK(again == c.bytes);
            const auto* p = reinterpret_cast<const unsigned char*>(c.bytes.data());
            CHECK(parvenkel::util::read_varint(p) == small);
            CHECK(parvenkel::util::pack_varint(small).bytes == c.bytes.size());
        } else if (c.as32 != VarintStatus::overlong) {
            CHECK(used == 0);
            CHECK(small == 7);
        }
        CHECK(read(c.bytes, large, used) == c.as64);
        if (c.as64 == VarintStatus::ok) {
            std::string again;
            parvenkel::util::put_varint(again, large);
            CHECK(again == c.bytes);
        }
    }
}
