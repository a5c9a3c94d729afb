// qlx_convert and the size in a name, against plain statements of qlx.h:
// colours convert as qlx_quantise, qlx_resample and the box say; a palette
// that is ours keeps every index, duplicates included; transparency follows
// its one rule; and a name's size follows the stated rule. A refusal leaves
// the caller's buffer untouched.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "qlx.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t canary = 0xab;

Bytes random_bytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

qlx_options composite(std::uint32_t background = 0, qlx_dither dither = QLX_DITHER_NONE) {
    qlx_options options = qlx_default_options();
    options.alpha = QLX_ALPHA_COMPOSITE;
    options.background = static_cast<int>(background);
    options.dither = dither;
    return options;
}

qlx_picture colours(const Bytes& pixels, std::size_t width, std::size_t height, qlx_pixel_format format,
                    std::size_t stride = 0) {
    return {pixels.data(), width,   height, stride != 0 ? stride : width * qlx_pixel_bytes(format),
            format,        nullptr, 0,      nullptr};
}

qlx_picture indexed(const Bytes& indices, std::size_t width, std::size_t height, const Bytes& palette,
                    const Bytes* stored = nullptr) {
    return {indices.data(),
            width,
            height,
            width,
            QLX_RGB,
            palette.data(),
            palette.size() / 4,
            stored != nullptr ? stored->data() : nullptr};
}

Bytes converted(const qlx_picture& picture, const qlx_options& options, qlx_fit fit = QLX_FIT_KEEP,
                std::size_t box_width = 0, std::size_t box_height = 0) {
    std::size_t width = 0, height = 0;
    EXPECT_EQ(qlx_convert_size(&picture, fit, box_width, box_height, &width, &height), QLX_OK);
    Bytes out(width * height, canary);
    EXPECT_EQ(qlx_convert(&picture, &options, fit, box_width, box_height, out.data(), out.size()), QLX_OK);
    return out;
}

// Our palette, all 256 entries, alpha 255 unless given.
Bytes our_palette(std::size_t entries = 256) {
    Bytes palette;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint32_t c = qlx_palette_colour(static_cast<std::uint8_t>(i));
        palette.insert(palette.end(), {std::uint8_t(c >> 16), std::uint8_t(c >> 8), std::uint8_t(c), 255});
    }
    return palette;
}

std::uint8_t blended(unsigned code, unsigned alpha, unsigned background) {
    return static_cast<std::uint8_t>((code * alpha + background * (255 - alpha) + 127) / 255);
}

// ---- Colours -------------------------------------------------------------

// Kept at its size, a picture of colours gives qlx_quantise's bytes, in
// every format, stride, method and alpha rule.
TEST(Convert, ColoursAtTheirSizeAreQlxQuantise) {
    constexpr std::size_t width = 37, height = 23;
    for (const qlx_pixel_format format : {QLX_RGB, QLX_BGR, QLX_RGBA, QLX_BGRA}) {
        const std::size_t stride = width * qlx_pixel_bytes(format) + 5;
        const Bytes pixels = random_bytes(stride * height, static_cast<unsigned>(format));
        for (const qlx_dither dither : {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_ORDERED}) {
            for (const qlx_options& options : {composite(0x204060, dither), qlx_default_options()}) {
                qlx_options chosen = options;
                chosen.dither = dither;
                Bytes expected(width * height);
                ASSERT_EQ(qlx_quantise(pixels.data(), width, height, stride, format, &chosen, expected.data(),
                                       expected.size()),
                          QLX_OK);
                EXPECT_EQ(converted(colours(pixels, width, height, format, stride), chosen), expected)
                    << format << " " << dither;
            }
        }
    }
}

// Fitted, colours are the placement's part, resampled, quantised and set in
// a box of index 0: the header's functions one after another.
TEST(Convert, FittedColoursAreThePlacementResampledAndBoxed) {
    constexpr std::size_t width = 53, height = 31;
    const Bytes pixels = random_bytes(width * height * 4, 7);
    for (const qlx_fit fit : {QLX_FIT_CONTAIN, QLX_FIT_COVER, QLX_FIT_STRETCH}) {
        for (const auto& [box_width, box_height] : {std::pair{40u, 40u}, std::pair{80u, 20u}, std::pair{53u, 31u}}) {
            const qlx_options options = composite(0x808080, QLX_DITHER_ATKINSON);
            qlx_placement place{};
            ASSERT_EQ(qlx_fit_placement(width, height, box_width, box_height, fit, &place), QLX_OK);
            Bytes part(place.width * place.height * 4);
            const std::uint8_t* first = pixels.data() + (place.source_y * width + place.source_x) * 4;
            ASSERT_EQ(qlx_resample(first, place.source_width, place.source_height, width * 4, QLX_RGBA, part.data(),
                                   place.width, place.height, part.size()),
                      QLX_OK);
            Bytes inner(place.width * place.height);
            ASSERT_EQ(qlx_quantise(part.data(), place.width, place.height, place.width * 4, QLX_RGBA, &options,
                                   inner.data(), inner.size()),
                      QLX_OK);
            Bytes expected(box_width * box_height, 0);
            for (std::size_t y = 0; y < place.height; ++y) {
                std::copy_n(inner.begin() + static_cast<std::ptrdiff_t>(y * place.width), place.width,
                            expected.begin() + static_cast<std::ptrdiff_t>((place.y + y) * box_width + place.x));
            }
            EXPECT_EQ(converted(colours(pixels, width, height, QLX_RGBA), options, fit, box_width, box_height),
                      expected)
                << fit << " " << box_width << "x" << box_height;
        }
    }
}

// The colours shown beside a result: the resampled part in its place,
// palette entry 0 around it.
TEST(Convert, ItsColoursAreThePlacedPartInTheBox) {
    constexpr std::size_t width = 30, height = 10;
    const Bytes pixels = random_bytes(width * height * 3, 9);
    qlx_placement place{};
    ASSERT_EQ(qlx_fit_placement(width, height, 12, 12, QLX_FIT_CONTAIN, &place), QLX_OK);
    Bytes part(place.width * place.height * 3);
    ASSERT_EQ(qlx_resample(pixels.data(), width, height, width * 3, QLX_RGB, part.data(), place.width, place.height,
                           part.size()),
              QLX_OK);
    Bytes expected;
    for (std::size_t y = 0; y < 12; ++y) {
        for (std::size_t x = 0; x < 12; ++x) {
            const bool inside = x >= place.x && x < place.x + place.width && y >= place.y && y < place.y + place.height;
            const std::uint8_t* p = part.data() + ((y - place.y) * place.width + (x - place.x)) * 3;
            expected.insert(expected.end(), {inside ? p[0] : std::uint8_t{0}, inside ? p[1] : std::uint8_t{0},
                                             inside ? p[2] : std::uint8_t{0}, 255});
        }
    }
    const qlx_picture picture = colours(pixels, width, height, QLX_RGB);
    Bytes rgba(12 * 12 * 4, canary);
    ASSERT_EQ(qlx_convert_colours(&picture, QLX_FIT_CONTAIN, 12, 12, rgba.data(), rgba.size()), QLX_OK);
    EXPECT_EQ(rgba, expected);
    EXPECT_EQ(qlx_convert_colours(&picture, QLX_FIT_CONTAIN, 12, 12, rgba.data(), rgba.size() - 1),
              QLX_CAPACITY_TOO_SMALL);
}

// ---- Indices with a palette ----------------------------------------------

// A palette that is ours, as many entries as it has, keeps every index,
// the duplicate entries included; at its size and cropped.
TEST(Convert, OurPaletteKeepsEveryIndex) {
    constexpr std::size_t width = 32, height = 16;
    Bytes indices(width * height);
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint8_t>(i * 7 + i / 32);
    const Bytes palette = our_palette();
    EXPECT_EQ(converted(indexed(indices, width, height, palette), composite(0xff0000, QLX_DITHER_FLOYD_STEINBERG)),
              indices);
    // A shorter palette that is ours keeps its indices too.
    Bytes small = indices;
    for (std::uint8_t& index : small) index %= 16;
    EXPECT_EQ(converted(indexed(small, width, height, our_palette(16)), composite()), small);
    // Cover to a box of the part's own size crops without resampling.
    qlx_placement place{};
    ASSERT_EQ(qlx_fit_placement(width, height, 16, 16, QLX_FIT_COVER, &place), QLX_OK);
    ASSERT_EQ(place.source_width, 16u);
    Bytes crop;
    for (std::size_t y = 0; y < 16; ++y) {
        crop.insert(crop.end(), indices.begin() + static_cast<std::ptrdiff_t>(y * width + place.source_x),
                    indices.begin() + static_cast<std::ptrdiff_t>(y * width + place.source_x + 16));
    }
    EXPECT_EQ(converted(indexed(indices, width, height, palette), composite(), QLX_FIT_COVER, 16, 16), crop);
}

// Any other palette, or a resampled part, converts the palette's colours.
TEST(Convert, AnotherPaletteOrResamplingConvertsColours) {
    constexpr std::size_t width = 24, height = 10;
    Bytes indices = random_bytes(width * height, 3);
    for (std::uint8_t& index : indices) index %= 20;  // 20 past the palette's 16: transparent black
    Bytes palette = our_palette(16);
    palette[4 * 5] ^= 1;  // one entry that is not ours
    palette[4 * 3 + 3] = 100;
    Bytes rgba;
    for (const std::uint8_t index : indices) {
        if (index < 16)
            rgba.insert(rgba.end(), palette.begin() + 4 * index, palette.begin() + 4 * index + 4);
        else
            rgba.insert(rgba.end(), {0, 0, 0, 0});
    }
    for (const qlx_fit fit : {QLX_FIT_KEEP, QLX_FIT_STRETCH}) {
        const qlx_options options = composite(0x00ff00, QLX_DITHER_ORDERED);
        EXPECT_EQ(converted(indexed(indices, width, height, palette), options, fit, 7, 5),
                  converted(colours(rgba, width, height, QLX_RGBA), options, fit, 7, 5))
            << fit;
    }
    // Our palette resampled is its colours resampled, too.
    const Bytes ours = our_palette();
    Bytes expanded(width * height * 4);
    ASSERT_EQ(qlx_expand(indices.data(), width, height, QLX_RGBA, expanded.data(), width * 4, expanded.size()), QLX_OK);
    EXPECT_EQ(converted(indexed(indices, width, height, ours), composite(), QLX_FIT_CONTAIN, 13, 9),
              converted(colours(expanded, width, height, QLX_RGBA), composite(), QLX_FIT_CONTAIN, 13, 9));
}

// A kept pixel that is not opaque: the transparent index below half alpha,
// or its entry's colour blended over the background; unstored pixels are
// transparent black.
TEST(Convert, KeptIndicesFollowTheTransparencyRule) {
    Bytes palette = our_palette();
    palette[4 * 40 + 3] = 0;
    palette[4 * 41 + 3] = 127;
    palette[4 * 42 + 3] = 128;
    const Bytes indices = {40, 41, 42, 43, 80, 255};
    const Bytes stored = {1, 1, 1, 1, 1, 0};
    const qlx_picture picture = indexed(indices, 6, 1, palette, &stored);
    const auto near_blend = [&](unsigned index, unsigned alpha, std::uint32_t background) {
        const std::uint32_t c = qlx_palette_colour(static_cast<std::uint8_t>(index));
        return qlx_nearest_index(blended(c >> 16 & 255, alpha, background >> 16 & 255),
                                 blended(c >> 8 & 255, alpha, background >> 8 & 255),
                                 blended(c & 255, alpha, background & 255));
    };
    EXPECT_EQ(converted(picture, composite(0x3366cc)),
              (Bytes{qlx_nearest_index(0x33, 0x66, 0xcc), near_blend(41, 127, 0x3366cc), near_blend(42, 128, 0x3366cc),
                     43, 80, qlx_nearest_index(0x33, 0x66, 0xcc)}));
    qlx_options marked = qlx_default_options();
    marked.transparent_index = 9;
    EXPECT_EQ(converted(picture, marked), (Bytes{9, 9, 42, 43, 80, 9}));
    // Alpha ignored: every index as stored, the unstored pixel black.
    EXPECT_EQ(converted(picture, qlx_default_options()), (Bytes{40, 41, 42, 43, 80, 0}));
}

// ---- Refusals and sizes --------------------------------------------------

TEST(Convert, RefusalsLeaveTheBufferAlone) {
    const Bytes pixels = random_bytes(8 * 8 * 3, 1);
    const Bytes palette = our_palette();
    Bytes out(64, canary);
    const qlx_options options = composite();
    const auto refused = [&](const qlx_picture* picture, qlx_fit fit, std::size_t box, std::size_t capacity) {
        const qlx_status status = qlx_convert(picture, &options, fit, box, box, out.data(), capacity);
        EXPECT_EQ(out, Bytes(64, canary));
        return status;
    };
    const qlx_picture good = colours(pixels, 8, 8, QLX_RGB);
    EXPECT_EQ(refused(nullptr, QLX_FIT_KEEP, 0, 64), QLX_NULL_POINTER);
    EXPECT_EQ(refused(&good, QLX_FIT_KEEP, 0, 63), QLX_CAPACITY_TOO_SMALL);
    EXPECT_EQ(refused(&good, QLX_FIT_CONTAIN, 9, 64), QLX_CAPACITY_TOO_SMALL);
    EXPECT_EQ(refused(&good, static_cast<qlx_fit>(4), 8, 64), QLX_UNKNOWN_FIT);
    EXPECT_EQ(refused(&good, QLX_FIT_STRETCH, QLX_MAX_RESAMPLE_SIDE + 1, 64), QLX_SIDE_OUT_OF_RANGE);
    qlx_picture short_stride = good;
    short_stride.stride = 23;
    EXPECT_EQ(refused(&short_stride, QLX_FIT_KEEP, 0, 64), QLX_STRIDE_TOO_SHORT);
    qlx_picture unknown_format = good;
    unknown_format.format = static_cast<qlx_pixel_format>(4);
    EXPECT_EQ(refused(&unknown_format, QLX_FIT_KEEP, 0, 64), QLX_UNKNOWN_PIXEL_FORMAT);
    qlx_picture no_pixels = good;
    no_pixels.pixels = nullptr;
    EXPECT_EQ(refused(&no_pixels, QLX_FIT_KEEP, 0, 64), QLX_NULL_POINTER);
    for (const std::size_t entries : {0u, 257u}) {
        qlx_picture odd_palette = indexed(pixels, 8, 8, palette);
        odd_palette.palette_size = entries;
        EXPECT_EQ(refused(&odd_palette, QLX_FIT_KEEP, 0, 64), QLX_PALETTE_SIZE_OUT_OF_RANGE) << entries;
    }
    qlx_options bad = options;
    bad.background = 0x1000000;
    EXPECT_EQ(qlx_convert(&good, &bad, QLX_FIT_KEEP, 0, 0, out.data(), out.size()), QLX_BACKGROUND_OUT_OF_RANGE);
    EXPECT_EQ(out, Bytes(64, canary));
    // A picture of no pixels, kept at its size, is no indices.
    const qlx_picture empty = colours(pixels, 0, 5, QLX_RGB);
    std::size_t width = 1, height = 1;
    EXPECT_EQ(qlx_convert_size(&empty, QLX_FIT_KEEP, 0, 0, &width, &height), QLX_OK);
    EXPECT_EQ(width * height, 0u);
    EXPECT_EQ(qlx_convert(&empty, &options, QLX_FIT_KEEP, 0, 0, nullptr, 0), QLX_OK);
}

TEST(SizeInName, FollowsTheStatedRule) {
    const std::vector<std::pair<std::string, std::pair<std::size_t, std::size_t>>> sized = {
        {"castle.641x480.qlx", {641, 480}},     {"dir.1x1/castle.2x3.QLX", {2, 3}}, {"a.64x48.320x200.qlx", {320, 200}},
        {"C:\\art\\s.16384x1.qLx", {16384, 1}}, {"holiday.2024.9x9.qlx", {9, 9}},   {".7x7.qlx", {7, 7}},
    };
    for (const auto& [name, sides] : sized) {
        std::size_t width = 0, height = 0;
        EXPECT_EQ(qlx_size_from_name(name.c_str(), &width, &height), QLX_OK) << name;
        EXPECT_EQ(std::pair(width, height), sides) << name;
    }
    for (const std::string name : {"castle.qlx", "castle.641x480.png", "castle.641X480.qlx", "castle.0641x480.qlx",
                                   "castle.641x0.qlx", "castle.16385x1.qlx", "castle.123456x1.qlx", "641x480.qlx",
                                   "castle.641x480x2.qlx", "castle.x480.qlx", "castle.641x.qlx", "castle.+64x4.qlx",
                                   "castle.64x48.qlx/", "castle.64x48/.qlx", "castle.64x48.qlx.bak", ""}) {
        std::size_t width = 5, height = 5;
        EXPECT_EQ(qlx_size_from_name(name.c_str(), &width, &height), QLX_NO_SIZE_IN_NAME) << name;
        EXPECT_EQ(width + height, 10u) << name;
    }
    EXPECT_EQ(qlx_size_from_name(nullptr, nullptr, nullptr), QLX_NULL_POINTER);
}

TEST(SizeInName, NamesReadBackToTheirSides) {
    char name[64];
    ASSERT_EQ(qlx_name_with_size("out/castle", 641, 480, name, sizeof name), QLX_OK);
    EXPECT_STREQ(name, "out/castle.641x480.qlx");
    ASSERT_EQ(qlx_name_with_size("title", QLX_STANDARD_WIDTH, QLX_STANDARD_HEIGHT, name, sizeof name), QLX_OK);
    EXPECT_STREQ(name, "title.qlx");
    // A stem that ends in a size would lend it to the standard picture.
    ASSERT_EQ(qlx_name_with_size("shot.64x48", QLX_STANDARD_WIDTH, QLX_STANDARD_HEIGHT, name, sizeof name), QLX_OK);
    EXPECT_STREQ(name, "shot.64x48.320x200.qlx");
    for (const std::string stem : {"holiday.2024", "shot.64x48", "dir.9x9/x"}) {
        for (const auto& [width, height] : {std::pair{1u, 1u}, std::pair{16384u, 3u}, std::pair{320u, 201u}}) {
            ASSERT_EQ(qlx_name_with_size(stem.c_str(), width, height, name, sizeof name), QLX_OK);
            std::size_t w = 0, h = 0;
            ASSERT_EQ(qlx_size_from_name(name, &w, &h), QLX_OK) << name;
            EXPECT_EQ(w, width);
            EXPECT_EQ(h, height);
        }
        // The standard size reads back as none, or as itself.
        ASSERT_EQ(qlx_name_with_size(stem.c_str(), 320, 200, name, sizeof name), QLX_OK);
        std::size_t w = 320, h = 200;
        const qlx_status read = qlx_size_from_name(name, &w, &h);
        EXPECT_TRUE(read == QLX_NO_SIZE_IN_NAME || (read == QLX_OK && w == 320 && h == 200)) << name;
    }
    // Exactly the name and its zero fit; one byte fewer is refused untouched.
    std::memset(name, 'z', sizeof name);
    EXPECT_EQ(qlx_name_with_size("ab", 7, 8, name, sizeof "ab.7x8.qlx" - 1), QLX_CAPACITY_TOO_SMALL);
    EXPECT_EQ(name[0], 'z');
    EXPECT_EQ(qlx_name_with_size("ab", 7, 8, name, sizeof "ab.7x8.qlx"), QLX_OK);
    EXPECT_EQ(qlx_name_with_size("ab", 0, 8, name, sizeof name), QLX_SIDE_OUT_OF_RANGE);
    EXPECT_EQ(qlx_name_with_size("ab", 16385, 8, name, sizeof name), QLX_SIDE_OUT_OF_RANGE);
}

}  // namespace
