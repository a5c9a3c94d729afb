// Indexed 8-bit BMP, and palexpand's 24-bit BMP for --truecolour.

#include <cstring>
#include <string>

#include "encoding.hpp"

namespace qlxcmd {
namespace {

// Rows go out in batches of about this many bytes, so that a large BMP
// needs no copy of itself in memory.
constexpr std::size_t batch_bytes = 1u << 20;
// bfSize and biSizeImage are 32-bit: a BMP is shorter than 4 GiB.
constexpr std::uint64_t max_bmp_size = 0xffffffff;
constexpr std::size_t bmp_headers_size = 54;

void put_le(std::uint8_t* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

// A bottom-up BMP of 8 bits with the palette as its colour table, or of 24
// bits: the second is byte for byte what palexpand writes.
Outcome<> write_bmp(Indices indices, const PictureOutput& output, sys::OutputFile& file) {
    const bool truecolour = output.truecolour;
    const unsigned bits = truecolour ? 24 : 8;
    const std::uint64_t stride = (static_cast<std::uint64_t>(indices.width) * bits + 31) / 32 * 4;
    const std::uint64_t table_size = truecolour ? 0 : 256 * 4;
    const std::uint64_t pixel_offset = bmp_headers_size + table_size;
    if (indices.width == 0 || indices.height == 0) return refusal("a BMP cannot have a side of 0");
    if (indices.width > 0x7fffffff || indices.height > 0x7fffffff ||
        stride * indices.height > max_bmp_size - pixel_offset) {
        return refusal("a BMP is shorter than 4 GiB: " + std::to_string(indices.width) + " x " +
                       std::to_string(indices.height) + " is too large for one");
    }
    std::uint8_t headers[bmp_headers_size + 256 * 4] = {};
    headers[0] = 'B';
    headers[1] = 'M';
    put_le(headers + 2, pixel_offset + stride * indices.height, 4);
    put_le(headers + 10, pixel_offset, 4);
    put_le(headers + 14, 40, 4);
    put_le(headers + 18, indices.width, 4);
    put_le(headers + 22, indices.height, 4);
    put_le(headers + 26, 1, 2);
    put_le(headers + 28, bits, 2);
    if (!truecolour) {
        put_le(headers + 34, stride * indices.height, 4);
        put_le(headers + 46, 256, 4);
        for (unsigned i = 0; i < 256; ++i) {
            const auto [red, green, blue] = rgb_of(i);
            std::uint8_t* entry = headers + bmp_headers_size + 4 * i;
            entry[0] = blue;
            entry[1] = green;
            entry[2] = red;
        }
    }
    if (auto result = write_bytes(file, headers, static_cast<std::size_t>(pixel_offset)); !result) return result;

    const auto row_size = static_cast<std::size_t>(stride);
    const std::size_t rows_a_batch = std::max<std::size_t>(1, batch_bytes / row_size);
    auto batch = allocate(rows_a_batch * row_size);
    if (!batch) return refusal(batch.error());
    std::memset(batch->data(), 0, batch->size());  // the padding
    for (std::size_t stored = 0; stored < indices.height; stored += rows_a_batch) {
        const std::size_t rows = std::min(rows_a_batch, indices.height - stored);
        for (std::size_t i = 0; i < rows; ++i) {
            const std::uint8_t* source = indices.data + (indices.height - 1 - stored - i) * indices.width;
            std::uint8_t* row = batch->data() + i * row_size;
            if (!truecolour) {
                std::memcpy(row, source, indices.width);
            } else if (const qlx_status status = qlx_expand(source, indices.width, 1, QLX_BGR, row, row_size, row_size);
                       status != QLX_OK) {
                return refusal(status);
            }
        }
        if (auto result = write_bytes(file, batch->data(), rows * row_size); !result) return result;
    }
    return {};
}

}  // namespace qlxcmd
