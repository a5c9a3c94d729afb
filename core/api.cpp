// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// What every caller needs: the version, the palette, the options and the
// formats. Each group of functions has its own file, so that a program
// links only what it calls: palexpand none of the nearest-colour table.
#include "dithering.hpp"
#include "palette.hpp"
#include "pixel_format.hpp"
#include "qlx.h"
#include "quantiser.hpp"

static_assert(sizeof(qlx_options) == 64, "qlx_options keeps its size in every 1.x version");

extern "C" {

QLX_API const char* qlx_version(void) { return QLX_VERSION_STRING; }

QLX_API uint32_t qlx_palette_colour(uint8_t index) { return qlx::palette_rgb[index]; }

QLX_API qlx_options qlx_default_options(void) {
    qlx_options options{};
    options.dither = QLX_DITHER_NONE;
    options.strength = qlx::max_dither_strength;
    options.transparent_index = -1;
    options.threads = 0;
    options.light = QLX_LIGHT_SRGB;
    return options;
}

QLX_API qlx_status qlx_check_options(const qlx_options* options) {
    const qlx::Result<qlx::QuantiseOptions> read = qlx::read_options(options);
    return read ? QLX_OK : read.error();
}

QLX_API size_t qlx_pixel_bytes(qlx_pixel_format format) {
    const int code = static_cast<int>(format);
    return code >= QLX_RGB && code <= QLX_BGRA ? qlx::pixel_order(static_cast<qlx_pixel_format>(code)).bytes : 0;
}

}  // extern "C"
