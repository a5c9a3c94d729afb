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

// Each search answers whole lines of 256 colours that differ only in blue,
// so the SIMD and plain paths, the lazily built grid cells and the lazily
// filled table cells are all exercised as palquant uses them. The table sees
// each line twice: in order, and with blue bit-reversed so that neighbours
// fall in different cells, as in a noisy picture.
TEST(NearestColour, EverySearchAgreesWithTheLiteralOneOnEveryColour) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "2^24 literal searches take too long under sanitizers";
#endif
    NearestColourGrid grid;
    NearestColourGrid portable_grid;
    std::optional<NearestColourTable> table = NearestColourTable::create();
    std::optional<NearestColourTable> scattered_table = NearestColourTable::create();
    ASSERT_TRUE(table && scattered_table);
    std::array<std::uint8_t, 3 * 256> line{}, scattered_line{};
    std::array<std::uint8_t, 256> from_grid{}, from_portable{}, from_table{}, from_scattered{};
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
            grid.quantise_row(line.data(), 256, from_grid.data());
            portable_grid.quantise_row_portable(line.data(), 256, from_portable.data());
            table->quantise_row(line.data(), 256, from_table.data());
            scattered_table->quantise_row(scattered_line.data(), 256, from_scattered.data());
            for (int blue = 0; blue < 256; ++blue) {
                const int expected = literal_nearest(blue, green, red);
                const auto b = static_cast<std::size_t>(blue);
                const bool agree = from_grid[b] == expected && from_portable[b] == expected &&
                                   from_table[b] == expected && from_scattered[reversed(b)] == expected &&
                                   nearest_palette_index(line[3 * b], line[3 * b + 1], line[3 * b + 2]) == expected;
                if (!agree && ++mismatches <= 5)
                    ADD_FAILURE() << "red " << red << " green " << green << " blue " << blue;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The grid's speed rests on its pruning: a weaker bound still gives exact
// answers, but ranks several times the candidates for every pixel.
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
    EXPECT_LE(most, 29u);
    EXPECT_LE(total, 8u * cell_count);  // 7.9 on average
}

}  // namespace
}  // namespace pal
