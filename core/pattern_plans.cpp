#include "pattern_plans.hpp"

#include <algorithm>
#include <utility>

#include "linear_light.hpp"
#include "memory.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"

namespace qlx {
namespace {

constexpr int widened(int high_six) { return high_six << 2 | high_six >> 4; }

// What the candidates are sorted by: luminance, then index, in one number.
constexpr std::array<std::uint64_t, palette_size> luminance_order = [] {
    std::array<std::uint64_t, palette_size> order{};
    for (std::size_t i = 0; i < palette_size; ++i) {
        const std::uint64_t luminance = 2126u * linear_of_code[palette.red[i]] +
                                        7152u * linear_of_code[palette.green[i]] +
                                        722u * linear_of_code[palette.blue[i]];
        order[i] = luminance << 8 | i;
    }
    return order;
}();

// One bit for each key that some palette colour has.
constexpr std::array<std::uint64_t, pattern_plan_count / 64> palette_keys = [] {
    std::array<std::uint64_t, pattern_plan_count / 64> keys{};
    for (std::size_t i = 0; i < palette_size; ++i) {
        const std::uint32_t key = pattern_plan_key(palette.red[i], palette.green[i], palette.blue[i]);
        keys[key / 64] |= std::uint64_t{1} << (key % 64);
    }
    return keys;
}();

int floor_divide(int n, int d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

}  // namespace

bool palette_colour_has_key(std::uint32_t key) { return (palette_keys[key / 64] >> (key % 64) & 1) != 0; }

void make_pattern_plan(std::uint32_t key, int strength, std::uint8_t* plan) {
    const std::uint8_t* code_of = code_of_each_clamped_linear().data() + linear_max;
    const int target[3] = {linear_of_code[static_cast<std::size_t>(widened(static_cast<int>(key >> 12)))],
                           linear_of_code[static_cast<std::size_t>(widened(static_cast<int>(key >> 6 & 63)))],
                           linear_of_code[static_cast<std::size_t>(widened(static_cast<int>(key & 63)))]};
    int error[3] = {0, 0, 0};
    std::array<std::uint64_t, pattern_plan_length> candidates{};
    for (std::uint64_t& candidate : candidates) {
        std::uint8_t code[3];
        for (int k = 0; k < 3; ++k) {
            const int goal =
                std::clamp(target[k] + floor_divide(strength * error[k] + 100, 200), 0, static_cast<int>(linear_max));
            code[k] = code_of[goal];
        }
        const std::uint8_t index = nearest_index(code[0], code[1], code[2]);
        candidate = luminance_order[index];
        error[0] += target[0] - linear_of_code[palette.red[index]];
        error[1] += target[1] - linear_of_code[palette.green[index]];
        error[2] += target[2] - linear_of_code[palette.blue[index]];
    }
    std::sort(candidates.begin(), candidates.end());
    for (std::size_t n = 0; n < pattern_plan_length; ++n) plan[n] = static_cast<std::uint8_t>(candidates[n] & 0xFF);
}

Result<PatternPlans> PatternPlans::create(int strength) {
    Result<std::unique_ptr<std::uint8_t[]>> plans =
        allocate_array<std::uint8_t>(pattern_plan_count * pattern_plan_length);
    Result<std::unique_ptr<std::uint8_t[]>> made = allocate_array<std::uint8_t>(pattern_plan_count);
    if (!plans || !made) return failure(QLX_OUT_OF_MEMORY);
    return PatternPlans(std::move(*plans), std::move(*made), strength);
}

}  // namespace qlx
