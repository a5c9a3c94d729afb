#pragma once
// How close a result looks to the colours it was converted from, as the
// eye sees them from a distance: both pictures blurred by a 5 x 5 binomial
// kernel in linear light, then compared. docs/qlx-format.md ("Closeness")
// states each figure.
//
// A large picture is measured at about closeness_points pixels spread over
// it, one in each cell of a grid: in each row of cells at one row drawn by
// a fixed hash, and in each cell at a column drawn by it. The figures of a
// 4096 x 4096 picture then cost a few milliseconds, not the whole picture's
// blur; the rows the blur reads are read in order; and no pattern's period
// lines up with the samples.

#include <cstddef>
#include <cstdint>

#include "pixel_format.hpp"
#include "qlx.h"

namespace qlx {

inline constexpr std::size_t closeness_points = QLX_CLOSENESS_POINTS;

// The colours a conversion started from, in a box of box_width x
// box_height: the placed part at (x, y), of `width` x `height` pixels in
// `format`; around it palette entry 0. With a transparent index, pixels of
// alpha below the threshold are not measured; with `composite`, every
// pixel is blended over the background first.
struct ClosenessSource {
    const std::uint8_t* pixels;
    std::size_t stride;
    qlx_pixel_format format;
    std::size_t x, y, width, height;
    std::size_t box_width, box_height;
    int transparent_index;
    bool composite;
    std::uint32_t background;
};

// The side of the grid's cells: 1 (every pixel) up to closeness_points
// pixels, else the smallest side that leaves at most that many cells.
std::size_t closeness_cell_side(std::size_t width, std::size_t height);

qlx_closeness measure_closeness(const ClosenessSource& source, const std::uint8_t* indices);

// CIEDE2000 between two CIELAB colours.
double ciede2000(double l1, double a1, double b1, double l2, double a2, double b2);

}  // namespace qlx
