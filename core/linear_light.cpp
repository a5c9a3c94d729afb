#include "linear_light.hpp"

#include <algorithm>

namespace qlx {

const std::array<std::uint8_t, clamped_linear_values>& code_of_each_clamped_linear() {
    // Filled where it lies: 192 KiB is too much for some threads' stacks.
    // Below 0 every value is code 0, as zero-filled; above linear_max, 255.
    static std::array<std::uint8_t, clamped_linear_values> codes;
    static const bool made = [] {
        // The codes rise with the light: a value moves to the next code once
        // it passes their midpoint, the lower code keeping exactly halfway.
        std::uint32_t code = 0;
        for (std::uint32_t linear = 0; linear <= linear_max; ++linear) {
            while (code < 255 && 2 * linear > std::uint32_t{linear_of_code[code]} + linear_of_code[code + 1]) ++code;
            codes[linear + linear_max] = static_cast<std::uint8_t>(code);
        }
        std::fill(codes.begin() + 2 * linear_max + 1, codes.end(), std::uint8_t{255});
        return true;
    }();
    static_cast<void>(made);
    return codes;
}

}  // namespace qlx
