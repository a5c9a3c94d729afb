#pragma once
// The checks every function of the C API makes of what it is given, and
// the guard that keeps exceptions from crossing the C boundary.

#include <cstddef>
#include <limits>

#include "pixel_format.hpp"
#include "qlx.h"

namespace qlx::api {

// Bytes where `size` bytes are promised: NULL only for none.
inline bool bytes_present(const void* bytes, std::size_t size) { return bytes != nullptr || size == 0; }

inline bool resample_side_fits(std::size_t side) { return side >= 1 && side <= QLX_MAX_RESAMPLE_SIDE; }
inline bool bmp_side_fits(std::size_t side) { return side >= 1 && side <= QLX_MAX_BMP_SIDE; }

// a * b, or false if it overflows size_t.
inline bool multiply_fits(std::size_t a, std::size_t b, std::size_t& product) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return false;
    product = a * b;
    return true;
}

// Where `height` rows of `width` pixels lie, `stride` bytes apart.
struct PixelRows {
    std::size_t row_bytes = 0;  // one row's pixels
    std::size_t span = 0;       // first byte to one past the last
    std::size_t count = 0;      // width * height
};

inline qlx_status measure_rows(std::size_t width, std::size_t height, std::size_t stride, std::size_t pixel_bytes,
                               PixelRows& rows) {
    if (!multiply_fits(width, pixel_bytes, rows.row_bytes)) return QLX_SIZE_OVERFLOW;
    if (stride < rows.row_bytes) return QLX_STRIDE_TOO_SHORT;
    std::size_t before_last = 0;
    if (!multiply_fits(stride, height - 1, before_last) || !multiply_fits(width, height, rows.count) ||
        before_last > std::numeric_limits<std::size_t>::max() - rows.row_bytes) {
        return QLX_SIZE_OVERFLOW;
    }
    rows.span = before_last + rows.row_bytes;
    return QLX_OK;
}

inline qlx_status measure_rows(std::size_t width, std::size_t height, std::size_t stride, qlx_pixel_format format,
                               PixelRows& rows) {
    return measure_rows(width, height, stride, pixel_order(format).bytes, rows);
}

// Runs `convert`, turning any exception (only running out of memory can
// throw) into a status.
template <class Convert>
qlx_status guarded(Convert convert) noexcept {
    try {
        return convert();
    } catch (...) {
        return QLX_OUT_OF_MEMORY;
    }
}

}  // namespace qlx::api
