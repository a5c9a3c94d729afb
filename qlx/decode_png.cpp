// PNG through libspng. Every colour type and depth becomes 8-bit RGB or
// RGBA as browsers make it: 16-bit samples by their high byte, low-depth
// grey scaled exactly (4-bit v is v * 17), tRNS applied. Colour management
// chunks (gAMA, cHRM, sRGB, iCCP) are not applied: the file's own sample
// values are used, as the web page uses them.

#include <spng.h>

#include <algorithm>
#include <memory>

#include "decoding.hpp"

namespace qlxcli {
namespace {

struct ContextDeleter {
    void operator()(spng_ctx* context) const { spng_ctx_free(context); }
};
using Context = std::unique_ptr<spng_ctx, ContextDeleter>;

// Ancillary chunks larger than this are skipped, not held: no picture needs
// them, and a hostile file could ask for gigabytes.
constexpr std::size_t chunk_limit = 64u << 20;

std::string reason_for(int error) {
    switch (error) {
        case SPNG_EOF:
        case SPNG_IO_EOF:
        case SPNG_EIDAT_TOO_SHORT: return "PNG data is cut short";
        case SPNG_EMEM: return "not enough memory";
        case SPNG_EWIDTH:
        case SPNG_EHEIGHT:
        case SPNG_EUSER_WIDTH:
        case SPNG_EUSER_HEIGHT:
        case SPNG_EOVERFLOW: return "PNG picture is too large";
        default: return std::string("PNG data is corrupt (") + spng_strerror(error) + ")";
    }
}

// Indices as the file stores them, unpacked to a byte each.
Outcome<pal::Buffer> unpacked_indices(spng_ctx* context, const spng_ihdr& header) {
    std::size_t packed_size = 0;
    if (const int error = spng_decoded_image_size(context, SPNG_FMT_PNG, &packed_size)) return refusal(reason_for(error));
    auto packed = allocate(packed_size);
    if (!packed) return refusal(packed.error());
    if (const int error = spng_decode_image(context, packed->data(), packed_size, SPNG_FMT_PNG, 0)) {
        return refusal(reason_for(error));
    }
    auto count = picture_bytes(header.width, header.height, 1);
    if (!count) return refusal(count.error());
    auto indices = allocate(*count);
    if (!indices) return refusal(indices.error());
    const std::size_t packed_row = packed_size / header.height;
    for (std::size_t y = 0; y < header.height; ++y) {
        unpack_indices(packed->data() + y * packed_row, indices->data() + y * header.width, header.width,
                       header.bit_depth);
    }
    return std::move(*indices);
}

// libspng 0.7 misplaces the pixels of interlaced pictures of fewer than 8
// bits in their own format, so those are decoded to colours and each colour
// is given back its index: the lowest with that colour, which is exact for
// our palette, whose first 16 entries all differ.
Outcome<pal::Buffer> indices_from_colours(spng_ctx* context, const spng_ihdr& header, std::span<const Rgba> palette) {
    auto size = picture_bytes(header.width, header.height, 3);
    if (!size) return refusal(size.error());
    auto colours = allocate(*size);
    auto indices = allocate(*size / 3);
    if (!colours || !indices) return refusal("not enough memory");
    if (const int error = spng_decode_image(context, colours->data(), *size, SPNG_FMT_RGB8, 0)) {
        return refusal(reason_for(error));
    }
    for (std::size_t i = 0; i < indices->size(); ++i) {
        const std::uint8_t* rgb = colours->data() + 3 * i;
        const auto entry = std::find_if(palette.begin(), palette.end(), [&](const Rgba& c) {
            return c.red == rgb[0] && c.green == rgb[1] && c.blue == rgb[2];
        });
        indices->data()[i] = static_cast<std::uint8_t>(entry - palette.begin());
    }
    return std::move(*indices);
}

Outcome<PalettePicture> read_palette_picture(spng_ctx* context, const spng_ihdr& header, const spng_plte& plte) {
    PalettePicture stored;
    stored.width = header.width;
    stored.height = header.height;
    for (std::uint32_t i = 0; i < plte.n_entries; ++i) {
        stored.palette.push_back({plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue, 255});
    }
    spng_trns trns{};
    const int trns_status = spng_get_trns(context, &trns);
    if (trns_status != 0 && trns_status != SPNG_ECHUNKAVAIL) return refusal(reason_for(trns_status));
    for (std::uint32_t i = 0; trns_status == 0 && i < trns.n_type3_entries && i < stored.palette.size(); ++i) {
        stored.palette[i].alpha = trns.type3_alpha[i];
    }
    auto indices = header.interlace_method != 0 && header.bit_depth < 8
                       ? indices_from_colours(context, header, stored.palette)
                       : unpacked_indices(context, header);
    if (!indices) return refusal(indices.error());
    stored.indices = std::move(*indices);
    return stored;
}

Outcome<Picture> read_colours(spng_ctx* context, const spng_ihdr& header) {
    const bool has_alpha = header.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                           header.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    spng_trns trns{};
    const int trns_status = spng_get_trns(context, &trns);
    if (trns_status != 0 && trns_status != SPNG_ECHUNKAVAIL) return refusal(reason_for(trns_status));
    const bool transparent = has_alpha || trns_status == 0;
    Picture picture;
    picture.width = header.width;
    picture.height = header.height;
    picture.format = transparent ? QLX_RGBA : QLX_RGB;
    const int format = transparent ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
    auto size = picture_bytes(header.width, header.height, qlx_pixel_bytes(picture.format));
    if (!size) return refusal(size.error());
    auto pixels = allocate(*size);
    if (!pixels) return refusal(pixels.error());
    if (const int error = spng_decode_image(context, pixels->data(), *size, format, SPNG_DECODE_TRNS)) {
        return refusal(reason_for(error));
    }
    picture.pixels = std::move(*pixels);
    return picture;
}

}  // namespace

Outcome<Picture> decode_png(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    Context context(spng_ctx_new(0));
    if (!context) return refusal("not enough memory");
    spng_set_png_buffer(context.get(), file.data(), file.size());
    spng_set_chunk_limits(context.get(), chunk_limit, chunk_limit);
    spng_ihdr header{};
    if (const int error = spng_get_ihdr(context.get(), &header)) return refusal(reason_for(error));
    if (auto allowed = check_pixel_count(header.width, header.height, settings); !allowed) {
        return refusal(allowed.error());
    }
    if (header.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (const int error = spng_get_plte(context.get(), &plte)) return refusal(reason_for(error));
        auto stored = read_palette_picture(context.get(), header, plte);
        if (!stored) return refusal(stored.error());
        return resolve_palette(std::move(*stored));
    }
    return read_colours(context.get(), header);
}

}  // namespace qlxcli
