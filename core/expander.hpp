#pragma once
// Expanding QLX indices to the palette colours of pixels or of a BMP's rows.

#include <cstddef>
#include <cstdint>

#include "qlx.h"

namespace qlx {

// The palette colours of `width` indices as pixels of a known `format`, alpha 255.
void expand_row(const std::uint8_t* indices, std::size_t width, qlx_pixel_format format, std::uint8_t* pixels);

// Stored rows [first_row, first_row + rows) of the BMP of a picture whose
// sides (1 to QLX_MAX_BMP_SIDE), rows and buffers the caller has checked:
// rows bottom first, each padded with zeros.
void write_bmp_rows(const std::uint8_t* indices, std::size_t width, std::size_t height, std::size_t first_row,
                    std::size_t rows, std::uint8_t* out);

}  // namespace qlx
