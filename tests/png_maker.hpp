#pragma once
// A PNG writer for the tests, with every field in the test's hands: each
// colour type and bit depth, Adam7 interlacing, PLTE and tRNS. Samples are
// given one a channel, in the depth's range, top row first.

#include <cstdint>
#include <vector>

#include "test_support.hpp"

namespace qlx::test {

struct PngRecipe {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    std::uint8_t colour_type = 2;  // 0 grey, 2 RGB, 3 indexed, 4 grey + alpha, 6 RGBA
    std::uint8_t bit_depth = 8;
    bool interlaced = false;
    std::vector<std::uint16_t> samples;  // width * height * channels
    Bytes palette;                       // PLTE's payload, 3 bytes an entry
    Bytes transparency;                  // tRNS's payload, written when not empty
};

unsigned channels_of(std::uint8_t colour_type);
Bytes make_png(const PngRecipe& recipe);

}  // namespace qlx::test
