/* Prints the library's name of every dithering method, one a line, so that
   scripts name them as the library does. */
#include <stdio.h>

#include "qlx.h"

int main(void) {
    for (int code = 0; qlx_dither_name((qlx_dither)code) != NULL; ++code) puts(qlx_dither_name((qlx_dither)code));
    return 0;
}
