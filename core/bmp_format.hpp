#pragma once
// Reading and writing 24-bit BMP headers, and where the pixels of a
// picture lie. The byte layouts of BMP and QLX are documented at the top of
// include/qlx.h. Row order: QLX row k holds BMP stored row height - 1 - k
// of a bottom-up BMP.

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>

#include "qlx.h"

namespace qlx {

inline constexpr std::size_t bmp_file_header_size = 14;
inline constexpr std::size_t bmp_info_header_size = 40;
inline constexpr std::size_t bmp_core_header_size = 12;
inline constexpr std::size_t bmp_headers_size = bmp_file_header_size + bmp_info_header_size;
// The most header bytes a BMP is read for: the longest information header.
inline constexpr std::size_t bmp_max_headers_size = bmp_file_header_size + 124;
inline constexpr std::uint32_t bmp_uncompressed = 0;
inline constexpr std::size_t bytes_per_pixel = 3;

inline constexpr std::size_t qlx_width = QLX_STANDARD_WIDTH;
inline constexpr std::size_t qlx_height = QLX_STANDARD_HEIGHT;
inline constexpr std::size_t qlx_size = qlx_width * qlx_height;

struct BmpFileHeader {
    std::uint16_t bfType = 0x4D42;  // "BM"
    std::uint32_t bfSize = 0;
    std::uint16_t bfReserved1 = 0;
    std::uint16_t bfReserved2 = 0;
    std::uint32_t bfOffBits = 0;
};

struct BmpInfoHeader {
    std::uint32_t biSize = bmp_info_header_size;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 1;
    std::uint16_t biBitCount = 24;
    std::uint32_t biCompression = bmp_uncompressed;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;
};

std::array<std::uint8_t, bmp_file_header_size> encode_bmp_file_header(const BmpFileHeader& header);
std::array<std::uint8_t, bmp_info_header_size> encode_bmp_info_header(const BmpInfoHeader& header);

// The 54 header bytes of the BMP that palexpand writes for a picture of
// that size; bfSize is the whole file's length.
std::array<std::uint8_t, bmp_headers_size> expanded_bmp_headers(std::size_t width = qlx_width,
                                                                std::size_t height = qlx_height);

// Where the pixels of a picture lie in a run of bytes: a validated 24-bit
// BMP's in its file, or a caller's rows in memory. A picture with no pixels
// is always 0 x 0, whatever its header claimed.
struct PixelLayout {
    std::size_t width = 0;
    std::size_t height = 0;
    bool top_down = false;
    std::uint64_t pixel_offset = 0;  // bfOffBits
    std::uint64_t row_stride = 0;    // a BMP's: width * 3 rounded up to a multiple of 4
    qlx_pixel_format format = QLX_BGR;
};

struct BmpParse {
    qlx_status status = QLX_OK;  // QLX_OK or one of the QLX_BMP_ refusals
    PixelLayout layout;
};

// Validates the headers at the start of a file of `file_size` bytes (`headers`
// holds its first bytes, bmp_max_headers_size of them or the whole file if it
// is shorter) and checks that the pixel array lies wholly inside the file, so
// that nothing sized from the header is allocated for a file that cannot hold it.
BmpParse parse_bmp(std::span<const std::uint8_t> headers, std::uint64_t file_size);
inline BmpParse parse_bmp(std::span<const std::uint8_t> file) { return parse_bmp(file, file.size()); }

// Sizes from a header are worked out in 64 bits, where none can overflow:
// width and height are below 2^31, so a row is below 2^33 bytes, the pixel
// array below 2^64 and the offset below 2^32.
constexpr std::uint64_t row_pixel_bytes(std::size_t width) { return std::uint64_t{width} * bytes_per_pixel; }
constexpr std::uint64_t padded_row_bytes(std::size_t width) { return (row_pixel_bytes(width) + 3) / 4 * 4; }
constexpr std::uint64_t expanded_bmp_file_size(std::size_t width, std::size_t height) {
    return bmp_headers_size + padded_row_bytes(width) * height;
}
// Offset one past the last pixel byte: the last row's padding is not required.
std::uint64_t pixel_array_end(const PixelLayout& layout);
// Bytes from the first pixel to one past the last.
std::uint64_t pixel_span(const PixelLayout& layout);
// A 64-bit size as a memory size, or empty where size_t is narrower (32-bit
// builds) and cannot hold it.
constexpr std::optional<std::size_t> size_in_memory(std::uint64_t size) {
    if (size > std::numeric_limits<std::size_t>::max()) return std::nullopt;
    return static_cast<std::size_t>(size);
}

// The row reversal shared by both directions: stored BMP row `row` of a
// bottom-up picture is QLX row height - 1 - row, and the other way round.
constexpr std::size_t flipped_row(std::size_t row, std::size_t height) { return height - 1 - row; }

}  // namespace qlx
