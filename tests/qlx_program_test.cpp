// The qlx program as a user runs it: statuses and messages, what is
// written and what is left alone, batches, palette files, standard streams,
// and the progress line on a terminal.

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <thread>
#include <tuple>

#include "png_maker.hpp"
#include "qlx.h"
#include "test_support.hpp"

namespace {

using qlx::test::Bytes;
using qlx::test::read_file;
using qlx::test::RunResult;
using qlx::test::write_file;

RunResult qlx_run(const std::vector<std::string>& arguments) { return qlx::test::run_program(QLX_PATH, arguments); }
RunResult palquant(const std::vector<std::string>& arguments) {
    return qlx::test::run_program(PALQUANT_PATH, arguments);
}

std::string path(const qlx::test::TempDir& dir, const std::string& name) { return qlx::test::utf8(dir / name); }

// Every index in order, then each again, so that the duplicate entries of
// the palette (71, 80, 136, 255, ...) are there to be lost.
Bytes every_index(std::size_t count) {
    Bytes indices(count);
    for (std::size_t i = 0; i < count; ++i) indices[i] = static_cast<std::uint8_t>(i * 11);
    return indices;
}

TEST(QlxProgram, StatusesAndMessages) {
    qlx::test::TempDir dir;
    const std::string input = path(dir, "in.bmp");
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    const std::string try_help = "Try 'qlx --help'.\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> usage_errors = {
        {{"convert", "--bogus", input, path(dir, "a.qlx")}, "qlx: unrecognized option '--bogus'\n"},
        {{"convert", input}, "qlx: missing OUTPUT\n"},
        {{"convert", input, path(dir, "a.jpg")},
         "qlx: cannot tell a format from the name '" + path(dir, "a.jpg") +
             "'; end it in .qlx, .png, .bmp or .gif, or give --to\n"},
        {{"convert", "--dither=sideways", input, path(dir, "a.qlx")},
         "qlx: invalid --dither 'sideways'; choose none, floyd-steinberg, ordered, atkinson, sierra-lite, "
         "blue-noise, jarvis-judice-ninke, stucki, burkes, sierra or pattern\n"},
        {{"convert", "--dither", input, path(dir, "a.qlx")},
         "qlx: invalid --dither '" + input +
             "'; choose none, floyd-steinberg, ordered, atkinson, sierra-lite, blue-noise, jarvis-judice-ninke, "
             "stucki, burkes, sierra or pattern\n"},
        {{"convert", input, path(dir, "a.qlx"), "--jobs"}, "qlx: option '--jobs' requires an argument\n"},
        {{"convert", "--quiet=yes", input, path(dir, "a.qlx")}, "qlx: option '--quiet' doesn't allow an argument\n"},
        {{"palette", "--dither=ordered", path(dir, "a.gpl")},
         "qlx: option '--dither' does not apply to 'qlx palette'\n"},
        {{"convert", "--to=gpl", input, path(dir, "a.qlx")}, "qlx: invalid --to 'gpl'; choose qlx, png, bmp or gif\n"},
        {{"resize", input}, "qlx: unknown command 'resize'; convert or palette\n"},
        {{"convert", "--report=xml", input, path(dir, "a.qlx")}, "qlx: invalid --report 'xml'; choose text or json\n"},
        {{}, "qlx: missing command; convert or palette\n"},
        {{"convert", input, "-"}, "qlx: give --to=qlx, png, bmp or gif for standard output\n"},
        {{"convert", input, input}, "qlx: the output '" + input + "' would replace the input '" + input + "'\n"},
        // Control characters are spelled out, so that the refusal stays one line
        // (tests/data/regressions/qlx-arguments-control-characters, from the fuzzer).
        {{"\x89PNG\r\n\x1a\n", input}, "qlx: unknown command '\x89PNG\\x0d\\n\\x1a\\n'; convert or palette\n"},
    };
    for (const auto& [arguments, message] : usage_errors) {
        const RunResult run = qlx_run(arguments);
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_EQ(run.err, message + try_help);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "a.qlx"));
    EXPECT_EQ(read_file(dir / "in.bmp"), read_file(PAL_SAMPLE_BMP));

    // A failed input: one line, no output, and an existing output untouched.
    write_file(dir / "notes.txt", Bytes(100, 'x'));
    write_file(dir / "kept.png", Bytes{1, 2, 3});
    const RunResult failed = qlx_run({"convert", path(dir, "notes.txt"), path(dir, "kept.png")});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err, "qlx: " + path(dir, "notes.txt") + ": not a QLX, PNG, BMP, JPEG, GIF or WebP file\n");
    EXPECT_EQ(read_file(dir / "kept.png"), (Bytes{1, 2, 3}));
    write_file(dir / "wide.qlx", Bytes(641 * 480));
    EXPECT_EQ(qlx_run({"convert", path(dir, "wide.qlx"), path(dir, "wide.png")}).err,
              "qlx: " + path(dir, "wide.qlx") + ": QLX file has 307680 bytes, not 320 × 200; 641x480 fits\n");

    EXPECT_EQ(qlx_run({"--version"}).out, "qlx " QLX_VERSION_STRING "\n");
    for (const std::string topic : {"", "convert", "palette"}) {
        const RunResult help = topic.empty() ? qlx_run({"-h"}) : qlx_run({topic, "--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_TRUE(help.out.starts_with("Usage: qlx " + topic)) << help.out;
    }
}

// Options anywhere, values as the next argument, and a 24-bit BMP giving
// palquant's bytes for every method and light.
TEST(QlxProgram, ColourInputGivesPalquantsBytes) {
    qlx::test::TempDir dir;
    const std::string input = path(dir, "in.bmp");
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    for (const std::string method : {"none", "floyd-steinberg", "ordered", "atkinson", "sierra-lite", "blue-noise"}) {
        for (const std::string light : {"srgb", "linear"}) {
            SCOPED_TRACE(method + " " + light);
            ASSERT_EQ(palquant({"--dither=" + method, "--dither-light=" + light, "--dither-strength=70", input,
                                path(dir, "p.qlx")})
                          .status,
                      1);
            ASSERT_EQ(qlx_run({"convert", input, "--dither", method, path(dir, "q.qlx"), "--dither-light=" + light,
                               "--dither-str=70"})
                          .status,
                      0);
            EXPECT_EQ(read_file(dir / "q.qlx"), read_file(dir / "p.qlx"));
        }
    }
    // "--" ends the options: a file may be called "--dither".
    ASSERT_EQ(qlx_run({"convert", "--to=qlx", "--", input, path(dir, "--dither")}).status, 0);
    EXPECT_EQ(read_file(dir / "--dither").size(), 64000u);
}

TEST(QlxProgram, IndicesSurviveEveryRoundTrip) {
    qlx::test::TempDir dir;
    const Bytes indices = every_index(320 * 200);
    write_file(dir / "all.qlx", indices);
    for (const std::string format : {"png", "bmp"}) {
        SCOPED_TRACE(format);
        ASSERT_EQ(qlx_run({"convert", path(dir, "all.qlx"), path(dir, "all." + format)}).status, 0);
        ASSERT_EQ(qlx_run({"convert", path(dir, "all." + format), path(dir, "back.qlx")}).status, 0);
        EXPECT_EQ(read_file(dir / "back.qlx"), indices);
    }
    // --truecolour BMP is palexpand's file.
    ASSERT_EQ(qlx_run({"convert", "--truecolour", path(dir, "all.qlx"), path(dir, "true.bmp")}).status, 0);
    ASSERT_EQ(qlx::test::run_program(PALEXPAND_PATH, {path(dir, "all.qlx"), path(dir, "palexpand.bmp")}).status, 0);
    EXPECT_EQ(read_file(dir / "true.bmp"), read_file(dir / "palexpand.bmp"));

    // A long thin picture comes back too, at the longest side a name states.
    write_file(dir / "thin.16384x4.qlx", every_index(16384 * 4));
    ASSERT_EQ(qlx_run({"convert", path(dir, "thin.16384x4.qlx"), path(dir, "thin.png")}).status, 0);
    ASSERT_EQ(qlx_run({"convert", path(dir, "thin.png"), "-o", path(dir, "out")}).status, 0);
    EXPECT_EQ(read_file(dir / "out" / "thin.16384x4.qlx"), every_index(16384 * 4));
    // A longer side is no QLX name's: such a picture is refused, not misnamed.
    write_file(dir / "long.qlx", every_index(20000 * 4));
    ASSERT_EQ(qlx_run({"convert", "--size=20000x4", path(dir, "long.qlx"), path(dir, "long.png")}).status, 0);
    const RunResult unnamed = qlx_run({"convert", path(dir, "long.png"), "-o", path(dir, "out")});
    EXPECT_EQ(unnamed.status, 1);
    EXPECT_EQ(unnamed.err, "qlx: " + path(dir, "long.png") +
                               ": a QLX name states sides up to 16384, not 20000 × 4; fit it with --fit and --size, "
                               "or write PNG\n");
}

TEST(QlxProgram, TransparentIndexMarksPixelsAndThePng) {
    qlx::test::TempDir dir;
    qlx::test::PngRecipe recipe{2, 1, 6, 8, false, {200, 10, 10, 255, 200, 10, 10, 20}, {}, {}};
    write_file(dir / "in.png", qlx::test::make_png(recipe));
    ASSERT_EQ(qlx_run({"convert", "--transparent-index=80", path(dir, "in.png"), path(dir, "out.qlx")}).status, 0);
    const Bytes out = read_file(dir / "out.qlx");
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], qlx_nearest_index(200, 10, 10));
    EXPECT_EQ(out[1], 80);
}

TEST(QlxProgram, BatchesConvertTheGoodAndReportTheBad) {
    qlx::test::TempDir dir;
    std::vector<std::string> inputs;
    for (int i = 0; i < 6; ++i) {
        write_file(
            dir / ("pic" + std::to_string(i) + ".bmp"),
            qlx::test::make_bmp({40 + i, 30, false, 40, 0, true, 24, 0, qlx::test::gradient_pixels(40 + i, 30)}));
        inputs.push_back(path(dir, "pic" + std::to_string(i) + ".bmp"));
    }
    write_file(dir / "broken.png", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});
    inputs.push_back(path(dir, "broken.png"));
    write_file(dir / "standard.qlx", every_index(64000));
    inputs.push_back(path(dir, "standard.qlx"));

    for (const std::string jobs : {"1", "2"}) {
        std::vector<std::string> arguments = {"convert", "--dither=atkinson", "--out-dir=" + path(dir, "out" + jobs),
                                              "--jobs", jobs};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        const RunResult run = qlx_run(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "qlx: " + path(dir, "broken.png") + ": PNG data is cut short\n");
        EXPECT_FALSE(std::filesystem::exists(dir / ("out" + jobs) / "broken.qlx"));
        EXPECT_EQ(read_file(dir / ("out" + jobs) / "standard.qlx"), every_index(64000));
    }
    for (int i = 0; i < 6; ++i) {
        const std::string name = "pic" + std::to_string(i) + "." + std::to_string(40 + i) + "x30.qlx";
        EXPECT_EQ(read_file(dir / "out1" / name), read_file(dir / "out2" / name)) << name;
    }
    // PNG outputs under --to, and clashes found before anything is written.
    EXPECT_EQ(qlx_run({"convert", "--to=png", "-o", path(dir, "pngs"), inputs[0]}).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "pngs" / "pic0.png"));
    write_file(dir / "pic0.gif", read_file(qlx::test::data_path("pictures/plain.gif")));
    const RunResult clash = qlx_run({"convert", "-o", path(dir, "clash"), inputs[0], path(dir, "pic0.gif")});
    EXPECT_EQ(clash.status, 2);
    EXPECT_NE(clash.err.find("would both write"), std::string::npos) << clash.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "clash"));
}

// --report: the library's figures for each file, in the order of the
// inputs whatever the number of jobs; lines on standard error, or JSON on
// standard output unless the picture goes there.
TEST(QlxProgram, ReportsGiveTheLibrarysFiguresInTheOrderOfTheInputs) {
    qlx::test::TempDir dir;
    std::vector<std::string> inputs;
    std::vector<qlx_closeness> expected;
    for (int i = 0; i < 5; ++i) {
        const int width = 30 + 7 * i, height = 20 + i;
        const Bytes pixels = qlx::test::gradient_pixels(width, height);
        write_file(dir / ("pic" + std::to_string(i) + ".bmp"),
                   qlx::test::make_bmp({.width = width, .height = height, .top_down = true, .pixels = pixels}));
        inputs.push_back(path(dir, "pic" + std::to_string(i) + ".bmp"));
        qlx_options options = qlx_default_options();
        options.dither = QLX_DITHER_PATTERN;
        options.alpha = QLX_ALPHA_COMPOSITE;
        const qlx_picture picture{pixels.data(),
                                  static_cast<std::size_t>(width),
                                  static_cast<std::size_t>(height),
                                  static_cast<std::size_t>(3 * width),
                                  QLX_BGR,
                                  nullptr,
                                  0,
                                  nullptr};
        Bytes indices(static_cast<std::size_t>(width * height));
        EXPECT_EQ(qlx_convert(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size()), QLX_OK);
        qlx_closeness closeness{};
        EXPECT_EQ(qlx_closeness_of(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size(), &closeness),
                  QLX_OK);
        expected.push_back(closeness);
    }
    const auto json = [&](std::size_t i) {
        char figures[200];
        std::snprintf(figures, sizeof figures,
                      "\"blurred_error\": %.4f, \"ciede2000\": %.4f, \"exact_share\": %.6f, \"measured\": %zu}\n",
                      expected[i].blurred_error, expected[i].ciede2000, expected[i].exact_share, expected[i].measured);
        return "{\"input\": \"" + inputs[i] + "\", " + figures;
    };
    for (const std::string jobs : {"1", "3"}) {
        std::vector<std::string> arguments = {
            "convert", "--dither=pattern",     "--report=json", "-q", "-j", jobs, "--to=png",
            "-o",      path(dir, "out" + jobs)};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        const RunResult run = qlx_run(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        std::string lines;
        for (std::size_t i = 0; i < inputs.size(); ++i) lines += json(i);
        EXPECT_EQ(run.out, lines) << jobs << " jobs";
        EXPECT_EQ(run.err, "");
    }
    const RunResult text = qlx_run({"convert", "--dither=pattern", "--report", inputs[0], path(dir, "one.png")});
    char line[200];
    std::snprintf(line, sizeof line, ": blurred error %.2f, CIEDE2000 %.2f, %.1f%% exact\n", expected[0].blurred_error,
                  expected[0].ciede2000, 100 * expected[0].exact_share);
    EXPECT_EQ(text.err, "qlx: " + inputs[0] + line);
    EXPECT_EQ(text.out, "");
    // The picture on standard output keeps it to itself.
    const RunResult piped = qlx_run({"convert", "--dither=pattern", "--report=json", "--to=qlx", inputs[0], "-"});
    EXPECT_EQ(piped.err, json(0));
    EXPECT_EQ(piped.out.size(), 30u * 20u);
}

// ---- The writers, every byte, against plain statements of the formats ----

std::ptrdiff_t offset(std::size_t at) { return static_cast<std::ptrdiff_t>(at); }

std::uint32_t be32(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 | std::uint32_t{bytes[at + 2]} << 8 |
           bytes[at + 3];
}
std::uint32_t le(const Bytes& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

// An indexed PNG as qlx writes it: the signature; IHDR (8 bits, colour type
// 3, no interlacing); PLTE of all 256 entries, ours; tRNS only for a
// transparent index, as many alphas as reach it, 0 there and 255 before;
// IDAT whose inflated rows are each a filter byte and the indices; IEND;
// and every chunk's CRC right.
void expect_indexed_png(const Bytes& png, const Bytes& indices, std::uint32_t width, std::uint32_t height,
                        int transparent) {
    const Bytes signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    ASSERT_TRUE(std::equal(signature.begin(), signature.end(), png.begin()));
    std::vector<std::string> order;
    Bytes idat;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = be32(png, at);
        const std::string type(png.begin() + static_cast<std::ptrdiff_t>(at + 4),
                               png.begin() + static_cast<std::ptrdiff_t>(at + 8));
        ASSERT_LE(at + 12 + length, png.size()) << type;
        const Bytes data(png.begin() + static_cast<std::ptrdiff_t>(at + 8),
                         png.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        const uLong crc = crc32(0, png.data() + at + 4, 4 + length);  // over the type and the data
        EXPECT_EQ(be32(png, at + 8 + length), crc) << type;
        if (order.empty() || order.back() != type) order.push_back(type);
        if (type == "IHDR") {
            EXPECT_EQ(data, (Bytes{static_cast<std::uint8_t>(width >> 24), static_cast<std::uint8_t>(width >> 16),
                                   static_cast<std::uint8_t>(width >> 8), static_cast<std::uint8_t>(width),
                                   static_cast<std::uint8_t>(height >> 24), static_cast<std::uint8_t>(height >> 16),
                                   static_cast<std::uint8_t>(height >> 8), static_cast<std::uint8_t>(height), 8, 3, 0,
                                   0, 0}));
        } else if (type == "PLTE") {
            ASSERT_EQ(data.size(), 768u);
            for (unsigned i = 0; i < 256; ++i) {
                EXPECT_EQ(data[3 * i] << 16 | data[3 * i + 1] << 8 | data[3 * i + 2],
                          static_cast<int>(qlx_palette_colour(static_cast<std::uint8_t>(i))));
            }
        } else if (type == "tRNS") {
            Bytes alphas(static_cast<std::size_t>(transparent) + 1, 255);
            alphas.back() = 0;
            EXPECT_EQ(data, alphas);
        } else if (type == "IDAT") {
            idat.insert(idat.end(), data.begin(), data.end());
        }
        at += 12 + length;
    }
    const std::vector<std::string> expected_order =
        transparent >= 0 ? std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}
                         : std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"};
    EXPECT_EQ(order, expected_order) << "transparent index " << transparent;
    Bytes rows((width + 1) * height);
    uLongf size = static_cast<uLongf>(rows.size());
    ASSERT_EQ(uncompress(rows.data(), &size, idat.data(), static_cast<uLong>(idat.size())), Z_OK);
    ASSERT_EQ(size, rows.size());
    for (std::uint32_t y = 0; y < height; ++y) {
        ASSERT_EQ(rows[y * (width + 1)], 0) << "row " << y << "'s filter";  // none: the indices as they are
        EXPECT_TRUE(std::equal(indices.begin() + offset(y) * width, indices.begin() + offset(y + 1) * width,
                               rows.begin() + offset(y) * (width + 1) + 1))
            << "row " << y;
    }
}

TEST(QlxWriters, IndexedPngAndBmpHoldEveryByteTheirFormatsSay) {
    qlx::test::TempDir dir;
    std::mt19937 random(41);
    // An 8-bit BMP: 54 bytes of headers, 1024 of our palette as blue,
    // green, red, 0; rows bottom-up, each padded with zeros to 4 bytes.
    for (std::uint32_t width = 1; width <= 8; ++width) {
        const std::uint32_t height = 3, stride = (width + 3) / 4 * 4;
        Bytes indices(width * height);
        for (auto& index : indices) index = static_cast<std::uint8_t>(random());
        const std::string name = "w" + std::to_string(width) + "." + std::to_string(width) + "x3.qlx";
        write_file(dir / name, indices);
        ASSERT_EQ(qlx_run({"convert", path(dir, name), path(dir, "w.bmp")}).status, 0);
        const Bytes bmp = read_file(dir / "w.bmp");
        ASSERT_EQ(bmp.size(), 1078u + stride * height) << width;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(le(bmp, 2, 4), bmp.size());
        EXPECT_EQ(le(bmp, 10, 4), 1078u);
        EXPECT_EQ(le(bmp, 14, 4), 40u);
        EXPECT_EQ(le(bmp, 18, 4), width);
        EXPECT_EQ(le(bmp, 22, 4), height);
        EXPECT_EQ(le(bmp, 26, 2), 1u);
        EXPECT_EQ(le(bmp, 28, 2), 8u);
        EXPECT_EQ(le(bmp, 30, 4), 0u);
        EXPECT_EQ(le(bmp, 34, 4), stride * height);
        for (unsigned i = 0; i < 256; ++i) {
            EXPECT_EQ(le(bmp, 54 + 4 * i, 4), qlx_palette_colour(static_cast<std::uint8_t>(i))) << i;
        }
        for (std::uint32_t stored = 0; stored < height; ++stored) {
            const std::size_t row = 1078 + stored * stride;
            EXPECT_TRUE(std::equal(indices.begin() + offset(height - 1 - stored) * width,
                                   indices.begin() + offset(height - stored) * width, bmp.begin() + offset(row)))
                << width << " wide, stored row " << stored;
            for (std::uint32_t pad = width; pad < stride; ++pad) EXPECT_EQ(bmp[row + pad], 0) << width;
        }
    }
    // Indexed PNG, with each kind of transparent index and none.
    Bytes indices(37 * 11);
    for (auto& index : indices) index = static_cast<std::uint8_t>(random());
    write_file(dir / "p.37x11.qlx", indices);
    for (const int transparent : {-1, 0, 1, 80, 255}) {
        std::vector<std::string> arguments = {"convert", path(dir, "p.37x11.qlx"), path(dir, "p.png")};
        if (transparent >= 0) arguments.push_back("--transparent-index=" + std::to_string(transparent));
        ASSERT_EQ(qlx_run(arguments).status, 0);
        expect_indexed_png(read_file(dir / "p.png"), indices, 37, 11, transparent);
    }
}

TEST(QlxProgram, PaletteFilesForEditors) {
    qlx::test::TempDir dir;
    for (const std::string format : {"gpl", "pal", "act", "hex", "png"}) {
        ASSERT_EQ(qlx_run({"palette", path(dir, "palette." + format)}).status, 0) << format;
    }
    std::string act_text;
    const Bytes act = read_file(dir / "palette.act");
    ASSERT_EQ(act.size(), 768u);
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
        EXPECT_EQ((act[3 * i] << 16 | act[3 * i + 1] << 8 | act[3 * i + 2]), static_cast<int>(colour));
    }
    const Bytes gpl = read_file(dir / "palette.gpl");
    const std::string gpl_text(gpl.begin(), gpl.end());
    EXPECT_TRUE(gpl_text.starts_with("GIMP Palette\nName: QLX\nColumns: 16\n"));
    EXPECT_EQ(std::count(gpl_text.begin(), gpl_text.end(), '\t'), 256);
    const Bytes pal = read_file(dir / "palette.pal");
    const std::string pal_text(pal.begin(), pal.end());
    EXPECT_TRUE(pal_text.starts_with("JASC-PAL\r\n0100\r\n256\r\n"));
    EXPECT_EQ(std::count(pal_text.begin(), pal_text.end(), '\n'), 259);
    EXPECT_EQ(std::count(pal_text.begin(), pal_text.end(), '\r'), 259);
    const Bytes hex = read_file(dir / "palette.hex");
    EXPECT_EQ(hex.size(), 256u * 7);
    // Every entry of each text format, read back plainly, is ours at its index.
    const auto lines_of = [](const std::string& text, const std::string& end) {
        std::vector<std::string> lines;
        for (std::size_t at = 0, next = 0; (next = text.find(end, at)) != std::string::npos; at = next + end.size()) {
            lines.push_back(text.substr(at, next - at));
        }
        return lines;
    };
    const auto colour = [](unsigned r, unsigned g, unsigned b) { return static_cast<int>(r << 16 | g << 8 | b); };
    const std::vector<std::string> pal_lines = lines_of(pal_text, "\r\n");
    const std::vector<std::string> gpl_lines = lines_of(gpl_text, "\n");
    const std::vector<std::string> hex_lines = lines_of(std::string(hex.begin(), hex.end()), "\n");
    ASSERT_EQ(pal_lines.size(), 259u);
    ASSERT_EQ(hex_lines.size(), 256u);
    ASSERT_GE(gpl_lines.size(), 256u);
    for (unsigned i = 0; i < 256; ++i) {
        const auto expected = static_cast<int>(qlx_palette_colour(static_cast<std::uint8_t>(i)));
        unsigned r = 0, g = 0, b = 0;
        ASSERT_EQ(std::sscanf(pal_lines[3 + i].c_str(), "%u %u %u", &r, &g, &b), 3) << i;
        EXPECT_EQ(colour(r, g, b), expected) << ".pal entry " << i;
        ASSERT_EQ(std::sscanf(gpl_lines[gpl_lines.size() - 256 + i].c_str(), "%u %u %u", &r, &g, &b), 3) << i;
        EXPECT_EQ(colour(r, g, b), expected) << ".gpl entry " << i;
        EXPECT_EQ(hex_lines[i].size(), 6u);
        EXPECT_EQ(static_cast<int>(std::stoul(hex_lines[i], nullptr, 16)), expected) << ".hex entry " << i;
    }
    // The picture: index 16y + x at column x and row y, kept as indices.
    ASSERT_EQ(qlx_run({"convert", path(dir, "palette.png"), path(dir, "grid.qlx")}).status, 0);
    Bytes grid(256);
    for (unsigned i = 0; i < 256; ++i) grid[i] = static_cast<std::uint8_t>(i);
    EXPECT_EQ(read_file(dir / "grid.qlx"), grid);
    // Standard output takes the format from --to.
    EXPECT_EQ(qlx_run({"palette", "--to=hex", "-"}).out, std::string(hex.begin(), hex.end()));
}

TEST(QlxProgram, StandardInputAndOutput) {
    qlx::test::TempDir dir;
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    const std::string command = std::string(QLX_PATH) + " convert --to=png - - < " + path(dir, "in.bmp") + " > " +
                                path(dir, "out.png") + " && " + QLX_PATH + " convert - " + path(dir, "back.qlx") +
                                " < " + path(dir, "out.png");
    ASSERT_EQ(qlx::test::run_program("/bin/sh", {"-c", command}).status, 0);
    ASSERT_EQ(palquant({path(dir, "in.bmp"), path(dir, "p.qlx")}).status, 1);
    EXPECT_EQ(read_file(dir / "back.qlx"), read_file(dir / "p.qlx"));
}

// Runs qlx with standard error on a pseudo-terminal and gives what it drew.
std::string on_terminal(const std::vector<std::string>& arguments) {
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        std::vector<std::string> words{QLX_PATH};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        execv(QLX_PATH, argv.data());
        _exit(127);
    }
    std::string drawn;
    char buffer[4096];
    for (ssize_t count; (count = read(terminal, buffer, sizeof buffer)) > 0;)
        drawn.append(buffer, static_cast<std::size_t>(count));
    waitpid(child, nullptr, 0);
    close(terminal);
    return drawn;
}

TEST(QlxProgram, ProgressShowsOnATerminalAndNowhereElse) {
    qlx::test::TempDir dir;
    std::vector<std::string> arguments = {"convert", "--jobs=1", "-o", path(dir, "out")};
    for (int i = 0; i < 40; ++i) {
        write_file(dir / ("p" + std::to_string(i) + ".bmp"),
                   qlx::test::make_bmp({256, 256, false, 40, 0, true, 24, 0, qlx::test::gradient_pixels(256, 256)}));
        arguments.push_back(path(dir, "p" + std::to_string(i) + ".bmp"));
    }
    const std::string drawn = on_terminal(arguments);
    EXPECT_NE(drawn.find(" of 40 done"), std::string::npos) << drawn;
    EXPECT_TRUE(drawn.ends_with("\r\x1b[K")) << drawn;  // cleared at the end

    arguments.push_back("--quiet");
    EXPECT_EQ(on_terminal(arguments), "");
    arguments.pop_back();
    const RunResult piped = qlx_run(arguments);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
}

// An output qlx replaces keeps its mode, setuid, setgid and sticky bits included.
TEST(QlxProgram, OverwrittenOutputsKeepEveryModeBit) {
    qlx::test::TempDir dir;
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    for (const unsigned mode : {06755u, 01644u, 02640u, 04600u}) {
        for (const std::string name : {"out.qlx", "out.png"}) {
            write_file(dir / name, Bytes{1, 2, 3});
            ASSERT_EQ(::chmod(qlx::test::utf8(dir / name).c_str(), mode), 0);
            ASSERT_EQ(qlx_run({"convert", path(dir, "in.bmp"), path(dir, name)}).status, 0);
            struct stat info {};
            ASSERT_EQ(::stat(qlx::test::utf8(dir / name).c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, mode) << name << " " << std::oct << mode;
        }
    }
}

// ---- The command line at its edges ----

// Every option's refusal: trailing characters, an empty value, values out
// of range, each in the option's own words and with status 2, the input
// left unread and no output made.
TEST(QlxCommandLine, EveryOptionRefusesWhatItCannotTake) {
    qlx::test::TempDir dir;
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> options = {
        {"--jobs", "a number from 1 to 1024", {"2x", "", "0", "1025", "-1", "+2", " 2", "0x10"}},
        {"--dither-strength", "a whole number from 0 to 100", {"50%", "", "101", "-1"}},
        {"--transparent-index", "a palette index from 0 to 255", {"5x", "", "256", "-1"}},
        {"--max-pixels", "a number of pixels, or 0 for no limit", {"10k", "", "-5", "18446744073709551616"}},
        {"--frame", "a frame number from 1", {"1x", "", "0"}},
        {"--sheet", "a number of columns from 1", {"2x", "", "0", "16385"}},
        {"--delay", "hundredths of a second, 0 to 65535", {"5s", "", "65536"}},
        {"--loop", "0 (forever) to 65535", {"1x", "", "65536"}},
        {"--dither-stable", "a tolerance in codes from 1 to 255", {"3x", "0", "256"}},
        {"--size", "WIDTHxHEIGHT, as 320x200", {"641x480px", "", "x480", "641x", "0x5", "641X480", "641x480x2"}},
        {"--tiles", "WIDTHxHEIGHT, as 32x32", {"8x8x", "", "0x8"}},
        {"--background", "a colour as RRGGBB or #RRGGBB", {"12345G", "", "#12345", "1234567"}},
        {"--report", "choose text or json", {"xml", "JSON"}},
    };
    for (const auto& [option, hint, values] : options) {
        for (const std::string& value : values) {
            const RunResult run = qlx_run({"convert", option + "=" + value, path(dir, "in.bmp"), path(dir, "out.qlx")});
            EXPECT_EQ(run.status, 2) << option << "=" << value;
            EXPECT_EQ(run.err, "qlx: invalid " + option + " '" + value + "'; " + hint + "\nTry 'qlx --help'.\n")
                << option << "=" << value;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.qlx"));
}

// A long option may be shortened to any beginning that names it alone; one
// that begins several is refused, listing them; two spellings of one option
// are one option. A value follows '=' or comes as the next argument, but an
// option whose value is optional takes it only after '='. "--" ends the
// options.
TEST(QlxCommandLine, PrefixesValuesAndTheEndOfOptions) {
    qlx::test::TempDir dir;
    write_file(dir / "in.bmp", read_file(PAL_SAMPLE_BMP));
    const std::string in = path(dir, "in.bmp");
    const std::vector<std::pair<std::string, std::string>> ambiguous = {
        {"--di", "'--dither' '--dither-strength' '--dither-light' '--dither-stable'"},
        {"--dither-st", "'--dither-strength' '--dither-stable'"},
        {"--tr", "'--transparent-index' '--truecolour' '--truecolor'"},
        {"--s", "'--size' '--sequence' '--sheet'"},
    };
    for (const auto& [prefix, possibilities] : ambiguous) {
        const RunResult run = qlx_run({"convert", prefix + "=1", in, path(dir, "a.qlx")});
        EXPECT_EQ(run.status, 2) << prefix;
        EXPECT_EQ(run.err, "qlx: option '" + prefix + "' is ambiguous; possibilities: " + possibilities +
                               "\nTry 'qlx --help'.\n");
    }
    // Unique beginnings, and the two spellings of --truecolour.
    ASSERT_EQ(qlx_run({"convert", "--dither-str=40", "--dither=ordered", in, path(dir, "short.qlx")}).status, 0);
    ASSERT_EQ(qlx_run({"convert", "--dither-strength=40", "--dither=ordered", in, path(dir, "long.qlx")}).status, 0);
    EXPECT_EQ(read_file(dir / "short.qlx"), read_file(dir / "long.qlx"));
    EXPECT_EQ(qlx_run({"convert", "--tru", in, path(dir, "rgb.png")}).status, 0);
    EXPECT_EQ(read_file(dir / "rgb.png")[25], 2);  // IHDR's colour type: RGB
    // '=' and the next argument; an optional value is never the next argument.
    ASSERT_EQ(qlx_run({"convert", "--size", "64x48", "--fit", "cover", in, path(dir, "apart.qlx")}).status, 0);
    ASSERT_EQ(qlx_run({"convert", "--size=64x48", "--fit=cover", in, path(dir, "joined.qlx")}).status, 0);
    EXPECT_EQ(read_file(dir / "apart.qlx"), read_file(dir / "joined.qlx"));
    EXPECT_EQ(qlx_run({"convert", "--dither=ordered", "--dither-stable", in, path(dir, "stable.qlx")}).status, 0);
    // After "--", a name that looks like an option is a name.
    write_file(dir / "-odd.bmp", read_file(PAL_SAMPLE_BMP));
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const RunResult ended = qlx_run({"convert", "--", "-odd.bmp", "--quiet"});
    std::filesystem::current_path(previous);
    EXPECT_EQ(ended.status, 2);  // "--quiet" is the output's name, and tells no format
    EXPECT_NE(ended.err.find("from the name '--quiet'"), std::string::npos) << ended.err;
    const RunResult named = qlx_run({"convert", "--to=qlx", "--", path(dir, "-odd.bmp"), path(dir, "--odd.qlx")});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(read_file(dir / "--odd.qlx"), read_file(qlx::test::data_path("sunset.qlx")));
}

// Names under --out-dir: the input's name less its last extension (and
// less a size it states), every other dotted part kept, then the size a
// QLX file needs unless it is 320 x 200, however many of its sides are
// standard.
TEST(QlxCommandLine, OutputNamesInAFolderKeepEveryPartThatMatters) {
    qlx::test::TempDir dir;
    write_file(dir / "holiday.2024.bmp", read_file(PAL_SAMPLE_BMP));
    write_file(dir / "tall.320x240.qlx", every_index(320 * 240));
    write_file(dir / "wide.640x200.qlx", every_index(640 * 200));
    write_file(dir / "castle.v2.641x480.qlx", every_index(641 * 480));
    write_file(dir / "plain.qlx", every_index(64000));
    const std::vector<std::string> inputs = {path(dir, "holiday.2024.bmp"), path(dir, "tall.320x240.qlx"),
                                             path(dir, "wide.640x200.qlx"), path(dir, "castle.v2.641x480.qlx"),
                                             path(dir, "plain.qlx")};
    const auto written = [&](const std::string& folder, std::vector<std::string> extra) {
        std::vector<std::string> arguments = {"convert", "-o", path(dir, folder)};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        EXPECT_EQ(qlx_run(arguments).status, 0) << folder;
        std::set<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir / folder)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    };
    EXPECT_EQ(written("qlx", {}), (std::set<std::string>{"holiday.2024.qlx", "tall.320x240.qlx", "wide.640x200.qlx",
                                                         "castle.v2.641x480.qlx", "plain.qlx"}));
    EXPECT_EQ(read_file(dir / "qlx" / "tall.320x240.qlx"), every_index(320 * 240));
    EXPECT_EQ(written("png", {"--to=png"}),
              (std::set<std::string>{"holiday.2024.png", "tall.png", "wide.png", "castle.v2.png", "plain.png"}));
}

// One picture held past a second shows its progress as a percentage that
// never leaves 0 to 100: the input, a pipe, arrives after the delay.
TEST(QlxCommandLine, ProgressOfOnePictureStaysWithinAHundredPercent) {
    qlx::test::TempDir dir;
    const std::filesystem::path fifo = dir / "slow.bmp";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Bytes picture =
        qlx::test::make_bmp({.width = 3000, .height = 2000, .pixels = qlx::test::gradient_pixels(3000, 2000)});
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1300));
        write_file(fifo, picture);
    });
    const std::string drawn = on_terminal({"convert", "--dither=floyd-steinberg", "--dither-light=linear",
                                           qlx::test::utf8(fifo), path(dir, "out.1500x1500.qlx")});
    writer.join();
    std::vector<int> percentages;
    for (std::size_t at = drawn.find("slow.bmp "); at != std::string::npos; at = drawn.find("slow.bmp ", at + 1)) {
        percentages.push_back(std::atoi(drawn.c_str() + at + 9));
        EXPECT_EQ(drawn[drawn.find_first_not_of("0123456789", at + 9)], '%') << drawn;
    }
    ASSERT_FALSE(percentages.empty()) << drawn;
    for (const int percentage : percentages) EXPECT_TRUE(percentage >= 0 && percentage <= 100) << drawn;
    EXPECT_TRUE(std::is_sorted(percentages.begin(), percentages.end())) << drawn;
}

}  // namespace
