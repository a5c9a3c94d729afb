#include "closeness.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "linear_light.hpp"
#include "palette.hpp"
#include "quantiser.hpp"

namespace qlx {
namespace {

constexpr std::array<int, 5> binomial = {1, 4, 6, 4, 1};  // times itself: 256 in all
constexpr double blur_total = 256.0 * linear_max;         // a blurred component's full scale

// Both pictures' light at a pixel. A pixel the transparent index took is
// not measured, and shows its original colour in both.
struct PixelLight {
    std::array<int, 3> original, result;
    bool measured, exact;
};

class Pictures {
public:
    Pictures(const ClosenessSource& source, const std::uint8_t* indices)
        : source_(source), order_(pixel_order(source.format)), indices_(indices) {}

    PixelLight light_at(std::size_t x, std::size_t y) const {
        bool marked = false;
        const Colour colour = original(x, y, marked);
        const std::array<int, 3> light = {linear_of_code[colour.red], linear_of_code[colour.green],
                                          linear_of_code[colour.blue]};
        if (marked) return {light, light, false, false};
        const Colour chosen = palette_colour(indices_[y * source_.box_width + x]);
        return {light,
                {linear_of_code[chosen.red], linear_of_code[chosen.green], linear_of_code[chosen.blue]},
                true,
                chosen == colour};
    }

    std::size_t width() const { return source_.box_width; }
    std::size_t height() const { return source_.box_height; }

private:
    // The original's colour at (x, y) of the box, as the conversion saw it.
    Colour original(std::size_t x, std::size_t y, bool& marked) const {
        marked = false;
        const ClosenessSource& s = source_;
        if (x < s.x || y < s.y || x >= s.x + s.width || y >= s.y + s.height) return palette_colour(0);
        const std::uint8_t* pixel = s.pixels + (y - s.y) * s.stride + (x - s.x) * order_.bytes;
        Colour colour{pixel[order_.red], pixel[order_.green], pixel[order_.blue]};
        if (!order_.has_alpha) return colour;
        const unsigned alpha = pixel[order_.alpha];
        if (s.transparent_index >= 0) {
            marked = alpha < QLX_ALPHA_THRESHOLD;
        } else if (s.composite) {
            colour = {composited(colour.red, alpha, s.background >> 16 & 255),
                      composited(colour.green, alpha, s.background >> 8 & 255),
                      composited(colour.blue, alpha, s.background & 255)};
        }
        return colour;
    }

    const ClosenessSource& source_;
    PixelOrder order_;
    const std::uint8_t* indices_;
};

struct Lab {
    double l, a, b;
};

// CIELAB (D65) of linear light on 0-1, through the sRGB primaries.
Lab lab_of(double red, double green, double blue) {
    const double x = (0.4124564 * red + 0.3575761 * green + 0.1804375 * blue) / 0.95047;
    const double y = 0.2126729 * red + 0.7151522 * green + 0.0721750 * blue;
    const double z = (0.0193339 * red + 0.1191920 * green + 0.9503041 * blue) / 1.08883;
    const auto f = [](double t) {
        constexpr double delta = 6.0 / 29.0;
        return t > delta * delta * delta ? std::cbrt(t) : t / (3 * delta * delta) + 4.0 / 29.0;
    };
    const double fx = f(x), fy = f(y), fz = f(z);
    return {116 * fy - 16, 500 * (fx - fy), 200 * (fy - fz)};
}

// A fixed hash of a cell, for the place of its sample.
std::uint32_t cell_hash(std::size_t column, std::size_t row) {
    std::uint32_t h = static_cast<std::uint32_t>(column) * 0x9E3779B1u ^ static_cast<std::uint32_t>(row) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// The sums of the figures over the samples, taken in a fixed order.
struct Sums {
    double squared = 0;  // blurred differences, in units of 1 / blur_total, squared
    double ciede2000 = 0;
    std::size_t exact = 0;
    std::size_t measured = 0;
};

void measure_at(const Pictures& pictures, std::size_t x, std::size_t y, Sums& sums) {
    const PixelLight centre = pictures.light_at(x, y);
    if (!centre.measured) return;
    ++sums.measured;
    if (centre.exact) ++sums.exact;
    // The 5 x 5 binomial blur of both pictures at (x, y), edges repeated.
    std::array<std::int64_t, 3> original{}, result{};
    const auto last_x = static_cast<std::ptrdiff_t>(pictures.width()) - 1;
    const auto last_y = static_cast<std::ptrdiff_t>(pictures.height()) - 1;
    for (std::ptrdiff_t dy = -2; dy <= 2; ++dy) {
        const auto at_y =
            static_cast<std::size_t>(std::clamp(static_cast<std::ptrdiff_t>(y) + dy, std::ptrdiff_t{0}, last_y));
        for (std::ptrdiff_t dx = -2; dx <= 2; ++dx) {
            const auto at_x =
                static_cast<std::size_t>(std::clamp(static_cast<std::ptrdiff_t>(x) + dx, std::ptrdiff_t{0}, last_x));
            const PixelLight light = pictures.light_at(at_x, at_y);
            const int weight = binomial[static_cast<std::size_t>(dy + 2)] * binomial[static_cast<std::size_t>(dx + 2)];
            for (std::size_t k = 0; k < 3; ++k) {
                original[k] += weight * light.original[k];
                result[k] += weight * light.result[k];
            }
        }
    }
    for (std::size_t k = 0; k < 3; ++k) {
        const std::int64_t difference = original[k] - result[k];
        sums.squared += static_cast<double>(difference * difference);
    }
    if (original == result) return;  // a difference of exactly 0
    const Lab a = lab_of(static_cast<double>(original[0]) / blur_total, static_cast<double>(original[1]) / blur_total,
                         static_cast<double>(original[2]) / blur_total);
    const Lab b = lab_of(static_cast<double>(result[0]) / blur_total, static_cast<double>(result[1]) / blur_total,
                         static_cast<double>(result[2]) / blur_total);
    sums.ciede2000 += ciede2000(a.l, a.a, a.b, b.l, b.a, b.b);
}

constexpr double degrees = 180.0 / 3.14159265358979323846;

}  // namespace

double ciede2000(double l1, double a1, double b1, double l2, double a2, double b2) {
    const auto seventh = [](double v) {
        const double cube = v * v * v;
        return cube * cube * v;
    };
    const double twenty_five_7 = seventh(25.0);
    const double c_mean = (std::sqrt(a1 * a1 + b1 * b1) + std::sqrt(a2 * a2 + b2 * b2)) / 2;
    const double g = 0.5 * (1 - std::sqrt(seventh(c_mean) / (seventh(c_mean) + twenty_five_7)));
    const double a1p = (1 + g) * a1, a2p = (1 + g) * a2;
    const double c1p = std::sqrt(a1p * a1p + b1 * b1), c2p = std::sqrt(a2p * a2p + b2 * b2);
    const auto hue = [](double b, double a) {
        if (a == 0 && b == 0) return 0.0;
        const double h = std::atan2(b, a) * degrees;
        return h < 0 ? h + 360 : h;
    };
    const double h1p = hue(b1, a1p), h2p = hue(b2, a2p);
    const double delta_l = l2 - l1, delta_c = c2p - c1p;
    double delta_h = 0;
    if (c1p * c2p != 0) {
        delta_h = h2p - h1p;
        if (delta_h > 180) delta_h -= 360;
        if (delta_h < -180) delta_h += 360;
    }
    const double delta_big_h = 2 * std::sqrt(c1p * c2p) * std::sin(delta_h / 2 / degrees);
    const double l_mean = (l1 + l2) / 2, cp_mean = (c1p + c2p) / 2;
    double h_mean = h1p + h2p;
    if (c1p * c2p != 0) {
        if (std::fabs(h1p - h2p) <= 180) {
            h_mean = (h1p + h2p) / 2;
        } else {
            h_mean = h1p + h2p < 360 ? (h1p + h2p + 360) / 2 : (h1p + h2p - 360) / 2;
        }
    }
    const double t = 1 - 0.17 * std::cos((h_mean - 30) / degrees) + 0.24 * std::cos(2 * h_mean / degrees) +
                     0.32 * std::cos((3 * h_mean + 6) / degrees) - 0.20 * std::cos((4 * h_mean - 63) / degrees);
    const double delta_theta = 30 * std::exp(-((h_mean - 275) / 25) * ((h_mean - 275) / 25));
    const double r_c = 2 * std::sqrt(seventh(cp_mean) / (seventh(cp_mean) + twenty_five_7));
    const double l_offset = (l_mean - 50) * (l_mean - 50);
    const double s_l = 1 + 0.015 * l_offset / std::sqrt(20 + l_offset);
    const double s_c = 1 + 0.045 * cp_mean;
    const double s_h = 1 + 0.015 * cp_mean * t;
    const double r_t = -std::sin(2 * delta_theta / degrees) * r_c;
    const double l_term = delta_l / s_l, c_term = delta_c / s_c, h_term = delta_big_h / s_h;
    // |r_t| <= 2 keeps the sum from falling below 0, but for rounding.
    return std::sqrt(std::max(0.0, l_term * l_term + c_term * c_term + h_term * h_term + r_t * c_term * h_term));
}

std::size_t closeness_cell_side(std::size_t width, std::size_t height) {
    std::size_t side = 1;
    const auto cells = [&](std::size_t s) { return ((width + s - 1) / s) * ((height + s - 1) / s); };
    while (cells(side) > closeness_points) ++side;
    return side;
}

qlx_closeness measure_closeness(const ClosenessSource& source, const std::uint8_t* indices) {
    const Pictures pictures(source, indices);
    const std::size_t width = source.box_width, height = source.box_height;
    const std::size_t side = closeness_cell_side(width, height);
    Sums sums;
    for (std::size_t top = 0, row = 0; top < height; top += side, ++row) {
        // One row of samples for the whole row of cells, so that the rows
        // the blur reads are read in order, as memory serves them fastest.
        const std::size_t y = top + cell_hash(0, row) % std::min(side, height - top);
        for (std::size_t left = 0, column = 0; left < width; left += side, ++column) {
            measure_at(pictures, left + cell_hash(column + 1, row) % std::min(side, width - left), y, sums);
        }
    }
    qlx_closeness closeness{};
    closeness.measured = sums.measured;
    if (sums.measured == 0) return closeness;
    const auto count = static_cast<double>(sums.measured);
    const double scale = 255.0 / blur_total;
    closeness.blurred_error = sums.squared / (3 * count) * scale * scale;
    closeness.ciede2000 = sums.ciede2000 / count;
    closeness.exact_share = static_cast<double>(sums.exact) / count;
    return closeness;
}

}  // namespace qlx
