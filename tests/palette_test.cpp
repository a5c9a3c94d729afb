#include "palette.hpp"

#include <gtest/gtest.h>

#include <set>

namespace qlx {
namespace {

TEST(Palette, TableHoldsTheDocumentedColours) {
    EXPECT_EQ(palette_colour(0), (Colour{0, 0, 0}));
    EXPECT_EQ(palette_colour(8), (Colour{0xB7, 0x00, 0x00}));
    EXPECT_EQ(palette_colour(2), (Colour{0x17, 0x2F, 0xAB}));
    EXPECT_EQ(palette_colour(255), (Colour{0xFF, 0xFF, 0xFF}));
    std::set<std::uint32_t> distinct(palette_rgb.begin(), palette_rgb.end());
    EXPECT_EQ(distinct.size(), 235u);
}

struct Case {
    std::uint8_t red, green, blue;
    std::uint8_t expected;
};

TEST(NearestPaletteIndex, PrimariesAndTiesTakeTheLowestIndex) {
    const Case cases[] = {
        {0, 0, 0, 0},         // black: never one of the later black entries
        {255, 255, 255, 47},  // white: 47, not 255
        {255, 255, 0, 63},    // yellow: 63, not 71 or 247
        {255, 0, 0, 215},    {0, 255, 0, 231}, {0, 0, 255, 207}, {0, 0x6B, 0x6B, 172},  // 006B6B: 172, not 235
        {1, 1, 1, 0},         // every black entry ties at distance 3
        {128, 128, 128, 83},  // 7F7F7F at distance 3
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nearest_palette_index(c.red, c.green, c.blue), c.expected)
            << "red " << int(c.red) << " green " << int(c.green) << " blue " << int(c.blue);
    }
}

TEST(NearestPaletteIndex, ColourRoundTripKeepsAllButTheTwentyOneRepeats) {
    const std::set<int> repeats = {71,  80,  136, 144, 152, 160, 168, 176, 184, 192, 193,
                                   194, 195, 196, 197, 198, 199, 232, 235, 247, 255};
    for (int i = 0; i < 256; ++i) {
        const Colour colour = palette_colour(static_cast<std::uint8_t>(i));
        const int back = nearest_palette_index(colour.red, colour.green, colour.blue);
        if (!repeats.contains(i)) {
            EXPECT_EQ(back, i);
            continue;
        }
        // A repeat comes back as the first index that holds its colour.
        int first = 0;
        while (palette_colour(static_cast<std::uint8_t>(first)) != colour) ++first;
        EXPECT_LT(first, i);
        EXPECT_EQ(back, first) << "index " << i;
    }
    EXPECT_EQ(nearest_palette_index(0xFF, 0xFF, 0xFF), 47);
}

}  // namespace
}  // namespace qlx
