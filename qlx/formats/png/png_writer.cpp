// PNG written directly: a signature, five kinds of chunk and their CRCs.
// libdeflate compresses the rows several times faster than zlib, at an equal
// or better ratio (docs/performance.md has the figures).

#include <libdeflate.h>

#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "encoding.hpp"
#include "zlib_stream.hpp"

namespace qlxcmd {
namespace {

// How hard libdeflate searches pays off very differently by picture:
// smooth pictures shrink by a third from level 5 to 8 and compress fast at
// any level, while noisy ones (error diffusion, random colours) gain a few
// percent for several times the time. So a sample of the rows is
// compressed quickly first, and how well it shrinks picks the level: the
// lowest that keeps within 1.1 x the size `optipng -o2` reaches, measured
// on photographs, dithered and random pictures (docs/performance.md).
struct LevelChoice {
    double sample_ratio;  // the sample's raw size over its compressed size, below which...
    int level;            // ...this level is used
};
constexpr LevelChoice level_choices[] = {{2, 1}, {4, 4}, {20, 7}};
constexpr int smooth_level = 9;
constexpr int sample_level = 1;
constexpr std::size_t sample_bands = 8;
constexpr std::size_t sample_band_bytes = 64u << 10;
// The PNG limit on a side, a 31-bit number.
constexpr std::uint64_t max_png_side = 0x7fffffff;
// IDAT chunks of this much: any reader's buffer takes them.
constexpr std::size_t idat_chunk_size = 1u << 20;

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

void put_u32(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 24);
    at[1] = static_cast<std::uint8_t>(value >> 16);
    at[2] = static_cast<std::uint8_t>(value >> 8);
    at[3] = static_cast<std::uint8_t>(value);
}

class ChunkWriter {
public:
    explicit ChunkWriter(std::uint8_t* out) : out_(out) {}
    void signature() { append("\x89PNG\r\n\x1a\n", 8); }
    void chunk(const char type[4], const std::uint8_t* data, std::size_t size) {
        put_u32(out_ + at_, static_cast<std::uint32_t>(size));
        at_ += 4;
        const std::size_t start = at_;
        append(type, 4);
        if (size > 0) append(data, size);
        const auto crc = static_cast<std::uint32_t>(libdeflate_crc32(0, out_ + start, size + 4));
        put_u32(out_ + at_, crc);
        at_ += 4;
    }
    std::size_t size() const { return at_; }

private:
    void append(const void* data, std::size_t size) {
        std::memcpy(out_ + at_, data, size);
        at_ += size;
    }
    std::uint8_t* out_;
    std::size_t at_ = 0;
};

// Every chunk's 12 bytes, the signature, and IHDR, PLTE and tRNS in full.
constexpr std::size_t fixed_overhead = 8 + 12 + 13 + 12 + 768 + 12 + 256 + 12;

struct Layout {
    std::uint8_t colour_type;  // 3 indexed, 2 RGB
    std::size_t pixel_bytes;
    int transparent_index;
};

// The filtered rows: each row's filter byte (0, none: for indexed pictures
// it compresses best, and costs nothing) and its pixels.
Outcome<sys::Buffer> filtered_rows(Indices indices, const Layout& layout) {
    auto size = picture_bytes(indices.width * layout.pixel_bytes + 1, indices.height, 1);
    if (!size) return refusal(size.error());
    auto rows = allocate(*size);
    if (!rows) return refusal(rows.error());
    const std::size_t row_bytes = indices.width * layout.pixel_bytes;
    for (std::size_t y = 0; y < indices.height; ++y) {
        std::uint8_t* row = rows->data() + y * (row_bytes + 1);
        row[0] = 0;
        const std::uint8_t* source = indices.data + y * indices.width;
        if (layout.pixel_bytes == 1) {
            std::memcpy(row + 1, source, indices.width);
        } else if (const qlx_status status =
                       qlx_expand(source, indices.width, 1, QLX_RGB, row + 1, row_bytes, row_bytes);
                   status != QLX_OK) {
            return refusal(status);
        }
    }
    return std::move(*rows);
}

// Bands of rows from top to bottom, compressed fast: how well they shrink
// tells how well the whole does.
int compression_level_for(const sys::Buffer& rows) {
    std::vector<std::uint8_t> sample;
    const std::size_t band = std::min(sample_band_bytes, rows.size() / sample_bands + 1);
    for (std::size_t i = 0; i < sample_bands; ++i) {
        const std::size_t start = std::min(rows.size() - std::min(band, rows.size()), i * (rows.size() / sample_bands));
        sample.insert(sample.end(), rows.data() + start, rows.data() + start + std::min(band, rows.size()));
    }
    const std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(sample_level));
    if (!compressor) return smooth_level;
    std::vector<std::uint8_t> compressed(libdeflate_zlib_compress_bound(compressor.get(), sample.size()));
    const std::size_t size =
        libdeflate_zlib_compress(compressor.get(), sample.data(), sample.size(), compressed.data(), compressed.size());
    const double ratio = size == 0 ? 1 : static_cast<double>(sample.size()) / static_cast<double>(size);
    for (const LevelChoice& choice : level_choices) {
        if (ratio < choice.sample_ratio) return choice.level;
    }
    return smooth_level;
}

Outcome<sys::Buffer> png_of(Indices indices, const Layout& layout, unsigned threads) {
    if (indices.width == 0 || indices.height == 0) return refusal("a PNG cannot have a side of 0");
    if (indices.width > max_png_side || indices.height > max_png_side) {
        return refusal("a PNG side is at most 2147483647 pixels");
    }
    auto rows = filtered_rows(indices, layout);
    if (!rows) return refusal(rows.error());
    auto compressed = zlib_stream(rows->bytes(), compression_level_for(*rows), threads);
    if (!compressed) return refusal(compressed.error());
    const std::size_t compressed_size = compressed->size();
    rows = sys::Buffer();  // given back before the file is assembled

    auto file = allocate(fixed_overhead + compressed_size + 12 * (compressed_size / idat_chunk_size + 1));
    if (!file) return refusal(file.error());
    ChunkWriter png(file->data());
    png.signature();
    std::uint8_t header[13] = {};
    put_u32(header, static_cast<std::uint32_t>(indices.width));
    put_u32(header + 4, static_cast<std::uint32_t>(indices.height));
    header[8] = 8;  // bits a sample
    header[9] = layout.colour_type;
    png.chunk("IHDR", header, sizeof header);
    if (layout.colour_type == 3) {
        std::uint8_t palette[768];
        for (unsigned i = 0; i < 256; ++i) {
            const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
            palette[3 * i] = static_cast<std::uint8_t>(colour >> 16);
            palette[3 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
            palette[3 * i + 2] = static_cast<std::uint8_t>(colour);
        }
        png.chunk("PLTE", palette, sizeof palette);
        // tRNS lists alphas up to the last transparent entry; the rest are opaque.
        if (layout.transparent_index >= 0) {
            std::uint8_t alphas[256];
            std::memset(alphas, 255, sizeof alphas);
            alphas[layout.transparent_index] = 0;
            png.chunk("tRNS", alphas, static_cast<std::size_t>(layout.transparent_index) + 1);
        }
    }
    for (std::size_t at = 0; at < compressed_size; at += idat_chunk_size) {
        png.chunk("IDAT", compressed->data() + at, std::min(idat_chunk_size, compressed_size - at));
    }
    png.chunk("IEND", nullptr, 0);
    file->shrink(png.size());
    return std::move(*file);
}

}  // namespace

Outcome<sys::Buffer> indexed_png(Indices indices, int transparent_index, unsigned threads) {
    return png_of(indices, {3, 1, transparent_index}, threads);
}

Outcome<sys::Buffer> truecolour_png(Indices indices, unsigned threads) { return png_of(indices, {2, 3, -1}, threads); }

Outcome<> write_png(Indices indices, const PictureOutput& output, sys::OutputFile& file) {
    auto png = output.truecolour ? truecolour_png(indices, output.threads)
                                 : indexed_png(indices, output.transparent_index, output.threads);
    if (!png) return refusal(png.error());
    return write_bytes(file, png->data(), png->size());
}

Outcome<> write_palette_png(sys::OutputFile& file) {
    std::uint8_t grid[256];
    for (unsigned i = 0; i < 256; ++i) grid[i] = static_cast<std::uint8_t>(i);
    auto png = indexed_png({grid, 16, 16}, -1, 1);
    if (!png) return refusal(png.error());
    return write_bytes(file, png->data(), png->size());
}

}  // namespace qlxcmd
