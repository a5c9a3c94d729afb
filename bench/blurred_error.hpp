#pragma once
// The blurred error of the dithering tools: both pictures blurred with a
// 5 x 5 binomial kernel, then the mean squared difference per component,
// over sRGB codes or over linear light scaled to 0-255.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qlx.h"

namespace {

// Colours as doubles, top row first, three components a pixel.
using Plane = std::vector<double>;

// Separable [1 4 6 4 1] / 16 in both directions, edges clamped.
Plane blurred(const Plane& picture, std::size_t width, std::size_t height) {
    constexpr std::array<double, 5> kernel = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
    const auto pass = [&](const Plane& in, bool along_rows) {
        Plane out(in.size());
        for (std::size_t y = 0; y < height; ++y) {
            for (std::size_t x = 0; x < width; ++x) {
                for (std::size_t c = 0; c < 3; ++c) {
                    double sum = 0;
                    for (int k = -2; k <= 2; ++k) {
                        const auto limit = static_cast<long>(along_rows ? width : height) - 1;
                        const long at = std::clamp(static_cast<long>(along_rows ? x : y) + k, 0L, limit);
                        const std::size_t sx = along_rows ? static_cast<std::size_t>(at) : x;
                        const std::size_t sy = along_rows ? y : static_cast<std::size_t>(at);
                        sum += kernel[static_cast<std::size_t>(k + 2)] * in[3 * (sy * width + sx) + c];
                    }
                    out[3 * (y * width + x) + c] = sum;
                }
            }
        }
        return out;
    };
    return pass(pass(picture, true), false);
}

// Codes to linear light on the same 0-255 scale, by the sRGB formula.
Plane in_linear_light(const Plane& codes) {
    Plane light(codes.size());
    std::transform(codes.begin(), codes.end(), light.begin(), [](double code) {
        const double v = code / 255;
        return 255 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
    });
    return light;
}

double mean_squared(const Plane& a, const Plane& b) {
    double squared = 0;
    for (std::size_t k = 0; k < a.size(); ++k) squared += (a[k] - b[k]) * (a[k] - b[k]);
    return squared / static_cast<double>(a.size());
}

// The palette colours of indices, red, green, blue a pixel.
inline Plane colours_of(const std::vector<std::uint8_t>& indices) {
    Plane result(3 * indices.size());
    for (std::size_t p = 0; p < indices.size(); ++p) {
        const std::uint32_t colour = qlx_palette_colour(indices[p]);
        result[3 * p] = colour >> 16;
        result[3 * p + 1] = colour >> 8 & 0xFF;
        result[3 * p + 2] = colour & 0xFF;
    }
    return result;
}

}  // namespace
