#include "encoding.hpp"

#include <cstdio>
#include <cstring>
#include <string>

namespace qlxcli {
namespace {

// Rows go out in batches of about this many bytes, so that a large BMP
// needs no copy of itself in memory.
constexpr std::size_t batch_bytes = 1u << 20;
// bfSize and biSizeImage are 32-bit: a BMP is shorter than 4 GiB.
constexpr std::uint64_t max_bmp_size = 0xffffffff;
constexpr std::size_t bmp_headers_size = 54;

Outcome<> written(pal::IoResult<> result) {
    if (!result) return refusal("cannot write the output");
    return {};
}

Outcome<> write_bytes(pal::OutputFile& file, const void* data, std::size_t size) {
    return written(file.write({static_cast<const std::uint8_t*>(data), size}));
}

void put_le(std::uint8_t* at, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::array<std::uint8_t, 3> rgb_of(unsigned index) {
    const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(index));
    return {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
            static_cast<std::uint8_t>(colour)};
}

}  // namespace

// A bottom-up BMP of 8 bits with the palette as its colour table, or of 24
// bits: the second is byte for byte what palexpand writes.
Outcome<> write_bmp(Indices indices, const PictureOutput& output, pal::OutputFile& file) {
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

namespace {

// One line an entry, after a header.
template <class Line>
Outcome<> write_palette_text(pal::OutputFile& file, std::string text, Line line) {
    char entry[64];
    for (unsigned i = 0; i < 256; ++i) {
        const auto [red, green, blue] = rgb_of(i);
        line(entry, sizeof entry, red, green, blue, i);
        text += entry;
    }
    return write_bytes(file, text.data(), text.size());
}

}  // namespace

Outcome<> write_qlx(Indices indices, const PictureOutput&, pal::OutputFile& file) {
    return write_bytes(file, indices.data, indices.width * indices.height);
}

Outcome<> write_png(Indices indices, const PictureOutput& output, pal::OutputFile& file) {
    auto png = output.truecolour ? truecolour_png(indices, output.threads)
                                 : indexed_png(indices, output.transparent_index, output.threads);
    if (!png) return refusal(png.error());
    return write_bytes(file, png->data(), png->size());
}

Outcome<> write_picture(Indices indices, const PictureOutput& output, pal::OutputFile& file) {
    return format_entry(output.format).write(indices, output, file);
}

Outcome<> write_palette(FileFormat format, pal::OutputFile& file) { return format_entry(format).write_palette(file); }

Outcome<> write_palette_png(pal::OutputFile& file) {
    std::uint8_t grid[256];
    for (unsigned i = 0; i < 256; ++i) grid[i] = static_cast<std::uint8_t>(i);
    auto png = indexed_png({grid, 16, 16}, -1, 1);
    if (!png) return refusal(png.error());
    return write_bytes(file, png->data(), png->size());
}

Outcome<> write_act(pal::OutputFile& file) {
    std::uint8_t table[768];
    for (unsigned i = 0; i < 256; ++i) {
        const auto colour = rgb_of(i);
        std::memcpy(table + 3 * i, colour.data(), 3);
    }
    return write_bytes(file, table, sizeof table);
}

Outcome<> write_gpl(pal::OutputFile& file) {
    return write_palette_text(file, "GIMP Palette\nName: QLX\nColumns: 16\n#\n",
                              [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned i) {
                                  std::snprintf(line, size, "%3u %3u %3u\tIndex %u\n", r, g, b, i);
                              });
}

Outcome<> write_jasc_pal(pal::OutputFile& file) {
    return write_palette_text(file, "JASC-PAL\r\n0100\r\n256\r\n",
                              [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned) {
                                  std::snprintf(line, size, "%u %u %u\r\n", r, g, b);
                              });
}

Outcome<> write_hex(pal::OutputFile& file) {
    return write_palette_text(file, "", [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned) {
        std::snprintf(line, size, "%02x%02x%02x\n", r, g, b);
    });
}

}  // namespace qlxcli
