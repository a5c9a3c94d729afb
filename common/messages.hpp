#pragma once
// Every text the two programs print, byte for byte. Scripts match on them,
// so they never change; new situations get new texts.

namespace pal::messages {

inline constexpr char palquant_usage[] = "Usage: palquant <>.bmp <>.qlx \n\a";
inline constexpr char palexpand_usage[] = "Usage: palexpand <>.qlx <>.bmp \n\a";

inline constexpr char bmp_not_opened[] = "bmpfile was not opened\n";
inline constexpr char qlx_not_opened[] = "qlxfile was not opened\n";
inline constexpr char not_24_bit[] = "the file is not 24bit bmp \n";  // the one text on standard error

inline constexpr char bmp_not_read[] = "bmpfile could not be read\n";
inline constexpr char bmp_headers_cut_short[] = "bmpfile headers are cut short\n";
inline constexpr char bmp_info_header_too_short[] = "bmpfile information header is too short\n";
inline constexpr char bmp_negative_width[] = "bmpfile width is negative\n";
inline constexpr char bmp_height_out_of_range[] = "bmpfile height is out of range\n";
inline constexpr char bmp_compressed[] = "bmpfile is compressed\n";
inline constexpr char bmp_pixel_offset_out_of_range[] = "bmpfile pixel offset is outside the file\n";
inline constexpr char bmp_pixel_data_cut_short[] = "bmpfile pixel data is cut short\n";
inline constexpr char bmp_too_large[] = "bmpfile is too large for memory\n";
inline constexpr char qlx_not_written[] = "qlxfile was not written\n";

inline constexpr char bad_dither[] = "--dither must be none, floyd-steinberg or ordered\n";
inline constexpr char bad_dither_strength[] = "--dither-strength must be a whole number from 0 to 100\n";
inline constexpr char palquant_version[] = "palquant " PAL_VERSION "\n";
inline constexpr char palquant_help[] =
    "Usage: palquant [OPTION]... PICTURE.bmp PICTURE.qlx\n"
    "Writes the palette index of the nearest colour of every pixel of a 24-bit BMP.\n"
    "\n"
    "  --dither=METHOD            none (the default), floyd-steinberg or ordered\n"
    "  --dither-strength=PERCENT  0 to 100 (the default) of the diffused error or pattern\n"
    "  --                         ends the options\n"
    "  --help, --version          alone: print this help or the version\n"
    "\n"
    "Exit status 1 on success, 0 on failure.\n";

inline constexpr char qlx_not_read[] = "qlxfile could not be read\n";
inline constexpr char qlx_too_short[] = "qlxfile is shorter than 64000 bytes\n";
inline constexpr char bmp_not_written[] = "bmpfile was not written\n";
inline constexpr char bad_size[] = "--size must be WIDTHxHEIGHT, each a whole number from 1 to 16384\n";
inline constexpr char palexpand_version[] = "palexpand " PAL_VERSION "\n";
inline constexpr char palexpand_help[] =
    "Usage: palexpand [OPTION]... PICTURE.qlx PICTURE.bmp\n"
    "Writes the 24-bit BMP of the palette colours of a QLX file.\n"
    "\n"
    "  --size=WIDTHxHEIGHT  the picture's size, each side 1 to 16384 (default 320x200)\n"
    "  --                   ends the options\n"
    "  --help, --version    alone: print this help or the version\n"
    "\n"
    "Exit status 0 on success, 1 on failure.\n";

}  // namespace pal::messages
