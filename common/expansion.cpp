// palexpand's conversion, apart from palquant's so that palexpand links
// nothing of the nearest-colour table.
#include <algorithm>
#include <cstring>

#include "conversion.hpp"
#include "palette.hpp"

namespace pal {

bool expand_qlx(std::span<const std::uint8_t> indices, std::size_t width, std::size_t height, const ByteWriter& write) {
    // Sides are at most 16384, so a row fits in size_t everywhere.
    const auto stride = static_cast<std::size_t>(padded_row_bytes(width));
    const std::size_t rows_per_batch = std::max<std::size_t>(1, std::min(batch_bytes / stride, height));
    const std::size_t capacity = bmp_headers_size + rows_per_batch * stride;
    // Each pixel is stored as four bytes, the fourth overwritten by what
    // follows; the byte after the batch takes the last pixel's fourth.
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(capacity + 1);
    if (!buffer) return false;
    const auto headers = expanded_bmp_headers(width, height);
    std::copy(headers.begin(), headers.end(), buffer->data());
    std::size_t filled = bmp_headers_size;
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* index = indices.data() + flipped_row(row, height) * width;
        std::uint8_t* out = buffer->data() + filled;
        for (std::size_t column = 0; column < width; ++column, out += 3) {
            std::memcpy(out, &palette_bgr_words[index[column]], 4);
        }
        std::fill(out, buffer->data() + filled + stride, std::uint8_t{0});
        filled += stride;
        if (filled + stride > capacity) {
            if (!write(buffer->bytes().first(filled))) return false;
            filled = 0;
        }
    }
    return filled == 0 || write(buffer->bytes().first(filled));
}

std::string qlx_too_short_message(std::size_t picture_bytes) {
    return "qlxfile is shorter than " + std::to_string(picture_bytes) + " bytes\n";
}

}  // namespace pal
