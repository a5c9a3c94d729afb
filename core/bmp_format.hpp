#pragma once
// Reading and writing 24-bit BMP headers. The byte layouts of BMP and QLX
// are documented at the top of include/qlx.h. Row order: QLX row k holds
// stored row height - 1 - k of a bottom-up BMP.

#include <cstddef>
#include <cstdint>
#include <span>

#include "qlx.h"
#include "result.hpp"

namespace qlx {

inline constexpr std::size_t bmp_file_header_size = 14;
inline constexpr std::size_t bmp_info_header_size = 40;
inline constexpr std::size_t bmp_core_header_size = 12;
static_assert(QLX_BMP_HEADERS_SIZE == bmp_file_header_size + bmp_info_header_size);
static_assert(QLX_BMP_MAX_HEADERS_SIZE == bmp_file_header_size + 124);  // the longest information header
inline constexpr std::uint32_t bmp_uncompressed = 0;
inline constexpr std::size_t bytes_per_pixel = 3;

// Writes the QLX_BMP_HEADERS_SIZE bytes of the BMP that palexpand writes for
// a picture of these sides (each 1 to QLX_MAX_BMP_SIDE); bfSize is the
// whole file's length.
void write_bmp_headers(std::size_t width, std::size_t height, std::uint8_t* out);

// Validates the headers at the start of a file of `file_size` bytes (`headers`
// holds its first QLX_BMP_MAX_HEADERS_SIZE bytes, or the whole file if it is
// shorter) and checks that the pixel array lies wholly inside the file, so
// that nothing sized from the header is allocated for a file that cannot
// hold it. A picture with no pixels is 0 x 0, whatever its header claimed.
Result<qlx_bmp_layout> parse_bmp(std::span<const std::uint8_t> headers, std::uint64_t file_size);

// Sizes from a header are worked out in 64 bits, where none can overflow:
// width and height are below 2^31, so a row is below 2^33 bytes, the pixel
// array below 2^64 and the offset below 2^32.
constexpr std::uint64_t row_pixel_bytes(std::size_t width) { return std::uint64_t{width} * bytes_per_pixel; }
constexpr std::uint64_t padded_row_bytes(std::size_t width) { return (row_pixel_bytes(width) + 3) / 4 * 4; }
constexpr std::uint64_t expanded_bmp_file_size(std::size_t width, std::size_t height) {
    return QLX_BMP_HEADERS_SIZE + padded_row_bytes(width) * height;
}
// Bytes from the first pixel to one past the last: the last row's padding
// is not required.
std::uint64_t pixel_span(const qlx_bmp_layout& layout);

}  // namespace qlx
