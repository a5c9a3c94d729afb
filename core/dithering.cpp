#include "dithering.hpp"

#include <algorithm>
#include <new>
#include <utility>

#include "nearest_colour.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"

namespace qlx {
namespace {

// Carried errors are in sixteenths; strength is in percent.
constexpr int carried_error_divisor = 16 * max_dither_strength;
constexpr int ordered_divisor = 128 * max_dither_strength;
constexpr int components = 3;  // red, green, blue in the working rows

std::uint8_t clamp_component(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

}  // namespace

std::optional<Ditherer> Ditherer::create(const DitherOptions& options, std::size_t width, const PixelRules& rules) {
    std::unique_ptr<std::int32_t[]> errors;
    std::unique_ptr<std::uint8_t[]> working;
    if (options.method == DitherMethod::floyd_steinberg) {
        if (width > (SIZE_MAX / sizeof(std::int32_t) - 4) / (2 * components)) return std::nullopt;
        errors.reset(new (std::nothrow) std::int32_t[2 * components * (width + 2)]());
        if (!errors) return std::nullopt;
    } else if (options.method == DitherMethod::ordered) {
        if (width > SIZE_MAX / components) return std::nullopt;
        working.reset(new (std::nothrow) std::uint8_t[components * width]);
        if (!working) return std::nullopt;
    }
    return Ditherer(options, width, rules, std::move(errors), std::move(working));
}

Ditherer::Ditherer(const DitherOptions& options, std::size_t width, const PixelRules& rules,
                   std::unique_ptr<std::int32_t[]> errors, std::unique_ptr<std::uint8_t[]> working)
    : options_(options),
      width_(width),
      rules_(rules),
      keyed_(rules.transparent_index >= 0 && pixel_order(rules.format).has_alpha),
      errors_(std::move(errors)),
      working_(std::move(working)) {}

void Ditherer::quantise_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    switch (rules_.format) {
        case QLX_RGB: quantise_row_as<QLX_RGB>(pixels, y, indices); break;
        case QLX_BGR: quantise_row_as<QLX_BGR>(pixels, y, indices); break;
        case QLX_RGBA: quantise_row_as<QLX_RGBA>(pixels, y, indices); break;
        case QLX_BGRA: quantise_row_as<QLX_BGRA>(pixels, y, indices); break;
    }
}

template <qlx_pixel_format F>
void Ditherer::quantise_row_as(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    switch (options_.method) {
        case DitherMethod::none: qlx::quantise_row<F>(pixels, width_, indices); break;
        case DitherMethod::floyd_steinberg: diffuse_row<F>(pixels, y, indices); return;
        case DitherMethod::ordered:
            offset_row<F>(pixels, y);
            qlx::quantise_row<QLX_RGB>(working_.get(), width_, indices);
            break;
    }
    if constexpr (pixel_order(F).has_alpha) {
        if (keyed_) mark_transparent<F>(pixels, indices);
    }
}

template <qlx_pixel_format F>
void Ditherer::mark_transparent(const std::uint8_t* pixels, std::uint8_t* indices) const {
    static constexpr PixelOrder order = pixel_order(F);
    const auto index = static_cast<std::uint8_t>(rules_.transparent_index);
    for (std::size_t x = 0; x < width_; ++x) {
        if (pixels[order.bytes * x + order.alpha] < QLX_ALPHA_THRESHOLD) indices[x] = index;
    }
}

template <qlx_pixel_format F>
void Ditherer::diffuse_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::array<std::size_t, components> component_at = {order.red, order.green, order.blue};
    const std::size_t row_length = components * (width_ + 2);
    std::int32_t* this_row = errors_.get() + (y % 2) * row_length;
    std::int32_t* next_row = errors_.get() + (1 - y % 2) * row_length;
    std::fill_n(next_row, row_length, 0);
    const bool rightwards = y % 2 == 0;
    // Offsets in the error rows, whose pixel x is at x + 1.
    const std::ptrdiff_t ahead = rightwards ? components : -static_cast<std::ptrdiff_t>(components);
    for (std::size_t step = 0; step < width_; ++step) {
        const std::size_t x = rightwards ? step : width_ - 1 - step;
        const std::uint8_t* pixel = pixels + order.bytes * x;
        if constexpr (order.has_alpha) {
            // What was diffused to it is dropped with it, and it passes nothing on.
            if (keyed_ && pixel[order.alpha] < QLX_ALPHA_THRESHOLD) {
                indices[x] = static_cast<std::uint8_t>(rules_.transparent_index);
                continue;
            }
        }
        std::int32_t* carried = this_row + components * (x + 1);
        std::int32_t* below = next_row + components * (x + 1);
        std::array<std::uint8_t, components> working;
        for (std::size_t c = 0; c < components; ++c) {
            working[c] = clamp_component(pixel[component_at[c]] +
                                         divide_rounding(carried[c] * options_.strength, carried_error_divisor));
        }
        const std::uint8_t index = nearest_index(working[0], working[1], working[2]);
        indices[x] = index;
        const Colour chosen = palette_colour(index);
        const std::array<int, components> error = {working[0] - chosen.red, working[1] - chosen.green,
                                                   working[2] - chosen.blue};
        for (std::size_t c = 0; c < components; ++c) {
            carried[ahead + static_cast<std::ptrdiff_t>(c)] += 7 * error[c];
            below[-ahead + static_cast<std::ptrdiff_t>(c)] += 3 * error[c];
            below[c] += 5 * error[c];
            below[ahead + static_cast<std::ptrdiff_t>(c)] += 1 * error[c];
        }
    }
}

template <qlx_pixel_format F>
void Ditherer::offset_row(const std::uint8_t* pixels, std::size_t y) {
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::array<std::size_t, components> component_at = {order.red, order.green, order.blue};
    const auto& thresholds = bayer_matrix[y % 8];
    for (std::size_t x = 0; x < width_; ++x) {
        const int threshold = 2 * thresholds[x % 8] - 63;
        const int offset = divide_rounding(threshold * ordered_dither_amplitude * options_.strength, ordered_divisor);
        for (std::size_t c = 0; c < components; ++c) {
            working_[components * x + c] = clamp_component(pixels[order.bytes * x + component_at[c]] + offset);
        }
    }
}

}  // namespace qlx
