#pragma once
// The 64 x 64 blue-noise mask of --dither=blue-noise: every rank from 0 to
// 4095 once, arranged so that ranks close in value lie far apart, with no
// short period (Bayer's 8 x 8 shows as a crosshatch). Generated at build time
// by tools/generate_blue_noise.cpp, whose first comment states the method
// and seed; tests check its values.

#include <cstdint>

namespace qlx {

inline constexpr int blue_noise_side = 64;
inline constexpr int blue_noise_levels = blue_noise_side * blue_noise_side;

extern const std::uint16_t blue_noise_mask[blue_noise_side][blue_noise_side];

}  // namespace qlx
