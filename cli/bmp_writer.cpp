#include "bmp_writer.hpp"

#include <algorithm>

#include "qlx.h"

namespace cli {
namespace {

// Batches of about this many bytes: writing them costs nothing per batch.
constexpr std::size_t batch_bytes = std::size_t{1} << 21;

// A stored row's length, as the library lays the BMP out: a one-row BMP
// less its headers.
std::size_t padded_row(std::size_t width) { return qlx_bmp_size(width, 1) - QLX_BMP_HEADERS_SIZE; }

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
    // The sides were checked when the writer was made and the caller made
    // sure of the indices, so the library refuses none of these calls.
    if (qlx_bmp_headers(width_, height_, batch, batch_.size()) != QLX_OK) return failure(IoError::failed);
    std::size_t offset = QLX_BMP_HEADERS_SIZE;  // the first batch follows the headers
    for (std::size_t first = 0; first < height_; first += rows_per_batch_) {
        const std::size_t rows = std::min(rows_per_batch_, height_ - first);
        if (qlx_to_bmp_rows(indices.data(), indices.size(), width_, height_, first, rows, batch + offset,
                            batch_.size() - offset) != QLX_OK) {
            return failure(IoError::failed);
        }
        if (const IoResult<> written = output.write(batch_.bytes().first(offset + rows * stride)); !written) {
            return written;
        }
        offset = 0;
    }
    return {};
}

}  // namespace cli
