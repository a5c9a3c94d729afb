#pragma once
// The two programs' command lines: options, then two file names.
//
// Options are recognised only before the first file name, only in exactly the
// spellings below, and until "--", which ends them. Any other argument is the
// first file name, so a file named "-x.bmp" or "--dither" is still a file.
// Arguments after the second file name are ignored, as they always were.
// "--help" and "--version" count only as the one argument.
//
//   palquant  [--dither=METHOD, one of qlx_dither_name's]
//             [--dither-strength=0..100] [--dither-light=srgb|linear] BMP QLX
//   palexpand [--size=WIDTHxHEIGHT] QLX BMP

#include <cstddef>
#include <span>
#include <string>

#include "qlx.h"

namespace cli {

// What a command line asks for. `refuse` carries the message that names the
// valid values of the option whose value was not one of them.
enum class CommandAction { convert, usage, help, version, refuse };

struct PalquantCommand {
    CommandAction action = CommandAction::usage;
    std::string refusal;
    qlx_options options = qlx_default_options();  // checked by the library
    std::string bmp_path;
    std::string qlx_path;
};

struct PalexpandCommand {
    CommandAction action = CommandAction::usage;
    std::string refusal;
    std::size_t width = QLX_STANDARD_WIDTH;
    std::size_t height = QLX_STANDARD_HEIGHT;
    std::string qlx_path;
    std::string bmp_path;
};

// `arguments` start with the program's name.
PalquantCommand parse_palquant_command(std::span<const std::string> arguments);
PalexpandCommand parse_palexpand_command(std::span<const std::string> arguments);

}  // namespace cli
