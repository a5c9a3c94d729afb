#pragma once
// The names of the methods, lights and fits: the one place they are
// spelled. The programs, the web module, the page and the scripts take them
// from the library through qlx_dither_name() and its kin.

#include <array>
#include <string_view>

#include "qlx.h"

namespace qlx {

// Each indexed by its enum's value.
inline constexpr std::array<const char*, 11> dither_names = {
    "none",   "floyd-steinberg", "ordered", "atkinson", "sierra-lite", "blue-noise", "jarvis-judice-ninke",
    "stucki", "burkes",          "sierra",  "pattern"};
inline constexpr std::array<const char*, 2> light_names = {"srgb", "linear"};
inline constexpr std::array<const char*, 4> fit_names = {"keep", "contain", "cover", "stretch"};
inline constexpr std::array<const char*, 2> alpha_names = {"ignore", "composite"};
static_assert(dither_names.size() == QLX_DITHER_PATTERN + 1 && light_names.size() == QLX_LIGHT_LINEAR + 1 &&
              fit_names.size() == QLX_FIT_STRETCH + 1 && alpha_names.size() == QLX_ALPHA_COMPOSITE + 1);

// Whether `value` is one of the names' values.
template <std::size_t N>
constexpr bool names_value(const std::array<const char*, N>&, int value) {
    return value >= 0 && static_cast<std::size_t>(value) < N;
}

}  // namespace qlx
