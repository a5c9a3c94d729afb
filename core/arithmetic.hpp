#pragma once
// Integer arithmetic that the core's exact results rest on.

#include <type_traits>

namespace qlx {

// n / d rounded to the nearest integer, halves upwards, for any sign of n
// (d > 0): integer division alone would round towards zero.
template <class Integer>
constexpr Integer divide_rounding(Integer n, Integer d) {
    const Integer shifted = n + d / 2;
    if constexpr (std::is_unsigned_v<Integer>) {
        return shifted / d;
    } else {
        return shifted >= 0 ? shifted / d : -((-shifted + d - 1) / d);
    }
}

}  // namespace qlx
