#pragma once
// Every text the two programs print, byte for byte. Scripts match on them,
// so they never change; new situations get new texts. A BMP that palquant
// refuses is reported by the library's text for its status, and a newline.

#include <cstddef>
#include <string>
#include <string_view>

#include "qlx.h"
#include "text.hpp"

namespace cli::messages {

using common::library_names;
using common::wrapped;

inline constexpr char palquant_usage[] = "Usage: palquant <>.bmp <>.qlx \n\a";
inline constexpr char palexpand_usage[] = "Usage: palexpand <>.qlx <>.bmp \n\a";

inline constexpr char bmp_not_opened[] = "bmpfile was not opened\n";
inline constexpr char qlx_not_opened[] = "qlxfile was not opened\n";

inline constexpr char bmp_not_read[] = "bmpfile could not be read\n";
inline constexpr char qlx_not_written[] = "qlxfile was not written\n";

// The names of the methods and lights come from the library, so that
// these texts name every one: "--dither must be none, floyd-steinberg,
// ordered, atkinson, sierra-lite, blue-noise, jarvis-judice-ninke, stucki,
// burkes, sierra or pattern".
std::string bad_dither();
std::string bad_dither_light();
inline constexpr char bad_dither_strength[] = "--dither-strength must be a whole number from 0 to 100\n";
inline constexpr char palquant_version[] = "palquant " QLX_VERSION_STRING "\n";
std::string palquant_help();

inline constexpr char qlx_not_read[] = "qlxfile could not be read\n";
inline constexpr char bmp_not_written[] = "bmpfile was not written\n";
inline constexpr char bad_size[] = "--size must be WIDTHxHEIGHT, each a whole number from 1 to 16384\n";
inline constexpr char palexpand_version[] = "palexpand " QLX_VERSION_STRING "\n";
inline constexpr char palexpand_help[] =
    "Usage: palexpand [OPTION]... PICTURE.qlx PICTURE.bmp\n"
    "Writes the 24-bit BMP of the palette colours of a QLX file.\n"
    "\n"
    "  --size=WIDTHxHEIGHT  the picture's size, each side 1 to 16384 (default 320x200)\n"
    "  --                   ends the options\n"
    "  --help, --version    alone: print this help or the version\n"
    "\n"
    "Exit status 0 on success, 1 on failure.\n";

// "qlxfile is shorter than N bytes": a QLX file too short for its picture.
inline std::string qlx_shorter_than(std::size_t picture_bytes) {
    return "qlxfile is shorter than " + std::to_string(picture_bytes) + " bytes\n";
}

}  // namespace cli::messages
