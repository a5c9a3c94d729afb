#include "messages.hpp"

#include <string_view>

namespace cli::messages {
namespace {

constexpr std::size_t help_width = 80;
constexpr std::size_t help_indent = 29;  // where the options' descriptions start

}  // namespace

std::string bad_dither() { return "--dither must be " + library_names(qlx_dither_name) + "\n"; }

std::string bad_dither_light() { return "--dither-light must be " + library_names(qlx_light_name) + "\n"; }

std::string palquant_help() {
    // The first of each list, value 0, is the default.
    std::string methods = library_names(qlx_dither_name);
    methods.insert(std::string_view(methods).find(','), " (the default)");
    std::string lights = library_names(qlx_light_name);
    lights.insert(std::string_view(lights).find(' '), " (the default)");
    return "Usage: palquant [OPTION]... PICTURE.bmp PICTURE.qlx\n"
           "Writes the palette index of the nearest colour of every pixel of a 24-bit BMP.\n"
           "\n"
           "  --dither=METHOD            " +
           wrapped(methods, help_indent, help_width) +
           "\n"
           "  --dither-strength=PERCENT  0 to 100 (the default) of the diffused error or pattern\n"
           "  --dither-light=LIGHT       " +
           wrapped(lights + ": where errors add up", help_indent, help_width) +
           "\n"
           "  --                         ends the options\n"
           "  --help, --version          alone: print this help or the version\n"
           "\n"
           "Exit status 1 on success, 0 on failure.\n";
}

}  // namespace cli::messages
