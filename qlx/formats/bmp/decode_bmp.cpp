// Every BMP: 1, 2, 4 and 8-bit palettes, RLE4 and RLE8, 16 and 32 bits
// with or without bit fields, 24 bits, bottom-up and top-down, and every
// header from the 12-byte core header to version 5. A 24-bit file goes the
// library's way, so that it gives palquant's bytes exactly.
//
// Where the formats leave a choice, a BMP decodes as a browser decodes it:
//   - a bit field of n bits scales as round(v * 255 / (2^n - 1));
//   - alpha counts only where a bit field names it, and a picture whose
//     every alpha is 0 is opaque (writers leave the field empty);
//   - pixels that RLE skips, and indices past the colour table, are
//     transparent black.

#include <algorithm>
#include <bit>
#include <cstring>

#include "decoding.hpp"

namespace qlxcmd {
namespace {

constexpr std::size_t file_header_size = 14;
constexpr std::size_t core_header_size = 12;  // the oldest header: 16-bit sides, no compression field

enum Compression : std::uint32_t { rgb = 0, rle8 = 1, rle4 = 2, bitfields = 3, alpha_bitfields = 6 };

std::uint32_t u16_at(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8);
}
std::uint32_t u32_at(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Header {
    std::uint64_t pixel_offset = 0;
    std::size_t header_size = 0;
    std::size_t width = 0;
    std::size_t height = 0;
    bool top_down = false;
    unsigned bits = 0;
    std::uint32_t compression = rgb;
    std::array<std::uint32_t, 4> masks{};  // red, green, blue, alpha
    std::size_t colour_table_offset = 0;
    std::size_t colour_entry_size = 4;
    std::size_t colours_used = 0;  // 0: 2^bits
};

// Where bit fields' masks are, and what they are when the file gives none.
Outcome<> read_masks(std::span<const std::uint8_t> file, Header& header) {
    const bool given = header.compression == bitfields || header.compression == alpha_bitfields;
    if (!given) {
        if (header.bits == 16) header.masks = {0x7c00, 0x03e0, 0x001f, 0};
        if (header.bits == 32) header.masks = {0xff0000, 0x00ff00, 0x0000ff, 0};
        return {};
    }
    if (header.bits != 16 && header.bits != 32) return refusal("BMP bit fields need 16 or 32 bits a pixel");
    // A 40-byte header is followed by the masks; longer headers hold them.
    const std::size_t count = header.compression == alpha_bitfields ? 4 : header.header_size >= 56 ? 4 : 3;
    const std::size_t at = file_header_size + 40;
    if (file.size() < at + 4 * count) return refusal("BMP headers are cut short");
    for (std::size_t i = 0; i < count; ++i) header.masks[i] = u32_at(file, at + 4 * i);
    if (header.header_size == 40) header.colour_table_offset += 4 * count;
    for (const std::uint32_t mask : header.masks) {
        if (header.bits == 16 && mask > 0xffff) return refusal("BMP bit field is wider than the pixel");
        if (mask != 0 && !std::has_single_bit((mask >> std::countr_zero(mask)) + 1)) {
            return refusal("BMP bit field is not one run of bits");
        }
    }
    return {};
}

// The headers, checked one by one, each with its own reason.
Outcome<Header> read_header(std::span<const std::uint8_t> file) {
    Header header;
    if (file.size() < file_header_size + 4) return refusal("BMP headers are cut short");
    header.pixel_offset = u32_at(file, 10);
    header.header_size = u32_at(file, 14);
    const bool core = header.header_size == core_header_size;
    if (!core && header.header_size < 16)
        return refusal("BMP header size " + std::to_string(header.header_size) + " is unknown");
    if (file.size() < file_header_size + std::min<std::size_t>(header.header_size, 40))
        return refusal("BMP headers are cut short");
    header.colour_table_offset = file_header_size + header.header_size;
    if (core) {
        header.width = u16_at(file, 18);
        header.height = u16_at(file, 20);
        header.bits = u16_at(file, 24);
        header.colour_entry_size = 3;
    } else {
        const auto width = static_cast<std::int32_t>(u32_at(file, 18));
        const auto height = static_cast<std::int32_t>(u32_at(file, 22));
        if (width <= 0) return refusal("BMP width is not positive");
        if (height == 0 || height == INT32_MIN) return refusal("BMP height is out of range");
        header.width = static_cast<std::size_t>(width);
        header.top_down = height < 0;
        header.height = static_cast<std::size_t>(height < 0 ? -static_cast<std::int64_t>(height) : height);
        header.bits = u16_at(file, 28);
        header.compression = header.header_size >= 20 ? u32_at(file, 30) : rgb;
        header.colours_used = header.header_size >= 36 ? u32_at(file, 46) : 0;
    }
    if (header.width == 0 || header.height == 0) return refusal("BMP picture has no pixels");
    switch (header.bits) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32: break;
        default: return refusal("BMP of " + std::to_string(header.bits) + " bits a pixel is not supported");
    }
    const bool compression_fits = header.compression == rgb || (header.compression == rle8 && header.bits == 8) ||
                                  (header.compression == rle4 && header.bits == 4) || header.compression == bitfields ||
                                  header.compression == alpha_bitfields;
    if (!compression_fits) {
        return refusal("BMP compression " + std::to_string(header.compression) + " with " +
                       std::to_string(header.bits) + " bits a pixel is not supported");
    }
    // Plain 24-bit files are the library's; any other is not one we know.
    if (header.bits == 24)
        return refusal("BMP of 24 bits a pixel with compression " + std::to_string(header.compression) +
                       " is not supported");
    if (auto masks = read_masks(file, header); !masks) return refusal(masks.error());
    if (header.pixel_offset >= file.size()) return refusal("BMP pixel data lies outside the file");
    return header;
}

Outcome<std::vector<Rgba>> read_colour_table(std::span<const std::uint8_t> file, const Header& header) {
    std::size_t count = std::size_t{1} << header.bits;
    if (header.colours_used != 0 && header.colours_used < count) count = header.colours_used;
    // Entries that would overlap the pixels are not entries.
    if (header.pixel_offset > header.colour_table_offset) {
        count = std::min<std::size_t>(
            count,
            static_cast<std::size_t>((header.pixel_offset - header.colour_table_offset) / header.colour_entry_size));
    }
    if (header.colour_table_offset + count * header.colour_entry_size > file.size()) {
        return refusal("BMP colour table is cut short");
    }
    std::vector<Rgba> table;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = header.colour_table_offset + i * header.colour_entry_size;
        table.push_back({file[at + 2], file[at + 1], file[at], 255});
    }
    return table;
}

// The file's colour table, its indices yet to read.
Outcome<PaletteIndices> with_colour_table(std::span<const std::uint8_t> file, const Header& header) {
    auto table = read_colour_table(file, header);
    if (!table) return refusal(table.error());
    PaletteIndices stored;
    stored.palette = std::move(*table);
    return stored;
}

// The picture row a stored row holds.
std::size_t picture_row(const Header& header, std::size_t stored_row) {
    return header.top_down ? stored_row : header.height - 1 - stored_row;
}

// Uncompressed rows: stored row by stored row, each padded to 4 bytes
// (the last row's padding may be missing).
Outcome<std::span<const std::uint8_t>> stored_rows(std::span<const std::uint8_t> file, const Header& header,
                                                   std::uint64_t& stride) {
    const std::uint64_t row_bits = static_cast<std::uint64_t>(header.width) * header.bits;
    stride = (row_bits + 31) / 32 * 4;
    const std::uint64_t needed = stride * (header.height - 1) + (row_bits + 7) / 8;
    if (needed > file.size() - header.pixel_offset) return refusal("BMP pixel data is cut short");
    return file.subspan(static_cast<std::size_t>(header.pixel_offset));
}

Outcome<PaletteIndices> read_indexed(std::span<const std::uint8_t> file, const Header& header) {
    auto stored = with_colour_table(file, header);
    if (!stored) return refusal(stored.error());
    std::uint64_t stride = 0;
    auto rows = stored_rows(file, header, stride);
    if (!rows) return refusal(rows.error());
    auto indices = allocate(header.width * header.height);
    if (!indices) return refusal(indices.error());
    for (std::size_t y = 0; y < header.height; ++y) {
        unpack_indices(rows->data() + y * stride, indices->data() + picture_row(header, y) * header.width, header.width,
                       header.bits);
    }
    stored->indices = std::move(*indices);
    return std::move(*stored);
}

// RLE8 and RLE4: runs and literal stretches, with end-of-line, delta and
// end-of-picture escapes. Data that ends before the end-of-picture escape
// is cut short.
Outcome<PaletteIndices> read_run_lengths(std::span<const std::uint8_t> file, const Header& header) {
    auto stored = with_colour_table(file, header);
    if (!stored) return refusal(stored.error());
    auto indices = allocate(header.width * header.height);
    auto covered = allocate(header.width * header.height);
    if (!indices || !covered) return refusal("not enough memory");
    std::memset(indices->data(), 0, indices->size());
    std::memset(covered->data(), 0, covered->size());

    const std::span<const std::uint8_t> data = file.subspan(static_cast<std::size_t>(header.pixel_offset));
    const bool four_bits = header.compression == rle4;
    std::size_t at = 0, x = 0, y = 0;
    const auto put = [&](std::uint8_t index) {
        if (x < header.width && y < header.height) {
            const std::size_t pixel = picture_row(header, y) * header.width + x;
            indices->data()[pixel] = index;
            covered->data()[pixel] = 1;
        }
        ++x;
    };
    while (y < header.height) {
        if (data.size() - at < 2) return refusal("BMP pixel data is cut short");
        const std::uint8_t count = data[at], value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) {
                put(four_bits ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4u : value & 15u) : value);
            }
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (data.size() - at < 2) return refusal("BMP pixel data is cut short");
            x += data[at];
            y += data[at + 1];
            at += 2;
        } else {
            const std::size_t bytes = four_bits ? (value + 1u) / 2 : value;
            const std::size_t padded = (bytes + 1) / 2 * 2;
            if (data.size() - at < padded) return refusal("BMP pixel data is cut short");
            for (unsigned i = 0; i < value; ++i) {
                const std::uint8_t byte = data[at + (four_bits ? i / 2 : i)];
                put(four_bits ? static_cast<std::uint8_t>(i % 2 == 0 ? byte >> 4u : byte & 15u) : byte);
            }
            at += padded;
        }
    }
    stored->indices = std::move(*indices);
    stored->stored = std::move(*covered);
    return std::move(*stored);
}

// round(v * 255 / (2^n - 1)) for an n-bit field.
std::uint8_t scaled_field(std::uint32_t pixel, std::uint32_t mask) {
    if (mask == 0) return 0;
    const std::uint64_t top = (std::uint64_t{1} << std::popcount(mask)) - 1;
    const std::uint64_t value = (pixel & mask) >> std::countr_zero(mask);
    return static_cast<std::uint8_t>((value * 255 * 2 + top) / (2 * top));
}

Outcome<Picture> read_bit_fields(std::span<const std::uint8_t> file, const Header& header) {
    std::uint64_t stride = 0;
    auto rows = stored_rows(file, header, stride);
    if (!rows) return refusal(rows.error());
    const bool has_alpha = header.masks[3] != 0;
    Colours picture;
    picture.format = has_alpha ? QLX_RGBA : QLX_RGB;
    const std::size_t bytes = qlx_pixel_bytes(picture.format);
    auto pixels = allocate(header.width * header.height * bytes);
    if (!pixels) return refusal(pixels.error());
    bool any_alpha = false;
    for (std::size_t y = 0; y < header.height; ++y) {
        const std::uint8_t* row = rows->data() + y * stride;
        std::uint8_t* out = pixels->data() + picture_row(header, y) * header.width * bytes;
        for (std::size_t x = 0; x < header.width; ++x, out += bytes) {
            const std::uint32_t pixel =
                header.bits == 16 ? u16_at({row, 2 * header.width}, 2 * x) : u32_at({row, 4 * header.width}, 4 * x);
            out[0] = scaled_field(pixel, header.masks[0]);
            out[1] = scaled_field(pixel, header.masks[1]);
            out[2] = scaled_field(pixel, header.masks[2]);
            if (has_alpha) {
                out[3] = scaled_field(pixel, header.masks[3]);
                any_alpha = any_alpha || out[3] != 0;
            }
        }
    }
    if (has_alpha && !any_alpha) {
        for (std::size_t i = 3; i < pixels->size(); i += 4) pixels->data()[i] = 255;
    }
    picture.pixels = std::move(*pixels);
    return single_frame(header.width, header.height, std::move(picture));
}

// The library's refusals of a 24-bit BMP are palquant's messages; qlx
// says the same in the words it uses for every other BMP.
std::string reason_for(qlx_status status) {
    switch (status) {
        case QLX_BMP_HEADERS_CUT_SHORT: return "BMP headers are cut short";
        case QLX_BMP_INFO_HEADER_TOO_SHORT: return "BMP information header is too short";
        case QLX_BMP_NEGATIVE_WIDTH: return "BMP width is not positive";
        case QLX_BMP_HEIGHT_OUT_OF_RANGE: return "BMP height is out of range";
        case QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE: return "BMP pixel data lies outside the file";
        case QLX_BMP_PIXEL_DATA_CUT_SHORT: return "BMP pixel data is cut short";
        case QLX_BMP_TOO_LARGE: return "BMP picture is too large for this machine";
        default: return qlx_status_text(status);
    }
}

// 24 bits through the library's own reading of the layout.
Outcome<Picture> read_24_bit(std::span<const std::uint8_t> file, const qlx_bmp_layout& layout) {
    Colours picture;
    picture.format = QLX_BGR;
    // palquant writes an empty QLX for a picture with no pixels.
    if (layout.width == 0 || layout.height == 0) return single_frame(layout.width, layout.height, std::move(picture));
    const std::size_t row_bytes = layout.width * 3;
    auto pixels = allocate(row_bytes * layout.height);
    if (!pixels) return refusal(pixels.error());
    for (std::size_t y = 0; y < layout.height; ++y) {
        const std::size_t stored = layout.top_down ? y : layout.height - 1 - y;
        std::memcpy(pixels->data() + y * row_bytes, file.data() + layout.pixel_offset + stored * layout.row_stride,
                    row_bytes);
    }
    picture.pixels = std::move(*pixels);
    return single_frame(layout.width, layout.height, std::move(picture));
}

}  // namespace

Outcome<Picture> decode_bmp(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    qlx_bmp_layout layout{};
    const qlx_status status = qlx_bmp_read_layout(
        file.data(), std::min<std::size_t>(file.size(), QLX_BMP_MAX_HEADERS_SIZE), file.size(), &layout);
    if (status == QLX_OK) {
        if (auto allowed = check_pixel_count(layout.width, layout.height, settings); !allowed) {
            return refusal(allowed.error());
        }
        return read_24_bit(file, layout);
    }
    if (status != QLX_BMP_NOT_24_BIT && status != QLX_BMP_COMPRESSED) return refusal(reason_for(status));

    auto header = read_header(file);
    if (!header) return refusal(header.error());
    if (auto allowed = check_pixel_count(header->width, header->height, settings); !allowed) {
        return refusal(allowed.error());
    }
    if (auto size = picture_bytes(header->width, header->height, 4); !size) return refusal(size.error());
    if (header->bits > 8) return read_bit_fields(file, *header);
    auto stored = header->compression == rgb ? read_indexed(file, *header) : read_run_lengths(file, *header);
    if (!stored) return refusal(stored.error());
    return single_frame(header->width, header->height, std::move(*stored));
}

}  // namespace qlxcmd
