/* A user's program against the installed libqlx: a noise picture streamed
   through a quantiser in batches of random sizes, in every method, must
   give qlx_quantise's bytes for the whole picture. */
#include <qlx.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { WIDTH = 301, HEIGHT = 211, STRIDE = WIDTH * 4 + 7 };

static uint32_t next_random(uint32_t *state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

static int stream_matches(const uint8_t *pixels, const qlx_options *options, uint32_t *random) {
    static uint8_t whole[WIDTH * HEIGHT], streamed[WIDTH * HEIGHT];
    qlx_quantiser *quantiser = NULL;
    size_t first = 0;
    if (qlx_quantise(pixels, WIDTH, HEIGHT, STRIDE, QLX_RGBA, options, whole, sizeof whole) != QLX_OK) return 0;
    if (qlx_quantiser_create(WIDTH, HEIGHT, QLX_RGBA, options, &quantiser) != QLX_OK) return 0;
    while (first < HEIGHT) {
        size_t rows = 1 + next_random(random) % 40;
        if (rows > HEIGHT - first) rows = HEIGHT - first;
        if (qlx_quantiser_convert(quantiser, pixels + first * STRIDE, rows, STRIDE, streamed + first * WIDTH,
                                  rows * WIDTH) != QLX_OK) {
            qlx_quantiser_destroy(quantiser);
            return 0;
        }
        first += rows;
    }
    qlx_quantiser_destroy(quantiser);
    return memcmp(whole, streamed, sizeof whole) == 0;
}

int main(void) {
    static uint8_t pixels[STRIDE * HEIGHT];
    uint32_t random = 2026;
    int method;
    size_t i;
    for (i = 0; i < sizeof pixels; ++i) pixels[i] = (uint8_t)next_random(&random);
    for (method = 0; qlx_dither_name((qlx_dither)method) != NULL; ++method) {
        qlx_options options = qlx_default_options();
        options.dither = (qlx_dither)method;
        options.transparent_index = 255;
        if (!stream_matches(pixels, &options, &random)) {
            fprintf(stderr, "%s: the streamed bytes differ from qlx_quantise's\n", qlx_dither_name(options.dither));
            return 1;
        }
    }
    printf("every method streams to qlx_quantise's bytes\n");
    return 0;
}
