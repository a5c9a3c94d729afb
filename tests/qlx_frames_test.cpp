// qlx with frames, as a user runs it: animations in (GIF, WebP, a sequence,
// a sheet cut into tiles) and out (an animated GIF in our palette, files
// named by a frame number, a sheet, one frame), the refusal to cut an
// animation to a still, --dither-stable, and memory that does not grow
// with the number of frames.

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "qlx.h"
#include "test_support.hpp"

namespace {

using qlx::test::Bytes;
using qlx::test::read_file;
using qlx::test::RunResult;
using qlx::test::write_file;

RunResult qlx_run(const std::vector<std::string>& arguments) { return qlx::test::run_program(QLX_PATH, arguments); }
std::string path(const qlx::test::TempDir& dir, const std::string& name) { return qlx::test::utf8(dir / name); }

// "f" 3 ".qlx" gives "f3.qlx".
std::string numbered(std::string_view stem, std::size_t number, std::string_view tail) {
    std::string name(stem);
    name += std::to_string(number);
    name += tail;
    return name;
}

// Frames of indices with the palette's duplicates in them (80 is black's
// twin, 255 white's), a block moving across, and a still pair.
std::vector<Bytes> indexed_frames(std::size_t width, std::size_t height, std::size_t count) {
    std::vector<Bytes> frames;
    Bytes frame(width * height);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i % 5 == 0 ? 80 : i % 251);
    for (std::size_t f = 0; f < count; ++f) {
        for (std::size_t y = 0; y < height / 3; ++y) {
            for (std::size_t x = 0; x < width / 4; ++x)
                frame[y * width + (x + f) % width] = static_cast<std::uint8_t>(255 - f);
        }
        frames.push_back(frame);
        if (f == 1) frames.push_back(frame);
    }
    return frames;
}

// The byte of the graphic control extension's delay in each frame, and
// the loop count, of a GIF as our writer lays it out.
struct GifTiming {
    int loop = -1;
    std::vector<int> delays;
};
GifTiming timing_of(const Bytes& gif) {
    GifTiming timing;
    std::size_t at = QLX_GIF_START_SIZE_ONCE;
    if (gif[at] == 0x21 && gif[at + 1] == 0xFF) {
        timing.loop = gif[at + 16] | gif[at + 17] << 8;
        at = QLX_GIF_START_SIZE;
    }
    while (gif[at] == 0x21) {
        timing.delays.push_back(gif[at + 4] | gif[at + 5] << 8);
        at += 18 + 1;  // control, descriptor and the code size
        while (gif[at] != 0) at += gif[at] + 1u;
        ++at;
    }
    return timing;
}

TEST(QlxFrames, AnAnimationComesBackAsItsIndicesDuplicatesIncluded) {
    qlx::test::TempDir dir;
    const std::vector<Bytes> frames = indexed_frames(64, 40, 5);
    std::vector<std::string> arguments{"convert", "--sequence", "--delay=7", "--loop=2"};
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const std::string name = path(dir, numbered("in-", f, ".64x40.qlx"));
        write_file(name, frames[f]);
        arguments.push_back(name);
    }
    arguments.push_back(path(dir, "walk.gif"));
    ASSERT_EQ(qlx_run(arguments).status, 0);
    const Bytes gif = read_file(dir / "walk.gif");
    const GifTiming timing = timing_of(gif);
    EXPECT_EQ(timing.loop, 2);
    EXPECT_EQ(timing.delays, std::vector<int>(frames.size(), 7));

    // Back to frames, named by the pattern with their size.
    const RunResult back = qlx_run({"convert", path(dir, "walk.gif"), path(dir, "back-%02d.qlx")});
    ASSERT_EQ(back.status, 0) << back.err;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        EXPECT_EQ(read_file(dir / numbered(f + 1 < 10 ? "back-0" : "back-", f + 1, ".64x40.qlx")), frames[f])
            << "frame " << f + 1;
    }
    // An animation in our palette through qlx again is the same file, its delays and loop kept.
    ASSERT_EQ(qlx_run({"convert", path(dir, "walk.gif"), path(dir, "again.gif")}).status, 0);
    EXPECT_EQ(read_file(dir / "again.gif"), gif);
    // And one frame of it.
    ASSERT_EQ(qlx_run({"convert", "--frame=3", path(dir, "walk.gif"), path(dir, "third.64x40.qlx")}).status, 0);
    EXPECT_EQ(read_file(dir / "third.64x40.qlx"), frames[2]);
}

TEST(QlxFrames, StillOutputsOfAnAnimationSayWhatToPass) {
    qlx::test::TempDir dir;
    const std::vector<Bytes> frames = indexed_frames(32, 20, 3);
    std::vector<std::string> arguments{"convert", "--sequence"};
    for (std::size_t f = 0; f < frames.size(); ++f) {
        write_file(dir / (numbered("f", f, ".32x20.qlx")), frames[f]);
        arguments.push_back(path(dir, numbered("f", f, ".32x20.qlx")));
    }
    arguments.push_back(path(dir, "anim.gif"));
    ASSERT_EQ(qlx_run(arguments).status, 0);
    const RunResult still = qlx_run({"convert", path(dir, "anim.gif"), path(dir, "still.png")});
    EXPECT_EQ(still.status, 1);
    EXPECT_EQ(still.err, "qlx: " + path(dir, "anim.gif") +
                             ": it has 4 frames; give an output name with a frame number (as walk-%02d.qlx), "
                             "--frame=N (1 to 4), --sheet=COLUMNS, or a .gif output\n");
    EXPECT_FALSE(std::filesystem::exists(dir / "still.png"));
    const RunResult past = qlx_run({"convert", "--frame=5", path(dir, "anim.gif"), path(dir, "still.png")});
    EXPECT_EQ(past.status, 1);
    EXPECT_NE(past.err.find("it has 4 frames; --frame takes 1 to 4"), std::string::npos) << past.err;
    // Names with a percent sign that is not one frame number are a usage error.
    for (const std::string name : {"a-%s.png", "a-%d-%d.png", "a-%0d.png", "100%.png"}) {
        EXPECT_EQ(qlx_run({"convert", path(dir, "anim.gif"), path(dir, name)}).status, 2) << name;
    }
    EXPECT_EQ(qlx_run({"convert", path(dir, "anim.gif"), path(dir, "a-100%%-%d.png")}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "a-100%-4.png"));
}

// A sheet of frames with its empty cells index 0, and tiles cut from it
// that are the frames again.
TEST(QlxFrames, SheetsAndTilesAreEachOthersInverse) {
    qlx::test::TempDir dir;
    const std::vector<Bytes> frames = indexed_frames(20, 12, 4);  // 5 frames
    std::vector<std::string> sequence{"convert", "--sequence", "--sheet=3"};
    for (std::size_t f = 0; f < frames.size(); ++f) {
        write_file(dir / (numbered("f", f, ".20x12.qlx")), frames[f]);
        sequence.push_back(path(dir, numbered("f", f, ".20x12.qlx")));
    }
    sequence.push_back(path(dir, "sheet.60x24.qlx"));
    ASSERT_EQ(qlx_run(sequence).status, 0);
    const Bytes sheet = read_file(dir / "sheet.60x24.qlx");
    ASSERT_EQ(sheet.size(), 60u * 24u);
    for (std::size_t y = 0; y < 24; ++y) {
        for (std::size_t x = 0; x < 60; ++x) {
            const std::size_t cell = y / 12 * 3 + x / 20;
            const std::uint8_t expected = cell < frames.size() ? frames[cell][y % 12 * 20 + x % 20] : 0;
            ASSERT_EQ(sheet[y * 60 + x], expected) << x << ", " << y;
        }
    }
    const RunResult tiles =
        qlx_run({"convert", "--tiles=20x12", path(dir, "sheet.60x24.qlx"), path(dir, "tile-%d.qlx")});
    ASSERT_EQ(tiles.status, 0) << tiles.err;
    for (std::size_t f = 0; f < 6; ++f) {
        EXPECT_EQ(read_file(dir / (numbered("tile-", f + 1, ".20x12.qlx"))),
                  f < frames.size() ? frames[f] : Bytes(240, 0));
    }
    const RunResult uneven = qlx_run({"convert", "--tiles=16x16", path(dir, "sheet.60x24.qlx"), path(dir, "t-%d.qlx")});
    EXPECT_EQ(uneven.status, 1);
    EXPECT_NE(uneven.err.find("the sheet is 60 × 24, which is not a whole number of tiles of 16 × 16"),
              std::string::npos)
        << uneven.err;
    // A sheet in any output format, GIF too: one picture.
    ASSERT_EQ(
        qlx_run({"convert", "--tiles=20x12", "--sheet=3", path(dir, "sheet.60x24.qlx"), path(dir, "sheet.gif")}).status,
        0);
    ASSERT_EQ(qlx_run({"convert", path(dir, "sheet.gif"), path(dir, "from-gif.60x24.qlx")}).status, 0);
    EXPECT_EQ(read_file(dir / "from-gif.60x24.qlx"), sheet);
    // A standard frame's name states no size.
    write_file(dir / "std.qlx", Bytes(640 * 200, 9));
    ASSERT_EQ(
        qlx_run({"convert", "--size=640x200", "--tiles=320x200", path(dir, "std.qlx"), path(dir, "s%d.qlx")}).status,
        0);
    EXPECT_EQ(read_file(dir / "s2.qlx"), Bytes(64000, 9));
}

// WebP frames as another decoder composes them (the references are
// ImageMagick's), and a still WebP as one frame.
TEST(QlxFrames, WebpFramesAreComposedOnTheirCanvas) {
    qlx::test::TempDir dir;
    const RunResult run =
        qlx_run({"convert", qlx::test::utf8(qlx::test::data_path("pictures/anim.webp")), path(dir, "w%d.qlx")});
    ASSERT_EQ(run.status, 0) << run.err;
    for (std::size_t f = 1; f <= 3; ++f) {
        const std::string reference = numbered("pictures/anim-webp-frame-", f, ".png");
        ASSERT_EQ(qlx_run({"convert", qlx::test::utf8(qlx::test::data_path(reference)),
                           path(dir, numbered("r", f, ".24x16.qlx"))})
                      .status,
                  0);
        EXPECT_EQ(read_file(dir / (numbered("w", f, ".24x16.qlx"))), read_file(dir / (numbered("r", f, ".24x16.qlx"))))
            << "frame " << f;
    }
    ASSERT_EQ(
        qlx_run({"convert", qlx::test::utf8(qlx::test::data_path("pictures/still.webp")), path(dir, "s.png")}).status,
        0);
}

// Noisy frames of colours: --dither-stable is the library's frame memory,
// and without it every frame stands alone.
TEST(QlxFrames, DitherStableIsTheLibrarysFrameMemory) {
    qlx::test::TempDir dir;
    const std::size_t width = 48, height = 30;
    std::mt19937 random(4);
    std::vector<Bytes> frames;
    Bytes base(width * height * 3);
    for (auto& v : base) v = static_cast<std::uint8_t>(random());
    std::vector<std::string> names;
    for (std::size_t f = 0; f < 4; ++f) {
        Bytes frame = base;
        for (auto& v : frame) v = static_cast<std::uint8_t>(std::clamp(v + static_cast<int>(random() % 7) - 3, 0, 255));
        frames.push_back(frame);
        // A 24-bit BMP of the frame, rows bottom first.
        qlx::test::BmpRecipe recipe;
        recipe.width = static_cast<std::int32_t>(width), recipe.height = static_cast<std::int32_t>(height);
        for (std::size_t i = 0; i < frame.size(); i += 3) {
            recipe.pixels.insert(recipe.pixels.end(), {frame[i + 2], frame[i + 1], frame[i]});
        }
        names.push_back(path(dir, numbered("n", f, ".bmp")));
        write_file(names.back(), qlx::test::make_bmp(recipe));
    }
    for (const bool stable : {false, true}) {
        std::vector<std::string> arguments{"convert", "--sequence", "--dither=floyd-steinberg",
                                           "--dither-light=linear"};
        if (stable) arguments.push_back("--dither-stable");
        arguments.insert(arguments.end(), names.begin(), names.end());
        arguments.push_back(path(dir, "o%d.qlx"));
        ASSERT_EQ(qlx_run(arguments).status, 0);
        qlx_options options = qlx_default_options();
        options.dither = QLX_DITHER_FLOYD_STEINBERG;
        options.light = QLX_LIGHT_LINEAR;
        options.alpha = QLX_ALPHA_COMPOSITE;
        options.stable = stable ? QLX_STABLE_TOLERANCE : 0;
        Bytes memory(width * height * QLX_FRAME_MEMORY_PIXEL_BYTES, 0);
        for (std::size_t f = 0; f < frames.size(); ++f) {
            const qlx_picture picture{frames[f].data(), width, height, 3 * width, QLX_RGB, nullptr, 0, nullptr};
            Bytes indices(width * height);
            ASSERT_EQ(qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size(),
                                        indices.data(), indices.size()),
                      QLX_OK);
            EXPECT_EQ(read_file(dir / (numbered("o", f + 1, ".48x30.qlx"))), indices)
                << (stable ? "stable" : "alone") << " frame " << f + 1;
        }
    }
}

// The most memory a run of qlx held, in KiB.
long peak_kib(const std::vector<std::string>& arguments) {
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv{const_cast<char*>(QLX_PATH)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(QLX_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// A long animation costs the memory of a frame or two, not of all of them.
TEST(QlxFrames, MemoryDoesNotGrowWithTheFrames) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer holds freed memory back, so memory grows with every frame's buffers";
#endif
    qlx::test::TempDir dir;
    const auto animation = [&](std::size_t count) {
        Bytes gif(QLX_GIF_START_SIZE);
        std::size_t written = 0;
        EXPECT_EQ(qlx_gif_start(320, 200, 0, gif.data(), gif.size(), &written), QLX_OK);
        Bytes frame(64000), previous;
        for (std::size_t f = 0; f < count; ++f) {
            for (std::size_t i = 0; i < 64000; i += 97) frame[(i + f * 13) % 64000] = static_cast<std::uint8_t>(f);
            const std::size_t at = gif.size(), bound = qlx_gif_frame_bound(320, 200);
            gif.resize(at + bound);
            EXPECT_EQ(qlx_gif_frame(frame.data(), f == 0 ? nullptr : previous.data(), 320, 200, 4, -1, gif.data() + at,
                                    bound, &written),
                      QLX_OK);
            gif.resize(at + written);
            previous = frame;
        }
        gif.push_back(QLX_GIF_TRAILER);
        return gif;
    };
    write_file(dir / "short.gif", animation(10));
    write_file(dir / "long.gif", animation(1000));
    const long short_run = peak_kib(
        {"convert", "--dither=floyd-steinberg", "--dither-stable", path(dir, "short.gif"), path(dir, "short-out.gif")});
    const long long_run = peak_kib(
        {"convert", "--dither=floyd-steinberg", "--dither-stable", path(dir, "long.gif"), path(dir, "long-out.gif")});
    ASSERT_GT(short_run, 0);
    ASSERT_GT(long_run, 0);
    // The long file's own bytes, and a margin for the allocator.
    const long file_kib = static_cast<long>(std::filesystem::file_size(dir / "long.gif") / 1024);
    EXPECT_LT(long_run, short_run + file_kib + 2048) << short_run << " KiB for 10 frames";
}

}  // namespace
