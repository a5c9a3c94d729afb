#include "dithering.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "blue_noise.hpp"
#include "linear_light.hpp"
#include "memory.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"

namespace qlx {
namespace {

// Strength is in percent.
constexpr int ordered_divisor = 128 * max_dither_strength;
constexpr int blue_noise_divisor = 2 * blue_noise_levels * max_dither_strength;
constexpr std::size_t components = 3;  // red, green, blue in the error rows
constexpr std::size_t error_rows = max_diffusion_down + 1;
constexpr std::size_t error_margin = max_diffusion_ahead;  // pixels to spare at each end of an error row

// component_places for codes from -Reach to 255 + Reach, each clamped to
// 0-255 first: a component pushed past either end by an offset or an error
// finds its place in one lookup, with no clamp of its own.
template <int Reach>
struct ClampedPlaces {
    static constexpr std::size_t size = 256 + 2 * Reach;
    std::array<std::uint32_t, size> red, green, blue;
};
template <int Reach>
constexpr ClampedPlaces<Reach> clamped_places = [] {
    ClampedPlaces<Reach> places{};
    for (std::size_t i = 0; i < places.size; ++i) {
        const auto code = static_cast<std::size_t>(std::clamp(static_cast<int>(i) - Reach, 0, 255));
        places.red[i] = component_places.red[code];
        places.green[i] = component_places.green[code];
        places.blue[i] = component_places.blue[code];
    }
    return places;
}();

// Along a row, a pixel's working component is
//     clamp(light + divide_rounding(scale * carried, divisor), 0, max)
// which is clamp(floor(numerator / divisor) - max, 0, max) for
//     numerator = divisor * (light + max) + divisor / 2 + scale * carried.
// The scale is the strength and the divisor the kernel's times 100; at full
// strength both drop their factor of 100, which gives the same quotients,
// and the division becomes a shift. |scale * carried| is at most divisor *
// max (a kernel's weights add up to its divisor at most, and no error
// exceeds max), so the numerator is positive and its quotient, light + max +
// the share of the error, lies in 0 to 3 * max: the division by a divisor
// known to the compiler is a multiplication or a shift, with no branch on
// the sign.
template <const DiffusionKernel& K>
constexpr std::uint32_t full_strength_divisor = static_cast<std::uint32_t>(K.divisor);
template <const DiffusionKernel& K>
constexpr std::uint32_t partial_strength_divisor = max_dither_strength * full_strength_divisor<K>;
template <const DiffusionKernel& K>
constexpr bool numerator_fits = std::uint64_t{partial_strength_divisor<K>} * (3 * std::uint64_t{linear_max} + 1) <=
                                std::numeric_limits<std::uint32_t>::max();
static_assert(numerator_fits<floyd_steinberg_kernel> && numerator_fits<atkinson_kernel> &&
              numerator_fits<sierra_lite_kernel>);

// The multiplier of the errors that goes with each divisor.
constexpr int error_scale(int strength) { return strength == max_dither_strength ? 1 : strength; }

// What error diffusion works on in each light: codes, or their linear light.
// Each gives a working quotient's table place and its working component.
template <DitherLight L>
struct Light {
    static constexpr int max = 255;
    static constexpr int of_code(std::uint8_t code) { return code; }
    std::uint32_t place_of(std::uint32_t red, std::uint32_t green, std::uint32_t blue) const {
        return places.red[red] + places.green[green] + places.blue[blue];
    }
    static constexpr const ClampedPlaces<max>& places = clamped_places<max>;
};
template <>
struct Light<DitherLight::linear> {
    static constexpr int max = static_cast<int>(linear_max);
    static constexpr int of_code(std::uint8_t code) { return linear_of_code[code]; }
    std::uint32_t place_of(std::uint32_t red, std::uint32_t green, std::uint32_t blue) const {
        return table_place(code_of(red), code_of(green), code_of(blue));
    }
    // The quotient is the working value + max.
    std::uint8_t code_of(std::uint32_t quotient) const { return codes[quotient]; }
    const std::uint8_t* codes = code_of_each_clamped_linear().data();
};

// The taps a pixel's error takes along its own row: one or two pixels ahead.
template <const DiffusionKernel& K>
constexpr int weight_ahead(int ahead) {
    int weight = 0;
    for (int t = 0; t < K.tap_count; ++t) {
        const DiffusionTap& tap = K.taps[static_cast<std::size_t>(t)];
        if (tap.down == 0 && tap.ahead == ahead) weight += tap.weight;
    }
    return weight;
}
// The taps a pixel's error takes to the rows below.
struct TapsBelow {
    std::size_t count = 0;
    std::array<DiffusionTap, 6> taps{};
};
template <const DiffusionKernel& K>
constexpr TapsBelow taps_below = [] {
    TapsBelow below;
    for (int t = 0; t < K.tap_count; ++t) {
        if (K.taps[static_cast<std::size_t>(t)].down > 0)
            below.taps[below.count++] = K.taps[static_cast<std::size_t>(t)];
    }
    return below;
}();

// Along the row a pixel carries the errors of the two before it; below, the
// error rows keep max_diffusion_down rows and their margins.
template <const DiffusionKernel& K>
constexpr bool taps_within_reach = [] {
    for (int t = 0; t < K.tap_count; ++t) {
        const DiffusionTap& tap = K.taps[static_cast<std::size_t>(t)];
        if (tap.down == 0 && tap.ahead != 1 && tap.ahead != 2) return false;
        if (tap.down < 0 || tap.down > max_diffusion_down) return false;
        if (tap.ahead < -max_diffusion_ahead || tap.ahead > max_diffusion_ahead) return false;
    }
    return true;
}();
static_assert(taps_within_reach<floyd_steinberg_kernel> && taps_within_reach<atkinson_kernel> &&
              taps_within_reach<sierra_lite_kernel>);

// The pattern methods' offsets stay within +-pattern_reach.
constexpr int pattern_reach = ordered_dither_amplitude / 2;

// The palette's colours in linear light, for the errors of linear diffusion.
struct PaletteLight {
    std::array<std::uint16_t, palette_size> red, green, blue;
};
template <DitherLight L>
constexpr PaletteLight palette_light = [] {
    PaletteLight light{};
    for (std::size_t i = 0; i < palette_size; ++i) {
        light.red[i] = static_cast<std::uint16_t>(Light<L>::of_code(palette.red[i]));
        light.green[i] = static_cast<std::uint16_t>(Light<L>::of_code(palette.green[i]));
        light.blue[i] = static_cast<std::uint16_t>(Light<L>::of_code(palette.blue[i]));
    }
    return light;
}();

}  // namespace

Result<Ditherer> Ditherer::create(const DitherOptions& options, std::size_t width, const PixelRules& rules) {
    if (!diffuses_errors(options.method)) return Ditherer(options, width, rules, {}, {});
    // Error rows keep their margins zero for the errors that would come from outside the picture.
    if (width > SIZE_MAX / (error_rows * components) - 2 * error_margin) return failure(QLX_OUT_OF_MEMORY);
    Result<std::unique_ptr<std::int32_t[]>> errors =
        allocate_array<std::int32_t>(error_rows * components * (width + 2 * error_margin));
    Result<std::unique_ptr<std::uint32_t[]>> numerators = allocate_array<std::uint32_t>(components * width);
    if (!errors || !numerators) return failure(QLX_OUT_OF_MEMORY);
    return Ditherer(options, width, rules, std::move(*errors), std::move(*numerators));
}

// Each palette colour in the working light times the weight of the next
// pixel along the row, at this strength.
Ditherer::WeightedPalette Ditherer::weigh_palette(const DitherOptions& options) {
    int weight = 0;
    switch (options.method) {
        case DitherMethod::floyd_steinberg: weight = weight_ahead<floyd_steinberg_kernel>(1); break;
        case DitherMethod::atkinson: weight = weight_ahead<atkinson_kernel>(1); break;
        case DitherMethod::sierra_lite: weight = weight_ahead<sierra_lite_kernel>(1); break;
        default: break;
    }
    weight *= error_scale(options.strength);
    const PaletteLight& light =
        options.light == DitherLight::linear ? palette_light<DitherLight::linear> : palette_light<DitherLight::srgb>;
    WeightedPalette weighted;
    for (std::size_t i = 0; i < palette_size; ++i) {
        weighted.red[i] = weight * light.red[i];
        weighted.green[i] = weight * light.green[i];
        weighted.blue[i] = weight * light.blue[i];
    }
    return weighted;
}

Ditherer::Ditherer(const DitherOptions& options, std::size_t width, const PixelRules& rules,
                   std::unique_ptr<std::int32_t[]> errors, std::unique_ptr<std::uint32_t[]> numerators)
    : options_(options),
      width_(width),
      rules_(rules),
      keyed_(rules.transparent_index >= 0 && pixel_order(rules.format).has_alpha),
      weighted_palette_(weigh_palette(options)),
      errors_(std::move(errors)),
      numerators_(std::move(numerators)) {}

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
        case DitherMethod::ordered: ordered_row<F>(pixels, y, indices); break;
        case DitherMethod::blue_noise: blue_noise_row<F>(pixels, y, indices); break;
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

// A row is diffused in three passes. The first two, with nothing chaining
// one pixel to the next, gather into each pixel's numerator its light and
// the errors the rows above passed down. The last walks the row, where each
// pixel waits for the one before: it keeps that chain as short as it can.
template <qlx_pixel_format F, const DiffusionKernel& K>
void Ditherer::diffuse_row_in_light(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    // Only formats with alpha have their alpha at byte 3 of 4.
    const std::uint8_t* alphas = pixel_order(F).has_alpha && keyed_ ? pixels + 3 : nullptr;
    if (options_.light == DitherLight::linear) {
        diffuse_row_at_strength<F, K, DitherLight::linear>(pixels, y, alphas, indices);
    } else {
        diffuse_row_at_strength<F, K, DitherLight::srgb>(pixels, y, alphas, indices);
    }
}

template <qlx_pixel_format F, const DiffusionKernel& K, DitherLight L>
void Ditherer::diffuse_row_at_strength(const std::uint8_t* pixels, std::size_t y, const std::uint8_t* alphas,
                                       std::uint8_t* indices) {
    if (options_.strength == max_dither_strength) {
        diffuse_row<F, K, L, full_strength_divisor<K>>(pixels, y, alphas, indices);
    } else {
        diffuse_row<F, K, L, partial_strength_divisor<K>>(pixels, y, alphas, indices);
    }
}

template <qlx_pixel_format F, const DiffusionKernel& K, DitherLight L, std::uint32_t Divisor>
void Ditherer::diffuse_row(const std::uint8_t* pixels, std::size_t y, const std::uint8_t* alphas,
                           std::uint8_t* indices) {
    start_numerators<F, L, Divisor>(pixels);
    add_errors_from_rows_above<K>(y);
    diffuse_along_row<K, L, Divisor>(y, alphas, indices);
}

template <qlx_pixel_format F, DitherLight L, std::uint32_t Divisor>
void Ditherer::start_numerators(const std::uint8_t* pixels) {
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::uint32_t divisor = Divisor;
    constexpr std::uint32_t start = divisor * static_cast<std::uint32_t>(Light<L>::max) + divisor / 2;
    std::uint32_t* numerator = numerators_.get();
    for (std::size_t x = 0; x < width_; ++x, numerator += components) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        numerator[0] = start + divisor * static_cast<std::uint32_t>(Light<L>::of_code(pixel[order.red]));
        numerator[1] = start + divisor * static_cast<std::uint32_t>(Light<L>::of_code(pixel[order.green]));
        numerator[2] = start + divisor * static_cast<std::uint32_t>(Light<L>::of_code(pixel[order.blue]));
    }
}

// Row y - down ran the other way from row y when down is odd. Its pixel at
// x passed weight * error to x + ahead along its own direction, so pixel x
// here takes it from x - ahead that way: a fixed shift along the whole row.
// The rows hold errors already scaled, so the weights are the kernel's own
// small constants. Rows above the picture pass nothing: before row 0 their
// places in the ring are cleared.
template <const DiffusionKernel& K>
void Ditherer::add_errors_from_rows_above(std::size_t y) {
    constexpr TapsBelow below = taps_below<K>;
    const std::size_t row_length = components * (width_ + 2 * error_margin);
    if (y == 0) std::fill_n(errors_.get() + row_length, (error_rows - 1) * row_length, 0);
    std::array<const std::int32_t*, below.count> sources;
    for (std::size_t t = 0; t < below.count; ++t) {
        const DiffusionTap& tap = below.taps[t];
        const auto down = static_cast<std::size_t>(tap.down);
        // Row y - down's place in the ring; rows above the picture fall on cleared places.
        const std::size_t place = (y + error_rows - down) % error_rows;
        const std::ptrdiff_t source_direction = (y + down) % 2 == 0 ? 1 : -1;  // y - down has that parity
        sources[t] = errors_.get() + place * row_length +
                     static_cast<std::ptrdiff_t>(components) *
                         (static_cast<std::ptrdiff_t>(error_margin) - tap.ahead * source_direction);
    }
    std::uint32_t* const numerators = numerators_.get();
    // Unsigned arithmetic wraps as the sum of signed terms would, and the
    // whole stays positive.
    for (std::size_t i = 0; i < components * width_; ++i) {
        std::uint32_t sum = 0;
        for (std::size_t t = 0; t < below.count; ++t) {
            sum += static_cast<std::uint32_t>(below.taps[t].weight) * static_cast<std::uint32_t>(sources[t][i]);
        }
        numerators[i] += sum;
    }
}

// The chain from one pixel to the next runs through the division, the
// table and the chosen colour; the rest of the work hangs off it. What a
// pixel passes to the next is weight * (working - chosen), worked out as
// weight * working, known before the search ends, less a weighted palette
// colour: one subtraction after the search instead of a multiplication.
template <const DiffusionKernel& K, DitherLight L, std::uint32_t Divisor>
void Ditherer::diffuse_along_row(std::size_t y, const std::uint8_t* alphas, std::uint8_t* indices) {
    const Light<L> light;
    const PaletteLight& chosen_light = palette_light<L>;
    constexpr std::uint32_t divisor = Divisor;
    // At full strength the scale is 1, which the compiler then sees.
    const int scale = Divisor == full_strength_divisor<K> ? 1 : error_scale(options_.strength);
    const int weight_next = weight_ahead<K>(1) * scale;
    const WeightedPalette& weighted = weighted_palette_;
    const auto transparent_index = static_cast<std::uint8_t>(rules_.transparent_index);
    const auto working_of = [](std::uint32_t quotient) {
        return std::clamp(static_cast<int>(quotient) - Light<L>::max, 0, Light<L>::max);
    };
    const std::size_t width = width_;
    const std::size_t row_length = components * (width + 2 * error_margin);
    std::int32_t* const errors = errors_.get() + y % error_rows * row_length + components * error_margin;
    const std::uint32_t* const numerators = numerators_.get();
    const bool rightwards = y % 2 == 0;
    const auto direction = static_cast<std::size_t>(rightwards ? 1 : -1);  // wraps, as unsigned steps do
    // What the last pixel passes to this one, and the one before it to the next.
    int next_red = 0, next_green = 0, next_blue = 0, after_red = 0, after_green = 0, after_blue = 0;
    std::size_t x = rightwards ? 0 : width - 1;
    for (std::size_t step = 0; step < width; ++step, x += direction) {
        std::int32_t* const error = errors + components * x;
        const std::uint32_t* const numerator = numerators + components * x;
        if (alphas != nullptr && alphas[4 * x] < QLX_ALPHA_THRESHOLD) {
            // What was diffused to it is dropped with it, and it passes nothing on.
            indices[x] = transparent_index;
            next_red = after_red, next_green = after_green, next_blue = after_blue;
            after_red = after_green = after_blue = 0;
            error[0] = error[1] = error[2] = 0;
            continue;
        }
        const std::uint32_t red = (numerator[0] + static_cast<std::uint32_t>(next_red)) / divisor;
        const std::uint32_t green = (numerator[1] + static_cast<std::uint32_t>(next_green)) / divisor;
        const std::uint32_t blue = (numerator[2] + static_cast<std::uint32_t>(next_blue)) / divisor;
        const std::uint8_t index = nearest_index_at(light.place_of(red, green, blue));
        indices[x] = index;
        const int working_red = working_of(red), working_green = working_of(green), working_blue = working_of(blue);
        const int ahead_red = weight_next * working_red + after_red;
        const int ahead_green = weight_next * working_green + after_green;
        const int ahead_blue = weight_next * working_blue + after_blue;
        next_red = ahead_red - weighted.red[index];
        next_green = ahead_green - weighted.green[index];
        next_blue = ahead_blue - weighted.blue[index];
        error[0] = scale * (working_red - chosen_light.red[index]);
        error[1] = scale * (working_green - chosen_light.green[index]);
        error[2] = scale * (working_blue - chosen_light.blue[index]);
        after_red = weight_ahead<K>(2) * error[0];
        after_green = weight_ahead<K>(2) * error[1];
        after_blue = weight_ahead<K>(2) * error[2];
    }
}

// The pattern's offsets for row y are worked out once, not once a pixel.
template <qlx_pixel_format F>
void Ditherer::ordered_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) const {
    std::array<int, 8> offsets;
    for (std::size_t x = 0; x < offsets.size(); ++x) {
        const int threshold = 2 * bayer_matrix[y % 8][x] - 63;
        offsets[x] = divide_rounding(threshold * ordered_dither_amplitude * options_.strength, ordered_divisor);
    }
    quantise_with_offsets<F>(pixels, offsets, indices);
}

template <qlx_pixel_format F>
void Ditherer::blue_noise_row(const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) const {
    std::array<int, blue_noise_side> offsets;
    for (std::size_t x = 0; x < offsets.size(); ++x) {
        const int threshold = 2 * blue_noise_mask[y % blue_noise_side][x] - (blue_noise_levels - 1);
        offsets[x] = divide_rounding(threshold * ordered_dither_amplitude * options_.strength, blue_noise_divisor);
    }
    quantise_with_offsets<F>(pixels, offsets, indices);
}

template <qlx_pixel_format F, std::size_t Period>
void Ditherer::quantise_with_offsets(const std::uint8_t* pixels, const std::array<int, Period>& offsets,
                                     std::uint8_t* indices) const {
    static constexpr PixelOrder order = pixel_order(F);
    static constexpr const ClampedPlaces<pattern_reach>& places = clamped_places<pattern_reach>;
    // Each offset as an index into the places; the clamp only guards the
    // tables, since strengths up to 100 keep offsets inside them.
    std::array<std::size_t, Period> starts;
    for (std::size_t i = 0; i < Period; ++i) {
        starts[i] = static_cast<std::size_t>(std::clamp(offsets[i], -pattern_reach, pattern_reach) + pattern_reach);
    }
    for (std::size_t x = 0; x < width_; ++x) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        const std::size_t start = starts[x % Period];
        indices[x] = nearest_index_at(places.red[start + pixel[order.red]] + places.green[start + pixel[order.green]] +
                                      places.blue[start + pixel[order.blue]]);
    }
}

}  // namespace qlx
