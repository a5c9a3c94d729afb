#include "dithering.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <tuple>

#include "blue_noise.hpp"
#include "linear_light.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"
#include "test_support.hpp"

namespace qlx {
namespace {

using test::Bytes;

// Rounding written another way: halves up, through floating point, which is
// exact for numbers this small.
int rounded(int n, int d) { return static_cast<int>(std::floor(static_cast<double>(n) / d + 0.5)); }

int clamped(int value) { return value < 0 ? 0 : value > 255 ? 255 : value; }

// The palette rule as the references search it: the literal search, or for
// large pictures the table, which a test checks against it on every colour.
using Search = std::uint8_t (*)(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

// Error diffusion with any kernel, plainly: the literal search unless told
// otherwise, whole arrays of carried error, no guard cells, a light table of
// the test's own from the sRGB formula, and its inverse by a scan of all 256
// codes.
struct PlainKernel {
    int divisor;
    std::vector<std::array<int, 3>> taps;  // ahead, down, weight
};
const PlainKernel plain_floyd_steinberg{16, {{1, 0, 7}, {-1, 1, 3}, {0, 1, 5}, {1, 1, 1}}};
const PlainKernel plain_atkinson{8, {{1, 0, 1}, {2, 0, 1}, {-1, 1, 1}, {0, 1, 1}, {1, 1, 1}, {0, 2, 1}}};
const PlainKernel plain_sierra_lite{4, {{1, 0, 2}, {-1, 1, 1}, {0, 1, 1}}};
// The larger kernels, row by row as they are drawn: the pixel's own row
// ahead, then each row below from two behind to two ahead.
const PlainKernel plain_jarvis_judice_ninke{48,
                                            {{1, 0, 7},
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
                                             {2, 2, 1}}};
const PlainKernel plain_stucki{42,
                               {{1, 0, 8},
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
                                {2, 2, 1}}};
const PlainKernel plain_burkes{32, {{1, 0, 8}, {2, 0, 4}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 8}, {1, 1, 4}, {2, 1, 2}}};
const PlainKernel plain_sierra{
    32,
    {{1, 0, 5}, {2, 0, 3}, {-2, 1, 2}, {-1, 1, 4}, {0, 1, 5}, {1, 1, 4}, {2, 1, 2}, {-1, 2, 2}, {0, 2, 3}, {1, 2, 2}}};

int plain_linear(int code) {
    static const std::array<int, 256> light = [] {
        std::array<int, 256> table{};
        for (int c = 0; c < 256; ++c) {
            const double v = c / 255.0;
            table[static_cast<std::size_t>(c)] =
                static_cast<int>(std::lround((v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * 65535));
        }
        return table;
    }();
    return light[static_cast<std::size_t>(code)];
}

int plain_code_of_linear(int linear) {
    int best = 0;
    for (int c = 1; c < 256; ++c) {
        if (std::abs(plain_linear(c) - linear) < std::abs(plain_linear(best) - linear)) best = c;
    }
    return best;
}

// What stable frames hold for each pixel: red, green, blue, the index, and
// whether it is held.
using HeldPixels = std::vector<std::array<int, 5>>;
struct Holding {
    HeldPixels* held = nullptr;
    int tolerance = 0;
};

// With `alphas` (one a pixel), pixels below half alpha get index
// `transparent` and drop what came to them. With `holding`, a pixel within
// the tolerance of its held colour keeps the held index.
Bytes reference_diffusion(const Bytes& pixels, int width, int height, int strength, const PlainKernel& kernel,
                          bool linear, Search search = nearest_palette_index, const Bytes& alphas = {},
                          std::uint8_t transparent = 0, Holding holding = {}) {
    const int top = linear ? 65535 : 255;
    const auto light = [&](int code) { return linear ? plain_linear(code) : code; };
    std::vector<std::vector<int>> carried(static_cast<std::size_t>(height + 2),
                                          std::vector<int>(static_cast<std::size_t>(3 * width), 0));
    Bytes indices(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
        const int direction = y % 2 == 0 ? 1 : -1;
        for (int step = 0; step < width; ++step) {
            const int x = direction == 1 ? step : width - 1 - step;
            const auto at = static_cast<std::size_t>(y * width + x);
            if (!alphas.empty() && alphas[at] < 128) {
                indices[at] = transparent;
                if (holding.held != nullptr) (*holding.held)[at][4] = 0;
                continue;
            }
            int working[3];  // blue, green, red
            int code[3];
            for (int c = 0; c < 3; ++c) {
                const int pixel = pixels[static_cast<std::size_t>(3 * (y * width + x) + c)];
                const int share =
                    rounded(carried[static_cast<std::size_t>(y)][static_cast<std::size_t>(3 * x + c)] * strength,
                            kernel.divisor * 100);
                working[c] = std::clamp(light(pixel) + share, 0, top);
                code[c] = linear ? plain_code_of_linear(working[c]) : working[c];
            }
            std::uint8_t index = search(static_cast<std::uint8_t>(code[2]), static_cast<std::uint8_t>(code[1]),
                                        static_cast<std::uint8_t>(code[0]));
            if (holding.held != nullptr) {
                std::array<int, 5>& cell = (*holding.held)[at];
                const int colour[3] = {pixels[3 * at + 2], pixels[3 * at + 1], pixels[3 * at]};  // red, green, blue
                bool near = cell[4] == 1;
                for (int c = 0; c < 3; ++c)
                    near = near && std::abs(colour[c] - cell[static_cast<std::size_t>(c)]) <= holding.tolerance;
                if (near) {
                    index = static_cast<std::uint8_t>(cell[3]);
                } else {
                    cell = {colour[0], colour[1], colour[2], index, 1};
                }
            }
            indices[at] = index;
            const Colour chosen = palette_colour(index);
            const int error[3] = {working[0] - light(chosen.blue), working[1] - light(chosen.green),
                                  working[2] - light(chosen.red)};
            for (const auto& [ahead, down, weight] : kernel.taps) {
                const int column = x + ahead * direction;
                if (column < 0 || column >= width) continue;
                for (int c = 0; c < 3; ++c) {
                    carried[static_cast<std::size_t>(y + down)][static_cast<std::size_t>(3 * column + c)] +=
                        weight * error[c];
                }
            }
        }
    }
    return indices;
}

// The Bayer matrix built by its recursion, M(2n) = [4M, 4M+2; 4M+3, 4M+1].
// The lowest bits of x and y choose the largest step.
int bayer(int x, int y) {
    constexpr int base[2][2] = {{0, 2}, {3, 1}};
    int value = 0;
    for (int bit = 0; bit < 3; ++bit) value += base[y >> bit & 1][x >> bit & 1] << (2 * (2 - bit));
    return value;
}

Bytes reference_ordered(const Bytes& pixels, int width, int height, int strength,
                        Search search = nearest_palette_index) {
    Bytes indices;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int offset = rounded((2 * bayer(x % 8, y % 8) - 63) * ordered_dither_amplitude * strength, 12800);
            const auto at = static_cast<std::size_t>(3 * (y * width + x));
            indices.push_back(search(static_cast<std::uint8_t>(clamped(pixels[at + 2] + offset)),
                                     static_cast<std::uint8_t>(clamped(pixels[at + 1] + offset)),
                                     static_cast<std::uint8_t>(clamped(pixels[at] + offset))));
        }
    }
    return indices;
}

// The pattern method plainly: every plan worked out afresh for its pixel by
// the literal search, the test's own light table and its inverse, and a
// stable sort. `plan_of` is memoised only where a picture is too large to
// plan every pixel by the literal search.
std::array<std::uint8_t, 16> plain_pattern_plan(int red, int green, int blue, int strength, Search search) {
    const auto widened = [](int code) { return (code & 0xFC) | (code >> 6); };
    const int target[3] = {plain_linear(widened(red)), plain_linear(widened(green)), plain_linear(widened(blue))};
    int error[3] = {0, 0, 0};
    std::vector<std::uint8_t> candidates;
    for (int n = 0; n < 16; ++n) {
        int code[3];
        for (int k = 0; k < 3; ++k) {
            const int share = static_cast<int>(std::floor((strength * error[k] + 100) / 200.0));
            code[k] = plain_code_of_linear(std::clamp(target[k] + share, 0, 65535));
        }
        const std::uint8_t index = search(static_cast<std::uint8_t>(code[0]), static_cast<std::uint8_t>(code[1]),
                                          static_cast<std::uint8_t>(code[2]));
        candidates.push_back(index);
        const Colour chosen = palette_colour(index);
        error[0] += target[0] - plain_linear(chosen.red);
        error[1] += target[1] - plain_linear(chosen.green);
        error[2] += target[2] - plain_linear(chosen.blue);
    }
    const auto luminance = [](std::uint8_t index) {
        const Colour colour = palette_colour(index);
        return 2126.0 * plain_linear(colour.red) + 7152.0 * plain_linear(colour.green) +
               722.0 * plain_linear(colour.blue);
    };
    std::stable_sort(candidates.begin(), candidates.end(), [&](std::uint8_t a, std::uint8_t b) {
        return luminance(a) != luminance(b) ? luminance(a) < luminance(b) : a < b;
    });
    std::array<std::uint8_t, 16> plan{};
    std::copy(candidates.begin(), candidates.end(), plan.begin());
    return plan;
}

Bytes reference_pattern(const Bytes& pixels, int width, int height, int strength, Search search = nearest_palette_index,
                        bool memoised = false) {
    std::map<std::array<int, 3>, std::array<std::uint8_t, 16>> plans;
    Bytes indices;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto at = static_cast<std::size_t>(3 * (y * width + x));
            const int red = pixels[at + 2], green = pixels[at + 1], blue = pixels[at];
            const std::uint8_t nearest = search(static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                                static_cast<std::uint8_t>(blue));
            const Colour colour = palette_colour(nearest);
            if (strength == 0 || (colour.red == red && colour.green == green && colour.blue == blue)) {
                indices.push_back(nearest);
                continue;
            }
            const std::array<int, 3> key = {red >> 2, green >> 2, blue >> 2};
            if (!memoised || plans.count(key) == 0) plans[key] = plain_pattern_plan(red, green, blue, strength, search);
            indices.push_back(plans[key][static_cast<std::size_t>(bayer(x % 8, y % 8) >> 2)]);
        }
    }
    return indices;
}

// The file's rows through a streaming quantiser, in batches of uneven sizes.
Bytes streamed(const Bytes& file, const qlx_options& options) {
    qlx_bmp_layout layout{};
    EXPECT_EQ(qlx_bmp_read_layout(file.data(), file.size(), file.size(), &layout), QLX_OK);
    Bytes indices(layout.width * layout.height);
    qlx_quantiser* quantiser = nullptr;
    EXPECT_EQ(qlx_quantiser_create(layout.width, layout.height, QLX_BGR, &options, &quantiser), QLX_OK);
    const auto stride = static_cast<std::size_t>(layout.row_stride);
    std::mt19937 random(static_cast<unsigned>(layout.width * 31 + layout.height));
    for (std::size_t first = 0; first < layout.height;) {
        const std::size_t rows = std::min<std::size_t>(1 + random() % 7, layout.height - first);
        const std::size_t lowest_stored = layout.top_down ? first : layout.height - first - rows;
        const std::uint8_t* stored = file.data() + layout.pixel_offset + lowest_stored * stride;
        std::uint8_t* out = indices.data() + first * layout.width;
        EXPECT_EQ(layout.top_down
                      ? qlx_quantiser_convert(quantiser, stored, rows, stride, out, rows * layout.width)
                      : qlx_quantiser_convert_bottom_up(quantiser, stored, rows, stride, out, rows * layout.width),
                  QLX_OK);
        first += rows;
    }
    EXPECT_EQ(qlx_quantiser_rows_left(quantiser), 0u);
    qlx_quantiser_destroy(quantiser);
    return indices;
}

// The picture quantised whole, which streaming it must match.
Bytes quantised(const Bytes& pixels, int width, int height, DitherOptions dither, unsigned threads = 0,
                bool top_down = false) {
    const Bytes file = test::make_bmp({.width = width, .height = height, .top_down = top_down, .pixels = pixels});
    qlx_options options = qlx_default_options();
    options.dither = static_cast<qlx_dither>(dither.method);
    options.strength = dither.strength;
    options.light = static_cast<qlx_light>(dither.light);
    options.threads = static_cast<int>(threads);
    Bytes indices(static_cast<std::size_t>(width * height));
    EXPECT_EQ(qlx_from_bmp(file.data(), file.size(), &options, indices.data(), indices.size()), QLX_OK);
    EXPECT_EQ(streamed(file, options), indices) << "streamed in batches";
    return indices;
}

Bytes reference_nearest(const Bytes& pixels, Search search) {
    Bytes indices;
    for (std::size_t i = 0; i < pixels.size(); i += 3)
        indices.push_back(search(pixels[i + 2], pixels[i + 1], pixels[i]));
    return indices;
}

Bytes noise(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Bytes pixels(static_cast<std::size_t>(3 * width * height));
    for (auto& byte : pixels) byte = static_cast<std::uint8_t>(random());
    return pixels;
}

TEST(Dithering, RoundingAndMatrixAreTheDocumentedOnes) {
    for (int n = -5000; n <= 5000; ++n) ASSERT_EQ(divide_rounding(n, 16), rounded(n, 16)) << n;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) EXPECT_EQ(bayer_matrix[std::size_t(y)][std::size_t(x)], bayer(x, y));
    }
}

// Worked by hand. Red 14 lies between black (14 away) and 1B0000 (13 away):
// the first pixel takes 1B0000, whose error -13 makes the second one red 8
// (14 - 91/16 rounded), which is black.
TEST(Dithering, SmallPicturesGiveTheWorkedBytes) {
    const Bytes two_reds = {0, 0, 14, 0, 0, 14};
    EXPECT_EQ(quantised(two_reds, 2, 1, {}), (Bytes{145, 145}));
    EXPECT_EQ(quantised(two_reds, 2, 1, {DitherMethod::floyd_steinberg, 100}), (Bytes{145, 0}));
    // The matrix's first offsets are -63 * 64 / 128 = -31.5, rounded to -31,
    // and +0.5, rounded to +1: red 20 becomes black, then 21 stays 1B0000.
    const Bytes two_dark_reds = {0, 0, 20, 0, 0, 20};
    EXPECT_EQ(quantised(two_dark_reds, 2, 1, {DitherMethod::ordered, 100}), (Bytes{0, 145}));
}

TEST(Dithering, AgreesWithPlainStatementsOfBothMethods) {
    for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {5, 4}, {17, 9}, {64, 11}}) {
        for (const int strength : {0, 37, 100}) {
            for (const Bytes& pixels : {test::gradient_pixels(width, height), noise(width, height, 7)}) {
                EXPECT_EQ(quantised(pixels, width, height, {DitherMethod::floyd_steinberg, strength}),
                          reference_diffusion(pixels, width, height, strength, plain_floyd_steinberg, false))
                    << width << "x" << height << " at " << strength;
                EXPECT_EQ(quantised(pixels, width, height, {DitherMethod::ordered, strength}),
                          reference_ordered(pixels, width, height, strength))
                    << width << "x" << height << " at " << strength;
            }
        }
    }
}

Bytes reference_blue_noise(const Bytes& pixels, int width, int height, int strength) {
    Bytes indices;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int threshold = 2 * blue_noise_mask[y % 64][x % 64] - 4095;
            const int offset = rounded(threshold * ordered_dither_amplitude * strength, 819200);
            const auto at = static_cast<std::size_t>(3 * (y * width + x));
            indices.push_back(nearest_palette_index(static_cast<std::uint8_t>(clamped(pixels[at + 2] + offset)),
                                                    static_cast<std::uint8_t>(clamped(pixels[at + 1] + offset)),
                                                    static_cast<std::uint8_t>(clamped(pixels[at] + offset))));
        }
    }
    return indices;
}

// Worked by hand, on rows of red 14 (between black, 14 away, and 1B0000, 13
// away). Sierra Lite: the first pixel takes 1B0000 (error -13); the second
// gets 14 + round(2 * -13 / 4) = 8, black (error 8); the third 14 + 2 * 8 / 4
// = 18, 1B0000. Atkinson: the second gets 14 + round(-13 / 8) = 12, black;
// the third 14 + round((-13 + 12) / 8) = 14, 1B0000. In linear light red 14
// is 288 and 1B0000's red 718, so the second pixel of Floyd-Steinberg gets
// 288 + round(-430 * 7 / 16) = 100, nearest code 5 (light 99), black.
TEST(Dithering, NewMethodsGiveTheWorkedBytes) {
    const Bytes three_reds = {0, 0, 14, 0, 0, 14, 0, 0, 14};
    EXPECT_EQ(quantised(three_reds, 3, 1, {DitherMethod::sierra_lite, 100}), (Bytes{145, 0, 145}));
    EXPECT_EQ(quantised(three_reds, 3, 1, {DitherMethod::atkinson, 100}), (Bytes{145, 0, 145}));
    EXPECT_EQ(linear_of_code[14], 288);
    EXPECT_EQ(linear_of_code[27], 718);
    EXPECT_EQ(quantised(Bytes{0, 0, 14, 0, 0, 14}, 2, 1, {DitherMethod::floyd_steinberg, 100, DitherLight::linear}),
              (Bytes{145, 0}));
    // Blue noise at (0, 0): the mask's 134 gives round((268 - 4095) * 64 / 8192) = round(-29.9) = -30.
    EXPECT_EQ(blue_noise_mask[0][0], 134);
    EXPECT_EQ(quantised(Bytes{0, 0, 20}, 1, 1, {DitherMethod::blue_noise, 100}), (Bytes{0}));
}

TEST(Dithering, NewMethodsAgreeWithTheirPlainStatements) {
    const std::pair<DitherMethod, const PlainKernel*> diffusion[] = {
        {DitherMethod::floyd_steinberg, &plain_floyd_steinberg},
        {DitherMethod::atkinson, &plain_atkinson},
        {DitherMethod::sierra_lite, &plain_sierra_lite},
        {DitherMethod::jarvis_judice_ninke, &plain_jarvis_judice_ninke},
        {DitherMethod::stucki, &plain_stucki},
        {DitherMethod::burkes, &plain_burkes},
        {DitherMethod::sierra, &plain_sierra}};
    for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {5, 4}, {17, 9}, {70, 11}}) {
        for (const int strength : {0, 37, 100}) {
            for (const Bytes& pixels : {test::gradient_pixels(width, height), noise(width, height, 9)}) {
                for (const auto& [method, kernel] : diffusion) {
                    for (const bool linear : {false, true}) {
                        const DitherLight light = linear ? DitherLight::linear : DitherLight::srgb;
                        EXPECT_EQ(quantised(pixels, width, height, {method, strength, light}),
                                  reference_diffusion(pixels, width, height, strength, *kernel, linear))
                            << "method " << static_cast<int>(method) << (linear ? " linear " : " srgb ") << width << "x"
                            << height << " at " << strength;
                    }
                }
                EXPECT_EQ(quantised(pixels, width, height, {DitherMethod::blue_noise, strength}),
                          reference_blue_noise(pixels, width, height, strength));
                // The patterns are offsets of codes: the light leaves them alone.
                EXPECT_EQ(quantised(pixels, width, height, {DitherMethod::blue_noise, strength, DitherLight::linear}),
                          reference_blue_noise(pixels, width, height, strength));
                EXPECT_EQ(quantised(pixels, width, height, {DitherMethod::ordered, strength, DitherLight::linear}),
                          reference_ordered(pixels, width, height, strength));
            }
        }
    }
}

// A transparent pixel cuts the chains through it: along its row, to the row
// below and, for Atkinson, to the one after. Each kernel meets runs of
// them, at the ends of rows and in the middle.
TEST(Dithering, TransparentPixelsPassNothingOnInEveryKernelAndLight) {
    constexpr int width = 23, height = 9;
    const Bytes colours = noise(width, height, 21);
    Bytes alphas(static_cast<std::size_t>(width * height));
    std::mt19937 random(5);
    for (auto& alpha : alphas) alpha = random() % 4 == 0 ? 127 : 128;
    Bytes bgra;
    for (std::size_t i = 0; i < alphas.size(); ++i) {
        bgra.insert(bgra.end(), {colours[3 * i], colours[3 * i + 1], colours[3 * i + 2], alphas[i]});
    }
    const std::tuple<qlx_dither, const PlainKernel*> kernels[] = {
        {QLX_DITHER_FLOYD_STEINBERG, &plain_floyd_steinberg},
        {QLX_DITHER_ATKINSON, &plain_atkinson},
        {QLX_DITHER_SIERRA_LITE, &plain_sierra_lite},
        {QLX_DITHER_JARVIS_JUDICE_NINKE, &plain_jarvis_judice_ninke},
        {QLX_DITHER_STUCKI, &plain_stucki},
        {QLX_DITHER_BURKES, &plain_burkes},
        {QLX_DITHER_SIERRA, &plain_sierra}};
    for (const auto& [dither, kernel] : kernels) {
        for (const bool linear : {false, true}) {
            qlx_options options = qlx_default_options();
            options.dither = dither;
            options.strength = 80;
            options.light = linear ? QLX_LIGHT_LINEAR : QLX_LIGHT_SRGB;
            options.transparent_index = 7;
            Bytes indices(alphas.size());
            ASSERT_EQ(
                qlx_quantise(bgra.data(), width, height, 4 * width, QLX_BGRA, &options, indices.data(), indices.size()),
                QLX_OK);
            EXPECT_EQ(indices, reference_diffusion(colours, width, height, 80, *kernel, linear, nearest_palette_index,
                                                   alphas, 7))
                << "method " << dither << (linear ? " linear" : " srgb");
        }
    }
}

// The linear table rises strictly and gives back every code; the inverse
// picks the nearest code, the lower one at halfway.
TEST(Dithering, LinearLightTablesRoundTripEveryCode) {
    for (int code = 0; code < 256; ++code) {
        EXPECT_EQ(linear_of_code[static_cast<std::size_t>(code)], plain_linear(code)) << code;
        EXPECT_EQ(code_of_linear(linear_of_code[static_cast<std::size_t>(code)]), code) << code;
        if (code > 0) {
            EXPECT_GT(linear_of_code[static_cast<std::size_t>(code)],
                      linear_of_code[static_cast<std::size_t>(code - 1)]);
        }
    }
    // The table for error diffusion clamps values up to linear_max beyond either end.
    const auto& clamped = code_of_each_clamped_linear();
    ASSERT_EQ(clamped.size(), 3 * std::size_t{linear_max} + 1);
    for (std::size_t below = 0; below < linear_max; ++below) ASSERT_EQ(clamped[below], 0) << below;
    for (std::size_t above = 2 * linear_max + 1; above < clamped.size(); ++above)
        ASSERT_EQ(clamped[above], 255) << above;
    for (std::uint32_t linear = 0; linear <= linear_max; ++linear) {
        ASSERT_EQ(clamped[linear + linear_max], code_of_linear(linear)) << linear;
        if (linear % 7 == 0) {
            ASSERT_EQ(code_of_linear(linear), plain_code_of_linear(static_cast<int>(linear))) << linear;
        }
    }
}

// Every rank once; the hash pins the generator's output, so a change of
// method, seed or arithmetic shows here. Cells 8 apart are as unlike as any
// two (Bayer's crosshatch would make them alike), neighbours more unlike.
TEST(Dithering, BlueNoiseMaskHoldsTheDocumentedValues) {
    std::vector<bool> seen(blue_noise_levels, false);
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a over each value's low byte, then high byte
    for (const auto& row : blue_noise_mask) {
        for (const std::uint16_t value : row) {
            ASSERT_LT(value, blue_noise_levels);
            EXPECT_FALSE(seen[value]) << value;
            seen[value] = true;
            hash = (hash ^ (value & 255u)) * 1099511628211ull;
            hash = (hash ^ (value >> 8)) * 1099511628211ull;
        }
    }
    EXPECT_EQ(hash, 0xa9394289191a52a7ull);
    double apart_8 = 0, apart_1 = 0;
    for (int y = 0; y < blue_noise_side; ++y) {
        for (int x = 0; x < blue_noise_side; ++x) {
            apart_8 += std::abs(blue_noise_mask[y][x] - blue_noise_mask[y][(x + 8) % 64]);
            apart_1 += std::abs(blue_noise_mask[y][x] - blue_noise_mask[y][(x + 1) % 64]);
        }
    }
    // Two ranks drawn at random are 4096 / 3 = 1365 apart on average.
    EXPECT_GT(apart_8 / blue_noise_levels, 1250);
    EXPECT_GT(apart_1 / blue_noise_levels, 1550);
}

// Only pictures of a million pixels or more are shared among threads, and
// only those over a batch (2 MiB of rows) are read in several: this one is
// both, with a partial last batch and padded rows. Every method, on any
// number of threads and in either row order, must still be its plain statement.
TEST(Dithering, LargePicturesAgreeWithThePlainStatementsOnAnyNumberOfThreads) {
    constexpr int width = 1021, height = 1050;  // rows of 3063 bytes, padded to 3064; batches of 684 rows
    const Bytes pixels = noise(width, height, 13);
    const std::pair<DitherOptions, Bytes> methods[] = {
        {{DitherMethod::none, 100}, reference_nearest(pixels, nearest_index)},
        {{DitherMethod::floyd_steinberg, 100},
         reference_diffusion(pixels, width, height, 100, plain_floyd_steinberg, false, nearest_index)},
        {{DitherMethod::ordered, 60}, reference_ordered(pixels, width, height, 60, nearest_index)},
        {{DitherMethod::blue_noise, 100}, reference_blue_noise(pixels, width, height, 100)},
    };
    for (const auto& [options, expected] : methods) {
        for (const unsigned threads : {1u, 2u, 3u}) {
            for (const bool top_down : {false, true}) {
                EXPECT_TRUE(quantised(pixels, width, height, options, threads, top_down) == expected)
                    << "method " << static_cast<int>(options.method) << ", " << threads << " threads"
                    << (top_down ? ", top-down" : ", bottom-up");
            }
        }
    }
}

TEST(Dithering, StrengthZeroGivesTheUnditheredBytes) {
    const Bytes pixels = noise(33, 20, 3);
    const Bytes plain = quantised(pixels, 33, 20, {});
    for (const DitherMethod method : {DitherMethod::floyd_steinberg, DitherMethod::ordered, DitherMethod::atkinson,
                                      DitherMethod::sierra_lite, DitherMethod::blue_noise, DitherMethod::pattern}) {
        for (const DitherLight light : {DitherLight::srgb, DitherLight::linear}) {
            EXPECT_EQ(quantised(pixels, 33, 20, {method, 0, light}), plain) << static_cast<int>(method);
        }
    }
}

TEST(Dithering, PalettePicturesComeThroughFloydSteinbergUnchanged) {
    std::mt19937 random(11);
    Bytes pixels;
    for (int i = 0; i < 40 * 30; ++i) {
        const Colour colour = palette_colour(static_cast<std::uint8_t>(random()));
        pixels.insert(pixels.end(), {colour.blue, colour.green, colour.red});
    }
    const Bytes plain = quantised(pixels, 40, 30, {});
    for (const DitherMethod method :
         {DitherMethod::floyd_steinberg, DitherMethod::atkinson, DitherMethod::sierra_lite}) {
        for (const DitherLight light : {DitherLight::srgb, DitherLight::linear}) {
            EXPECT_EQ(quantised(pixels, 40, 30, {method, 100, light}), plain) << static_cast<int>(method);
        }
    }
}

}  // namespace
}  // namespace qlx

namespace qlx {
namespace {

// Frames of a clip: the first picture with ±3 of noise on every component
// of every frame, a block that moves three pixels a frame, and (with alpha)
// a column that blinks transparent.
struct Clip {
    int width, height;
    std::vector<Bytes> frames;  // blue, green, red, alpha
};
Clip noisy_clip(int width, int height, int frame_count) {
    Clip clip{width, height, {}};
    const Bytes base = noise(width, height, 21);
    std::mt19937 random(5);
    for (int f = 0; f < frame_count; ++f) {
        Bytes frame;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool in_block = x >= 3 * f && x < 3 * f + 6 && y >= 2 && y < 7;
                for (int c = 0; c < 3; ++c) {
                    const int code = base[static_cast<std::size_t>(3 * (y * width + x) + c)];
                    const int shaken = clamped(code + static_cast<int>(random() % 7) - 3);
                    frame.push_back(static_cast<std::uint8_t>(in_block ? 40 * c + 90 : shaken));
                }
                frame.push_back(x == width / 2 && f % 2 == 1 ? 0 : 255);
            }
        }
        clip.frames.push_back(frame);
    }
    return clip;
}

Bytes without_alpha(const Bytes& bgra) {
    Bytes bgr;
    for (std::size_t i = 0; i < bgra.size(); i += 4) bgr.insert(bgr.end(), {bgra[i], bgra[i + 1], bgra[i + 2]});
    return bgr;
}
Bytes alphas_of(const Bytes& bgra) {
    Bytes alphas;
    for (std::size_t i = 3; i < bgra.size(); i += 4) alphas.push_back(bgra[i]);
    return alphas;
}

// Stable frames: each frame through qlx_convert_frame with the memory
// carried on, against error diffusion plainly stated with the held colours
// and indices beside it, for every kernel, light, strength, tolerance, and
// with and without a transparent index.
TEST(StableFrames, AgreeWithTheirPlainStatement) {
    const Clip clip = noisy_clip(23, 11, 5);
    const std::pair<qlx_dither, const PlainKernel*> kernels[] = {{QLX_DITHER_FLOYD_STEINBERG, &plain_floyd_steinberg},
                                                                 {QLX_DITHER_ATKINSON, &plain_atkinson},
                                                                 {QLX_DITHER_SIERRA_LITE, &plain_sierra_lite},
                                                                 {QLX_DITHER_STUCKI, &plain_stucki}};
    const std::size_t pixels = static_cast<std::size_t>(clip.width * clip.height);
    for (const auto& [method, kernel] : kernels) {
        for (const bool linear : {false, true}) {
            for (const int strength : {37, 100}) {
                for (const int tolerance : {1, QLX_STABLE_TOLERANCE, 40}) {
                    for (const int transparent : {-1, 200}) {
                        qlx_options options = qlx_default_options();
                        options.dither = method;
                        options.light = linear ? QLX_LIGHT_LINEAR : QLX_LIGHT_SRGB;
                        options.strength = strength;
                        options.stable = tolerance;
                        options.transparent_index = transparent;
                        Bytes memory(pixels * QLX_FRAME_MEMORY_PIXEL_BYTES, 0);
                        HeldPixels held(pixels, {0, 0, 0, 0, 0});
                        for (std::size_t f = 0; f < clip.frames.size(); ++f) {
                            const Bytes& frame = clip.frames[f];
                            const qlx_picture picture{frame.data(),
                                                      static_cast<std::size_t>(clip.width),
                                                      static_cast<std::size_t>(clip.height),
                                                      static_cast<std::size_t>(4 * clip.width),
                                                      QLX_BGRA,
                                                      nullptr,
                                                      0,
                                                      nullptr};
                            Bytes indices(pixels);
                            ASSERT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(),
                                                        memory.size(), indices.data(), indices.size()),
                                      QLX_OK);
                            const Bytes expected = reference_diffusion(
                                without_alpha(frame), clip.width, clip.height, strength, *kernel, linear,
                                nearest_palette_index, transparent >= 0 ? alphas_of(frame) : Bytes{},
                                static_cast<std::uint8_t>(transparent), {&held, tolerance});
                            ASSERT_EQ(indices, expected)
                                << "method " << method << (linear ? " linear" : " srgb") << " at " << strength
                                << ", tolerance " << tolerance << ", transparent " << transparent << ", frame " << f;
                        }
                    }
                }
            }
        }
    }
}

// Noise within the tolerance is held still: every pixel outside the moving
// block keeps its first index, while frame by frame diffusion changes many.
TEST(StableFrames, HoldNoiseStillAndFollowWhatMoves) {
    const Clip clip = noisy_clip(40, 12, 4);
    const std::size_t pixels = static_cast<std::size_t>(clip.width * clip.height);
    qlx_options options = qlx_default_options();
    options.dither = QLX_DITHER_FLOYD_STEINBERG;
    options.alpha = QLX_ALPHA_COMPOSITE;
    Bytes memory(pixels * QLX_FRAME_MEMORY_PIXEL_BYTES, 0);
    std::vector<Bytes> stable, alone;
    for (const Bytes& frame : clip.frames) {
        const qlx_picture picture{frame.data(),
                                  static_cast<std::size_t>(clip.width),
                                  static_cast<std::size_t>(clip.height),
                                  static_cast<std::size_t>(4 * clip.width),
                                  QLX_BGRA,
                                  nullptr,
                                  0,
                                  nullptr};
        Bytes indices(pixels);
        options.stable = QLX_STABLE_TOLERANCE;
        ASSERT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size(),
                                    indices.data(), indices.size()),
                  QLX_OK);
        stable.push_back(indices);
        // Without memory every frame stands alone, whatever `stable` says.
        ASSERT_EQ(qlx_convert(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size()), QLX_OK);
        alone.push_back(indices);
    }
    EXPECT_EQ(stable[0], alone[0]);
    std::size_t changed_alone = 0;
    for (std::size_t f = 1; f < clip.frames.size(); ++f) {
        for (int y = 0; y < clip.height; ++y) {
            for (int x = 0; x < clip.width; ++x) {
                const auto at = static_cast<std::size_t>(y * clip.width + x);
                // Never under the block, and not the blinking column.
                const bool still = (y < 2 || y >= 7 || x >= static_cast<int>(3 * f) + 6) && x != clip.width / 2;
                if (still) {
                    EXPECT_EQ(stable[f][at], stable[0][at]) << "frame " << f << " at " << x << ", " << y;
                }
                changed_alone += alone[f][at] != alone[f - 1][at];
            }
        }
    }
    EXPECT_GT(changed_alone, pixels);  // a third of the pixels a frame, at least
}

// The memory is asked for only where it is used, checked before anything is
// written, and cleared by a frame whose indices are kept.
TEST(StableFrames, MemoryIsCheckedAndClearedByKeptIndices) {
    const Bytes pixels = noise(8, 4, 2);
    const qlx_picture picture{pixels.data(), 8, 4, 24, QLX_BGR, nullptr, 0, nullptr};
    qlx_options options = qlx_default_options();
    options.dither = QLX_DITHER_FLOYD_STEINBERG;
    options.stable = QLX_STABLE_TOLERANCE;
    Bytes memory(32 * QLX_FRAME_MEMORY_PIXEL_BYTES, 7), indices(32, 9);
    EXPECT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, nullptr, memory.size(), indices.data(), 32),
              QLX_NULL_POINTER);
    EXPECT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, nullptr, 0, indices.data(), 32),
              QLX_CAPACITY_TOO_SMALL);
    EXPECT_EQ(
        qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size() - 1, indices.data(), 32),
        QLX_CAPACITY_TOO_SMALL);
    options.stable = 256;
    EXPECT_EQ(
        qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size(), indices.data(), 32),
        QLX_STABLE_OUT_OF_RANGE);
    EXPECT_EQ(qlx_check_options(&options), QLX_STABLE_OUT_OF_RANGE);
    EXPECT_EQ(memory, Bytes(memory.size(), 7));
    EXPECT_EQ(indices, Bytes(32, 9));
    // The pattern methods hold still already: no memory, the bytes of qlx_convert.
    options.stable = QLX_STABLE_TOLERANCE;
    options.dither = QLX_DITHER_ORDERED;
    Bytes alone(32);
    ASSERT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, nullptr, 0, indices.data(), 32), QLX_OK);
    ASSERT_EQ(qlx_convert(&picture, &options, QLX_FIT_KEEP, 0, 0, alone.data(), 32), QLX_OK);
    EXPECT_EQ(indices, alone);
    // A frame in our palette keeps its indices and clears what was held.
    options.dither = QLX_DITHER_FLOYD_STEINBERG;
    Bytes ours(4 * 256);
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
        ours[4 * i] = static_cast<std::uint8_t>(colour >> 16), ours[4 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
        ours[4 * i + 2] = static_cast<std::uint8_t>(colour);
        ours[4 * i + 3] = 255;
    }
    const Bytes kept(32, 80);
    const qlx_picture indexed{kept.data(), 8, 4, 8, QLX_RGB, ours.data(), 256, nullptr};
    ASSERT_EQ(
        qlx_convert_frame(&indexed, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size(), indices.data(), 32),
        QLX_OK);
    EXPECT_EQ(indices, kept);
    EXPECT_EQ(memory, Bytes(memory.size(), 0));
}

}  // namespace
}  // namespace qlx

namespace qlx {
namespace {

// The clamp keeps the larger kernels' errors from piling up: a flat area of
// a colour between the palette's, near the ends of the range (where part of
// the error cannot be carried out at all), comes out with the mean light
// Floyd-Steinberg gives it, within a percent of the range, in every light;
// and a colour inside the palette's range comes out with its own.
TEST(Dithering, FlatAreasHoldTheirToneInTheLargerKernels) {
    constexpr int side = 96;
    for (const auto& colour :
         {std::array<int, 3>{240, 236, 20}, std::array<int, 3>{6, 252, 249}, std::array<int, 3>{100, 120, 90}}) {
        Bytes pixels;
        for (int i = 0; i < side * side; ++i) {
            pixels.insert(pixels.end(), {static_cast<std::uint8_t>(colour[2]), static_cast<std::uint8_t>(colour[1]),
                                         static_cast<std::uint8_t>(colour[0])});
        }
        for (const DitherLight light : {DitherLight::srgb, DitherLight::linear}) {
            const auto measure = [&](int code) { return light == DitherLight::linear ? plain_linear(code) : code; };
            const auto means = [&](DitherMethod method) {
                std::array<double, 3> sums{};
                for (const std::uint8_t index : quantised(pixels, side, side, {method, 100, light})) {
                    const Colour chosen = palette_colour(index);
                    sums[0] += measure(chosen.red), sums[1] += measure(chosen.green), sums[2] += measure(chosen.blue);
                }
                for (double& sum : sums) sum /= side * side;
                return sums;
            };
            const double range = light == DitherLight::linear ? 65535 : 255;
            const std::array<double, 3> reference = means(DitherMethod::floyd_steinberg);
            for (const DitherMethod method : {DitherMethod::jarvis_judice_ninke, DitherMethod::stucki,
                                              DitherMethod::burkes, DitherMethod::sierra}) {
                const std::array<double, 3> got = means(method);
                for (std::size_t c = 0; c < 3; ++c) {
                    EXPECT_NEAR(got[c], reference[c], range / 100)
                        << "method " << static_cast<int>(method) << " component " << c;
                    if (colour[0] == 100) {
                        EXPECT_NEAR(got[c], measure(colour[c]), range / 100) << "method " << static_cast<int>(method);
                    }
                }
            }
        }
    }
}

// The pattern method against its plain statement: every colour of a grid
// (a step of 17 in each component: 4096 colours over every place of the
// matrix), palette colours and their neighbours, and the sample, at
// several strengths.
TEST(PatternMethod, AgreesWithItsPlainStatement) {
    Bytes grid;
    for (int red = 0; red < 256; red += 17) {
        for (int green = 0; green < 256; green += 17) {
            for (int blue = 0; blue < 256; blue += 17) {
                grid.insert(grid.end(), {static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                                         static_cast<std::uint8_t>(red)});
            }
        }
    }
    Bytes palette_colours;  // each palette colour, then one code away in each component
    for (int i = 0; i < palette_size; ++i) {
        const Colour c = palette_colour(static_cast<std::uint8_t>(i));
        const auto off = [](int code) { return static_cast<std::uint8_t>(code == 255 ? 254 : code + 1); };
        palette_colours.insert(palette_colours.end(), {c.blue, c.green, c.red, c.blue, c.green, off(c.red), off(c.blue),
                                                       c.green, c.red, c.blue, off(c.green), c.red});
    }
    for (const int strength : {100, 61, 1}) {
        EXPECT_EQ(quantised(grid, 64, 64, {DitherMethod::pattern, strength}), reference_pattern(grid, 64, 64, strength))
            << "grid at " << strength;
        EXPECT_EQ(quantised(palette_colours, 32, 32, {DitherMethod::pattern, strength}),
                  reference_pattern(palette_colours, 32, 32, strength))
            << "palette colours at " << strength;
    }
    const Bytes sample = test::read_file(PAL_SAMPLE_BMP);
    qlx_bmp_layout layout{};
    ASSERT_EQ(qlx_bmp_read_layout(sample.data(), sample.size(), sample.size(), &layout), QLX_OK);
    const int width = static_cast<int>(layout.width), height = static_cast<int>(layout.height);
    Bytes pixels;  // top row first
    for (int y = height - 1; y >= 0; --y) {
        const std::uint8_t* row = sample.data() + layout.pixel_offset + static_cast<std::size_t>(y) * layout.row_stride;
        pixels.insert(pixels.end(), row, row + 3 * width);
    }
    EXPECT_TRUE(quantised(pixels, width, height, {DitherMethod::pattern, 100}) ==
                reference_pattern(pixels, width, height, 100, nearest_index, true));
}

// What the method is for: palette colours come through exactly, so flat
// art keeps its colours, while a colour between them is mixed so that the
// average light of a tile comes close to its own.
TEST(PatternMethod, KeepsPaletteColoursAndMixesTheOthers) {
    Bytes art;
    std::mt19937 random(5);
    for (int i = 0; i < 40 * 24; ++i) {
        const Colour c = palette_colour(static_cast<std::uint8_t>(random() % 7 * 37));
        art.insert(art.end(), {c.blue, c.green, c.red});
    }
    EXPECT_EQ(quantised(art, 40, 24, {DitherMethod::pattern, 100}), reference_nearest(art, nearest_palette_index));
    // The worked example of the format's description.
    EXPECT_EQ(
        quantised(Bytes{60, 120, 200, 60, 120, 200, 60, 120, 200, 60, 120, 200}, 4, 1, {DitherMethod::pattern, 100}),
        (Bytes{35, 36, 35, 68}));
    for (const auto& colour : {std::array<int, 3>{200, 120, 60}, std::array<int, 3>{90, 40, 140}}) {
        Bytes tile;
        for (int i = 0; i < 64; ++i) {
            tile.insert(tile.end(), {static_cast<std::uint8_t>(colour[2]), static_cast<std::uint8_t>(colour[1]),
                                     static_cast<std::uint8_t>(colour[0])});
        }
        std::array<double, 3> mean{};
        for (const std::uint8_t index : quantised(tile, 8, 8, {DitherMethod::pattern, 100})) {
            const Colour chosen = palette_colour(index);
            mean[0] += plain_linear(chosen.red) / 64.0;
            mean[1] += plain_linear(chosen.green) / 64.0;
            mean[2] += plain_linear(chosen.blue) / 64.0;
        }
        const Colour nearest = palette_colour(nearest_palette_index(static_cast<std::uint8_t>(colour[0]),
                                                                    static_cast<std::uint8_t>(colour[1]),
                                                                    static_cast<std::uint8_t>(colour[2])));
        const int nearest_light[3] = {plain_linear(nearest.red), plain_linear(nearest.green),
                                      plain_linear(nearest.blue)};
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_LE(std::abs(mean[k] - plain_linear(colour[k])),
                      std::abs(nearest_light[k] - plain_linear(colour[k])) / 2.0 + 400)
                << "component " << k;
        }
    }
}

}  // namespace
}  // namespace qlx
