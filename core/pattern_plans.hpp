#pragma once
// The pattern method's plans: for a colour, sixteen palette indices whose
// mix in linear light comes close to it, sorted dark to light, so that the
// Bayer matrix spreads them over the pixels as an ordered pattern. A plan
// depends only on the colour's high six bits a component and the strength,
// so a conversion works out each of the 2^18 plans it meets once.
//
// For the colour c at strength s (1 to 100), with each component reduced to
// six bits and widened back, w = (c & 0xFC) | (c >> 6):
//   T = L(w), E = 0 (each component);
//   16 times: g = clamp(T + floor((s * E + 100) / 200), 0, 65535);
//             i = nearest(code_of_linear(g)); append i; E += T - L(palette[i]);
//   sort by luminance 2126 L(R) + 7152 L(G) + 722 L(B), then by index.
// The pixel at (x, y) takes plan[M[y % 8][x % 8] >> 2]. A pixel whose colour
// is a palette colour takes its nearest index, and so does every pixel at
// strength 0: flat art keeps its colours.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "result.hpp"

namespace qlx {

inline constexpr std::size_t pattern_plan_length = 16;
inline constexpr std::size_t pattern_plan_count = std::size_t{1} << 18;

// The plan's place: the high six bits of red, green and blue.
constexpr std::uint32_t pattern_plan_key(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return std::uint32_t{red} >> 2 << 12 | std::uint32_t{green} >> 2 << 6 | std::uint32_t{blue} >> 2;
}

// Writes the plan of `key` at `strength` into plan[0..15].
void make_pattern_plan(std::uint32_t key, int strength, std::uint8_t* plan);

// Whether some palette colour has this key: only then can a pixel with it
// be a palette colour.
bool palette_colour_has_key(std::uint32_t key);

// The plans one conversion has met, made as it meets them.
class PatternPlans {
public:
    static Result<PatternPlans> create(int strength);

    const std::uint8_t* plan(std::uint32_t key) {
        std::uint8_t* at = plans_.get() + std::size_t{key} * pattern_plan_length;
        if (made_[key] == 0) {
            make_pattern_plan(key, strength_, at);
            made_[key] = 1;
        }
        return at;
    }

private:
    PatternPlans(std::unique_ptr<std::uint8_t[]> plans, std::unique_ptr<std::uint8_t[]> made, int strength)
        : plans_(std::move(plans)), made_(std::move(made)), strength_(strength) {}

    std::unique_ptr<std::uint8_t[]> plans_;  // pattern_plan_length bytes a key
    std::unique_ptr<std::uint8_t[]> made_;   // 1 for each key whose plan is made
    int strength_;
};

}  // namespace qlx
