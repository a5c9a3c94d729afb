#include "help.hpp"

#include "formats.hpp"
#include "qlx.h"
#include "text.hpp"

namespace qlxcmd {
namespace {

constexpr std::size_t width = 80;
constexpr std::size_t indent = 30;  // where the options' descriptions start

std::string option(const std::string& spelling, const std::string& description) {
    std::string line = "  " + spelling;
    line.append(line.size() < indent ? indent - line.size() : 1, ' ');
    return line + common::wrapped(description, indent, width) + "\n";
}

std::string convert_help() {
    namespace msg = common;
    return std::string(
               "Usage: qlx convert [OPTION]... INPUT OUTPUT\n"
               "  or:  qlx convert [OPTION]... --out-dir=DIR INPUT...\n"
               "  or:  qlx convert [OPTION]... --sequence FRAME... OUTPUT\n") +
           msg::wrapped("Converts " + format_list(readable_formats(), "", true) + " pictures to " +
                            format_list(picture_outputs(), "", true) +
                            " in the fixed 256-colour palette. An indexed picture whose palette is that palette "
                            "keeps its indices exactly. '-' reads standard input or writes standard output.",
                        0, width - 1) +
           "\n\n" + option("--dither=METHOD", msg::library_names(qlx_dither_name) + " (none is the default)") +
           option("--dither-strength=PERCENT", "0 to 100 (the default) of the diffused error or pattern") +
           option("--dither-light=LIGHT",
                  msg::library_names(qlx_light_name) + ": where errors add up (srgb is the default)") +
           option("--dither-stable[=CODES]", "across frames, a pixel whose colour stays within CODES (default " +
                                                 std::to_string(QLX_STABLE_TOLERANCE) +
                                                 ") keeps its index: error diffusion without flicker") +
           option("--background=RRGGBB",
                  "the colour transparent pixels are blended over (000000, black, is the default)") +
           option("--transparent-index=N",
                  "give pixels with alpha below 128 index N (0-255) instead of blending them") +
           option("--fit=FIT", msg::library_names(qlx_fit_name) +
                                   ": fit the picture into --size (keep, the default, leaves its size alone)") +
           option("--size=WIDTHxHEIGHT",
                  "the box for --fit, or a QLX input's size (default 320x200, or the size in a name such as "
                  "castle.641x480.qlx)") +
           option("--to=FORMAT", format_list(picture_outputs()) + ": the output's format, instead of its extension") +
           option("--truecolour", "write PNG or BMP in RGB instead of indexed") +
           option("-o, --out-dir=DIR",
                  "write DIR/NAME.EXT for each INPUT (NAME.WIDTHxHEIGHT.qlx for QLX not 320x200)") +
           option("-j, --jobs=N", "convert N files at once (default: one a processor)") +
           option("--max-pixels=N", "refuse pictures of more than N pixels (default 536870912; 0: no limit)") +
           "\nFrames: GIF and WebP inputs may hold many.\n" +
           option("--sequence", "the inputs are the frames of one animation, in order") +
           option("--tiles=WIDTHxHEIGHT", "cut each input into frames of this size, left to right, then down") +
           option("OUTPUT with %d or %03d", "one file a frame, numbered from 1 (walk-%02d.qlx)") +
           option("OUTPUT.gif", "an animated GIF in the palette, each frame its exact indices") +
           option("--sheet=COLUMNS", "every frame in one picture, left to right, then down; index 0 in empty cells") +
           option("--frame=N", "only frame N (from 1)") +
           option("--delay=CENTISECONDS", "each frame's time in a GIF (default: the input's, or 10)") +
           option("--loop=N", "a GIF's loop count (default: the input's, or 0, forever)") + "\n" +
           msg::wrapped(
               "An animation written to one still picture is refused: give a frame number in OUTPUT, "
               "--frame, --sheet or a GIF.",
               0, width - 1) +
           "\n\n" +
           option("--report[=json]",
                  "how close each result looks: blurred error, CIEDE2000 and the share of exact colours, a line "
                  "on standard error, or JSON on standard output") +
           option("-q, --quiet", "print nothing but failures") + option("-h, --help", "print this help") +
           "\n"
           "Exit status: 0 when every input was converted, 1 when some failed, 2 for a\n"
           "mistake in the command line.\n";
}

// A line for each palette file, from the table of formats.
std::string palette_formats() {
    std::string lines;
    for (const FileFormat format : palette_outputs()) {
        lines += option(std::string(".") + format_name(format), format_entry(format).palette_use);
    }
    return lines;
}

std::string palette_help() {
    return "Usage: qlx palette [--to=FORMAT] OUTPUT\n"
           "Writes the 256 palette entries in order, duplicates included, for editors:\n"
           "\n" +
           palette_formats() + option("--to=FORMAT", format_list(palette_outputs()) + ", instead of the extension") +
           "\n"
           "Exit status: 0 when the file was written, 1 when not, 2 for a mistake in the\n"
           "command line.\n";
}

}  // namespace

std::string help_text(const std::string& topic) {
    if (topic == "convert") return convert_help();
    if (topic == "palette") return palette_help();
    return "Usage: qlx convert [OPTION]... INPUT OUTPUT\n"
           "  or:  qlx convert [OPTION]... --out-dir=DIR [--to=FORMAT] INPUT...\n"
           "  or:  qlx convert [OPTION]... --sequence FRAME... OUTPUT\n"
           "  or:  qlx palette [--to=FORMAT] OUTPUT\n"
           "  or:  qlx --help | --version\n"
           "Pictures in and out of QLX, the index format of one fixed 256-colour palette.\n"
           "\n"
           "Commands:\n"
           "  convert   " +
           format_list(readable_formats(), "", true) + " in; " + format_list(picture_outputs(), "", true) +
           " out\n"
           "  palette   the palette as a file for editors: " +
           format_list(palette_outputs()) +
           "\n"
           "\n"
           "'qlx convert --help' and 'qlx palette --help' describe each command.\n";
}

}  // namespace qlxcmd
