#include "bmp_writer.hpp"

#include <algorithm>

#include "qlx.h"

namespace pal {
namespace {

// Batches of about this many bytes: writing them costs nothing per batch.
constexpr std::size_t batch_bytes = std::size_t{1} << 21;

// A stored row's length: three bytes a pixel, padded to a multiple of 4.
std::size_t padded_row(std::size_t width) { return (3 * width + 3) / 4 * 4; }

}  // namespace

IoResult<BmpWriter> BmpWriter::create(std::size_t width, std::size_t height) {
    // Sides are at most 16384, so a row of 48 KiB fits in size_t everywhere.
    const std::size_t stride = padded_row(width);
    const std::size_t rows_per_batch = std::max<std::size_t>(1, std::min(batch_bytes / stride, height));
    IoResult<Buffer> batch = Buffer::allocate(QLX_BMP_HEADERS_SIZE + rows_per_batch * stride);
    if (!batch) return failure(batch.error());
    return BmpWriter(width, height, rows_per_batch, std::move(*batch));
}

IoResult<> BmpWriter::write(std::span<const std::uint8_t> indices, OutputFile& output) {
    const std::size_t stride = padded_row(width_);
    std::uint8_t* const batch = batch_.data();
    // The sides were checked when the writer was made, so the library
    // refuses none of these calls.
    if (qlx_bmp_headers(width_, height_, batch, batch_.size()) != QLX_OK) return failure(IoError::failed);
    std::size_t filled = QLX_BMP_HEADERS_SIZE;
    for (std::size_t stored = 0; stored < height_; ++stored) {
        // A BMP stores the bottom row first.
        const std::uint8_t* row = indices.data() + (height_ - 1 - stored) * width_;
        if (qlx_expand(row, width_, 1, QLX_BGR, batch + filled, stride, stride) != QLX_OK) {
            return failure(IoError::failed);
        }
        std::fill(batch + filled + 3 * width_, batch + filled + stride, std::uint8_t{0});
        filled += stride;
        if (filled + stride > batch_.size() || stored + 1 == height_) {
            if (const IoResult<> written = output.write(batch_.bytes().first(filled)); !written) return written;
            filled = 0;
        }
    }
    return {};
}

}  // namespace pal
