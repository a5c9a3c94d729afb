// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// Expanding: indices to pixels and to BMPs.
#include <cstdint>

#include "api_checks.hpp"
#include "bmp_format.hpp"
#include "expander.hpp"
#include "qlx.h"

using qlx::api::bytes_present;
using qlx::api::guarded;
using qlx::api::measure_rows;
using qlx::api::PixelRows;

extern "C" {

QLX_API size_t qlx_bmp_size(size_t width, size_t height) {
    if (!qlx::api::bmp_side_fits(width) || !qlx::api::bmp_side_fits(height)) return 0;
    return static_cast<size_t>(qlx::expanded_bmp_file_size(width, height));  // at most 805 MB
}

QLX_API qlx_status qlx_bmp_headers(size_t width, size_t height, uint8_t* headers, size_t headers_capacity) {
    if (!bytes_present(headers, headers_capacity)) return QLX_NULL_POINTER;
    if (!qlx::api::bmp_side_fits(width) || !qlx::api::bmp_side_fits(height)) return QLX_SIDE_OUT_OF_RANGE;
    if (headers_capacity < QLX_BMP_HEADERS_SIZE) return QLX_CAPACITY_TOO_SMALL;
    qlx::write_bmp_headers(width, height, headers);
    return QLX_OK;
}

QLX_API qlx_status qlx_to_bmp(const uint8_t* qlx, size_t qlx_size, size_t width, size_t height, uint8_t* bmp,
                              size_t bmp_capacity) {
    if (!bytes_present(qlx, qlx_size) || !bytes_present(bmp, bmp_capacity)) return QLX_NULL_POINTER;
    const size_t bmp_size = qlx_bmp_size(width, height);
    if (bmp_size == 0) return QLX_SIDE_OUT_OF_RANGE;
    if (qlx_size / width < height) return QLX_INPUT_TOO_SHORT;
    if (bmp_capacity < bmp_size) return QLX_CAPACITY_TOO_SMALL;
    qlx::write_bmp_headers(width, height, bmp);
    qlx::write_bmp_rows(qlx, width, height, 0, height, bmp + QLX_BMP_HEADERS_SIZE);
    return QLX_OK;
}

QLX_API qlx_status qlx_to_bmp_rows(const uint8_t* qlx, size_t qlx_size, size_t width, size_t height, size_t first_row,
                                   size_t rows, uint8_t* out, size_t out_capacity) {
    if (!bytes_present(qlx, qlx_size) || !bytes_present(out, out_capacity)) return QLX_NULL_POINTER;
    if (!qlx::api::bmp_side_fits(width) || !qlx::api::bmp_side_fits(height)) return QLX_SIDE_OUT_OF_RANGE;
    if (qlx_size / width < height) return QLX_INPUT_TOO_SHORT;
    if (first_row > height || rows > height - first_row) return QLX_TOO_MANY_ROWS;
    // At most 16384 rows of 48 KiB: the product fits 32 bits.
    if (out_capacity < rows * static_cast<size_t>(qlx::padded_row_bytes(width))) return QLX_CAPACITY_TOO_SMALL;
    qlx::write_bmp_rows(qlx, width, height, first_row, rows, out);
    return QLX_OK;
}

QLX_API qlx_status qlx_expand(const uint8_t* indices, size_t width, size_t height, qlx_pixel_format format,
                              uint8_t* pixels, size_t stride, size_t pixels_capacity) {
    if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
    if (!bytes_present(pixels, pixels_capacity)) return QLX_NULL_POINTER;
    if (width == 0 || height == 0) return QLX_OK;
    if (indices == nullptr) return QLX_NULL_POINTER;
    PixelRows rows;
    if (const qlx_status status = measure_rows(width, height, stride, format, rows); status != QLX_OK) return status;
    if (pixels_capacity < rows.span) return QLX_CAPACITY_TOO_SMALL;
    for (size_t y = 0; y < height; ++y) qlx::expand_row(indices + y * width, width, format, pixels + y * stride);
    return QLX_OK;
}

}  // extern "C"
