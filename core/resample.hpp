#pragma once
// Fitting a picture into a box, and resampling it there by averaging areas
// in linear light: the same bytes from every build, browser and machine.

#include <cstddef>
#include <cstdint>

#include "qlx.h"

namespace qlx {

// Pixels in memory, rows top first, `stride` bytes apart.
struct PixelView {
    const std::uint8_t* pixels;
    std::size_t width, height, stride;
    qlx_pixel_format format;
};

// Where the picture (sides already checked from 1 to QLX_MAX_RESAMPLE_SIDE)
// lands in a box of those sides under `fit` (a known one).
qlx_placement place_in_box(std::size_t width, std::size_t height, std::size_t box_width, std::size_t box_height,
                           qlx_fit fit);

// Resamples `source` to width x height pixels of its own format, rows
// unpadded, at `out`. All sides from 1 to QLX_MAX_RESAMPLE_SIDE. Returns
// QLX_OUT_OF_MEMORY if its few rows of working memory cannot be had.
qlx_status resample(const PixelView& source, std::size_t width, std::size_t height, std::uint8_t* out);

}  // namespace qlx
