#include "nearest_colour.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>

#include "palette.hpp"

namespace pal {
namespace {

// An independent, deliberately plain statement of the rule: every search the
// programs can take must agree with it on every colour.
int literal_nearest(int blue, int green, int red) {
    int best = 0;
    int best_distance = 0x7FFF;
    for (int i = 0; i < 256; ++i) {
        const auto index = static_cast<std::uint8_t>(i);
        const int distance = std::abs(red - palette.red[index]) + std::abs(green - palette.green[index]) +
                             std::abs(blue - palette.blue[index]);
        if (distance < best_distance) {
            best = i;
            best_distance = distance;
        }
    }
    return best;
}

// The table answers whole lines of 256 colours that differ only in blue,
// each twice: in order, and with blue bit-reversed so that neighbours fall in
// different cells, as in a noisy picture, so that both row loops run. Single
// colours are asked too, as dithering asks them.
TEST(NearestColour, TableAgreesWithTheLiteralSearchOnEveryColour) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "2^24 literal searches take too long under sanitizers";
#endif
    std::array<std::uint8_t, 3 * 256> line{}, scattered_line{};
    std::array<std::uint8_t, 256> from_line{}, from_scattered{};
    const auto reversed = [](std::size_t blue) {
        std::size_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= (blue >> i & 1) << (7 - i);
        return bits;
    };
    int mismatches = 0;
    for (int red = 0; red < 256; ++red) {
        for (int green = 0; green < 256; ++green) {
            for (std::size_t blue = 0; blue < 256; ++blue) {
                line[3 * blue] = static_cast<std::uint8_t>(blue);
                line[3 * blue + 1] = static_cast<std::uint8_t>(green);
                line[3 * blue + 2] = static_cast<std::uint8_t>(red);
                std::copy_n(&line[3 * blue], 3, &scattered_line[3 * reversed(blue)]);
            }
            quantise_row(line.data(), 256, from_line.data());
            quantise_row(scattered_line.data(), 256, from_scattered.data());
            for (std::size_t blue = 0; blue < 256; ++blue) {
                const int expected = literal_nearest(static_cast<int>(blue), green, red);
                const std::uint8_t* colour = &line[3 * blue];
                const bool agree = from_line[blue] == expected && from_scattered[reversed(blue)] == expected &&
                                   nearest_index(colour) == expected &&
                                   nearest_palette_index(colour[0], colour[1], colour[2]) == expected;
                if (!agree && ++mismatches <= 5)
                    ADD_FAILURE() << "red " << red << " green " << green << " blue " << blue;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace pal
