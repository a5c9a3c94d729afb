#include "bmp_format.hpp"

#include <algorithm>
#include <array>
#include <limits>

namespace qlx {
namespace {

void put_le16(std::uint8_t* out, std::uint16_t value) {
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
}

void put_le32(std::uint8_t* out, std::size_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint16_t get_le16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::uint32_t get_le32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) | static_cast<std::uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 16 | static_cast<std::uint32_t>(bytes[offset + 3]) << 24;
}

std::int32_t get_le32_signed(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::int32_t>(get_le32(bytes, offset));
}

// File offsets of the fields read and written.
constexpr std::size_t off_bits_offset = 10;
constexpr std::size_t info_size_offset = 14;
constexpr std::size_t width_offset = 18;
constexpr std::size_t height_offset = 22;
constexpr std::size_t planes_offset = 26;
constexpr std::size_t bit_count_offset = 28;
constexpr std::size_t compression_offset = 30;
constexpr std::size_t core_width_offset = 18;
constexpr std::size_t core_height_offset = 20;
constexpr std::size_t core_bit_count_offset = 24;

// Longer information headers extend the 40-byte one; the pixels may not
// start inside them. An unknown size is read as the 40-byte header, as it
// always was.
std::size_t info_header_size(std::uint32_t declared) {
    constexpr std::array<std::uint32_t, 6> extended_sizes = {40, 52, 56, 64, 108, 124};
    const bool known = std::find(extended_sizes.begin(), extended_sizes.end(), declared) != extended_sizes.end();
    return known ? declared : bmp_info_header_size;
}

}  // namespace

void write_bmp_headers(std::size_t width, std::size_t height, std::uint8_t* out) {
    // Sides of at most QLX_MAX_BMP_SIDE keep the file's length below 2^32.
    std::fill_n(out, QLX_BMP_HEADERS_SIZE, std::uint8_t{0});
    out[0] = 'B';
    out[1] = 'M';
    put_le32(out + 2, static_cast<std::uint32_t>(expanded_bmp_file_size(width, height)));  // bfSize
    put_le32(out + off_bits_offset, QLX_BMP_HEADERS_SIZE);
    put_le32(out + info_size_offset, bmp_info_header_size);
    put_le32(out + width_offset, static_cast<std::uint32_t>(width));
    put_le32(out + height_offset, static_cast<std::uint32_t>(height));
    put_le16(out + planes_offset, 1);
    put_le16(out + bit_count_offset, 24);
}

std::uint64_t pixel_span(const qlx_bmp_layout& layout) {
    if (layout.width == 0 || layout.height == 0) return 0;
    return layout.row_stride * (layout.height - 1) + row_pixel_bytes(layout.width);
}

Result<qlx_bmp_layout> parse_bmp(std::span<const std::uint8_t> headers, std::uint64_t file_size) {
    // The bit count is judged first, as soon as the bytes that hold it exist.
    if (headers.size() < info_size_offset + 4) return failure(QLX_BMP_HEADERS_CUT_SHORT);
    const std::uint32_t declared_info_size = get_le32(headers, info_size_offset);
    const bool core = declared_info_size == bmp_core_header_size;
    const std::size_t bit_count_at = core ? core_bit_count_offset : bit_count_offset;
    if (headers.size() < bit_count_at + 2) return failure(QLX_BMP_HEADERS_CUT_SHORT);
    if (get_le16(headers, bit_count_at) != 24) return failure(QLX_BMP_NOT_24_BIT);
    // Such a header would be read as 40 bytes, taking pixels for fields.
    if (!core && declared_info_size < bmp_info_header_size) return failure(QLX_BMP_INFO_HEADER_TOO_SHORT);

    const std::size_t headers_end =
        bmp_file_header_size + (core ? bmp_core_header_size : info_header_size(declared_info_size));
    if (headers.size() < headers_end) return failure(QLX_BMP_HEADERS_CUT_SHORT);

    qlx_bmp_layout layout{};
    if (core) {
        layout.width = get_le16(headers, core_width_offset);
        layout.height = get_le16(headers, core_height_offset);
    } else {
        const std::int32_t width = get_le32_signed(headers, width_offset);
        const std::int32_t height = get_le32_signed(headers, height_offset);
        if (width < 0) return failure(QLX_BMP_NEGATIVE_WIDTH);
        // Its magnitude has no 32-bit form, so it cannot mark a top-down picture.
        if (height == std::numeric_limits<std::int32_t>::min()) return failure(QLX_BMP_HEIGHT_OUT_OF_RANGE);
        if (get_le32(headers, compression_offset) != bmp_uncompressed) return failure(QLX_BMP_COMPRESSED);
        layout.width = static_cast<std::size_t>(width);
        layout.top_down = height < 0 ? 1 : 0;
        layout.height = static_cast<std::size_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
    }

    if (layout.width == 0 || layout.height == 0) layout = {};  // nothing to read, however many empty rows

    layout.pixel_offset = get_le32(headers, off_bits_offset);
    if (layout.pixel_offset < headers_end || layout.pixel_offset > file_size) {
        return failure(QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE);
    }
    layout.row_stride = padded_row_bytes(layout.width);
    if (layout.pixel_offset + pixel_span(layout) > file_size) return failure(QLX_BMP_PIXEL_DATA_CUT_SHORT);
    return layout;
}

}  // namespace qlx
