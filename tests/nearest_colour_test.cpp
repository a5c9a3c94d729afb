#include "nearest_colour.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

#include "nearest_table_builder.hpp"
#include "palette.hpp"

namespace qlx {
namespace {

// An independent, deliberately plain statement of the rule: every search the
// programs can take must agree with it on every colour.
int literal_nearest(int red, int green, int blue) {
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

// A line of 256 colours that differ only in blue, as pixels of format F;
// with `scattered`, blue is bit-reversed so that neighbours fall in
// different cells, as in a noisy picture, and the prefetching loop runs.
template <qlx_pixel_format F>
std::vector<std::uint8_t> blue_line(int red, int green, bool scattered) {
    constexpr PixelOrder order = pixel_order(F);
    std::vector<std::uint8_t> line(order.bytes * 256, 0x55);  // alpha, if any, is ignored
    for (std::size_t x = 0; x < 256; ++x) {
        std::size_t blue = x;
        if (scattered) {
            blue = 0;
            for (int i = 0; i < 8; ++i) blue |= (x >> i & 1) << (7 - i);
        }
        line[order.bytes * x + order.red] = static_cast<std::uint8_t>(red);
        line[order.bytes * x + order.green] = static_cast<std::uint8_t>(green);
        line[order.bytes * x + order.blue] = static_cast<std::uint8_t>(blue);
    }
    return line;
}

// Whether both row loops of format F give `expected` for every blue.
template <qlx_pixel_format F>
bool rows_agree(int red, int green, const std::array<std::uint8_t, 256>& expected) {
    std::array<std::uint8_t, 256> in_order{}, scattered{};
    quantise_row<F>(blue_line<F>(red, green, false).data(), 256, in_order.data());
    quantise_row<F>(blue_line<F>(red, green, true).data(), 256, scattered.data());
    for (std::size_t x = 0; x < 256; ++x) {
        std::size_t reversed = 0;
        for (int i = 0; i < 8; ++i) reversed |= (x >> i & 1) << (7 - i);
        if (in_order[x] != expected[x] || scattered[x] != expected[reversed]) return false;
    }
    return true;
}

// Every colour, through both row loops of every pixel format and as a single
// colour (as dithering asks), against the literal search.
TEST(NearestColour, TableAgreesWithTheLiteralSearchOnEveryColour) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "2^24 literal searches take too long under sanitizers";
#endif
    int mismatches = 0;
    for (int red = 0; red < 256; ++red) {
        for (int green = 0; green < 256; ++green) {
            std::array<std::uint8_t, 256> expected{};
            bool agree = true;
            for (int blue = 0; blue < 256; ++blue) {
                const auto [r, g, b] = std::array{static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                                  static_cast<std::uint8_t>(blue)};
                expected[b] = static_cast<std::uint8_t>(literal_nearest(red, green, blue));
                agree = agree && nearest_index(r, g, b) == expected[b] && nearest_palette_index(r, g, b) == expected[b];
            }
            agree = agree && rows_agree<QLX_BGR>(red, green, expected) && rows_agree<QLX_RGB>(red, green, expected) &&
                    rows_agree<QLX_RGBA>(red, green, expected) && rows_agree<QLX_BGRA>(red, green, expected);
            if (!agree && ++mismatches <= 5) ADD_FAILURE() << "red " << red << " green " << green;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The WebAssembly module computes its table while it loads: the same code
// must give exactly the table built in here, which the test above checks.
TEST(NearestColour, TableComputedAtLoadIsTheBuiltOne) {
    const NearestTable computed = compute_nearest_table();
    ASSERT_EQ(computed.block_slots.size(), block_count);
    EXPECT_TRUE(std::equal(computed.block_slots.begin(), computed.block_slots.end(), nearest_table::block_slots));
    for (std::size_t slot = 0; slot < computed.slots.size(); ++slot) {
        ASSERT_TRUE(std::equal(computed.slots[slot].begin(), computed.slots[slot].end(),
                               nearest_table::slot_answers + slot * slot_bytes))
            << "slot " << slot;
    }
}

}  // namespace
}  // namespace qlx
