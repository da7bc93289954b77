// The scalar decoders of UTF-8 into a str's units, and the scalar count of
// its characters, which every set without vector ones of its own takes.
#include "kernels/utf8_decode.hpp"

#include "text/utf8_units.hpp"

namespace parvenkel::kernels {

namespace {

Utf8Count count(std::string_view text) noexcept { return text::utf8_count_portable(text); }

void latin1(std::string_view text, std::uint8_t* out, std::size_t units) noexcept {
    text::decode_units_portable(text, out, units);
}

void ucs2(std::string_view text, char16_t* out, std::size_t units) noexcept {
    text::decode_units_portable(text, out, units);
}

void ucs4(std::string_view text, char32_t* out, std::size_t units) noexcept {
    text::decode_units_portable(text, out, units);
}

constexpr Decoders DECODERS{count, latin1, ucs2, ucs4};

}  // namespace

template <>
const Decoders& decoders_with<Kernels::SCALAR>() noexcept {
    return DECODERS;
}

}  // namespace parvenkel::kernels
