/* The floor for qlx on a PNG: read the file whole, decode it with libspng
 * to 8-bit RGB, write one byte a pixel (its green sample). Any converter of
 * a PNG must at least do this much. Usage: floor_png IN.png OUT */
#include <fcntl.h>
#include <spng.h>
#include <stdint.h>
#include <sys/stat.h>
#include <unistd.h>

#include "floor_io.h"

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    const int input = open(argv[1], O_RDONLY);
    struct stat info;
    if (input < 0 || fstat(input, &info) != 0) return 2;
    const size_t size = (size_t)info.st_size;
    uint8_t* bytes = floor_allocate(size);
    if (bytes == NULL || !floor_read(input, bytes, size)) return 2;
    spng_ctx* context = spng_ctx_new(0);
    struct spng_ihdr header;
    size_t decoded_size = 0;
    if (context == NULL || spng_set_png_buffer(context, bytes, size) != 0 || spng_get_ihdr(context, &header) != 0 ||
        spng_decoded_image_size(context, SPNG_FMT_RGB8, &decoded_size) != 0) {
        return 2;
    }
    uint8_t* rgb = floor_allocate(decoded_size);
    const size_t pixels = (size_t)header.width * header.height;
    uint8_t* out = floor_allocate(pixels);
    if (rgb == NULL || out == NULL || spng_decode_image(context, rgb, decoded_size, SPNG_FMT_RGB8, 0) != 0) return 2;
    for (size_t i = 0; i < pixels; ++i) out[i] = rgb[3 * i + 1];
    spng_ctx_free(context);
    return floor_write(argv[2], out, pixels) ? 0 : 2;
}
