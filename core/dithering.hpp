#pragma once
// Optional dithering. Integers only, no randomness: the same
// picture and options give the same bytes on every system and build, on any
// number of threads. docs/qlx-format.md states every method byte for byte.
//
// Rows are taken top row first; x counts from the left, y from the top.
// divide_rounding(n, d) is n / d rounded to the nearest integer, halves up.
//
// Error diffusion (Floyd-Steinberg, Atkinson, Sierra Lite), serpentine: row
// y runs left to right when y is even and right to left when it is odd. In
// sRGB light each component of a pixel gets
//     working = clamp(pixel + divide_rounding(carried * strength, divisor * 100), 0, 255)
// where `carried` is the error diffused to the pixel so far, in units of
// 1/divisor. The pixel's index is the nearest colour to `working`, and the
// error working - palette colour goes on to the kernel's neighbours times
// their weights (ahead counted along the row's direction). Errors that would
// leave the picture are dropped; three rows of errors are kept.
//
//     Floyd-Steinberg  /16: ahead 7; below-behind 3, below 5, below-ahead 1
//     Atkinson          /8: ahead 1, two ahead 1; below-behind 1, below 1,
//                           below-ahead 1; two below 1 (3/4 of the error)
//     Sierra Lite       /4: ahead 2; below-behind 1, below 1
//
// In linear light the same steps run on L(code) = linear_of_code[code]
// (16 bits): working = clamp(L(pixel) + divide_rounding(carried * strength,
// divisor * 100), 0, 65535), the colour searched is code_of_linear(working)
// for each component, and the error is working - L(palette colour).
//
// Ordered: with the 8 x 8 Bayer matrix M (values 0 to 63) every component of
// the pixel at (x, y) gets
//     working = clamp(pixel + divide_rounding((2 * M[y % 8][x % 8] - 63) * amplitude * strength, 12800), 0, 255)
// so offsets spread evenly over about +-amplitude / 2, the same for all three
// components. Blue noise is the same with the 64 x 64 mask B (0 to 4095):
//     working = clamp(pixel + divide_rounding((2 * B[y % 64][x % 64] - 4095) * amplitude * strength, 819200), 0, 255)
// Both are offsets of codes, so the light does not change them.
//
// Pattern: each pixel takes one of sixteen indices that mix, in linear
// light, to its colour (pattern_plans.hpp), chosen by M; the light does not
// change it either.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "arithmetic.hpp"
#include "pattern_plans.hpp"
#include "qlx.h"
#include "result.hpp"

namespace qlx {

// The values of qlx_dither.
enum class DitherMethod {
    none = QLX_DITHER_NONE,
    floyd_steinberg = QLX_DITHER_FLOYD_STEINBERG,
    ordered = QLX_DITHER_ORDERED,
    atkinson = QLX_DITHER_ATKINSON,
    sierra_lite = QLX_DITHER_SIERRA_LITE,
    blue_noise = QLX_DITHER_BLUE_NOISE,
    jarvis_judice_ninke = QLX_DITHER_JARVIS_JUDICE_NINKE,
    stucki = QLX_DITHER_STUCKI,
    burkes = QLX_DITHER_BURKES,
    sierra = QLX_DITHER_SIERRA,
    pattern = QLX_DITHER_PATTERN,
    last = pattern
};

// The values of qlx_light: where error diffusion adds errors up.
enum class DitherLight { srgb = QLX_LIGHT_SRGB, linear = QLX_LIGHT_LINEAR };

inline constexpr int max_dither_strength = 100;  // percent

struct DitherOptions {
    DitherMethod method = DitherMethod::none;
    int strength = max_dither_strength;  // share of the diffused error, or of the pattern's amplitude
    DitherLight light = DitherLight::srgb;
};

// Whether a method diffuses errors from pixel to pixel, which chains each
// row to the one before.
constexpr bool diffuses_errors(DitherMethod method) {
    return method != DitherMethod::none && method != DitherMethod::ordered && method != DitherMethod::blue_noise &&
           method != DitherMethod::pattern;
}

// An error-diffusion kernel: where each share of a pixel's error goes,
// `ahead` counted along the row's direction, and the divisor of the weights.
struct DiffusionTap {
    int ahead, down, weight;
};
inline constexpr std::size_t max_kernel_taps = 12;
struct DiffusionKernel {
    int divisor;
    int tap_count;
    std::array<DiffusionTap, max_kernel_taps> taps;
};
inline constexpr DiffusionKernel floyd_steinberg_kernel = {16, 4, {{{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}}};
inline constexpr DiffusionKernel atkinson_kernel = {
    8, 6, {{{1, 0, 1}, {2, 0, 1}, {-1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}}}};
inline constexpr DiffusionKernel sierra_lite_kernel = {4, 3, {{{1, 0, 2}, {-1, 1, 1}, {0, 1, 1}}}};
inline constexpr DiffusionKernel jarvis_judice_ninke_kernel = {48,
                                                               12,
                                                               {{{1, 0, 7},
                                                                 {2, 0, 5},
                                                                 {-2, 1, 3},
                                                                 {-1, 1, 5},
                                                                 {0, 1, 7},
                                                                 {1, 1, 5},
                                                                 {2, 1, 3},
                                                                 {-2, 2, 1},
                                                                 {-1, 2, 3},
                                                                 {0, 2, 5},
                                                                 {1, 2, 3},
                                                                 {2, 2, 1}}}};
inline constexpr DiffusionKernel stucki_kernel = {42,
                                                  12,
                                                  {{{1, 0, 8},
                                                    {2, 0, 4},
                                                    {-2, 1, 2},
                                                    {-1, 1, 4},
                                                    {0, 1, 8},
                                                    {1, 1, 4},
                                                    {2, 1, 2},
                                                    {-2, 2, 1},
                                                    {-1, 2, 2},
                                                    {0, 2, 4},
                                                    {1, 2, 2},
                                                    {2, 2, 1}}}};
inline constexpr DiffusionKernel burkes_kernel = {
    32, 7, {{{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}}};
inline constexpr DiffusionKernel sierra_kernel = {32,
                                                  10,
                                                  {{{1, 0, 5},
                                                    {2, 0, 3},
                                                    {-2, 1, 2},
                                                    {-1, 1, 4},
                                                    {0, 1, 5},
                                                    {1, 1, 4},
                                                    {2, 1, 2},
                                                    {-1, 2, 2},
                                                    {0, 2, 3},
                                                    {1, 2, 2}}}};
// The farthest a kernel reaches: rows below, and pixels to either side.
inline constexpr int max_diffusion_down = 2;
inline constexpr int max_diffusion_ahead = 2;

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

// How the pixels of a picture are given. With a transparent index (0-255)
// and a format with alpha, every pixel whose alpha is below 128 gets that
// index and takes part in no error diffusion.
struct PixelRules {
    qlx_pixel_format format = QLX_BGR;
    int transparent_index = -1;
};

// What error diffusion carries from one frame of an animation to the next
// (qlx_options.stable): for each pixel, memory_pixel_bytes bytes: the red,
// green and blue the index was chosen for, the index, and 1 if they are
// held (0 for none). A pixel whose colour is within `tolerance` of the
// held colour in every component keeps the held index; any other is
// chosen afresh and held. The error of every pixel is diffused as usual.
struct FrameMemory {
    std::uint8_t* cells = nullptr;  // the first row's; none when frames are not stable
    std::size_t stride = 0;         // bytes from one row's cells to the next's
    int tolerance = 0;
};
inline constexpr std::size_t memory_pixel_bytes = QLX_FRAME_MEMORY_PIXEL_BYTES;

// What a ditherer keeps: its choices, and for error diffusion the rows of
// errors and this row's numerators. The row functions in dithering.cpp
// work on it.
struct DitherState {
    DitherOptions options;
    std::size_t width = 0;
    int transparent_index = -1;
    bool marks_transparent = false;  // a transparent index applies to this format
    // Error diffusion. Each palette colour in the working light times the
    // weight of the next pixel along the row, at this strength: 256 reds,
    // then 256 greens, then 256 blues.
    std::unique_ptr<std::int32_t[]> weighted_palette;
    // Each pixel's error as it passed it on, times the strength unless that
    // is full, for this row and the two above, each row width + 4 pixels of
    // 3 components, with two pixels of zeros at both ends for the errors
    // that would come from outside the picture.
    std::unique_ptr<std::int32_t[]> errors;
    // This row's components, scaled by the kernel's divisor, plus all that
    // the rows above diffused to them: what is left to add along the row is
    // the error of the pixels just before.
    std::unique_ptr<std::uint32_t[]> numerators;
    // Stable frames: the memory, and for this row the index each pixel
    // keeps, or -1 for one chosen afresh.
    FrameMemory memory;
    std::unique_ptr<std::int16_t[]> held;
    // The pattern method's plans.
    std::optional<PatternPlans> plans;
};

// Maps rows of a picture to palette indices, dithered as the options ask.
class Ditherer {
public:
    // QLX_OUT_OF_MEMORY when the memory for its rows cannot be had.
    static Result<Ditherer> create(const DitherOptions& options, std::size_t width, const PixelRules& rules = {},
                                   const FrameMemory& memory = {});

    // `pixels` is picture row `y` (counted from the top). Error diffusion
    // takes the rows in order from row 0.
    void quantise_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
        convert_row_(state_, pixels, y, indices);
    }

    // Converts one row; chosen once, for the format, method, light and
    // strength, from one table.
    using RowFunction = void (*)(DitherState& state, const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices);

private:
    Ditherer(DitherState state, RowFunction convert_row) : state_(std::move(state)), convert_row_(convert_row) {}

    DitherState state_;
    RowFunction convert_row_;
};

}  // namespace qlx
