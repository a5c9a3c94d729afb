#include <gtest/gtest.h>

#include <cstdlib>

#include "nearest_colour.hpp"
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

TEST(NearestColour, EverySearchAgreesWithTheLiteralOneOnEveryColour) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "2^24 literal searches take too long under sanitizers";
#endif
    NearestColourGrid grid;
    std::optional<NearestColourTable> table = NearestColourTable::create();
    ASSERT_TRUE(table);
    int mismatches = 0;
    for (int red = 0; red < 256; ++red) {
        for (int green = 0; green < 256; ++green) {
            for (int blue = 0; blue < 256; ++blue) {
                const auto b = static_cast<std::uint8_t>(blue);
                const auto g = static_cast<std::uint8_t>(green);
                const auto r = static_cast<std::uint8_t>(red);
                const int expected = literal_nearest(blue, green, red);
                const bool agree = nearest_palette_index(b, g, r) == expected && grid.nearest(b, g, r) == expected &&
                                   table->nearest(b, g, r) == expected;
                if (!agree && ++mismatches <= 5) ADD_FAILURE() << "red " << red << " green " << green << " blue " << blue;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(NearestColour, GridKeepsFewCandidatesPerCell) {
    NearestColourGrid grid;
    std::size_t total = 0;
    std::size_t most = 0;
    for (int cell = 0; cell < cell_count; ++cell) {
        const std::size_t count = grid.candidates(cell).size();
        EXPECT_GE(count, 1u);
        total += count;
        most = std::max(most, count);
    }
    std::printf("candidates per cell: %.1f on average, %zu at most\n", double(total) / cell_count, most);
    EXPECT_LE(most, 64u);
}

}  // namespace
}  // namespace pal
