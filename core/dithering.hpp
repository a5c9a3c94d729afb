#pragma once
// Optional dithering. Integers only, no randomness: the same
// picture and options give the same bytes on every system and build, on any
// number of threads. docs/qlx-format.md states both methods byte for byte.
//
// Rows are taken top row first; x counts from the left, y from the top.
// divide_rounding(n, d) is n / d rounded to the nearest integer, halves up.
//
// Floyd-Steinberg, serpentine: row y runs left to right when y is even and
// right to left when it is odd. Each component of a pixel gets
//     working = clamp(pixel + divide_rounding(carried * strength, 1600), 0, 255)
// where `carried` is the error diffused to the pixel so far, in sixteenths.
// The pixel's index is the nearest colour to `working`, and the error
// working - palette colour goes on times 7 to the next pixel of the row, and
// times 3, 5 and 1 to the pixels below-behind, below and below-ahead. Errors
// that would leave the picture are dropped. Only two rows of errors are kept.
//
// Ordered: with the 8 x 8 Bayer matrix M (values 0 to 63) every component of
// the pixel at (x, y) gets
//     working = clamp(pixel + divide_rounding((2 * M[y % 8][x % 8] - 63) * amplitude * strength, 12800), 0, 255)
// so offsets spread evenly over about +-amplitude / 2, the same for all three
// components.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "qlx.h"

namespace qlx {

// The values of qlx_dither.
enum class DitherMethod {
    none = QLX_DITHER_NONE,
    floyd_steinberg = QLX_DITHER_FLOYD_STEINBERG,
    ordered = QLX_DITHER_ORDERED
};

inline constexpr int max_dither_strength = 100;  // percent

struct DitherOptions {
    DitherMethod method = DitherMethod::none;
    int strength = max_dither_strength;  // share of the diffused error, or of the pattern's amplitude
};

// The ordered pattern's spread per component (offsets of -31 to +32): about
// two steps of the palette's colour ramps (27 to 32 between neighbours). One
// step leaves colours between ramps, such as purples, grey; on the sample the
// blurred error falls from 137 undithered to 106 at 32, 86 at 64, 62 at 128,
// but above 64 the pattern shows as noise over plain areas.
inline constexpr int ordered_dither_amplitude = 64;

inline constexpr std::array<std::array<std::uint8_t, 8>, 8> bayer_matrix = {{
    {0, 32, 8, 40, 2, 34, 10, 42},
    {48, 16, 56, 24, 50, 18, 58, 26},
    {12, 44, 4, 36, 14, 46, 6, 38},
    {60, 28, 52, 20, 62, 30, 54, 22},
    {3, 35, 11, 43, 1, 33, 9, 41},
    {51, 19, 59, 27, 49, 17, 57, 25},
    {15, 47, 7, 39, 13, 45, 5, 37},
    {63, 31, 55, 23, 61, 29, 53, 21},
}};

// n / d rounded to the nearest integer, halves upwards, for any sign of n
// (d > 0): integer division alone would round towards zero.
constexpr int divide_rounding(int n, int d) {
    const int shifted = n + d / 2;
    return shifted >= 0 ? shifted / d : -((-shifted + d - 1) / d);
}

// How the pixels of a picture are given. With a transparent index (0-255)
// and a format with alpha, every pixel whose alpha is below 128 gets that
// index and takes part in no error diffusion.
struct PixelRules {
    qlx_pixel_format format = QLX_BGR;
    int transparent_index = -1;
};

// Maps rows of a picture to palette indices, dithered as the options ask.
class Ditherer {
public:
    // Empty when the memory for its rows cannot be had.
    static std::optional<Ditherer> create(const DitherOptions& options, std::size_t width,
                                          const PixelRules& rules = {});

    // `pixels` is picture row `y` (counted from the top).
    void quantise_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices);

private:
    Ditherer(const DitherOptions& options, std::size_t width, const PixelRules& rules,
             std::unique_ptr<std::int32_t[]> errors, std::unique_ptr<std::uint8_t[]> working);
    template <qlx_pixel_format F>
    void quantise_row_as(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices);
    template <qlx_pixel_format F>
    void diffuse_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices);
    template <qlx_pixel_format F>
    void offset_row(const std::uint8_t* pixels, std::size_t y);
    template <qlx_pixel_format F>
    void mark_transparent(const std::uint8_t* pixels, std::uint8_t* indices) const;

    DitherOptions options_;
    std::size_t width_;
    PixelRules rules_;
    bool keyed_;  // a transparent index applies to this format
    // Floyd-Steinberg: this row's and the next row's carried errors, each
    // width + 2 pixels of 3 components, with one pixel to spare at both ends
    // for the errors that leave the picture.
    std::unique_ptr<std::int32_t[]> errors_;
    std::unique_ptr<std::uint8_t[]> working_;  // ordered: the offset row as RGB, searched whole
};

}  // namespace qlx
