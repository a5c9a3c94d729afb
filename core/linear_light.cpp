#include "linear_light.hpp"

namespace qlx {

const std::array<std::uint8_t, linear_max + 1>& code_of_each_linear() {
    static const std::array<std::uint8_t, linear_max + 1> codes = [] {
        std::array<std::uint8_t, linear_max + 1> made{};
        for (std::uint32_t linear = 0; linear <= linear_max; ++linear) made[linear] = code_of_linear(linear);
        return made;
    }();
    return codes;
}

}  // namespace qlx
