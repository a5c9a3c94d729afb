// qlx on real files as they arrive: damaged bytes refused, never turned into
// other pixels; the same bytes however many jobs run; output modes from the
// umask under many threads; one rule for transparency; the pixel limit; and
// names that tell a QLX file's size truly.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>

#include "conversion.hpp"
#include "decoding.hpp"
#include "formats.hpp"
#include "png_maker.hpp"
#include "qlx.h"
#include "test_support.hpp"

namespace {

using qlx::test::Bytes;
using qlx::test::PngRecipe;
using qlx::test::read_file;
using qlx::test::RunResult;
using qlx::test::write_file;

RunResult qlx_run(const std::vector<std::string>& arguments) { return qlx::test::run_program(QLX_PATH, arguments); }
std::string path(const qlx::test::TempDir& dir, const std::string& name) { return qlx::test::utf8(dir / name); }

// What qlx makes of a file in memory: the indices of the picture, as the
// command converts it (transparency over black), or the refusal.
struct Converted {
    bool ok = false;
    Bytes indices;
    std::string refusal;
};

Converted convert(const Bytes& file) {
    Converted result;
    auto picture = qlxcmd::decode(file, "picture", {});
    if (!picture) {
        result.refusal = picture.error().text();
        return result;
    }
    qlxcmd::ConversionSettings settings;
    settings.options.alpha = QLX_ALPHA_COMPOSITE;
    qlxcmd::Size sides;
    auto indices = qlxcmd::indices_of(*picture, settings, sides);
    if (!indices) {
        result.refusal = indices.error().text();
        return result;
    }
    result.ok = true;
    result.indices.assign(indices->data(), indices->data() + indices->size());
    return result;
}

struct FlipCounts {
    std::size_t flips = 0, exact = 0, refused = 0, other = 0;
};

// Every byte of `file` changed in turn, both ways (its lowest bit, and all
// its bits): how many give the clean file's indices, a refusal, or other
// indices with no complaint.
FlipCounts flip_every_byte(const Bytes& file, std::size_t from = 0,
                           const std::function<void(std::size_t)>& on_other = nullptr) {
    const Converted clean = convert(file);
    EXPECT_TRUE(clean.ok) << clean.refusal;
    FlipCounts counts;
    for (std::size_t at = from; at < file.size(); ++at) {
        for (const std::uint8_t mask : {std::uint8_t{0x01}, std::uint8_t{0xff}}) {
            Bytes damaged = file;
            damaged[at] ^= mask;
            const Converted result = convert(damaged);
            ++counts.flips;
            if (!result.ok) {
                ++counts.refused;
            } else if (result.indices == clean.indices) {
                ++counts.exact;
            } else {
                ++counts.other;
                if (on_other) on_other(at);
            }
        }
    }
    return counts;
}

void report(const std::string& format, const Bytes& file, const FlipCounts& counts) {
    std::printf("%-5s %5zu bytes: %5zu flips, %5zu exact, %5zu refused, %5zu other pixels\n", format.c_str(),
                file.size(), counts.flips, counts.exact, counts.refused, counts.other);
}

std::uint32_t big_endian(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}

// Where the chunk of `type` starts (its length field), or the file's size.
std::size_t chunk_at(const Bytes& png, const char* type) {
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + big_endian(png, at)) {
        if (std::memcmp(png.data() + at + 4, type, 4) == 0) return at;
    }
    return png.size();
}

void fix_crc(Bytes& png, std::size_t chunk) {
    const std::uint32_t length = big_endian(png, chunk);
    const auto crc = static_cast<std::uint32_t>(crc32(0, png.data() + chunk + 4, length + 4));
    for (unsigned i = 0; i < 4; ++i) png[chunk + 8 + length + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
}

// An RGBA picture with every kind of alpha, and an indexed one with tRNS.
PngRecipe rgba_recipe() {
    PngRecipe recipe{8, 6, 6, 8, false, {}, {}, {}};
    for (std::uint16_t i = 0; i < 8 * 6; ++i) {
        recipe.samples.insert(recipe.samples.end(),
                              {static_cast<std::uint16_t>(i * 5), static_cast<std::uint16_t>(200 - i * 3),
                               static_cast<std::uint16_t>(i * 41 % 256),
                               static_cast<std::uint16_t>(i % 4 == 0   ? 0
                                                          : i % 4 == 1 ? 255
                                                                       : i * 37 % 256)});
    }
    return recipe;
}

PngRecipe indexed_recipe() {
    PngRecipe recipe{9, 5, 3, 4, false, {}, {}, {}};
    for (int i = 0; i < 16; ++i)
        recipe.palette.insert(recipe.palette.end(),
                              {Bytes::value_type(i * 16), Bytes::value_type(255 - i * 9), Bytes::value_type(i * 5)});
    recipe.transparency = {255, 0, 128, 255, 40};
    for (std::uint16_t i = 0; i < 9 * 5; ++i) recipe.samples.push_back(static_cast<std::uint16_t>(i * 7 % 16));
    return recipe;
}

// PNG carries a CRC on every chunk and an Adler-32 on its pixel data, so no
// change to a PNG may give other pixels: each is refused or changes nothing
// (a flip in the signature's high bit, say, is refused as not a PNG).
TEST(QlxDamagedFiles, NoByteOfAPngChangesItsPixelsUnseen) {
    for (const PngRecipe& recipe : {rgba_recipe(), indexed_recipe()}) {
        const Bytes png = qlx::test::make_png(recipe);
        const FlipCounts counts = flip_every_byte(png, 0, [&](std::size_t at) { ADD_FAILURE() << "byte " << at; });
        report("PNG", png, counts);
        EXPECT_EQ(counts.other, 0u);
    }
}

TEST(QlxDamagedFiles, PngRefusalsNameTheFault) {
    const Bytes png = qlx::test::make_png(rgba_recipe());
    const std::size_t idat = chunk_at(png, "IDAT");
    Bytes bad_crc = png;
    bad_crc[idat + 8 + big_endian(png, idat) - 1] ^= 0x10;  // the last byte of the data: the Adler-32
    EXPECT_EQ(convert(bad_crc).refusal, "PNG data is corrupt: bad CRC in IDAT");
    fix_crc(bad_crc, idat);  // as a careless tool would rewrite it
    EXPECT_EQ(convert(bad_crc).refusal, "PNG data is corrupt: the pixel data fails its Adler-32 check");
    // An ancillary chunk's CRC too: tRNS changes the picture.
    const Bytes indexed = qlx::test::make_png(indexed_recipe());
    Bytes bad_trns = indexed;
    bad_trns[chunk_at(indexed, "tRNS") + 9] ^= 1;
    EXPECT_EQ(convert(bad_trns).refusal, "PNG data is corrupt: bad CRC in tRNS");
    // Cut inside a chunk, and the last IDAT's stream left unfinished.
    EXPECT_EQ(convert(Bytes(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(idat + 20))).refusal,
              "PNG data is cut short");
}

// JPEG has no checksum, so a change that still decodes cleanly cannot be
// seen; but every warning of damaged entropy-coded data is a refusal.
// (The sweep over the scan's data prints its counts.)
TEST(QlxDamagedFiles, JpegWarningsOfDamageAreRefusedAndExtraneousBytesAreNot) {
    const Bytes jpeg = read_file(qlx::test::data_path("pictures/baseline.jpg"));
    const Converted clean = convert(jpeg);
    ASSERT_TRUE(clean.ok) << clean.refusal;
    // Start of scan: its header's length, then the entropy-coded data up to EOI.
    std::size_t sos = 2;
    while (sos + 4 < jpeg.size() && !(jpeg[sos] == 0xff && jpeg[sos + 1] == 0xda))
        sos += 2 + (std::size_t{jpeg[sos + 2]} << 8 | jpeg[sos + 3]);
    ASSERT_LT(sos + 4, jpeg.size());
    const std::size_t data = sos + 2 + (std::size_t{jpeg[sos + 2]} << 8 | jpeg[sos + 3]);

    Bytes bad_code = jpeg;
    for (std::size_t at = data; at < data + 8; ++at) bad_code[at] = 0xfe;  // no Huffman table has such long codes
    const Converted refused = convert(bad_code);
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.refusal.starts_with("JPEG data is corrupt: ")) << refused.refusal;
    // Data that ends a little early leaves bytes over before EOI.
    Bytes short_scan = jpeg;
    short_scan.insert(short_scan.end() - 2, {0x12, 0x34, 0x56});
    const std::string left_over = convert(short_scan).refusal;
    EXPECT_TRUE(left_over.starts_with("JPEG data is corrupt: ") &&
                left_over.ends_with("extraneous bytes before marker 0xd9"))
        << left_over;

    // Bytes between the header's segments leave every pixel alone.
    Bytes between = jpeg;
    between.insert(between.begin() + 2 + 2 + (jpeg[4] << 8 | jpeg[5]), {0x00, 0x11, 0x22});
    const Converted extraneous = convert(between);
    ASSERT_TRUE(extraneous.ok) << extraneous.refusal;
    EXPECT_EQ(extraneous.indices, clean.indices);

    // Huffman codes fall back into step within a few codes, so most flips
    // decode without a warning to any decoder; those that warn are refused.
    const FlipCounts counts = flip_every_byte(jpeg, data);
    report("JPEG", jpeg, counts);
    EXPECT_GT(counts.refused, 0u);
}

// GIF, BMP and the JPEG headers carry no check of their own: a changed
// byte may be a different picture. Every change must still end in a
// picture or a refusal, never a crash (the sanitizer builds watch that).
TEST(QlxDamagedFiles, FormatsWithoutChecksEndInAPictureOrARefusal) {
    for (const std::string name : {"pictures/plain.gif", "pictures/offset-frame.gif", "pictures/baseline.jpg",
                                   "bmpsuite/g/pal4rle.bmp", "bmpsuite/g/pal8rle.bmp", "bmpsuite/g/rgb16-565.bmp"}) {
        const Bytes file = read_file(qlx::test::data_path(name));
        const FlipCounts counts = flip_every_byte(file);
        report(name.substr(name.find('.') + 1), file, counts);
        EXPECT_EQ(counts.flips, counts.exact + counts.refused + counts.other);
    }
}

TEST(QlxDamagedFiles, GifAndBmpCutShortSaySo) {
    const Bytes gif = read_file(qlx::test::data_path("pictures/plain.gif"));
    ASSERT_NE(gif[10] & 0x80, 0);  // a global colour table follows the screen descriptor
    EXPECT_EQ(convert(Bytes(gif.begin(), gif.begin() + 13 + 30)).refusal, "GIF data is cut short");
    const Bytes bmp = qlx::test::make_bmp({4, 4, false, 40, 0, true, 24, 0, qlx::test::gradient_pixels(4, 4)});
    EXPECT_EQ(convert(Bytes(bmp.begin(), bmp.end() - 5)).refusal, "BMP pixel data is cut short");
}

// A 2 x 1 GIF whose LZW data is given in codes of 3 bits: 4 clears the
// table, 5 ends the data, and 6 is the first code a frame may define.
Bytes two_pixel_gif(std::initializer_list<unsigned> codes) {
    Bytes gif = {'G', 'I', 'F', '8', '9',  'a', 2, 0, 1, 0, 0x80, 0, 0, 0, 0,
                 0,   255, 255, 255, 0x2c, 0,   0, 0, 0, 2, 0,    1, 0, 0, 2};
    Bytes data;
    unsigned bits = 0, count = 0;
    for (const unsigned code : codes) {
        bits |= code << count;
        count += 3;
        for (; count >= 8; count -= 8, bits >>= 8) data.push_back(static_cast<std::uint8_t>(bits));
    }
    if (count > 0) data.push_back(static_cast<std::uint8_t>(bits));
    gif.push_back(static_cast<std::uint8_t>(data.size()));
    gif.insert(gif.end(), data.begin(), data.end());
    gif.insert(gif.end(), {0, 0x3b});
    return gif;
}

TEST(QlxDamagedFiles, GifWithABadLzwCodeIsRefused) {
    const Converted good = convert(two_pixel_gif({4, 1, 0, 5}));
    ASSERT_TRUE(good.ok) << good.refusal;
    EXPECT_EQ(good.indices, (Bytes{47, 0}));
    // Code 7 refers to a table entry not yet made.
    const Converted bad = convert(two_pixel_gif({4, 7, 0, 5}));
    EXPECT_FALSE(bad.ok);
    EXPECT_TRUE(bad.refusal.starts_with("GIF data is corrupt: ")) << bad.refusal;
    EXPECT_EQ(convert(two_pixel_gif({4, 1, 5})).refusal, "GIF data is corrupt: a frame's pixels end early");
}

// Batch workers create outputs at the same moment; each must get the mode
// the umask gives, every time.
TEST(QlxFiles, OutputModesFollowTheUmaskUnderManyJobs) {
    qlx::test::TempDir dir;
    std::filesystem::create_directory(dir / "in");
    const Bytes bmp = qlx::test::make_bmp({6, 4, false, 40, 0, true, 24, 0, qlx::test::gradient_pixels(6, 4)});
    std::vector<std::string> arguments = {"convert", "-q", "-j8", "--to=png", "-o", ""};
    for (int i = 0; i < 150; ++i) {
        const std::string name = "in/p" + std::to_string(i) + ".bmp";
        write_file(dir / name, bmp);
        arguments.push_back(path(dir, name));
    }
    const mode_t previous = ::umask(027);
    for (int run = 0; run < 10; ++run) {
        arguments[5] = path(dir, "out" + std::to_string(run));
        ASSERT_EQ(qlx_run(arguments).status, 0);
        for (const auto& entry : std::filesystem::directory_iterator(dir / ("out" + std::to_string(run)))) {
            struct stat info {};
            ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0640u) << entry.path();
        }
    }
    ::umask(previous);
}

// Indices with long runs and stretches of noise, so that every part of a
// PNG's compressed stream has real work.
Bytes busy_indices(std::size_t width, std::size_t height, unsigned seed) {
    std::mt19937 random(seed);
    Bytes indices(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            indices[y * width + x] = (y / 64 + x / 64) % 3 == 0 ? static_cast<std::uint8_t>(random())
                                                                : static_cast<std::uint8_t>((x / 8 + y / 16) % 40);
        }
    }
    return indices;
}

// The PNG of each picture is the same whether it converts alone or among
// others, on one job or several.
TEST(QlxFiles, PngBytesDoNotDependOnJobsOrTheBatch) {
    qlx::test::TempDir dir;
    const std::vector<std::pair<std::size_t, std::size_t>> sides = {{1000, 1000}, {2048, 2048}, {4096, 4096}};
    std::vector<std::string> inputs;
    for (std::size_t i = 0; i < sides.size(); ++i) {
        const auto [width, height] = sides[i];
        const std::string name =
            "p" + std::to_string(i) + "." + std::to_string(width) + "x" + std::to_string(height) + ".qlx";
        write_file(dir / name, busy_indices(width, height, static_cast<unsigned>(i)));
        inputs.push_back(path(dir, name));
    }
    for (const std::string jobs : {"1", "2", "4"}) {
        std::vector<std::string> arguments = {"convert", "-q", "--to=png", "-j", jobs, "-o", path(dir, "j" + jobs)};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        ASSERT_EQ(qlx_run(arguments).status, 0);
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string name = "p" + std::to_string(i) + ".png";
        ASSERT_EQ(qlx_run({"convert", inputs[i], path(dir, "alone-" + name)}).status, 0);
        const Bytes alone = read_file(dir / ("alone-" + name));
        for (const std::string jobs : {"1", "2", "4"})
            EXPECT_TRUE(read_file(dir / ("j" + jobs) / name) == alone) << name << " -j" << jobs;
    }
}

std::uint8_t over(std::uint8_t code, std::uint8_t alpha, std::uint8_t background) {
    return static_cast<std::uint8_t>((code * alpha + background * (255 - alpha) + 127) / 255);
}

// Without --transparent-index every pixel is blended over the background,
// by the integer rule; with it, pixels below half alpha take the index.
TEST(QlxFiles, TransparencyIsBlendedOverTheBackground) {
    qlx::test::TempDir dir;
    const PngRecipe recipe = rgba_recipe();
    write_file(dir / "alpha.png", qlx::test::make_png(recipe));
    for (const auto& [option, background] : std::vector<std::pair<std::string, std::uint32_t>>{
             {"", 0}, {"--background=336699", 0x336699}, {"--background=#FFFFFF", 0xffffff}}) {
        std::vector<std::string> arguments = {"convert", path(dir, "alpha.png"), path(dir, "out.8x6.qlx")};
        if (!option.empty()) arguments.push_back(option);
        ASSERT_EQ(qlx_run(arguments).status, 0) << option;
        const Bytes out = read_file(dir / "out.8x6.qlx");
        ASSERT_EQ(out.size(), 48u);
        for (std::size_t i = 0; i < 48; ++i) {
            const auto sample = [&](std::size_t k) { return static_cast<std::uint8_t>(recipe.samples[4 * i + k]); };
            const std::uint8_t alpha = sample(3);
            EXPECT_EQ(out[i], qlx_nearest_index(over(sample(0), alpha, background >> 16 & 255),
                                                over(sample(1), alpha, background >> 8 & 255),
                                                over(sample(2), alpha, background & 255)))
                << option << " pixel " << i;
        }
    }
    ASSERT_EQ(qlx_run({"convert", "--transparent-index=9", path(dir, "alpha.png"), path(dir, "marked.8x6.qlx")}).status,
              0);
    const Bytes marked = read_file(dir / "marked.8x6.qlx");
    for (std::size_t i = 0; i < 48; ++i) {
        const auto sample = [&](std::size_t k) { return static_cast<std::uint8_t>(recipe.samples[4 * i + k]); };
        EXPECT_EQ(marked[i], sample(3) < 128 ? 9 : qlx_nearest_index(sample(0), sample(1), sample(2))) << i;
    }

    // A GIF frame off the canvas, with a transparent entry inside it: both
    // kinds of transparent pixel are the background alike.
    const Bytes offset_gif = read_file(qlx::test::data_path("pictures/offset-frame.gif"));
    write_file(dir / "offset.gif", offset_gif);
    ASSERT_EQ(qlx_run({"convert", "--background=FF0000", path(dir, "offset.gif"), path(dir, "gif.png")}).status, 0);
    ASSERT_EQ(qlx_run({"convert", path(dir, "gif.png"), "-o", path(dir, "back")}).status, 0);
    for (const auto& entry : std::filesystem::directory_iterator(dir / "back")) {
        const Bytes indices = read_file(entry.path());
        EXPECT_NE(std::count(indices.begin(), indices.end(), qlx_nearest_index(255, 0, 0)), 0);
    }
    write_file(dir / "transparent.gif", read_file(qlx::test::data_path("pictures/transparent.gif")));
    ASSERT_EQ(qlx_run({"convert", "--background=00FF00", path(dir, "transparent.gif"), path(dir, "t.qlx")}).status, 0);
    const Bytes clear = read_file(dir / "t.qlx");
    EXPECT_NE(std::count(clear.begin(), clear.end(), qlx_nearest_index(0, 255, 0)), 0);
    EXPECT_EQ(std::count(clear.begin(), clear.end(), qlx_nearest_index(255, 255, 255)), 0);  // the hidden entry's white

    // Kept indices: a transparent pixel of an indexed PNG in our palette
    // is the background too, and opaque ones keep their index.
    Bytes indices = {80, 71, 5, 255};
    write_file(dir / "kept.4x1.qlx", indices);
    ASSERT_EQ(qlx_run({"convert", "--transparent-index=71", path(dir, "kept.4x1.qlx"), path(dir, "kept.png")}).status,
              0);
    ASSERT_EQ(qlx_run({"convert", "--background=0000FF", path(dir, "kept.png"), path(dir, "kept-back.4x1.qlx")}).status,
              0);
    EXPECT_EQ(read_file(dir / "kept-back.4x1.qlx"), (Bytes{80, qlx_nearest_index(0, 0, 255), 5, 255}));
    ASSERT_EQ(qlx_run({"convert", "--transparent-index=71", path(dir, "kept.png"), path(dir, "same.4x1.qlx")}).status,
              0);
    EXPECT_EQ(read_file(dir / "same.4x1.qlx"), indices);
}

TEST(QlxFiles, BackgroundAndPixelLimitRefuseBadValues) {
    qlx::test::TempDir dir;
    for (const std::string value : {"12345", "1234567", "#12345G", "-12345", "0x1234", ""}) {
        const RunResult run = qlx_run({"convert", "--background=" + value, PAL_SAMPLE_BMP, path(dir, "o.qlx")});
        EXPECT_EQ(run.status, 2) << value;
        EXPECT_EQ(run.err,
                  "qlx: invalid --background '" + value + "'; a colour as RRGGBB or #RRGGBB\nTry 'qlx --help'.\n");
    }
    for (const std::string value : {"-1", "1e6", "12x", ""}) {
        EXPECT_EQ(qlx_run({"convert", "--max-pixels=" + value, PAL_SAMPLE_BMP, path(dir, "o.qlx")}).status, 2) << value;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "o.qlx"));
}

// The limit is checked from the header, before anything is allocated: a
// PNG's IHDR may claim any size.
TEST(QlxFiles, PicturesPastThePixelLimitAreRefusedFromTheirHeader) {
    qlx::test::TempDir dir;
    Bytes huge = qlx::test::make_png({1, 1, 2, 8, false, {1, 2, 3}, {}, {}});
    for (const auto& [at, side] : {std::pair{16u, 30000u}, std::pair{20u, 30000u}}) {
        for (unsigned i = 0; i < 4; ++i) huge[at + i] = static_cast<std::uint8_t>(side >> (24 - 8 * i));
    }
    fix_crc(huge, 8);
    write_file(dir / "huge.png", huge);
    const RunResult refused = qlx_run({"convert", path(dir, "huge.png"), path(dir, "o.qlx")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "qlx: " + path(dir, "huge.png") +
                               ": a picture of 30000 × 30000 pixels is more than the limit of 536870912; "
                               "--max-pixels=N raises it, 0 lifts it\n");
    // Lifted, the same file is read, and fails only for its missing data.
    const RunResult lifted = qlx_run({"convert", "--max-pixels=0", path(dir, "huge.png"), path(dir, "o.qlx")});
    EXPECT_EQ(lifted.err, "qlx: " + path(dir, "huge.png") + ": PNG data is cut short\n");

    // The limit is inclusive, for every format.
    for (const std::string& input :
         {std::string(PAL_SAMPLE_BMP), qlx::test::data_path("pictures/plain.gif").string()}) {
        const auto picture = qlxcmd::decode(read_file(input), input, {});
        ASSERT_TRUE(picture);
        const std::string pixels = std::to_string(picture->width * picture->height);
        const std::string fewer = std::to_string(picture->width * picture->height - 1);
        EXPECT_EQ(qlx_run({"convert", "-q", "--max-pixels=" + pixels, input, path(dir, "o.png")}).status, 0) << input;
        EXPECT_EQ(qlx_run({"convert", "--max-pixels", fewer, input, path(dir, "o.png")}).status, 1) << input;
    }
    write_file(dir / "big.100x100.qlx", Bytes(10000));
    EXPECT_EQ(qlx_run({"convert", "--max-pixels=9999", path(dir, "big.100x100.qlx"), path(dir, "o.png")}).status, 1);
}

// A QLX file records no size: the name that states one must be right, and
// a picture of another size than 320 x 200 is told when its name says none.
TEST(QlxFiles, QlxNamesTellTheirSizeTruly) {
    qlx::test::TempDir dir;
    const std::string input = PAL_SAMPLE_BMP;  // 320 x 200
    const RunResult wrong = qlx_run({"convert", input, path(dir, "out.100x100.qlx")});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "qlx: " + input + ": the picture is 320 × 200 but the name " + path(dir, "out.100x100.qlx") +
                             " says 100 × 100; name it " + path(dir, "out.qlx") +
                             ", or give --fit=contain --size=100x100\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "out.100x100.qlx"));
    ASSERT_EQ(qlx_run({"convert", "--fit=cover", "--size=100x100", input, path(dir, "out.100x100.qlx")}).status, 0);
    EXPECT_EQ(read_file(dir / "out.100x100.qlx").size(), 10000u);

    const RunResult unnamed = qlx_run({"convert", "--fit=stretch", "--size=64x48", input, path(dir, "small.QLX")});
    EXPECT_EQ(unnamed.status, 0);
    EXPECT_EQ(unnamed.err, "qlx: " + path(dir, "small.QLX") + ": its size, 64 × 48, is not in its name; name it " +
                               path(dir, "small.64x48.qlx") + " so that it reads back at that size\n");
    EXPECT_EQ(read_file(dir / "small.QLX").size(), 64u * 48);
    EXPECT_EQ(qlx_run({"convert", "-q", "--fit=stretch", "--size=64x48", input, path(dir, "quiet.qlx")}).err, "");
    EXPECT_EQ(qlx_run({"convert", input, path(dir, "standard.qlx")}).err, "");
    EXPECT_EQ(qlx_run({"convert", "--fit=stretch", "--size=64x48", "-o", path(dir, "dir"), input}).err, "");
    EXPECT_EQ(read_file(dir / "dir" / "sunset.64x48.qlx").size(), 64u * 48);
}

// Every format of the table is in the help and the manual page, so that
// adding one to the table and nowhere else fails here.
TEST(QlxFormats, TheTableIsInTheHelpAndTheManual) {
    const std::string help =
        qlx_run({"--help"}).out + qlx_run({"convert", "--help"}).out + qlx_run({"palette", "--help"}).out;
    const Bytes page = read_file(std::filesystem::path(PAL_SOURCE_DIR) / "docs" / "qlx.1");
    const std::string manual(page.begin(), page.end());
    for (const qlxcmd::FormatEntry& entry : qlxcmd::format_table()) {
        if (entry.decode != nullptr || entry.write != nullptr) {
            EXPECT_NE(help.find(entry.title), std::string::npos) << entry.name;
            EXPECT_NE(manual.find(std::string(".B ") + entry.title), std::string::npos) << entry.name;
        }
        if (entry.write_palette != nullptr) {
            EXPECT_NE(help.find(std::string(".") + entry.name), std::string::npos) << entry.name;
            EXPECT_NE(manual.find(std::string(".B .") + entry.name), std::string::npos) << entry.name;
        }
    }
    // And a file of no format is refused with every format it could have been.
    qlx::test::TempDir dir;
    write_file(dir / "notes.txt", Bytes(20, 'x'));
    EXPECT_EQ(qlx_run({"convert", path(dir, "notes.txt"), path(dir, "o.png")}).err,
              "qlx: " + path(dir, "notes.txt") + ": not a " +
                  qlxcmd::format_list(qlxcmd::readable_formats(), "", true) + " file\n");
}

}  // namespace
