// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// Fitting a picture into a box and resampling it.
#include "api_checks.hpp"
#include "qlx.h"
#include "resample.hpp"
#include "vocabulary.hpp"

using qlx::api::bytes_present;
using qlx::api::guarded;
using qlx::api::measure_rows;
using qlx::api::PixelRows;

extern "C" {

QLX_API qlx_status qlx_fit_placement(size_t width, size_t height, size_t box_width, size_t box_height, qlx_fit fit,
                                     qlx_placement* placement) {
    if (placement == nullptr) return QLX_NULL_POINTER;
    if (!qlx::names_value(qlx::fit_names, fit)) return QLX_UNKNOWN_FIT;
    if (!qlx::api::resample_side_fits(width) || !qlx::api::resample_side_fits(height) ||
        !qlx::api::resample_side_fits(box_width) || !qlx::api::resample_side_fits(box_height)) {
        return QLX_SIDE_OUT_OF_RANGE;
    }
    *placement = qlx::place_in_box(width, height, box_width, box_height, fit);
    return QLX_OK;
}

QLX_API qlx_status qlx_resample(const uint8_t* pixels, size_t width, size_t height, size_t stride,
                                qlx_pixel_format format, uint8_t* resampled, size_t resampled_width,
                                size_t resampled_height, size_t resampled_capacity) {
    return guarded([&] {
        if (qlx_pixel_bytes(format) == 0) return QLX_UNKNOWN_PIXEL_FORMAT;
        if (pixels == nullptr || resampled == nullptr) return QLX_NULL_POINTER;
        if (!qlx::api::resample_side_fits(width) || !qlx::api::resample_side_fits(height) ||
            !qlx::api::resample_side_fits(resampled_width) || !qlx::api::resample_side_fits(resampled_height)) {
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
