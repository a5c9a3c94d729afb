#pragma once
// The two conversions, on whole pictures in memory.

#include <cstdint>
#include <span>

#include "image_formats.hpp"

namespace pal {

// Writes the nearest palette index of every pixel of the BMP `file`, laid out
// as `layout` says, into `indices` (width * height bytes) in QLX order.
void quantise_bmp(std::span<const std::uint8_t> file, const BmpLayout& layout, std::span<std::uint8_t> indices);

// Writes the complete 192054-byte BMP of a 320 x 200 QLX picture.
void expand_qlx(std::span<const std::uint8_t, qlx_size> indices, std::span<std::uint8_t, expanded_bmp_size> bmp);

// The message that refuses a BMP for `error`.
const char* bmp_error_message(BmpError error);

}  // namespace pal
