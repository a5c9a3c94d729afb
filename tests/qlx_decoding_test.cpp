// qlx's readers and writers, through the functions the command calls: every
// PNG colour type and depth, the BMP suite, JPEG, GIF and QLX, and the
// files it writes read back.

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
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
    for (const std::size_t size : {std::size_t{1} << 20, std::size_t{5} << 20, data.size()}) {
        const std::span<const std::uint8_t> part(data.data(), size);
        for (const int level : {1, 6, 9}) {
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
