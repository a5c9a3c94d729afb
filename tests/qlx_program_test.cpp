// The qlx program as a user runs it: statuses and messages, what is
// written and what is left alone, batches, palette files, standard streams,
// and the progress line on a terminal.

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

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

}  // namespace
