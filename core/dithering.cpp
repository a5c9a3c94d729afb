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
constexpr std::uint32_t partial_strength_divisor = max_dither_strength* full_strength_divisor<K>;
template <const DiffusionKernel& K>
constexpr bool numerator_fits = std::uint64_t{partial_strength_divisor<K>} * (3 * std::uint64_t{linear_max} + 1) <=
                                std::numeric_limits<std::uint32_t>::max();
static_assert(numerator_fits<floyd_steinberg_kernel> && numerator_fits<atkinson_kernel> &&
              numerator_fits<sierra_lite_kernel> && numerator_fits<jarvis_judice_ninke_kernel> &&
              numerator_fits<stucki_kernel> && numerator_fits<burkes_kernel> && numerator_fits<sierra_kernel>);

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
    std::array<DiffusionTap, max_kernel_taps> taps{};
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
              taps_within_reach<sierra_lite_kernel> && taps_within_reach<jarvis_judice_ninke_kernel> &&
              taps_within_reach<stucki_kernel> && taps_within_reach<burkes_kernel> && taps_within_reach<sierra_kernel>);

// No error exceeds the working range (the working value is clamped before
// the error is taken), and a kernel's weights add up to its divisor at most,
// so what reaches a pixel never exceeds the range either: errors cannot
// pile up, whatever the kernel.
template <const DiffusionKernel& K>
constexpr bool weights_within_divisor = [] {
    int sum = 0;
    for (int t = 0; t < K.tap_count; ++t) sum += K.taps[static_cast<std::size_t>(t)].weight;
    return sum <= K.divisor;
}();
static_assert(weights_within_divisor<jarvis_judice_ninke_kernel> && weights_within_divisor<stucki_kernel> &&
              weights_within_divisor<burkes_kernel> && weights_within_divisor<sierra_kernel>);

// The pattern methods' offsets stay within +-pattern_reach.
constexpr int pattern_reach = ordered_dither_amplitude / 2;

// The three components of a pixel, handled alike: each step of error
// diffusion is written once for all three.
template <class T>
struct Rgb {
    T red, green, blue;

    template <class F>
    constexpr auto map(F f) const -> Rgb<decltype(f(red))> {
        return {f(red), f(green), f(blue)};
    }
};
template <class T>
constexpr Rgb<T> operator+(const Rgb<T>& a, const Rgb<T>& b) {
    return {a.red + b.red, a.green + b.green, a.blue + b.blue};
}
template <class T>
constexpr Rgb<T> operator-(const Rgb<T>& a, const Rgb<T>& b) {
    return {a.red - b.red, a.green - b.green, a.blue - b.blue};
}
template <class T>
constexpr Rgb<T> operator*(T factor, const Rgb<T>& a) {
    return {factor * a.red, factor * a.green, factor * a.blue};
}
template <class T>
constexpr Rgb<T> operator/(const Rgb<T>& a, T divisor) {
    return {a.red / divisor, a.green / divisor, a.blue / divisor};
}
// Three consecutive values of an interleaved row, and back.
template <class T>
Rgb<T> load(const T* at) {
    return {at[0], at[1], at[2]};
}
template <class T>
void store(T* at, const Rgb<T>& value) {
    at[0] = value.red, at[1] = value.green, at[2] = value.blue;
}

// The palette's colours in the working light, for the errors of diffusion.
struct PaletteLight {
    std::array<std::uint16_t, palette_size> red, green, blue;
    Rgb<int> at(std::uint8_t index) const { return {red[index], green[index], blue[index]}; }
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

Rgb<int> weighted_colour(const std::int32_t* weighted_palette, std::uint8_t index) {
    return {weighted_palette[index], weighted_palette[palette_size + index],
            weighted_palette[2 * palette_size + index]};
}

// Gives every pixel whose alpha is below the threshold the transparent index.
template <qlx_pixel_format F>
void mark_transparent(const DitherState& state, const std::uint8_t* pixels, std::uint8_t* indices) {
    static constexpr PixelOrder order = pixel_order(F);
    if constexpr (order.has_alpha) {
        if (!state.marks_transparent) return;
        const auto index = static_cast<std::uint8_t>(state.transparent_index);
        for (std::size_t x = 0; x < state.width; ++x) {
            if (pixels[order.bytes * x + order.alpha] < QLX_ALPHA_THRESHOLD) indices[x] = index;
        }
    }
}

// ---- No dithering ----

template <qlx_pixel_format F>
void nearest_row(DitherState& state, const std::uint8_t* pixels, std::size_t, std::uint8_t* indices) {
    quantise_row<F>(pixels, state.width, indices);
    mark_transparent<F>(state, pixels, indices);
}

// ---- Patterns: an offset added to every component before the search ----

struct BayerPattern {
    static constexpr std::size_t side = 8;
    static constexpr int levels = 64;
    static int value(std::size_t y, std::size_t x) { return bayer_matrix[y][x]; }
};
struct BlueNoisePattern {
    static constexpr std::size_t side = blue_noise_side;
    static constexpr int levels = blue_noise_levels;
    static int value(std::size_t y, std::size_t x) { return blue_noise_mask[y][x]; }
};

// Row y's offsets are worked out once, not once a pixel, each as an index
// into the clamped places; the clamp only guards the tables, since
// strengths up to 100 keep offsets inside them.
template <qlx_pixel_format F, class Pattern>
void pattern_row(DitherState& state, const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    static constexpr PixelOrder order = pixel_order(F);
    static constexpr const ClampedPlaces<pattern_reach>& places = clamped_places<pattern_reach>;
    constexpr int divisor = 2 * Pattern::levels * max_dither_strength;
    std::array<std::size_t, Pattern::side> starts;
    for (std::size_t x = 0; x < Pattern::side; ++x) {
        const int threshold = 2 * Pattern::value(y % Pattern::side, x) - (Pattern::levels - 1);
        const int offset = divide_rounding(threshold * ordered_dither_amplitude * state.options.strength, divisor);
        starts[x] = static_cast<std::size_t>(std::clamp(offset, -pattern_reach, pattern_reach) + pattern_reach);
    }
    for (std::size_t x = 0; x < state.width; ++x) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        const std::size_t start = starts[x % Pattern::side];
        indices[x] = nearest_index_at(places.red[start + pixel[order.red]] + places.green[start + pixel[order.green]] +
                                      places.blue[start + pixel[order.blue]]);
    }
    mark_transparent<F>(state, pixels, indices);
}

// ---- The pattern method: a plan of sixteen indices for each colour ----

template <qlx_pixel_format F>
void planned_row(DitherState& state, const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    static constexpr PixelOrder order = pixel_order(F);
    std::array<std::size_t, 8> places;
    for (std::size_t x = 0; x < 8; ++x) places[x] = bayer_matrix[y % 8][x] >> 2;
    PatternPlans& plans = *state.plans;
    for (std::size_t x = 0; x < state.width; ++x) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        const std::uint8_t red = pixel[order.red], green = pixel[order.green], blue = pixel[order.blue];
        const std::uint32_t key = pattern_plan_key(red, green, blue);
        if (palette_colour_has_key(key)) {
            const std::uint8_t nearest = nearest_index(red, green, blue);
            if (palette_colour(nearest) == Colour{red, green, blue}) {
                indices[x] = nearest;
                continue;
            }
        }
        indices[x] = plans.plan(key)[places[x % 8]];
    }
    mark_transparent<F>(state, pixels, indices);
}

// ---- Error diffusion ----
//
// A row is diffused in three passes. The first two, with nothing chaining
// one pixel to the next, gather into each pixel's numerator its light and
// the errors the rows above passed down. The last walks the row, where each
// pixel waits for the one before: it keeps that chain as short as it can.

template <qlx_pixel_format F, DitherLight L, std::uint32_t Divisor>
void start_numerators(DitherState& state, const std::uint8_t* pixels) {
    static constexpr PixelOrder order = pixel_order(F);
    constexpr std::uint32_t start = Divisor * static_cast<std::uint32_t>(Light<L>::max) + Divisor / 2;
    const auto numerator_of = [](std::uint8_t code) {
        return start + Divisor * static_cast<std::uint32_t>(Light<L>::of_code(code));
    };
    std::uint32_t* numerator = state.numerators.get();
    for (std::size_t x = 0; x < state.width; ++x, numerator += components) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        store(numerator, Rgb<std::uint32_t>{numerator_of(pixel[order.red]), numerator_of(pixel[order.green]),
                                            numerator_of(pixel[order.blue])});
    }
}

// Row y - down ran the other way from row y when down is odd. Its pixel at
// x passed weight * error to x + ahead along its own direction, so pixel x
// here takes it from x - ahead that way: a fixed shift along the whole row.
// The rows hold errors already scaled, so the weights are the kernel's own
// small constants. Rows above the picture pass nothing: before row 0 their
// places in the ring are cleared.
template <const DiffusionKernel& K>
void add_errors_from_rows_above(DitherState& state, std::size_t y) {
    constexpr TapsBelow below = taps_below<K>;
    const std::size_t row_length = components * (state.width + 2 * error_margin);
    if (y == 0) std::fill_n(state.errors.get() + row_length, (error_rows - 1) * row_length, 0);
    std::array<const std::int32_t*, below.count> sources;
    for (std::size_t t = 0; t < below.count; ++t) {
        const DiffusionTap& tap = below.taps[t];
        const auto down = static_cast<std::size_t>(tap.down);
        // Row y - down's place in the ring; rows above the picture fall on cleared places.
        const std::size_t place = (y + error_rows - down) % error_rows;
        const std::ptrdiff_t source_direction = (y + down) % 2 == 0 ? 1 : -1;  // y - down has that parity
        sources[t] = state.errors.get() + place * row_length +
                     static_cast<std::ptrdiff_t>(components) *
                         (static_cast<std::ptrdiff_t>(error_margin) - tap.ahead * source_direction);
    }
    std::uint32_t* const numerators = state.numerators.get();
    // Unsigned arithmetic wraps as the sum of signed terms would, and the
    // whole stays positive.
    for (std::size_t i = 0; i < components * state.width; ++i) {
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
// Stable frames, before the row is diffused: which pixels keep their held
// index. A pixel marked transparent takes no part.
template <qlx_pixel_format F>
void find_held_indices(DitherState& state, const std::uint8_t* pixels, std::size_t y) {
    static constexpr PixelOrder order = pixel_order(F);
    const std::uint8_t* cell = state.memory.cells + y * state.memory.stride;
    const int tolerance = state.memory.tolerance;
    const auto near = [tolerance](int a, int b) { return a - b <= tolerance && b - a <= tolerance; };
    for (std::size_t x = 0; x < state.width; ++x, cell += memory_pixel_bytes) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        const bool held = cell[4] != 0 && near(pixel[order.red], cell[0]) && near(pixel[order.green], cell[1]) &&
                          near(pixel[order.blue], cell[2]);
        state.held[x] = held ? cell[3] : -1;
    }
}

// Stable frames, after: every pixel chosen afresh is held with its colour,
// and a transparent one holds nothing.
template <qlx_pixel_format F>
void hold_chosen_indices(DitherState& state, const std::uint8_t* pixels, std::size_t y, const std::uint8_t* alphas,
                         const std::uint8_t* indices) {
    static constexpr PixelOrder order = pixel_order(F);
    std::uint8_t* cell = state.memory.cells + y * state.memory.stride;
    for (std::size_t x = 0; x < state.width; ++x, cell += memory_pixel_bytes) {
        if (alphas != nullptr && alphas[4 * x] < QLX_ALPHA_THRESHOLD) {
            cell[4] = 0;
        } else if (state.held[x] < 0) {
            const std::uint8_t* pixel = pixels + order.bytes * x;
            cell[0] = pixel[order.red], cell[1] = pixel[order.green], cell[2] = pixel[order.blue];
            cell[3] = indices[x], cell[4] = 1;
        }
    }
}

template <const DiffusionKernel& K, DitherLight L, std::uint32_t Divisor, bool Stable>
void diffuse_along_row(DitherState& state, std::size_t y, const std::uint8_t* alphas, std::uint8_t* indices) {
    const Light<L> light;
    const PaletteLight& chosen_light = palette_light<L>;
    // At full strength the scale is 1, which the compiler then sees.
    const int scale = Divisor == full_strength_divisor<K> ? 1 : error_scale(state.options.strength);
    const int weight_next = weight_ahead<K>(1) * scale;
    constexpr int weight_after = weight_ahead<K>(2);
    const auto transparent_index = static_cast<std::uint8_t>(state.transparent_index);
    const auto working_of = [](std::uint32_t quotient) {
        return std::clamp(static_cast<int>(quotient) - Light<L>::max, 0, Light<L>::max);
    };
    const std::size_t width = state.width;
    const std::size_t row_length = components * (width + 2 * error_margin);
    std::int32_t* const errors = state.errors.get() + y % error_rows * row_length + components * error_margin;
    const std::uint32_t* const numerators = state.numerators.get();
    const std::int32_t* const weighted_palette = state.weighted_palette.get();
    const bool rightwards = y % 2 == 0;
    const auto direction = static_cast<std::size_t>(rightwards ? 1 : -1);  // wraps, as unsigned steps do
    // What the last pixel passes to this one, and the one before it to the next.
    Rgb<int> next{0, 0, 0}, after{0, 0, 0};
    std::size_t x = rightwards ? 0 : width - 1;
    for (std::size_t step = 0; step < width; ++step, x += direction) {
        std::int32_t* const error = errors + components * x;
        if (alphas != nullptr && alphas[4 * x] < QLX_ALPHA_THRESHOLD) {
            // What was diffused to it is dropped with it, and it passes nothing on.
            indices[x] = transparent_index;
            next = after;
            after = {0, 0, 0};
            store(error, Rgb<std::int32_t>{0, 0, 0});
            continue;
        }
        const Rgb<std::uint32_t> quotient =
            (load(numerators + components * x) + next.map([](int n) { return static_cast<std::uint32_t>(n); })) /
            Divisor;
        std::uint8_t index = 0;
        if constexpr (Stable) {
            const int held = state.held[x];
            index = held >= 0 ? static_cast<std::uint8_t>(held)
                              : nearest_index_at(light.place_of(quotient.red, quotient.green, quotient.blue));
        } else {
            index = nearest_index_at(light.place_of(quotient.red, quotient.green, quotient.blue));
        }
        indices[x] = index;
        const Rgb<int> working = quotient.map(working_of);
        next = weight_next * working + after - weighted_colour(weighted_palette, index);
        const Rgb<int> passed = scale * (working - chosen_light.at(index));
        store(error, passed);
        after = weight_after * passed;
    }
}

template <qlx_pixel_format F, const DiffusionKernel& K, DitherLight L, std::uint32_t Divisor>
void diffused_row(DitherState& state, const std::uint8_t* pixels, std::size_t y, std::uint8_t* indices) {
    // Only formats with alpha have their alpha at byte 3 of 4.
    const std::uint8_t* alphas = pixel_order(F).has_alpha && state.marks_transparent ? pixels + 3 : nullptr;
    start_numerators<F, L, Divisor>(state, pixels);
    add_errors_from_rows_above<K>(state, y);
    if (state.memory.cells == nullptr) {
        diffuse_along_row<K, L, Divisor, false>(state, y, alphas, indices);
        return;
    }
    find_held_indices<F>(state, pixels, y);
    diffuse_along_row<K, L, Divisor, true>(state, y, alphas, indices);
    hold_chosen_indices<F>(state, pixels, y, alphas, indices);
}

// ---- The table of row functions ----

constexpr std::size_t format_count = QLX_BGRA + 1;
constexpr std::size_t method_count = static_cast<std::size_t>(DitherMethod::last) + 1;
constexpr std::size_t light_count = static_cast<std::size_t>(DitherLight::linear) + 1;
constexpr std::size_t strength_kinds = 2;  // full, partial

constexpr std::size_t row_function_place(qlx_pixel_format format, DitherMethod method, DitherLight light,
                                         bool full_strength) {
    return ((static_cast<std::size_t>(format) * method_count + static_cast<std::size_t>(method)) * light_count +
            static_cast<std::size_t>(light)) *
               strength_kinds +
           (full_strength ? 0 : 1);
}

template <DitherMethod M>
constexpr const DiffusionKernel& kernel_of() {
    if constexpr (M == DitherMethod::atkinson)
        return atkinson_kernel;
    else if constexpr (M == DitherMethod::sierra_lite)
        return sierra_lite_kernel;
    else if constexpr (M == DitherMethod::jarvis_judice_ninke)
        return jarvis_judice_ninke_kernel;
    else if constexpr (M == DitherMethod::stucki)
        return stucki_kernel;
    else if constexpr (M == DitherMethod::burkes)
        return burkes_kernel;
    else if constexpr (M == DitherMethod::sierra)
        return sierra_kernel;
    else
        return floyd_steinberg_kernel;
}

template <std::size_t Place>
constexpr Ditherer::RowFunction row_function_at() {
    constexpr auto F = static_cast<qlx_pixel_format>(Place / strength_kinds / light_count / method_count);
    constexpr auto M = static_cast<DitherMethod>(Place / strength_kinds / light_count % method_count);
    constexpr auto L = static_cast<DitherLight>(Place / strength_kinds % light_count);
    constexpr bool full_strength = Place % strength_kinds == 0;
    if constexpr (M == DitherMethod::none) {
        return &nearest_row<F>;
    } else if constexpr (M == DitherMethod::ordered) {
        return &pattern_row<F, BayerPattern>;
    } else if constexpr (M == DitherMethod::blue_noise) {
        return &pattern_row<F, BlueNoisePattern>;
    } else if constexpr (M == DitherMethod::pattern) {
        return &planned_row<F>;
    } else {
        constexpr const DiffusionKernel& kernel = kernel_of<M>();
        constexpr std::uint32_t divisor =
            full_strength ? full_strength_divisor<kernel> : partial_strength_divisor<kernel>;
        return &diffused_row<F, kernel, L, divisor>;
    }
}

template <std::size_t... Place>
constexpr std::array<Ditherer::RowFunction, sizeof...(Place)> make_row_functions(std::index_sequence<Place...>) {
    return {row_function_at<Place>()...};
}

// Every row function, by format, method, light and strength.
constexpr auto row_functions =
    make_row_functions(std::make_index_sequence<format_count * method_count * light_count * strength_kinds>{});

// Each palette colour in the working light times the weight of the next
// pixel along the row, at this strength.
void weigh_palette(DitherState& state) {
    int weight = 0;
    switch (state.options.method) {
        case DitherMethod::floyd_steinberg: weight = weight_ahead<floyd_steinberg_kernel>(1); break;
        case DitherMethod::atkinson: weight = weight_ahead<atkinson_kernel>(1); break;
        case DitherMethod::sierra_lite: weight = weight_ahead<sierra_lite_kernel>(1); break;
        case DitherMethod::jarvis_judice_ninke: weight = weight_ahead<jarvis_judice_ninke_kernel>(1); break;
        case DitherMethod::stucki: weight = weight_ahead<stucki_kernel>(1); break;
        case DitherMethod::burkes: weight = weight_ahead<burkes_kernel>(1); break;
        case DitherMethod::sierra: weight = weight_ahead<sierra_kernel>(1); break;
        default: return;
    }
    weight *= error_scale(state.options.strength);
    const PaletteLight& light = state.options.light == DitherLight::linear ? palette_light<DitherLight::linear>
                                                                           : palette_light<DitherLight::srgb>;
    std::int32_t* const red = state.weighted_palette.get();
    std::int32_t* const green = red + palette_size;
    std::int32_t* const blue = green + palette_size;
    for (std::size_t i = 0; i < palette_size; ++i) {
        red[i] = weight * light.red[i];
        green[i] = weight * light.green[i];
        blue[i] = weight * light.blue[i];
    }
}

}  // namespace

Result<Ditherer> Ditherer::create(const DitherOptions& options, std::size_t width, const PixelRules& rules,
                                  const FrameMemory& memory) {
    DitherState state;
    state.options = options;
    state.width = width;
    state.transparent_index = rules.transparent_index;
    state.marks_transparent = rules.transparent_index >= 0 && pixel_order(rules.format).has_alpha;
    if (diffuses_errors(options.method)) {
        // Error rows keep their margins zero for the errors that would come from outside the picture.
        if (width > SIZE_MAX / (error_rows * components) - 2 * error_margin) return failure(QLX_OUT_OF_MEMORY);
        Result<std::unique_ptr<std::int32_t[]>> errors =
            allocate_array<std::int32_t>(error_rows * components * (width + 2 * error_margin));
        Result<std::unique_ptr<std::uint32_t[]>> numerators = allocate_array<std::uint32_t>(components * width);
        Result<std::unique_ptr<std::int32_t[]>> weighted_palette =
            allocate_array<std::int32_t>(components * static_cast<std::size_t>(palette_size));
        if (!errors || !numerators || !weighted_palette) return failure(QLX_OUT_OF_MEMORY);
        state.errors = std::move(*errors);
        state.numerators = std::move(*numerators);
        state.weighted_palette = std::move(*weighted_palette);
        weigh_palette(state);
        if (memory.cells != nullptr) {
            Result<std::unique_ptr<std::int16_t[]>> held = allocate_array<std::int16_t>(width);
            if (!held) return failure(QLX_OUT_OF_MEMORY);
            state.held = std::move(*held);
            state.memory = memory;
        }
    }
    DitherMethod method = options.method;
    if (method == DitherMethod::pattern) {
        // At strength 0 the plans would mix nothing: every pixel its nearest index.
        if (options.strength == 0) {
            method = DitherMethod::none;
        } else {
            Result<PatternPlans> plans = PatternPlans::create(options.strength);
            if (!plans) return failure(plans.error());
            state.plans.emplace(std::move(*plans));
        }
    }
    const bool full_strength = options.strength == max_dither_strength;
    return Ditherer(std::move(state),
                    row_functions[row_function_place(rules.format, method, options.light, full_strength)]);
}

}  // namespace qlx
