// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// The whole conversion of a picture: placement, kept indices or colours,
// resampling, transparency, quantising and the box, written once for every
// door.
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "api_checks.hpp"
#include "closeness.hpp"
#include "memory.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"
#include "qlx.h"
#include "quantiser.hpp"
#include "resample.hpp"
#include "vocabulary.hpp"

using qlx::api::bytes_present;
using qlx::api::guarded;
using qlx::api::measure_rows;
using qlx::api::PixelRows;

namespace qlx {
namespace {

constexpr std::size_t palette_entry_bytes = 4;  // red, green, blue, alpha

// A picture's palette, entries past its end transparent black.
struct SourcePalette {
    std::uint8_t rgba[256][palette_entry_bytes] = {};
    bool ours = false;  // every entry the file has is ours at its index

    explicit SourcePalette(const qlx_picture& picture) {
        std::memcpy(rgba, picture.palette, picture.palette_size * palette_entry_bytes);
        ours = qlx_palette_is_ours(picture.palette, picture.palette_size) != 0;
    }
};

// What the options make of a kept pixel that is not opaque.
std::uint8_t kept_index(std::uint8_t index, unsigned alpha, const QuantiseOptions& options) {
    if (options.transparent_index >= 0) {
        return alpha < QLX_ALPHA_THRESHOLD ? static_cast<std::uint8_t>(options.transparent_index) : index;
    }
    if (!options.composite) return index;
    const std::uint32_t colour = palette_rgb[index];
    const std::uint32_t background = options.background;
    return nearest_index(composited(colour >> 16 & 255, alpha, background >> 16 & 255),
                         composited(colour >> 8 & 255, alpha, background >> 8 & 255),
                         composited(colour & 255, alpha, background & 255));
}

// Whether the file stored source pixel (x, y); one it did not is transparent black.
bool stored_at(const qlx_picture& picture, std::size_t x, std::size_t y) {
    return picture.stored == nullptr || picture.stored[y * picture.width + x] != 0;
}

// The placed part of a picture in our palette, its indices kept, in the box.
void keep_indices(const qlx_picture& picture, const SourcePalette& palette, const qlx_placement& place,
                  const QuantiseOptions& options, std::uint8_t* box) {
    for (std::size_t y = 0; y < place.height; ++y) {
        const std::size_t source_y = place.source_y + y;
        std::uint8_t* row = box + (place.y + y) * place.box_width + place.x;
        for (std::size_t x = 0; x < place.width; ++x) {
            const std::size_t source_x = place.source_x + x;
            // An unstored pixel is transparent black, whose index is 0.
            const bool stored = stored_at(picture, source_x, source_y);
            const std::uint8_t index = stored ? picture.pixels[source_y * picture.stride + source_x] : 0;
            const unsigned alpha = stored ? palette.rgba[index][3] : 0;
            row[x] = alpha == 255 ? index : kept_index(index, alpha, options);
        }
    }
}

// The placed part of an indexed picture as RGBA, through its palette.
void expand_part(const qlx_picture& picture, const SourcePalette& palette, const qlx_placement& place,
                 std::uint8_t* rgba) {
    for (std::size_t y = 0; y < place.source_height; ++y) {
        for (std::size_t x = 0; x < place.source_width; ++x) {
            const std::size_t source_x = place.source_x + x, source_y = place.source_y + y;
            std::uint8_t* out = rgba + (y * place.source_width + x) * palette_entry_bytes;
            if (stored_at(picture, source_x, source_y)) {
                std::memcpy(out, palette.rgba[picture.pixels[source_y * picture.stride + source_x]],
                            palette_entry_bytes);
            } else {
                std::memset(out, 0, palette_entry_bytes);
            }
        }
    }
}

// The colours of the placed part at its place's sides: the picture's own
// (or its palette's), resampled where the sides differ. Owns what it made.
struct PlacedColours {
    PixelView view{};
    std::unique_ptr<std::uint8_t[]> expanded, resampled;
};

qlx_status placed_colours(const qlx_picture& picture, const SourcePalette* palette, const qlx_placement& place,
                          PlacedColours& placed) {
    PixelView& part = placed.view;
    part = {nullptr, place.source_width, place.source_height, picture.stride, picture.format};
    if (palette != nullptr) {
        Result<std::unique_ptr<std::uint8_t[]>> made =
            allocate_array<std::uint8_t>(place.source_width * place.source_height * palette_entry_bytes);
        if (!made) return made.error();
        placed.expanded = std::move(*made);
        expand_part(picture, *palette, place, placed.expanded.get());
        part = {placed.expanded.get(), place.source_width, place.source_height,
                place.source_width * palette_entry_bytes, QLX_RGBA};
    } else {
        part.pixels =
            picture.pixels + place.source_y * picture.stride + place.source_x * qlx_pixel_bytes(picture.format);
    }
    if (place.source_width == place.width && place.source_height == place.height) return QLX_OK;
    const std::size_t bytes = pixel_order(part.format).bytes;
    Result<std::unique_ptr<std::uint8_t[]>> made = allocate_array<std::uint8_t>(place.width * place.height * bytes);
    if (!made) return made.error();
    placed.resampled = std::move(*made);
    if (const qlx_status status = resample(part, place.width, place.height, placed.resampled.get()); status != QLX_OK) {
        return status;
    }
    placed.expanded.reset();  // given back before the indices are made
    part = {placed.resampled.get(), place.width, place.height, place.width * bytes, part.format};
    return QLX_OK;
}

// Colours: the part's pixels (the palette's, if any), resampled to the
// place, quantised into the box. Everything that can fail is done before
// the box is written.
qlx_status convert_colours(const qlx_picture& picture, const SourcePalette* palette, const qlx_placement& place,
                           const QuantiseOptions& options, std::uint8_t* memory, std::uint8_t* box) {
    PlacedColours placed;
    if (const qlx_status status = placed_colours(picture, palette, place, placed); status != QLX_OK) return status;
    const PixelView& part = placed.view;

    // The memory covers the box; the quantiser sees the place's part of it.
    FrameMemory frames;
    if (memory != nullptr) {
        frames = {memory + (place.y * place.box_width + place.x) * memory_pixel_bytes,
                  place.box_width * memory_pixel_bytes, options.stable};
    }
    Result<std::unique_ptr<Quantiser>> quantiser =
        Quantiser::create(place.width, place.height, part.format, options, frames);
    if (!quantiser) return quantiser.error();
    const bool fills_box = place.width == place.box_width && place.height == place.box_height;
    if (fills_box) {
        (*quantiser)->convert({part.pixels, place.height, part.stride, false}, box);
        return QLX_OK;
    }
    Result<std::unique_ptr<std::uint8_t[]>> inner = allocate_array<std::uint8_t>(place.width * place.height);
    if (!inner) return inner.error();
    (*quantiser)->convert({part.pixels, place.height, part.stride, false}, inner->get());
    std::memset(box, 0, place.box_width * place.box_height);
    for (std::size_t y = 0; y < place.height; ++y) {
        std::memcpy(box + (place.y + y) * place.box_width + place.x, inner->get() + y * place.width, place.width);
    }
    return QLX_OK;
}

// The placement of the whole picture as it is.
qlx_placement kept_in_place(std::size_t width, std::size_t height) {
    qlx_placement place{};
    place.source_width = place.width = place.box_width = width;
    place.source_height = place.height = place.box_height = height;
    return place;
}

// Every check of the picture and the fit; the placement on success.
qlx_status check_picture(const qlx_picture* picture, qlx_fit fit, std::size_t box_width, std::size_t box_height,
                         qlx_placement& place) {
    if (picture == nullptr) return QLX_NULL_POINTER;
    if (!names_value(fit_names, fit)) return QLX_UNKNOWN_FIT;
    const bool indexed = picture->palette != nullptr;
    if (indexed && (picture->palette_size < 1 || picture->palette_size > 256)) return QLX_PALETTE_SIZE_OUT_OF_RANGE;
    if (!indexed && qlx_pixel_bytes(picture->format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
    const bool empty = picture->width == 0 || picture->height == 0;
    if (!empty) {
        if (picture->pixels == nullptr) return QLX_NULL_POINTER;
        PixelRows rows;
        const std::size_t pixel_bytes = indexed ? 1 : qlx_pixel_bytes(picture->format);
        if (const qlx_status status = measure_rows(picture->width, picture->height, picture->stride, pixel_bytes, rows);
            status != QLX_OK) {
            return status;
        }
    }
    if (fit == QLX_FIT_KEEP) {
        place = kept_in_place(picture->width, picture->height);
        std::size_t count = 0;
        return api::multiply_fits(picture->width, picture->height, count) ? QLX_OK : QLX_SIZE_OVERFLOW;
    }
    if (!api::resample_side_fits(picture->width) || !api::resample_side_fits(picture->height) ||
        !api::resample_side_fits(box_width) || !api::resample_side_fits(box_height)) {
        return QLX_SIDE_OUT_OF_RANGE;
    }
    place = place_in_box(picture->width, picture->height, box_width, box_height, fit);
    return QLX_OK;
}

// The options read and the picture and box checked, as every call that
// converts or measures a conversion begins.
qlx_status check_call(const qlx_picture* picture, const qlx_options* options, qlx_fit fit, std::size_t box_width,
                      std::size_t box_height, QuantiseOptions& chosen, qlx_placement& place) {
    const Result<QuantiseOptions> read = read_options(options);
    if (!read) return read.error();
    chosen = *read;
    return check_picture(picture, fit, box_width, box_height, place);
}

// The colours of the placed part, its palette's where it has one.
qlx_status placed_colours_of(const qlx_picture& picture, const qlx_placement& place, PlacedColours& placed) {
    const std::optional<SourcePalette> palette =
        picture.palette != nullptr ? std::optional<SourcePalette>(picture) : std::nullopt;
    return placed_colours(picture, palette ? &*palette : nullptr, place, placed);
}

}  // namespace
}  // namespace qlx

extern "C" {

QLX_API int qlx_palette_is_ours(const uint8_t* palette, size_t palette_size) {
    if (palette == nullptr || palette_size < 1 || palette_size > 256) return 0;
    for (std::size_t i = 0; i < palette_size; ++i) {
        const std::uint32_t colour = qlx::palette_rgb[i];
        const std::uint8_t* entry = palette + i * qlx::palette_entry_bytes;
        if (entry[0] != (colour >> 16 & 255) || entry[1] != (colour >> 8 & 255) || entry[2] != (colour & 255)) return 0;
    }
    return 1;
}

QLX_API qlx_status qlx_convert_size(const qlx_picture* picture, qlx_fit fit, size_t box_width, size_t box_height,
                                    size_t* width, size_t* height) {
    if (width == nullptr || height == nullptr) return QLX_NULL_POINTER;
    qlx_placement place{};
    if (const qlx_status status = qlx::check_picture(picture, fit, box_width, box_height, place); status != QLX_OK) {
        return status;
    }
    *width = place.box_width;
    *height = place.box_height;
    return QLX_OK;
}

QLX_API qlx_status qlx_convert_colours(const qlx_picture* picture, qlx_fit fit, size_t box_width, size_t box_height,
                                       uint8_t* rgba, size_t rgba_capacity) {
    return guarded([&] {
        qlx_placement place{};
        if (const qlx_status status = qlx::check_picture(picture, fit, box_width, box_height, place);
            status != QLX_OK) {
            return status;
        }
        if (!bytes_present(rgba, rgba_capacity)) return QLX_NULL_POINTER;
        std::size_t count = 0;
        if (!qlx::api::multiply_fits(place.box_width * place.box_height, 4, count)) return QLX_SIZE_OVERFLOW;
        if (rgba_capacity < count) return QLX_CAPACITY_TOO_SMALL;
        if (count == 0) return QLX_OK;
        qlx::PlacedColours placed;
        if (const qlx_status status = qlx::placed_colours_of(*picture, place, placed); status != QLX_OK) {
            return status;
        }
        const std::uint32_t around = qlx::palette_rgb[0];
        for (std::size_t i = 0; i < count; i += 4) {
            rgba[i] = static_cast<std::uint8_t>(around >> 16);
            rgba[i + 1] = static_cast<std::uint8_t>(around >> 8);
            rgba[i + 2] = static_cast<std::uint8_t>(around);
            rgba[i + 3] = 255;
        }
        const qlx::PixelOrder order = qlx::pixel_order(placed.view.format);
        for (std::size_t y = 0; y < place.height; ++y) {
            const std::uint8_t* pixel = placed.view.pixels + y * placed.view.stride;
            std::uint8_t* out = rgba + ((place.y + y) * place.box_width + place.x) * 4;
            for (std::size_t x = 0; x < place.width; ++x, pixel += order.bytes, out += 4) {
                out[0] = pixel[order.red];
                out[1] = pixel[order.green];
                out[2] = pixel[order.blue];
                out[3] = order.has_alpha ? pixel[order.alpha] : 255;
            }
        }
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_convert_frame(const qlx_picture* picture, const qlx_options* options, qlx_fit fit,
                                     size_t box_width, size_t box_height, uint8_t* memory, size_t memory_capacity,
                                     uint8_t* indices, size_t indices_capacity) {
    return guarded([&] {
        qlx::QuantiseOptions chosen;
        qlx_placement place{};
        if (const qlx_status status = qlx::check_call(picture, options, fit, box_width, box_height, chosen, place);
            status != QLX_OK) {
            return status;
        }
        if (!bytes_present(indices, indices_capacity)) return QLX_NULL_POINTER;
        const std::size_t count = place.box_width * place.box_height;
        if (indices_capacity < count) return QLX_CAPACITY_TOO_SMALL;
        // The memory is needed only where error diffusion holds frames still.
        const bool stable = chosen.stable > 0 && qlx::diffuses_errors(chosen.dither.method);
        if (!stable) memory = nullptr;
        if (stable) {
            if (!bytes_present(memory, memory_capacity)) return QLX_NULL_POINTER;
            std::size_t memory_size = 0;
            if (!qlx::api::multiply_fits(count, qlx::memory_pixel_bytes, memory_size)) return QLX_SIZE_OVERFLOW;
            if (memory_capacity < memory_size) return QLX_CAPACITY_TOO_SMALL;
        }
        if (count == 0) return QLX_OK;
        if (picture->palette == nullptr) return qlx::convert_colours(*picture, nullptr, place, chosen, memory, indices);
        const qlx::SourcePalette palette(*picture);
        const bool resampled = place.source_width != place.width || place.source_height != place.height;
        if (!palette.ours || resampled) {
            return qlx::convert_colours(*picture, &palette, place, chosen, memory, indices);
        }
        if (place.width != place.box_width || place.height != place.box_height) std::memset(indices, 0, count);
        qlx::keep_indices(*picture, palette, place, chosen, indices);
        // Kept indices were not chosen for a colour: the next frame chooses afresh.
        if (memory != nullptr) std::memset(memory, 0, count * qlx::memory_pixel_bytes);
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_closeness_of(const qlx_picture* picture, const qlx_options* options, qlx_fit fit,
                                    size_t box_width, size_t box_height, const uint8_t* indices, size_t indices_size,
                                    qlx_closeness* closeness) {
    return guarded([&] {
        if (closeness == nullptr) return QLX_NULL_POINTER;
        qlx::QuantiseOptions chosen;
        qlx_placement place{};
        if (const qlx_status status = qlx::check_call(picture, options, fit, box_width, box_height, chosen, place);
            status != QLX_OK) {
            return status;
        }
        if (!bytes_present(indices, indices_size)) return QLX_NULL_POINTER;
        const std::size_t count = place.box_width * place.box_height;
        if (indices_size < count) return QLX_INPUT_TOO_SHORT;
        *closeness = {};
        if (count == 0) return QLX_OK;
        qlx::PlacedColours placed;
        if (const qlx_status status = qlx::placed_colours_of(*picture, place, placed); status != QLX_OK) {
            return status;
        }
        const qlx::ClosenessSource source{
            placed.view.pixels, placed.view.stride, placed.view.format, place.x,          place.y,
            place.width,        place.height,       place.box_width,    place.box_height, chosen.transparent_index,
            chosen.composite,   chosen.background};
        *closeness = qlx::measure_closeness(source, indices);
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_convert(const qlx_picture* picture, const qlx_options* options, qlx_fit fit, size_t box_width,
                               size_t box_height, uint8_t* indices, size_t indices_capacity) {
    // Without memory every frame stands alone, as a still picture does.
    qlx_options alone = options != nullptr ? *options : qlx_default_options();
    if (alone.stable >= 0 && alone.stable <= 255) alone.stable = 0;
    return qlx_convert_frame(picture, &alone, fit, box_width, box_height, nullptr, 0, indices, indices_capacity);
}

}  // extern "C"
