/* The floor for palquant: read the BMP whole into a huge-page buffer, one
 * trivial operation per pixel, rows reversed, write the result. Any converter
 * of the same file must at least do this much. Written in C and linked
 * against nothing but the C library, so that it pays no more to start than
 * the best possible converter would. Usage: floor_convert IN OUT */
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "floor_io.h"

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    const int input = open(argv[1], O_RDONLY);
    struct stat info;
    if (input < 0 || fstat(input, &info) != 0 || info.st_size < 54) return 2;
    const size_t size = (size_t)info.st_size;
    uint8_t* bytes = floor_allocate(size);
    if (bytes == NULL || !floor_read(input, bytes, size)) return 2;
    uint32_t offset = 0;
    int32_t width = 0, height = 0;
    memcpy(&offset, bytes + 10, 4);
    memcpy(&width, bytes + 18, 4);
    memcpy(&height, bytes + 22, 4);
    const size_t w = (size_t)width, h = (size_t)height;
    const size_t stride = (w * 3 + 3) / 4 * 4;
    uint8_t* out = floor_allocate(w * h);
    if (out == NULL) return 2;
    for (size_t row = 0; row < h; ++row) {
        const uint8_t* pixel = bytes + offset + row * stride;
        uint8_t* index = out + (h - 1 - row) * w;
        for (size_t x = 0; x < w; ++x, pixel += 3) index[x] = (uint8_t)(pixel[0] ^ pixel[2]);
    }
    return floor_write(argv[2], out, w * h) ? 0 : 2;
}
