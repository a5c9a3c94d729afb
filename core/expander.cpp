// palexpand's conversion, apart from palquant's so that a program that only
// expands links nothing of the nearest-colour table.
#include "expander.hpp"

#include <algorithm>
#include <cstring>

#include "bmp_format.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"

namespace qlx {
namespace {

template <qlx_pixel_format F>
void expand_row_as(const std::uint8_t* indices, std::size_t width, std::uint8_t* pixels) {
    static constexpr PixelOrder order = pixel_order(F);
    if constexpr (F == QLX_BGR) {
        // Each pixel as a four-byte word whose fourth byte the next pixel
        // overwrites; the last pixel's three bytes go on their own.
        for (std::size_t x = 0; x + 1 < width; ++x) std::memcpy(pixels + 3 * x, &palette_bgr_words[indices[x]], 4);
        if (width > 0) std::memcpy(pixels + 3 * (width - 1), &palette_bgr_words[indices[width - 1]], 3);
    } else {
        for (std::size_t x = 0; x < width; ++x, pixels += order.bytes) {
            const Colour colour = palette_colour(indices[x]);
            pixels[order.red] = colour.red;
            pixels[order.green] = colour.green;
            pixels[order.blue] = colour.blue;
            if constexpr (order.has_alpha) pixels[order.alpha] = 255;
        }
    }
}

}  // namespace

void expand_row(const std::uint8_t* indices, std::size_t width, qlx_pixel_format format, std::uint8_t* pixels) {
    switch (format) {
        case QLX_RGB: expand_row_as<QLX_RGB>(indices, width, pixels); break;
        case QLX_BGR: expand_row_as<QLX_BGR>(indices, width, pixels); break;
        case QLX_RGBA: expand_row_as<QLX_RGBA>(indices, width, pixels); break;
        case QLX_BGRA: expand_row_as<QLX_BGRA>(indices, width, pixels); break;
    }
}

void write_bmp_rows(const std::uint8_t* indices, std::size_t width, std::size_t height, std::size_t first_row,
                    std::size_t rows, std::uint8_t* out) {
    // Sides are at most 16384, so a row of 48 KiB fits in size_t everywhere.
    const auto stride = static_cast<std::size_t>(padded_row_bytes(width));
    const std::size_t row_bytes = 3 * width;
    for (std::size_t stored = first_row; stored < first_row + rows; ++stored, out += stride) {
        expand_row_as<QLX_BGR>(indices + (height - 1 - stored) * width, width, out);
        std::fill(out + row_bytes, out + stride, std::uint8_t{0});
    }
}

}  // namespace qlx
