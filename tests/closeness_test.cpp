// The figures of qlx_closeness_of: CIEDE2000 against published pairs, and
// the blur, the error and the exact share against a plain statement of
// them over the whole picture.
#include "closeness.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "linear_light.hpp"
#include "palette.hpp"
#include "test_support.hpp"

namespace qlx {
namespace {

using test::Bytes;

// Pairs from the worked data published with the CIEDE2000 formula's
// implementation notes: hue on either side of 0 and 180 degrees, grey
// against colour, and large differences.
TEST(Closeness, Ciede2000MatchesThePublishedPairs) {
    struct Pair {
        double l1, a1, b1, l2, a2, b2, difference;
    };
    const Pair pairs[] = {
        {50.0, 2.6772, -79.7751, 50.0, 0.0, -82.7485, 2.0425},
        {50.0, 3.1571, -77.2803, 50.0, 0.0, -82.7485, 2.8615},
        {50.0, 2.8361, -74.0200, 50.0, 0.0, -82.7485, 3.4412},
        {50.0, 0.0, 0.0, 50.0, -1.0, 2.0, 2.3669},
        {50.0, 2.5, 0.0, 73.0, 25.0, -18.0, 27.1492},
        {50.0, 2.5, 0.0, 61.0, -5.0, 29.0, 22.8977},
        {50.0, 2.5, 0.0, 56.0, -27.0, -3.0, 31.9030},
        {50.0, 2.5, 0.0, 58.0, 24.0, 15.0, 19.4535},
        {50.0, 2.5, 0.0, 50.0, 3.1736, 0.5854, 1.0000},
        {60.2574, -34.0099, 36.2677, 60.4626, -34.1751, 39.4387, 1.2644},
        {63.0109, -31.0961, -5.8663, 62.8187, -29.7946, -4.0864, 1.2630},
        {2.0776, 0.0795, -1.1350, 0.9033, -0.0636, -0.5514, 0.9082},
    };
    for (const Pair& p : pairs) {
        EXPECT_NEAR(ciede2000(p.l1, p.a1, p.b1, p.l2, p.a2, p.b2), p.difference, 5e-5) << p.l1 << " " << p.a2;
        EXPECT_NEAR(ciede2000(p.l2, p.a2, p.b2, p.l1, p.a1, p.b1), p.difference, 5e-5) << "swapped";
    }
    EXPECT_EQ(ciede2000(40, 10, -20, 40, 10, -20), 0.0);
}

// The figures over every pixel, plainly: whole pictures of linear light
// blurred in doubles by the binomial kernel, edges repeated.
struct Plain {
    double blurred_error, exact_share;
    std::size_t measured;
};
Plain plain_figures(const Bytes& rgb, const Bytes& indices, int width, int height) {
    const auto blur = [&](const std::vector<double>& light) {
        const double kernel[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
        std::vector<double> along(light.size()), out(light.size());
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int k = -2; k <= 2; ++k)
                        sum += kernel[k + 2] *
                               light[static_cast<std::size_t>(3 * (y * width + std::clamp(x + k, 0, width - 1)) + c)];
                    along[static_cast<std::size_t>(3 * (y * width + x) + c)] = sum;
                }
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int k = -2; k <= 2; ++k)
                        sum += kernel[k + 2] *
                               along[static_cast<std::size_t>(3 * (std::clamp(y + k, 0, height - 1) * width + x) + c)];
                    out[static_cast<std::size_t>(3 * (y * width + x) + c)] = sum;
                }
        return out;
    };
    std::vector<double> original, result;
    std::size_t exact = 0;
    for (std::size_t p = 0; p < indices.size(); ++p) {
        const Colour chosen = palette_colour(indices[p]);
        const std::uint8_t codes[3] = {chosen.red, chosen.green, chosen.blue};
        bool same = true;
        for (std::size_t c = 0; c < 3; ++c) {
            original.push_back(255.0 * linear_of_code[rgb[3 * p + c]] / linear_max);
            result.push_back(255.0 * linear_of_code[codes[c]] / linear_max);
            same = same && rgb[3 * p + c] == codes[c];
        }
        if (same) ++exact;
    }
    const std::vector<double> a = blur(original), b = blur(result);
    double squared = 0;
    for (std::size_t i = 0; i < a.size(); ++i) squared += (a[i] - b[i]) * (a[i] - b[i]);
    return {squared / static_cast<double>(a.size()), static_cast<double>(exact) / static_cast<double>(indices.size()),
            indices.size()};
}

qlx_picture rgb_picture(const Bytes& rgb, int width, int height) {
    const auto w = static_cast<std::size_t>(width);
    return {rgb.data(), w, static_cast<std::size_t>(height), 3 * w, QLX_RGB, nullptr, 0, nullptr};
}

qlx_closeness measured(const Bytes& rgb, int width, int height, const Bytes& indices, const qlx_options& options) {
    const qlx_picture picture = rgb_picture(rgb, width, height);
    qlx_closeness closeness{};
    EXPECT_EQ(qlx_closeness_of(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size(), &closeness),
              QLX_OK);
    return closeness;
}

Bytes converted(const Bytes& rgb, int width, int height, const qlx_options& options) {
    const qlx_picture picture = rgb_picture(rgb, width, height);
    Bytes indices(static_cast<std::size_t>(width * height));
    EXPECT_EQ(qlx_convert(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size()), QLX_OK);
    return indices;
}

// A picture with flat palette colours, gradients and noise.
Bytes mixed_picture(int width, int height) {
    std::mt19937 random(9);
    Bytes rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x < width / 4) {
                const Colour c = palette_colour(static_cast<std::uint8_t>(y / 8 * 13));
                rgb.insert(rgb.end(), {c.red, c.green, c.blue});
            } else if (x < width * 3 / 4) {
                rgb.insert(rgb.end(),
                           {static_cast<std::uint8_t>(255 * x / width), static_cast<std::uint8_t>(255 * y / height),
                            static_cast<std::uint8_t>(128 + 60 * std::sin(x / 7.0))});
            } else {
                rgb.insert(rgb.end(), {static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                                       static_cast<std::uint8_t>(random())});
            }
        }
    }
    return rgb;
}

TEST(Closeness, SmallPicturesAreMeasuredAtEveryPixelAsThePlainStatementSays) {
    const int width = 160, height = 96;  // 15360 pixels, under the limit
    const Bytes rgb = mixed_picture(width, height);
    for (const qlx_dither method : {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_PATTERN}) {
        qlx_options options = qlx_default_options();
        options.dither = method;
        const Bytes indices = converted(rgb, width, height, options);
        const qlx_closeness got = measured(rgb, width, height, indices, options);
        const Plain expected = plain_figures(rgb, indices, width, height);
        EXPECT_EQ(got.measured, expected.measured);
        EXPECT_NEAR(got.blurred_error, expected.blurred_error, 1e-9 * expected.blurred_error + 1e-9)
            << qlx_dither_name(method);
        EXPECT_DOUBLE_EQ(got.exact_share, expected.exact_share) << qlx_dither_name(method);
        EXPECT_GT(got.ciede2000, 0.0);
    }
    // A result compared with itself: the picture of its own palette colours.
    Bytes own;
    const Bytes indices = converted(rgb, width, height, qlx_default_options());
    for (const std::uint8_t index : indices) {
        const Colour c = palette_colour(index);
        own.insert(own.end(), {c.red, c.green, c.blue});
    }
    const qlx_closeness same = measured(own, width, height, indices, qlx_default_options());
    EXPECT_EQ(same.blurred_error, 0.0);
    EXPECT_EQ(same.ciede2000, 0.0);
    EXPECT_EQ(same.exact_share, 1.0);
}

// A large picture is sampled: at most QLX_CLOSENESS_POINTS pixels, with
// figures close to the whole picture's, and methods ranked as they are.
TEST(Closeness, LargePicturesAreSampledCloseToTheWholePicture) {
    const int width = 700, height = 480;
    const Bytes rgb = mixed_picture(width, height);
    double previous = 1e9;
    for (const qlx_dither method : {QLX_DITHER_NONE, QLX_DITHER_ORDERED, QLX_DITHER_FLOYD_STEINBERG}) {
        qlx_options options = qlx_default_options();
        options.dither = method;
        if (method == QLX_DITHER_FLOYD_STEINBERG) options.light = QLX_LIGHT_LINEAR;
        const Bytes indices = converted(rgb, width, height, options);
        const qlx_closeness got = measured(rgb, width, height, indices, options);
        const Plain whole = plain_figures(rgb, indices, width, height);
        EXPECT_LE(got.measured, std::size_t{QLX_CLOSENESS_POINTS});
        EXPECT_GE(got.measured, std::size_t{QLX_CLOSENESS_POINTS} / 2);
        EXPECT_NEAR(got.blurred_error, whole.blurred_error, 0.05 * whole.blurred_error) << qlx_dither_name(method);
        EXPECT_NEAR(got.exact_share, whole.exact_share, 0.02) << qlx_dither_name(method);
        EXPECT_LT(got.blurred_error, previous) << qlx_dither_name(method);
        previous = got.blurred_error;
    }
}

// Pixels the transparent index takes are not measured; blended pixels are
// measured against their colour over the background.
TEST(Closeness, TransparencyIsMeasuredAsTheConversionSawIt) {
    Bytes rgba;
    for (int i = 0; i < 64; ++i) {
        const bool clear = i % 4 == 0;
        rgba.insert(rgba.end(), {200, 30, 90, static_cast<std::uint8_t>(clear ? 0 : 255)});
    }
    const qlx_picture picture{rgba.data(), 8, 8, 32, QLX_RGBA, nullptr, 0, nullptr};
    Bytes indices(64);
    qlx_options marked = qlx_default_options();
    marked.transparent_index = 7;
    ASSERT_EQ(qlx_convert(&picture, &marked, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size()), QLX_OK);
    qlx_closeness closeness{};
    ASSERT_EQ(qlx_closeness_of(&picture, &marked, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size(), &closeness),
              QLX_OK);
    EXPECT_EQ(closeness.measured, 48u);

    // Over a palette colour as background, the clear pixels are that colour exactly.
    qlx_options blended = qlx_default_options();
    blended.alpha = QLX_ALPHA_COMPOSITE;
    blended.background = static_cast<int>(palette_rgb[77]);
    ASSERT_EQ(qlx_convert(&picture, &blended, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size()), QLX_OK);
    ASSERT_EQ(qlx_closeness_of(&picture, &blended, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size(), &closeness),
              QLX_OK);
    EXPECT_EQ(closeness.measured, 64u);
    EXPECT_EQ(closeness.exact_share, palette_rgb[qlx_nearest_index(200, 30, 90)] == 0xC81E5Au ? 1.0 : 0.25);

    EXPECT_EQ(qlx_closeness_of(&picture, &blended, QLX_FIT_KEEP, 0, 0, indices.data(), 63, &closeness),
              QLX_INPUT_TOO_SHORT);
    EXPECT_EQ(qlx_closeness_of(&picture, &blended, QLX_FIT_KEEP, 0, 0, indices.data(), 64, nullptr), QLX_NULL_POINTER);
}

}  // namespace
}  // namespace qlx
