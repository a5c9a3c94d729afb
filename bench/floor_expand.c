/* The floor for palexpand: read 64000 bytes, write 192054, in C against the
 * C library alone. Usage: floor_expand IN OUT */
#include <fcntl.h>
#include <stdint.h>
#include <unistd.h>

#include "floor_io.h"

int main(int argc, char* argv[]) {
    static uint8_t in[64000];
    static uint8_t out[192054];
    if (argc < 3) return 2;
    const int input = open(argv[1], O_RDONLY);
    if (input < 0 || !floor_read(input, in, sizeof in)) return 2;
    for (size_t i = 0; i < sizeof in; ++i) out[54 + 3 * i] = in[i];
    return floor_write(argv[2], out, sizeof out) ? 0 : 2;
}
