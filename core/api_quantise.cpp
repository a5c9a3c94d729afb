// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// Quantising: whole pictures, BMPs, and pictures that arrive in batches.
#include <cstdint>
#include <memory>

#include "api_checks.hpp"
#include "bmp_format.hpp"
#include "memory.hpp"
#include "nearest_colour.hpp"
#include "qlx.h"
#include "quantiser.hpp"

using qlx::api::bytes_present;
using qlx::api::guarded;
using qlx::api::measure_rows;
using qlx::api::PixelRows;

// The handle of the C API; the quantiser does the work.
struct qlx_quantiser {
    std::unique_ptr<qlx::Quantiser> quantiser;
};

namespace {

// The next batch of a quantiser's rows, either way up.
qlx_status convert_batch(qlx_quantiser* handle, const uint8_t* pixels, size_t rows, size_t stride, bool bottom_up,
                         uint8_t* indices, size_t indices_capacity) {
    return guarded([&] {
        if (handle == nullptr) return QLX_NULL_POINTER;
        qlx::Quantiser& quantiser = *handle->quantiser;
        if (rows > quantiser.rows_left()) return QLX_TOO_MANY_ROWS;
        if (!bytes_present(indices, indices_capacity)) return QLX_NULL_POINTER;
        if (rows == 0 || quantiser.width() == 0) {
            quantiser.skip_empty_rows(rows);
            return QLX_OK;
        }
        if (pixels == nullptr) return QLX_NULL_POINTER;
        PixelRows measured;
        if (const qlx_status status = measure_rows(quantiser.width(), rows, stride, quantiser.format(), measured);
            status != QLX_OK) {
            return status;
        }
        if (indices_capacity < measured.count) return QLX_CAPACITY_TOO_SMALL;
        quantiser.convert({pixels, rows, stride, bottom_up}, indices);
        return QLX_OK;
    });
}

}  // namespace

extern "C" {

QLX_API uint8_t qlx_nearest_index(uint8_t red, uint8_t green, uint8_t blue) {
    return qlx::nearest_index(red, green, blue);
}

QLX_API qlx_status qlx_bmp_read_layout(const uint8_t* headers, size_t headers_size, uint64_t file_size,
                                       qlx_bmp_layout* layout) {
    if (!bytes_present(headers, headers_size) || layout == nullptr) return QLX_NULL_POINTER;
    const qlx::Result<qlx_bmp_layout> parsed = qlx::parse_bmp({headers, headers_size}, file_size);
    if (!parsed) return parsed.error();
    *layout = *parsed;
    return QLX_OK;
}

QLX_API qlx_status qlx_bmp_dimensions(const uint8_t* bmp, size_t bmp_size, size_t* width, size_t* height) {
    if (!bytes_present(bmp, bmp_size) || width == nullptr || height == nullptr) return QLX_NULL_POINTER;
    const qlx::Result<qlx_bmp_layout> parsed = qlx::parse_bmp({bmp, bmp_size}, bmp_size);
    if (!parsed) return parsed.error();
    *width = parsed->width;
    *height = parsed->height;
    return QLX_OK;
}

QLX_API qlx_status qlx_from_bmp(const uint8_t* bmp, size_t bmp_size, const qlx_options* options, uint8_t* qlx,
                                size_t qlx_capacity) {
    return guarded([&] {
        if (!bytes_present(bmp, bmp_size) || !bytes_present(qlx, qlx_capacity)) return QLX_NULL_POINTER;
        const qlx::Result<qlx::QuantiseOptions> chosen = qlx::read_options(options);
        if (!chosen) return chosen.error();
        const qlx::Result<qlx_bmp_layout> parsed = qlx::parse_bmp({bmp, bmp_size}, bmp_size);
        if (!parsed) return parsed.error();
        const qlx_bmp_layout& layout = *parsed;
        if (uint64_t{layout.width} * layout.height > qlx_capacity) return QLX_CAPACITY_TOO_SMALL;
        if (layout.height == 0) return QLX_OK;
        // The rows lie inside the file, so their offset and stride fit in size_t.
        const qlx::BatchRows rows{bmp + layout.pixel_offset, layout.height, static_cast<size_t>(layout.row_stride),
                                  layout.top_down == 0};
        qlx::Result<std::unique_ptr<qlx::Quantiser>> quantiser =
            qlx::Quantiser::create(layout.width, layout.height, QLX_BGR, *chosen);
        if (!quantiser) return quantiser.error();
        (*quantiser)->convert(rows, qlx);
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_quantise(const uint8_t* pixels, size_t width, size_t height, size_t stride,
                                qlx_pixel_format format, const qlx_options* options, uint8_t* indices,
                                size_t indices_capacity) {
    return guarded([&] {
        if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
        const qlx::Result<qlx::QuantiseOptions> chosen = qlx::read_options(options);
        if (!chosen) return chosen.error();
        if (!bytes_present(indices, indices_capacity)) return QLX_NULL_POINTER;
        if (width == 0 || height == 0) return QLX_OK;
        if (pixels == nullptr) return QLX_NULL_POINTER;
        PixelRows rows;
        if (const qlx_status status = measure_rows(width, height, stride, format, rows); status != QLX_OK) {
            return status;
        }
        if (indices_capacity < rows.count) return QLX_CAPACITY_TOO_SMALL;
        qlx::Result<std::unique_ptr<qlx::Quantiser>> quantiser = qlx::Quantiser::create(width, height, format, *chosen);
        if (!quantiser) return quantiser.error();
        (*quantiser)->convert({pixels, height, stride, false}, indices);
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_quantiser_create(size_t width, size_t height, qlx_pixel_format format,
                                        const qlx_options* options, qlx_quantiser** quantiser) {
    return guarded([&] {
        if (quantiser == nullptr) return QLX_NULL_POINTER;
        if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
        const qlx::Result<qlx::QuantiseOptions> chosen = qlx::read_options(options);
        if (!chosen) return chosen.error();
        // The indices of the whole picture and a row of its pixels must be countable.
        size_t row_bytes = 0, count = 0;
        if (!qlx::api::multiply_fits(width, qlx_pixel_bytes(format), row_bytes) ||
            !qlx::api::multiply_fits(width, height, count)) {
            return QLX_SIZE_OVERFLOW;
        }
        qlx::Result<std::unique_ptr<qlx::Quantiser>> made = qlx::Quantiser::create(width, height, format, *chosen);
        if (!made) return made.error();
        qlx::Result<std::unique_ptr<qlx_quantiser>> handle = qlx::allocate_object<qlx_quantiser>(std::move(*made));
        if (!handle) return handle.error();
        *quantiser = handle->release();
        return QLX_OK;
    });
}

QLX_API qlx_status qlx_quantiser_convert(qlx_quantiser* quantiser, const uint8_t* pixels, size_t rows, size_t stride,
                                         uint8_t* indices, size_t indices_capacity) {
    return convert_batch(quantiser, pixels, rows, stride, false, indices, indices_capacity);
}

QLX_API qlx_status qlx_quantiser_convert_bottom_up(qlx_quantiser* quantiser, const uint8_t* pixels, size_t rows,
                                                   size_t stride, uint8_t* indices, size_t indices_capacity) {
    return convert_batch(quantiser, pixels, rows, stride, true, indices, indices_capacity);
}

QLX_API size_t qlx_quantiser_rows_left(const qlx_quantiser* quantiser) {
    return quantiser == nullptr ? 0 : quantiser->quantiser->rows_left();
}

QLX_API void qlx_quantiser_destroy(qlx_quantiser* quantiser) { delete quantiser; }

}  // extern "C"
