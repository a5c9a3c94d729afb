// qlx's readers and writers, through the functions the command calls: every
// PNG colour type and depth, the BMP suite, JPEG, GIF and QLX, and the
// files it writes read back.

#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "conversion.hpp"
#include "decoding.hpp"
#include "encoding.hpp"
#include "png_maker.hpp"
#include "test_support.hpp"
#include "zlib_stream.hpp"

namespace {

using qlx::test::Bytes;
using qlx::test::PngRecipe;

qlxcmd::Picture decoded(const Bytes& file, const std::string& name = "picture") {
    auto picture = qlxcmd::decode(file, name, {});
    EXPECT_TRUE(picture) << picture.error().text();
    return picture ? std::move(*picture) : qlxcmd::Picture();
}

// The stored indices of a picture of a palette.
Bytes stored_indices(const qlxcmd::Picture& picture) {
    const auto& stored = std::get<qlxcmd::PaletteIndices>(picture.frames.at(0));
    return {stored.indices.data(), stored.indices.data() + stored.indices.size()};
}

// What qlx makes of the picture, alpha ignored: kept indices where the
// library keeps them.
Bytes converted(const qlxcmd::Picture& picture) {
    qlxcmd::Size sides;
    auto indices = qlxcmd::indices_of(picture, {}, sides);
    EXPECT_TRUE(indices) << indices.error().text();
    return indices ? Bytes(indices->data(), indices->data() + indices->size()) : Bytes();
}

std::string refusal(const Bytes& file, const std::string& name = "picture") {
    auto picture = qlxcmd::decode(file, name, {});
    return picture ? "decoded" : picture.error().text();
}

// The first frame's colours as RGBA, whatever it holds: an index past the
// palette, or a pixel none was stored for, is transparent black.
Bytes rgba_of(const qlxcmd::Picture& picture) {
    Bytes rgba(picture.width * picture.height * 4);
    if (const auto* stored = std::get_if<qlxcmd::PaletteIndices>(&picture.frames.at(0))) {
        for (std::size_t i = 0; i < picture.width * picture.height; ++i) {
            const std::uint8_t index = stored->indices.data()[i];
            const bool unstored = stored->stored.size() != 0 && stored->stored.data()[i] == 0;
            if (unstored || index >= stored->palette.size()) continue;
            const qlxcmd::Rgba entry = stored->palette[index];
            std::copy_n(std::array{entry.red, entry.green, entry.blue, entry.alpha}.begin(), 4,
                        rgba.begin() + static_cast<std::ptrdiff_t>(4 * i));
        }
        return rgba;
    }
    const auto& colours = std::get<qlxcmd::Colours>(picture.frames.at(0));
    const std::size_t bytes = qlx_pixel_bytes(colours.format);
    const bool bgr = colours.format == QLX_BGR || colours.format == QLX_BGRA;
    for (std::size_t i = 0; i < picture.width * picture.height; ++i) {
        const std::uint8_t* p = colours.pixels.data() + i * bytes;
        rgba[4 * i] = bgr ? p[2] : p[0];
        rgba[4 * i + 1] = p[1];
        rgba[4 * i + 2] = bgr ? p[0] : p[2];
        rgba[4 * i + 3] = bytes == 4 ? p[3] : 255;
    }
    return rgba;
}

// A sample of `depth` bits as a browser makes it 8-bit.
std::uint8_t to_8_bits(std::uint16_t sample, unsigned depth) {
    if (depth == 16) return static_cast<std::uint8_t>(sample >> 8);
    return static_cast<std::uint8_t>(sample * 255 / ((1u << depth) - 1));
}

PngRecipe random_png(std::uint8_t colour_type, std::uint8_t depth, bool interlaced, std::mt19937& random) {
    PngRecipe recipe;
    recipe.width = 13;  // odd sides: partial bytes and every Adam7 pass partly filled
    recipe.height = 11;
    recipe.colour_type = colour_type;
    recipe.bit_depth = depth;
    recipe.interlaced = interlaced;
    const unsigned top = (1u << depth) - 1;
    for (std::size_t i = 0; i < std::size_t{13} * 11 * qlx::test::channels_of(colour_type); ++i) {
        recipe.samples.push_back(static_cast<std::uint16_t>(random() % (top + 1)));
    }
    if (colour_type == 3) {
        for (unsigned i = 0; i <= top; ++i) {
            recipe.palette.insert(recipe.palette.end(),
                                  {static_cast<std::uint8_t>(i * 7 + 1), static_cast<std::uint8_t>(255 - i), 9});
        }
    }
    return recipe;
}

Bytes expected_rgba(const PngRecipe& recipe) {
    const unsigned channels = qlx::test::channels_of(recipe.colour_type);
    Bytes rgba;
    for (std::size_t pixel = 0; pixel < std::size_t{recipe.width} * recipe.height; ++pixel) {
        const std::uint16_t* s = &recipe.samples[pixel * channels];
        const auto eight = [&](unsigned c) { return to_8_bits(s[c], recipe.bit_depth); };
        switch (recipe.colour_type) {
            case 0: rgba.insert(rgba.end(), {eight(0), eight(0), eight(0), 255}); break;
            case 2: rgba.insert(rgba.end(), {eight(0), eight(1), eight(2), 255}); break;
            case 3: {
                const std::size_t entry = 3u * s[0];
                rgba.insert(rgba.end(),
                            {recipe.palette[entry], recipe.palette[entry + 1], recipe.palette[entry + 2], 255});
                break;
            }
            case 4: rgba.insert(rgba.end(), {eight(0), eight(0), eight(0), eight(1)}); break;
            default: rgba.insert(rgba.end(), {eight(0), eight(1), eight(2), eight(3)}); break;
        }
    }
    return rgba;
}

TEST(QlxPng, EveryColourTypeAndDepthDecodesAsBrowsersDo) {
    const std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>> depths = {
        {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    std::mt19937 random(7);
    for (const auto& [colour_type, allowed] : depths) {
        for (const std::uint8_t depth : allowed) {
            for (const bool interlaced : {false, true}) {
                SCOPED_TRACE("colour type " + std::to_string(colour_type) + ", " + std::to_string(depth) + " bits" +
                             (interlaced ? ", interlaced" : ""));
                const PngRecipe recipe = random_png(colour_type, depth, interlaced, random);
                const qlxcmd::Picture picture = decoded(qlx::test::make_png(recipe));
                EXPECT_EQ(picture.width, 13u);
                EXPECT_EQ(picture.height, 11u);
                EXPECT_EQ(rgba_of(picture), expected_rgba(recipe));
            }
        }
    }
}

TEST(QlxPng, TransparencyChunksGiveAlpha) {
    PngRecipe grey{2, 1, 0, 8, false, {7, 9}, {}, {0, 7}};  // grey 7 is transparent
    EXPECT_EQ(rgba_of(decoded(qlx::test::make_png(grey))), (Bytes{7, 7, 7, 0, 9, 9, 9, 255}));
    PngRecipe rgb{2, 1, 2, 8, false, {1, 2, 3, 1, 2, 4}, {}, {0, 1, 0, 2, 0, 3}};
    EXPECT_EQ(rgba_of(decoded(qlx::test::make_png(rgb))), (Bytes{1, 2, 3, 0, 1, 2, 4, 255}));
    PngRecipe indexed{2, 1, 3, 8, false, {0, 1}, {10, 20, 30, 40, 50, 60}, {128}};
    EXPECT_EQ(rgba_of(decoded(qlx::test::make_png(indexed))), (Bytes{10, 20, 30, 128, 40, 50, 60, 255}));
}

// An indexed PNG whose palette entries are ours keeps its indices, even
// those whose colour stands at a lower index too; any other palette gives
// colours.
TEST(QlxPng, OurPaletteKeepsIndicesExactly) {
    PngRecipe recipe{256, 1, 3, 8, false, {}, {}, {}};
    for (unsigned i = 0; i < 256; ++i) {
        recipe.samples.push_back(static_cast<std::uint16_t>(255 - i));
        const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
        recipe.palette.insert(recipe.palette.end(),
                              {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                               static_cast<std::uint8_t>(colour)});
    }
    const qlxcmd::Picture ours = decoded(qlx::test::make_png(recipe));
    const Bytes stored = stored_indices(ours);
    for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(stored[i], 255 - i);
    EXPECT_EQ(converted(ours), stored);
    // Interlaced, 16 rows deep so that every pass holds pixels: the same indices.
    PngRecipe interlaced = recipe;
    interlaced.width = 16, interlaced.height = 16, interlaced.interlaced = true;
    EXPECT_EQ(converted(decoded(qlx::test::make_png(interlaced))), stored);

    // The first 16 entries alone, at 4 bits, are ours too.
    PngRecipe sixteen{16, 1, 3, 4, false, {}, Bytes(recipe.palette.begin(), recipe.palette.begin() + 48), {}};
    for (unsigned i = 0; i < 16; ++i) sixteen.samples.push_back(static_cast<std::uint16_t>(i));
    const qlxcmd::Picture small = decoded(qlx::test::make_png(sixteen));
    EXPECT_EQ(converted(small), stored_indices(small));

    recipe.palette[3 * 80] ^= 1;
    const qlxcmd::Picture other = decoded(qlx::test::make_png(recipe));
    EXPECT_NE(converted(other), stored_indices(other));
}

TEST(QlxPng, BrokenFilesAreRefusedWithTheirReason) {
    PngRecipe recipe{4, 4, 2, 8, false, std::vector<std::uint16_t>(48, 100), {}, {}};
    const Bytes good = qlx::test::make_png(recipe);
    Bytes bad_crc = good;
    bad_crc[29] ^= 1;  // IHDR's CRC
    EXPECT_EQ(refusal(bad_crc).rfind("PNG data is corrupt", 0), 0u) << refusal(bad_crc);
    for (const std::size_t kept : {std::size_t{20}, good.size() - 30}) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(kept));
        const std::string reason = refusal(cut);
        EXPECT_TRUE(reason.starts_with("PNG data is")) << kept << ": " << reason;
    }
    EXPECT_EQ(refusal(Bytes(good.begin(), good.begin() + 40)), "PNG data is cut short");
}

TEST(QlxJpegAndGif, DecodeAsAnotherDecoderDoes) {
    for (const std::string name : {"baseline", "progressive", "grey", "plain", "interlaced"}) {
        SCOPED_TRACE(name);
        const bool gif = name == "plain" || name == "interlaced";
        const Bytes file = qlx::test::read_file(qlx::test::data_path("pictures/" + name + (gif ? ".gif" : ".jpg")));
        const std::string reference = (name == "interlaced" ? "plain" : name) + "-colours.bmp";
        const Bytes colours = rgba_of(decoded(qlx::test::read_file(qlx::test::data_path("pictures/" + reference))));
        EXPECT_EQ(rgba_of(decoded(file)), colours);
    }
    EXPECT_EQ(refusal(qlx::test::read_file(qlx::test::data_path("pictures/cmyk.jpg"))),
              "CMYK JPEG is not supported; save it as RGB");
}

// The headers' edges: a GIF87a file reads as its GIF89a twin; a JPEG
// with stray bytes between its header segments (a warning of extraneous
// data, which decoders pass over) converts as the clean one. (Damage inside
// its entropy-coded data is refused: qlx_files_test.)
TEST(QlxJpegAndGif, OlderAndLooserHeadersDecode) {
    const Bytes gif89 = qlx::test::read_file(qlx::test::data_path("pictures/plain.gif"));
    Bytes gif87 = gif89;
    gif87[4] = '7';
    EXPECT_EQ(rgba_of(decoded(gif87)), rgba_of(decoded(gif89)));

    const Bytes jpeg = qlx::test::read_file(qlx::test::data_path("pictures/baseline.jpg"));
    ASSERT_EQ(jpeg[20], 0xff);  // the first DQT, after SOI and APP0
    Bytes stray = jpeg;
    stray.insert(stray.begin() + 20, {0x12, 0x34, 0x56});
    EXPECT_EQ(rgba_of(decoded(stray)), rgba_of(decoded(jpeg)));
}

TEST(QlxJpegAndGif, BrokenFilesAreRefused) {
    for (const std::string name : {"baseline.jpg", "progressive.jpg", "plain.gif"}) {
        const Bytes file = qlx::test::read_file(qlx::test::data_path("pictures/" + name));
        for (const std::size_t kept : {std::size_t{8}, file.size() / 2, file.size() - 3}) {
            const std::string reason = refusal(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(kept)));
            EXPECT_NE(reason.find("cut short"), std::string::npos) << name << " at " << kept << ": " << reason;
        }
        Bytes scrambled = file;
        for (std::size_t i = 20; i < scrambled.size(); i += 3) scrambled[i] = static_cast<std::uint8_t>(i * 37);
        EXPECT_NE(refusal(scrambled), "") << name;  // refused or decoded, never a crash
    }
}

TEST(QlxJpegAndGif, GifFirstFrameLiesOnItsCanvas) {
    const qlxcmd::Picture offset = decoded(qlx::test::read_file(qlx::test::data_path("pictures/offset-frame.gif")));
    ASSERT_EQ(offset.width, 8u);
    ASSERT_EQ(offset.height, 6u);
    const Bytes rgba = rgba_of(offset);
    for (std::size_t y = 0; y < 6; ++y) {
        for (std::size_t x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 6 && y >= 1 && y < 4;
            EXPECT_EQ(rgba[(y * 8 + x) * 4], inside ? 255 : 0) << x << "," << y;
        }
    }
    const qlxcmd::Picture clear = decoded(qlx::test::read_file(qlx::test::data_path("pictures/transparent.gif")));
    const Bytes clear_rgba = rgba_of(clear);
    for (std::size_t i = 3; i < clear_rgba.size(); i += 4) EXPECT_EQ(clear_rgba[i], 0);
}

// The suite's good files: the same picture in many storings gives the same
// colours, and 16-bit fields scale as browsers scale them.
TEST(QlxBmp, EverySuiteFileDecodes) {
    const std::vector<std::vector<std::string>> same_pictures = {
        {"pal8", "pal8-0", "pal8os2", "pal8rle", "pal8topdown", "pal8v4", "pal8v5", "pal8nonsquare"},
        {"pal4", "pal4rle"},
        {"rgb24", "rgb24pal", "rgb32", "rgb32bf", "rgb32bfdef"},
        {"rgb16", "rgb16bfdef"},
        {"rgb16-565", "rgb16-565pal"}};
    for (const auto& group : same_pictures) {
        const Bytes first =
            rgba_of(decoded(qlx::test::read_file(qlx::test::data_path("bmpsuite/g/" + group[0] + ".bmp"))));
        for (const std::string& name : group) {
            SCOPED_TRACE(name);
            const qlxcmd::Picture picture =
                decoded(qlx::test::read_file(qlx::test::data_path("bmpsuite/g/" + name + ".bmp")));
            EXPECT_EQ(picture.width, 127u);
            if (name != "pal8nonsquare") {
                EXPECT_EQ(rgba_of(picture), first);
            }
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(qlx::test::data_path("bmpsuite/g"))) {
        EXPECT_GT(decoded(qlx::test::read_file(entry.path())).width, 0u) << entry.path();
    }
}

TEST(QlxBmp, BitFieldsScaleByRoundingAndRleSkipsAreTransparent) {
    // 16 bits, 5-6-5: red 3 of 31 is 25 (replicating bits would give 24),
    // green 63 of 63 is 255, blue 1 of 31 is 8.
    Bytes bmp = qlx::test::make_bmp({1, 1, false, 40, 12, true, 16, 3, Bytes(4, 0)});
    qlx::test::put_le32(bmp, 54, 0xf800);
    qlx::test::put_le32(bmp, 58, 0x07e0);
    qlx::test::put_le32(bmp, 62, 0x001f);
    qlx::test::put_le16(bmp, 66, static_cast<std::uint16_t>(3 << 11 | 63 << 5 | 1));
    EXPECT_EQ(rgba_of(decoded(bmp)), (Bytes{25, 255, 8, 255}));

    // RLE8, 3 x 2: the bottom row's first pixel, then a delta past the rest.
    Bytes rle = qlx::test::make_bmp({3, 2, false, 40, 8, true, 8, 1, Bytes(18, 0)});
    qlx::test::put_le32(rle, 46, 2);  // two colours
    const Bytes table_and_runs = {9, 9, 9, 0, 200, 100, 50, 0, 1, 1, 0, 2, 0, 1, 0, 1};
    rle.resize(54);
    rle.insert(rle.end(), table_and_runs.begin(), table_and_runs.end());
    qlx::test::put_le32(rle, 10, 62);
    EXPECT_EQ(rgba_of(decoded(rle)), (Bytes{0,  0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0,  //
                                            50, 100, 200, 255, 0, 0, 0, 0, 0, 0, 0, 0}));
    rle.resize(rle.size() - 2);  // no end-of-picture mark
    EXPECT_EQ(refusal(rle), "BMP pixel data is cut short");
}

// ---- BMP at its edges: every depth, run-length escape and bit field ----

// A BMP of `bits` a pixel with a 40-byte header, `masks` after it (for bit
// fields), `table` (red, green, blue entries) and the stored `data` as it is.
Bytes bmp_file(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t compression,
               const std::vector<std::uint32_t>& masks, const std::vector<std::array<std::uint8_t, 3>>& table,
               const Bytes& data) {
    Bytes file(54);
    file[0] = 'B', file[1] = 'M';
    const std::size_t offset = 54 + 4 * masks.size() + 4 * table.size();
    qlx::test::put_le32(file, 10, static_cast<std::uint32_t>(offset));
    qlx::test::put_le32(file, 14, 40);
    qlx::test::put_le32(file, 18, static_cast<std::uint32_t>(width));
    qlx::test::put_le32(file, 22, static_cast<std::uint32_t>(height));
    qlx::test::put_le16(file, 26, 1);
    qlx::test::put_le16(file, 28, bits);
    qlx::test::put_le32(file, 30, compression);
    qlx::test::put_le32(file, 46, static_cast<std::uint32_t>(table.size()));
    for (const std::uint32_t mask : masks) {
        for (int shift = 0; shift < 32; shift += 8) file.push_back(static_cast<std::uint8_t>(mask >> shift));
    }
    for (const auto& [red, green, blue] : table) file.insert(file.end(), {blue, green, red, 0});
    file.insert(file.end(), data.begin(), data.end());
    qlx::test::put_le32(file, 2, static_cast<std::uint32_t>(file.size()));
    return file;
}

std::vector<std::array<std::uint8_t, 3>> some_table(std::size_t entries) {
    std::vector<std::array<std::uint8_t, 3>> table;
    for (std::size_t i = 0; i < entries; ++i) {
        table.push_back({static_cast<std::uint8_t>(i * 37 + 5), static_cast<std::uint8_t>(255 - i * 11),
                         static_cast<std::uint8_t>(i * 3)});
    }
    return table;
}

// 1, 2 and 4 bits a pixel, rows of every width 1 to 9 (so each padding),
// bottom-up and top-down: each pixel is its stored bits' entry, stated
// plainly, most significant bits first.
TEST(QlxBmp, LowDepthPalettesReadEveryPixelOfEveryRow) {
    std::mt19937 random(17);
    for (const std::uint16_t bits : {std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}}) {
        const auto table = some_table(std::size_t{1} << bits);
        for (int width = 1; width <= 9; ++width) {
            for (const bool top_down : {false, true}) {
                const int height = 3;
                const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
                Bytes data(stride * height);
                Bytes expected;  // top row first
                std::vector<Bytes> rows(height);
                for (int row = 0; row < height; ++row) {
                    for (int x = 0; x < width; ++x)
                        rows[static_cast<std::size_t>(row)].push_back(
                            static_cast<std::uint8_t>(random() % (1u << bits)));
                }
                for (int stored = 0; stored < height; ++stored) {
                    const Bytes& row = rows[static_cast<std::size_t>(top_down ? stored : height - 1 - stored)];
                    for (int x = 0; x < width; ++x) {
                        const std::size_t bit = static_cast<std::size_t>(x) * bits;
                        data[static_cast<std::size_t>(stored) * stride + bit / 8] |=
                            static_cast<std::uint8_t>(row[static_cast<std::size_t>(x)] << (8 - bits - bit % 8));
                    }
                }
                for (const Bytes& row : rows) expected.insert(expected.end(), row.begin(), row.end());
                const Bytes file = bmp_file(width, top_down ? -height : height, bits, 0, {}, table, data);
                EXPECT_EQ(stored_indices(decoded(file)), expected) << bits << " bits, " << width << " wide";
            }
        }
    }
}

// Bit fields of 16 and 32 bits with masks of every kind (5-5-5, 5-6-5,
// 4-4-4-4 with alpha, 10-bit and 2-bit fields, a one-bit field, a missing
// one): each component round(v * 255 / (2^n - 1)), stated plainly.
TEST(QlxBmp, BitFieldsOfEveryMaskScaleByRounding) {
    struct Masks {
        std::uint16_t bits;
        std::array<std::uint32_t, 4> masks;  // red, green, blue, alpha
    };
    const Masks cases[] = {
        {16, {0x7c00, 0x03e0, 0x001f, 0}},
        {16, {0xf800, 0x07e0, 0x001f, 0}},
        {16, {0x0f00, 0x00f0, 0x000f, 0xf000}},
        {16, {0x8000, 0x7c00, 0x0000, 0}},
        {32, {0x3ff00000, 0x000ffc00, 0x000003ff, 0xc0000000}},
        {32, {0x00ff0000, 0x0000ff00, 0x000000ff, 0}},
        {32, {0x000000ff, 0x0000ff00, 0x00ff0000, 0xff000000}},
    };
    std::mt19937 random(23);
    for (const Masks& c : cases) {
        const int width = 5, height = 2;
        const std::size_t bytes = c.bits / 8u, stride = (width * bytes + 3) / 4 * 4;
        Bytes data(stride * height);
        Bytes expected;
        std::vector<std::uint32_t> values;
        for (int i = 0; i < width * height; ++i)
            values.push_back(static_cast<std::uint32_t>(random()) & (c.bits == 16 ? 0xffffu : ~0u));
        for (int row = 0; row < height; ++row) {  // top-down, so the stored order is the picture's
            for (int x = 0; x < width; ++x) {
                const std::uint32_t value = values[static_cast<std::size_t>(row * width + x)];
                for (std::size_t b = 0; b < bytes; ++b)
                    data[static_cast<std::size_t>(row) * stride + static_cast<std::size_t>(x) * bytes + b] =
                        static_cast<std::uint8_t>(value >> (8 * b));
                for (std::size_t k = 0; k < 4; ++k) {
                    const std::uint32_t mask = c.masks[k];
                    if (mask == 0) {
                        expected.push_back(k == 3 ? 255 : 0);
                        continue;
                    }
                    int shift = 0, width_bits = 0;
                    while ((mask >> shift & 1) == 0) ++shift;
                    while (shift + width_bits < 32 && (mask >> (shift + width_bits) & 1) == 1) ++width_bits;
                    const double top = std::pow(2.0, width_bits) - 1;
                    expected.push_back(
                        static_cast<std::uint8_t>(std::floor(((value & mask) >> shift) * 255 / top + 0.5)));
                }
            }
        }
        const bool alpha = c.masks[3] != 0;
        const Bytes file = bmp_file(width, -height, c.bits, alpha ? 6 : 3,
                                    alpha ? std::vector<std::uint32_t>(c.masks.begin(), c.masks.end())
                                          : std::vector<std::uint32_t>(c.masks.begin(), c.masks.begin() + 3),
                                    {}, data);
        EXPECT_EQ(rgba_of(decoded(file)), expected) << c.bits << " bits, red mask " << std::hex << c.masks[0];
    }
}

// Run-length data of every escape (runs, literals of odd and even lengths
// with their padding, deltas, ends of line), made at random and decoded
// by a plain statement: the cursor moves as each escape says, pixels past a
// row's end are dropped, and pixels no escape reached are not stored.
TEST(QlxBmp, RunLengthsOfEveryEscapeDecodeAsStatedPlainly) {
    std::mt19937 random(29);
    for (const bool four_bits : {false, true}) {
        for (int trial = 0; trial < 40; ++trial) {
            const int width = 1 + static_cast<int>(random() % 23), height = 1 + static_cast<int>(random() % 9);
            const unsigned colours = four_bits ? 16 : 200;
            Bytes data;
            Bytes indices(static_cast<std::size_t>(width * height), 0), covered(indices.size(), 0);
            int x = 0, y = 0;  // y counts stored rows, from the bottom
            const auto put = [&](std::uint8_t index) {
                if (x < width && y < height) {
                    const auto at = static_cast<std::size_t>((height - 1 - y) * width + x);
                    indices[at] = index, covered[at] = 1;
                }
                ++x;
            };
            while (y < height) {
                const auto choice = static_cast<unsigned>(random() % 10);
                if (choice < 4) {  // a run of 1 to 12
                    const auto count = static_cast<unsigned>(1 + random() % 12);
                    const auto value = static_cast<std::uint8_t>(random() % (four_bits ? 256 : colours));
                    data.insert(data.end(), {static_cast<std::uint8_t>(count), value});
                    for (unsigned i = 0; i < count; ++i) {
                        put(four_bits ? static_cast<std::uint8_t>(i % 2 == 0 ? value >> 4 : value & 15) : value);
                    }
                } else if (choice < 7) {  // a literal stretch of 3 to 11, padded to a whole word
                    const auto count = static_cast<unsigned>(3 + random() % 9);
                    data.insert(data.end(), {0, static_cast<std::uint8_t>(count)});
                    Bytes stretch;
                    for (unsigned i = 0; i < count; ++i) {
                        const auto value = static_cast<std::uint8_t>(random() % colours);
                        if (four_bits) {
                            if (i % 2 == 0)
                                stretch.push_back(static_cast<std::uint8_t>(value << 4));
                            else
                                stretch.back() |= value;
                        } else {
                            stretch.push_back(value);
                        }
                        put(value);
                    }
                    if (stretch.size() % 2 == 1) stretch.push_back(0);
                    data.insert(data.end(), stretch.begin(), stretch.end());
                } else if (choice < 8) {  // a delta right and up
                    const auto right = static_cast<std::uint8_t>(random() % 5),
                               up = static_cast<std::uint8_t>(random() % 2);
                    data.insert(data.end(), {0, 2, right, up});
                    x += right, y += up;
                } else {  // the end of a line
                    data.insert(data.end(), {0, 0});
                    x = 0, ++y;
                }
            }
            data.insert(data.end(), {0, 1});
            const Bytes file =
                bmp_file(width, height, four_bits ? 4 : 8, four_bits ? 2 : 1, {}, some_table(colours), data);
            const qlxcmd::Picture picture = decoded(file);
            const auto& stored = std::get<qlxcmd::PaletteIndices>(picture.frames.at(0));
            Bytes got_covered(indices.size(), 1);
            if (stored.stored.size() != 0)
                got_covered.assign(stored.stored.data(), stored.stored.data() + stored.stored.size());
            Bytes got = stored_indices(picture);
            for (std::size_t i = 0; i < got.size(); ++i) {
                if (covered[i] == 0) got[i] = 0;  // what lies under a pixel not stored does not matter
            }
            ASSERT_EQ(got_covered, covered) << (four_bits ? "RLE4" : "RLE8") << " trial " << trial;
            ASSERT_EQ(got, indices) << (four_bits ? "RLE4" : "RLE8") << " trial " << trial;
        }
    }
}

// A picture's bytes at the exact edge of size_t: a product equal to its
// largest value fits, one more pixel or byte does not.
TEST(QlxPictureBytes, AProductOfExactlyTheLargestSizeFits) {
    constexpr std::uint64_t most = std::numeric_limits<std::size_t>::max();  // 3 * 5 * 17 * ...
    for (const auto& [width, height, bytes] :
         {std::array<std::uint64_t, 3>{3, most / 3, 1}, std::array<std::uint64_t, 3>{most / 255, 5, 51},
          std::array<std::uint64_t, 3>{1, most, 1}}) {
        const auto fits = qlxcmd::picture_bytes(width, height, bytes);
        ASSERT_TRUE(fits) << width << " x " << height << " x " << bytes;
        EXPECT_EQ(*fits, most);
        EXPECT_FALSE(qlxcmd::picture_bytes(width + 1, height, bytes)) << width << " x " << height;
        EXPECT_FALSE(qlxcmd::picture_bytes(width, height, bytes + 1)) << width << " x " << height;
    }
}

TEST(QlxBmp, A24BitFileGivesTheLibrarysPixels) {
    const Bytes bmp = qlx::test::read_file(PAL_SAMPLE_BMP);
    const qlxcmd::Picture picture = decoded(bmp);
    Bytes through_library(320 * 200), ours(320 * 200);
    ASSERT_EQ(qlx_from_bmp(bmp.data(), bmp.size(), nullptr, through_library.data(), through_library.size()), QLX_OK);
    const auto& colours = std::get<qlxcmd::Colours>(picture.frames.at(0));
    ASSERT_EQ(qlx_quantise(colours.pixels.data(), 320, 200, 960, colours.format, nullptr, ours.data(), ours.size()),
              QLX_OK);
    EXPECT_EQ(ours, through_library);
}

TEST(QlxQlx, SizeComesFromOptionNameOrStandard) {
    const Bytes standard(64000, 5), odd(641 * 480, 6);
    EXPECT_EQ(decoded(standard, "a.qlx").width, 320u);
    EXPECT_EQ(decoded(odd, "castle.641x480.QLX").width, 641u);
    qlxcmd::DecodeSettings settings;
    settings.size = qlxcmd::Size{480, 641};
    EXPECT_EQ(qlxcmd::decode(odd, "castle.641x480.qlx", settings)->width, 480u);
    EXPECT_EQ(refusal(odd, "castle.qlx"), "QLX file has 307680 bytes, not 320 × 200; 641x480 fits");
    EXPECT_EQ(refusal(Bytes(100), "x.qlx"), "QLX file has 100 bytes, not 320 × 200; 10x10 fits");
    EXPECT_EQ(refusal(Bytes{}, "x.qlx"), "QLX file has 0 bytes, not 320 × 200");
    // A QLX file may begin as any other format does: its name decides.
    Bytes looks_like_bmp(64000, 0);
    looks_like_bmp[0] = 'B';
    looks_like_bmp[1] = 'M';
    EXPECT_EQ(stored_indices(decoded(looks_like_bmp, "a.qlx")), looks_like_bmp);
    EXPECT_EQ(refusal(Bytes(10, 1), "notes.txt"), "not a QLX, PNG, BMP, JPEG, GIF or WebP file");
}

TEST(QlxWriters, IndexedPngAndBmpReadBackToEveryIndex) {
    Bytes indices(256 * 3);
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint8_t>(i * 7);
    const qlxcmd::Indices picture{indices.data(), 256, 3};
    auto png = qlxcmd::indexed_png(picture, 80, 1);
    ASSERT_TRUE(png);
    const Bytes png_bytes(png->data(), png->data() + png->size());
    const qlxcmd::Picture read = decoded(png_bytes);
    EXPECT_EQ(stored_indices(read), indices);
    EXPECT_EQ(converted(read), indices);
    // tRNS marks index 80 alone, and no chunk beyond the five is written.
    EXPECT_NE(std::search(png_bytes.begin(), png_bytes.end(), std::begin("tRNS"), std::end("tRNS") - 1),
              png_bytes.end());
    for (const char* absent : {"tIME", "tEXt", "gAMA", "sRGB", "pHYs"}) {
        EXPECT_EQ(std::search(png_bytes.begin(), png_bytes.end(), absent, absent + 4), png_bytes.end()) << absent;
    }
    const Bytes rgba = rgba_of(read);
    for (std::size_t i = 0; i < indices.size(); ++i) EXPECT_EQ(rgba[4 * i + 3], indices[i] == 80 ? 0 : 255);
}

// Parts compressed on their own threads join into one stream that zlib
// reads whole, whatever their number and whatever data ends each part:
// stored blocks (noise), and blocks ending mid-byte. The parts follow the
// data's size alone, so any number of threads gives the same bytes.
TEST(QlxWriters, ZlibStreamsJoinedFromPartsReadBack) {
    std::mt19937 random(3);
    Bytes data(9u << 20);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = i < data.size() / 3 ? static_cast<std::uint8_t>(random()) : static_cast<std::uint8_t>(i / 4096 % 7);
    }
    // Sizes that split evenly into parts, and two that leave the last part shorter.
    for (const std::size_t size : {std::size_t{1} << 20, std::size_t{5} << 20, data.size(), (std::size_t{5} << 20) + 3,
                                   (std::size_t{7} << 20) + 1}) {
        const std::span<const std::uint8_t> part(data.data(), size);
        for (const int level : {1, 6, 9}) {
            if (size % (std::size_t{1} << 20) != 0 && level != 6) continue;
            Bytes first;
            for (const unsigned threads : {1u, 2u, 3u, 4u}) {
                auto stream = qlxcmd::zlib_stream(part, level, threads);
                ASSERT_TRUE(stream);
                const Bytes bytes(stream->data(), stream->data() + stream->size());
                if (threads == 1) first = bytes;
                EXPECT_TRUE(bytes == first) << size << " bytes, level " << level << ", " << threads << " threads";
                Bytes back(size);
                uLongf back_size = static_cast<uLongf>(back.size());
                ASSERT_EQ(uncompress(back.data(), &back_size, bytes.data(), static_cast<uLong>(bytes.size())), Z_OK)
                    << size << " bytes, level " << level;
                EXPECT_EQ(back_size, size);
                EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin())) << size << " bytes, level " << level;
            }
        }
    }
}

}  // namespace
