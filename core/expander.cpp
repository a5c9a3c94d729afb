// palexpand's conversion, apart from palquant's so that palexpand links
// nothing of the nearest-colour table.
#include "expander.hpp"

#include <algorithm>
#include <cstring>

#include "bmp_format.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"

namespace qlx {

BmpExpander::Created BmpExpander::create(std::size_t width, std::size_t height) {
    if (width == 0 || height == 0 || width > QLX_MAX_BMP_SIDE || height > QLX_MAX_BMP_SIDE) {
        return {QLX_SIDE_OUT_OF_RANGE, {}};
    }
    // Sides are at most 16384, so a row of 48 KiB fits in size_t everywhere.
    const auto stride = static_cast<std::size_t>(padded_row_bytes(width));
    const std::size_t rows_per_batch = std::max<std::size_t>(1, std::min(batch_bytes / stride, height));
    // Each pixel is stored as four bytes, the fourth overwritten by what
    // follows; the byte after the batch takes the last pixel's fourth.
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(bmp_headers_size + rows_per_batch * stride + 1);
    if (!buffer) return {QLX_OUT_OF_MEMORY, {}};
    return {QLX_OK, BmpExpander(width, height, rows_per_batch, std::move(*buffer))};
}

qlx_status BmpExpander::check_input(std::span<const std::uint8_t> indices) const {
    // Both sides are at most 2^14, so the product fits in 32 bits.
    return indices.size() < width_ * height_ ? QLX_INPUT_TOO_SHORT : QLX_OK;
}

bool BmpExpander::run(std::span<const std::uint8_t> indices, const ByteWriter& write) {
    const auto stride = static_cast<std::size_t>(padded_row_bytes(width_));
    const std::size_t capacity = bmp_headers_size + rows_per_batch_ * stride;
    std::uint8_t* const batch = buffer_.data();
    const auto headers = expanded_bmp_headers(width_, height_);
    std::copy(headers.begin(), headers.end(), batch);
    std::size_t filled = bmp_headers_size;
    for (std::size_t row = 0; row < height_; ++row) {
        const std::uint8_t* index = indices.data() + flipped_row(row, height_) * width_;
        std::uint8_t* out = batch + filled;
        for (std::size_t column = 0; column < width_; ++column, out += 3) {
            std::memcpy(out, &palette_bgr_words[index[column]], 4);
        }
        std::fill(out, batch + filled + stride, std::uint8_t{0});
        filled += stride;
        if (filled + stride > capacity) {
            if (!write(buffer_.bytes().first(filled))) return false;
            filled = 0;
        }
    }
    return filled == 0 || write(buffer_.bytes().first(filled));
}

void expand_row(const std::uint8_t* indices, std::size_t width, qlx_pixel_format format, std::uint8_t* pixels) {
    const PixelOrder order = pixel_order(format);
    for (std::size_t x = 0; x < width; ++x, pixels += order.bytes) {
        const Colour colour = palette_colour(indices[x]);
        pixels[order.red] = colour.red;
        pixels[order.green] = colour.green;
        pixels[order.blue] = colour.blue;
        if (order.has_alpha) pixels[order.alpha] = 255;
    }
}

}  // namespace qlx
