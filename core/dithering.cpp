#include "dithering.hpp"

#include <algorithm>
#include <new>
#include <utility>

#include "blue_noise.hpp"
#include "linear_light.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"

namespace qlx {
namespace {

// Strength is in percent.
constexpr int ordered_divisor = 128 * max_dither_strength;
constexpr int blue_noise_divisor = 2 * blue_noise_levels * max_dither_strength;
constexpr int components = 3;  // red, green, blue in the working rows
constexpr std::size_t error_rows = max_diffusion_down + 1;
constexpr std::size_t error_margin = max_diffusion_ahead;  // pixels to spare at each end of an error row

std::uint8_t clamp_component(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

// What error diffusion works on in each light: codes, or their linear light.
template <DitherLight L>
struct Light {
    static constexpr int max = 255;
    static int of_code(std::uint8_t code) { return code; }
    static std::uint8_t code_of(int value) { return static_cast<std::uint8_t>(value); }
};
template <>
struct Light<DitherLight::linear> {
    static constexpr int max = static_cast<int>(linear_max);
    static int of_code(std::uint8_t code) { return linear_of_code[code]; }
    static std::uint8_t code_of(int value) { return code_of_each_linear()[static_cast<std::size_t>(value)]; }
};

}  // namespace

std::optional<Ditherer> Ditherer::create(const DitherOptions& options, std::size_t width, const PixelRules& rules) {
    std::unique_ptr<std::int32_t[]> errors;
    std::unique_ptr<std::uint8_t[]> working;
    if (diffuses_errors(options.method)) {
        const std::size_t margins = 2 * error_margin;
        if (width > (SIZE_MAX / sizeof(std::int32_t)) / (error_rows * components) - margins) return std::nullopt;
        errors.reset(new (std::nothrow) std::int32_t[error_rows * components * (width + margins)]());
        if (!errors) return std::nullopt;
    } else if (options.method == DitherMethod::ordered || options.method == DitherMethod::blue_noise) {
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
        case DitherMethod::floyd_steinberg: diffuse_row_in_light<F, floyd_steinberg_kernel>(pixels, y, indices); return;
        case DitherMethod::atkinson: diffuse_row_in_light<F, atkinson_kernel>(pixels, y, indices); return;
        case DitherMethod::sierra_lite: diffuse_row_in_light<F, sierra_lite_kernel>(pixels, y, indices); return;
        case DitherMethod::ordered:
            offset_row<F>(pixels, y);
            qlx::quantise_row<QLX_RGB>(working_.get(), width_, indices);
            break;
        case DitherMethod::blue_noise:
            blue_noise_row<F>(pixels, y);
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

template <qlx_pixel_format F, const DiffusionKernel& K>
void Ditherer::diffuse_row_in_light(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    if (options_.light == DitherLight::linear) {
        diffuse_row<F, K, DitherLight::linear>(pixels, y, indices);
    } else {
        diffuse_row<F, K, DitherLight::srgb>(pixels, y, indices);
    }
}

template <qlx_pixel_format F, const DiffusionKernel& K, DitherLight L>
void Ditherer::diffuse_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    using Working = Light<L>;
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::array<std::size_t, components> component_at = {order.red, order.green, order.blue};
    const int divisor = K.divisor * max_dither_strength;
    const std::size_t row_length = components * (width_ + 2 * error_margin);
    // Row y's errors, then the rows below; the farthest still holds row y - 1's, spent.
    std::array<std::int32_t*, error_rows> rows{};
    for (std::size_t down = 0; down < error_rows; ++down) rows[down] = errors_.get() + (y + down) % error_rows * row_length;
    std::fill_n(rows[error_rows - 1], row_length, 0);
    const bool rightwards = y % 2 == 0;
    // Offsets in the error rows, whose pixel x is at x + error_margin.
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
        const std::size_t at = components * (x + error_margin);
        const std::int32_t* carried = rows[0] + at;
        std::array<int, components> working;
        for (std::size_t c = 0; c < components; ++c) {
            working[c] = std::clamp(Working::of_code(pixel[component_at[c]]) +
                                        divide_rounding(carried[c] * options_.strength, divisor),
                                    0, Working::max);
        }
        const std::uint8_t index =
            nearest_index(Working::code_of(working[0]), Working::code_of(working[1]), Working::code_of(working[2]));
        indices[x] = index;
        const Colour chosen = palette_colour(index);
        const std::array<int, components> error = {working[0] - Working::of_code(chosen.red),
                                                   working[1] - Working::of_code(chosen.green),
                                                   working[2] - Working::of_code(chosen.blue)};
        for (int t = 0; t < K.tap_count; ++t) {
            const DiffusionTap& tap = K.taps[static_cast<std::size_t>(t)];
            std::int32_t* target = rows[static_cast<std::size_t>(tap.down)] + at + tap.ahead * ahead;
            for (std::size_t c = 0; c < components; ++c) target[c] += tap.weight * error[c];
        }
    }
}

// The pattern's offsets for row y are worked out once, not once a pixel.
template <qlx_pixel_format F>
void Ditherer::offset_row(const std::uint8_t* pixels, std::size_t y) {
    std::array<int, 8> offsets;
    for (std::size_t x = 0; x < offsets.size(); ++x) {
        const int threshold = 2 * bayer_matrix[y % 8][x] - 63;
        offsets[x] = divide_rounding(threshold * ordered_dither_amplitude * options_.strength, ordered_divisor);
    }
    add_offsets<F>(pixels, offsets);
}

template <qlx_pixel_format F>
void Ditherer::blue_noise_row(const std::uint8_t* pixels, std::size_t y) {
    std::array<int, blue_noise_side> offsets;
    for (std::size_t x = 0; x < offsets.size(); ++x) {
        const int threshold = 2 * blue_noise_mask[y % blue_noise_side][x] - (blue_noise_levels - 1);
        offsets[x] = divide_rounding(threshold * ordered_dither_amplitude * options_.strength, blue_noise_divisor);
    }
    add_offsets<F>(pixels, offsets);
}

template <qlx_pixel_format F, std::size_t Period>
void Ditherer::add_offsets(const std::uint8_t* pixels, const std::array<int, Period>& offsets) {
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::array<std::size_t, components> component_at = {order.red, order.green, order.blue};
    for (std::size_t x = 0; x < width_; ++x) {
        const int offset = offsets[x % Period];
        for (std::size_t c = 0; c < components; ++c) {
            working_[components * x + c] = clamp_component(pixels[order.bytes * x + component_at[c]] + offset);
        }
    }
}

}  // namespace qlx
