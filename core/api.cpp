// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <span>

#include "bmp_format.hpp"
#include "expander.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"
#include "qlx.h"
#include "quantiser.hpp"
#include "resample.hpp"

namespace qlx {
namespace {

// Bytes where `size` bytes are promised: NULL only for none.
bool bytes_present(const void* bytes, std::size_t size) { return bytes != nullptr || size == 0; }

bool resample_side_fits(std::size_t side) { return side >= 1 && side <= QLX_MAX_RESAMPLE_SIDE; }

// a * b, or false if it overflows size_t.
bool multiply_fits(std::size_t a, std::size_t b, std::size_t& product) {
    if (a != 0 && b > std::numeric_limits<std::size_t>::max() / a) return false;
    product = a * b;
    return true;
}

qlx_status read_options(const qlx_options* given, QuantiseOptions& options) {
    const qlx_options chosen = given != nullptr ? *given : qlx_default_options();
    const int dither = static_cast<int>(chosen.dither);
    if (dither < QLX_DITHER_NONE || dither > QLX_DITHER_BLUE_NOISE) return QLX_UNKNOWN_DITHER;
    const int light = static_cast<int>(chosen.light);
    if (light != QLX_LIGHT_SRGB && light != QLX_LIGHT_LINEAR) return QLX_UNKNOWN_LIGHT;
    if (chosen.strength < 0 || chosen.strength > max_dither_strength) return QLX_STRENGTH_OUT_OF_RANGE;
    if (chosen.transparent_index < -1 || chosen.transparent_index > 255) return QLX_TRANSPARENT_INDEX_OUT_OF_RANGE;
    if (chosen.threads < 0) return QLX_THREADS_OUT_OF_RANGE;
    if (std::any_of(std::begin(chosen.reserved), std::end(chosen.reserved), [](int word) { return word != 0; })) {
        return QLX_UNKNOWN_OPTION;
    }
    options.dither = {static_cast<DitherMethod>(dither), chosen.strength, static_cast<DitherLight>(light)};
    options.transparent_index = chosen.transparent_index;
    options.max_threads = static_cast<unsigned>(chosen.threads);
    return QLX_OK;
}

// Where `height` rows of `width` pixels lie, `stride` bytes apart.
struct PixelRows {
    std::size_t row_bytes = 0;  // one row's pixels
    std::size_t span = 0;       // first byte to one past the last
    std::size_t count = 0;      // width * height
};

qlx_status measure_rows(std::size_t width, std::size_t height, std::size_t stride, qlx_pixel_format format,
                        PixelRows& rows) {
    if (!multiply_fits(width, pixel_order(format).bytes, rows.row_bytes)) return QLX_SIZE_OVERFLOW;
    if (stride < rows.row_bytes) return QLX_STRIDE_TOO_SHORT;
    std::size_t before_last = 0;
    if (!multiply_fits(stride, height - 1, before_last) || !multiply_fits(width, height, rows.count) ||
        before_last > std::numeric_limits<std::size_t>::max() - rows.row_bytes) {
        return QLX_SIZE_OVERFLOW;
    }
    rows.span = before_last + rows.row_bytes;
    return QLX_OK;
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

}  // namespace
}  // namespace qlx

using qlx::BmpExpander;
using qlx::BmpParse;
using qlx::bytes_present;
using qlx::guarded;
using qlx::measure_rows;
using qlx::PixelLayout;
using qlx::PixelRows;
using qlx::QuantiseOptions;
using qlx::read_options;

extern "C" {

QLX_API const char* qlx_version(void) { return QLX_VERSION_STRING; }

QLX_API uint32_t qlx_palette_colour(uint8_t index) { return qlx::palette_rgb[index]; }

QLX_API uint8_t qlx_nearest_index(uint8_t red, uint8_t green, uint8_t blue) {
    return qlx::nearest_index(red, green, blue);
}

QLX_API qlx_options qlx_default_options(void) {
    qlx_options options{};
    options.dither = QLX_DITHER_NONE;
    options.strength = qlx::max_dither_strength;
    options.transparent_index = -1;
    options.threads = 0;
    options.light = QLX_LIGHT_SRGB;
    return options;
}

QLX_API size_t qlx_pixel_bytes(qlx_pixel_format format) {
    const int code = static_cast<int>(format);
    return code >= QLX_RGB && code <= QLX_BGRA ? qlx::pixel_order(static_cast<qlx_pixel_format>(code)).bytes : 0;
}

QLX_API qlx_status qlx_bmp_dimensions(const uint8_t* bmp, size_t bmp_size, size_t* width, size_t* height) {
    if (!bytes_present(bmp, bmp_size) || width == nullptr || height == nullptr) return QLX_NULL_POINTER;
    const BmpParse parsed = qlx::parse_bmp({bmp, bmp_size});
    if (parsed.status != QLX_OK) return parsed.status;
    *width = parsed.layout.width;
    *height = parsed.layout.height;
    return QLX_OK;
}

QLX_API qlx_status qlx_from_bmp(const uint8_t* bmp, size_t bmp_size, const qlx_options* options, uint8_t* qlx,
                                size_t qlx_capacity) {
    return guarded([&] {
        if (!bytes_present(bmp, bmp_size) || !bytes_present(qlx, qlx_capacity)) return QLX_NULL_POINTER;
        QuantiseOptions chosen;
        if (const qlx_status status = read_options(options, chosen); status != QLX_OK) return status;
        const BmpParse parsed = qlx::parse_bmp({bmp, bmp_size});
        if (parsed.status != QLX_OK) return parsed.status;
        return qlx::quantise_in_memory({bmp, bmp_size}, parsed.layout, {qlx, qlx_capacity}, chosen);
    });
}

QLX_API size_t qlx_bmp_size(size_t width, size_t height) {
    if (width == 0 || height == 0 || width > QLX_MAX_BMP_SIDE || height > QLX_MAX_BMP_SIDE) return 0;
    return static_cast<size_t>(qlx::expanded_bmp_file_size(width, height));  // at most 805 MB
}

QLX_API qlx_status qlx_to_bmp(const uint8_t* qlx, size_t qlx_size, size_t width, size_t height, uint8_t* bmp,
                              size_t bmp_capacity) {
    return guarded([&] {
        if (!bytes_present(qlx, qlx_size) || !bytes_present(bmp, bmp_capacity)) return QLX_NULL_POINTER;
        const size_t bmp_size = qlx_bmp_size(width, height);
        if (bmp_size == 0) return QLX_SIDE_OUT_OF_RANGE;
        if (qlx_size / width < height) return QLX_INPUT_TOO_SHORT;
        if (bmp_capacity < bmp_size) return QLX_CAPACITY_TOO_SMALL;
        BmpExpander::Created created = BmpExpander::create(width, height);
        if (!created.expander) return created.status;
        size_t written = 0;
        created.expander->run({qlx, qlx_size}, [&](std::span<const std::uint8_t> bytes) {
            std::memcpy(bmp + written, bytes.data(), bytes.size());
            written += bytes.size();
            return true;
        });
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_quantise(const uint8_t* pixels, size_t width, size_t height, size_t stride,
                                qlx_pixel_format format, const qlx_options* options, uint8_t* indices,
                                size_t indices_capacity) {
    return guarded([&] {
        if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
        QuantiseOptions chosen;
        if (const qlx_status status = read_options(options, chosen); status != QLX_OK) return status;
        if (!bytes_present(indices, indices_capacity)) return QLX_NULL_POINTER;
        if (width == 0 || height == 0) return QLX_OK;
        if (pixels == nullptr) return QLX_NULL_POINTER;
        PixelRows rows;
        if (const qlx_status status = measure_rows(width, height, stride, format, rows); status != QLX_OK) {
            return status;
        }
        if (indices_capacity < rows.count) return QLX_CAPACITY_TOO_SMALL;
        const PixelLayout layout{width, height, true, 0, stride, format};
        return qlx::quantise_in_memory({pixels, rows.span}, layout, {indices, indices_capacity}, chosen);
    });
}

QLX_API qlx_status qlx_expand(const uint8_t* indices, size_t width, size_t height, qlx_pixel_format format,
                              uint8_t* pixels, size_t stride, size_t pixels_capacity) {
    if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
    if (!bytes_present(pixels, pixels_capacity)) return QLX_NULL_POINTER;
    if (width == 0 || height == 0) return QLX_OK;
    if (indices == nullptr) return QLX_NULL_POINTER;
    PixelRows rows;
    if (const qlx_status status = measure_rows(width, height, stride, format, rows); status != QLX_OK) return status;
    if (pixels_capacity < rows.span) return QLX_CAPACITY_TOO_SMALL;
    for (size_t y = 0; y < height; ++y) qlx::expand_row(indices + y * width, width, format, pixels + y * stride);
    return QLX_OK;
}

QLX_API qlx_status qlx_fit_placement(size_t width, size_t height, size_t box_width, size_t box_height, qlx_fit fit,
                                     qlx_placement* placement) {
    if (placement == nullptr) return QLX_NULL_POINTER;
    const int code = static_cast<int>(fit);
    if (code < QLX_FIT_KEEP || code > QLX_FIT_STRETCH) return QLX_UNKNOWN_FIT;
    if (!qlx::resample_side_fits(width) || !qlx::resample_side_fits(height) ||
        !qlx::resample_side_fits(box_width) || !qlx::resample_side_fits(box_height)) {
        return QLX_SIDE_OUT_OF_RANGE;
    }
    *placement = qlx::place_in_box(width, height, box_width, box_height, static_cast<qlx_fit>(code));
    return QLX_OK;
}

QLX_API qlx_status qlx_resample(const uint8_t* pixels, size_t width, size_t height, size_t stride,
                                qlx_pixel_format format, uint8_t* resampled, size_t resampled_width,
                                size_t resampled_height, size_t resampled_capacity) {
    return guarded([&] {
        if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
        if (pixels == nullptr || resampled == nullptr) return QLX_NULL_POINTER;
        if (!qlx::resample_side_fits(width) || !qlx::resample_side_fits(height) ||
            !qlx::resample_side_fits(resampled_width) || !qlx::resample_side_fits(resampled_height)) {
            return QLX_SIDE_OUT_OF_RANGE;
        }
        PixelRows rows;
        if (const qlx_status status = measure_rows(width, height, stride, format, rows); status != QLX_OK) {
            return status;
        }
        PixelRows result;
        const size_t result_row = resampled_width * qlx_pixel_bytes(format);
        if (const qlx_status status = measure_rows(resampled_width, resampled_height, result_row, format, result);
            status != QLX_OK) {
            return status;
        }
        if (resampled_capacity < result.span) return QLX_CAPACITY_TOO_SMALL;
        return qlx::resample({pixels, width, height, stride, format}, resampled_width, resampled_height, resampled);
    });
}

}  // extern "C"
