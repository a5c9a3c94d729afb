#pragma once
// sRGB codes and linear light, in integers, so that every build and machine
// gives the same bytes. Light adds up linearly: an average of pixels, as the
// eye sees them together, is an average of their linear values.
//
// linear_of_code[c] is round(65535 * L(c / 255)), with the sRGB curve
//   L(v) = v / 12.92                     for v <= 0.04045
//   L(v) = ((v + 0.055) / 1.055) ^ 2.4   otherwise,
// evaluated by the compiler in IEEE doubles. The 256 values rise strictly
// (the smallest step, between codes 0 and 1, is 20), so code_of_linear()
// gives back every code exactly.

#include <array>
#include <cstdint>

namespace qlx {

inline constexpr std::uint32_t linear_max = 65535;  // 16 bits of linear light

namespace detail {
// a^(1/5) for a in (0, 1], by Newton's method from above.
constexpr double fifth_root(double a) {
    double root = 1.0;
    for (int step = 0; step < 200; ++step) {
        const double root4 = root * root * root * root;
        const double next = (4.0 * root + a / root4) / 5.0;
        if (next >= root) break;
        root = next;
    }
    return root;
}

constexpr double srgb_to_linear(double v) {
    if (v <= 0.04045) return v / 12.92;
    const double base = (v + 0.055) / 1.055;
    const double square = base * base;
    return square * fifth_root(square);  // base^2.4 = base^2 * (base^2)^(1/5)
}
}  // namespace detail

inline constexpr std::array<std::uint16_t, 256> linear_of_code = [] {
    std::array<std::uint16_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        const double linear = detail::srgb_to_linear(c / 255.0) * linear_max;
        table[static_cast<std::size_t>(c)] = static_cast<std::uint16_t>(linear + 0.5);
    }
    return table;
}();

// The code whose linear value is nearest to `linear` (0 to linear_max); at
// exactly halfway, the lower code.
constexpr std::uint8_t code_of_linear(std::uint32_t linear) {
    // The number of codes c below 255 with linear above the midpoint of c and c + 1.
    std::uint32_t code = 0;
    for (std::uint32_t step = 128; step > 0; step /= 2) {
        const std::uint32_t c = code + step - 1;  // candidate: codes 0..c all below
        if (c < 255 && 2 * linear > std::uint32_t{linear_of_code[c]} + linear_of_code[c + 1]) code += step;
    }
    return static_cast<std::uint8_t>(code);
}

// For the inner loop of error diffusion in linear light, whose working
// values run from -linear_max to 2 * linear_max before they are clamped:
// code_of_linear() of every such value, clamped, at index value +
// linear_max. One load instead of a clamp and eight steps of a search.
// Made on first use, in one sweep (65536 values are beyond what compilers
// evaluate as constants), so that programs that never diffuse in linear
// light do not pay for it.
inline constexpr std::size_t clamped_linear_values = 3 * std::size_t{linear_max} + 1;
const std::array<std::uint8_t, clamped_linear_values>& code_of_each_clamped_linear();

}  // namespace qlx
