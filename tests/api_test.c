/* The C API as a C program sees it: qlx.h alone, compiled as C99. */
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include "qlx.h"

static int failures = 0;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

/* Bytes an output buffer holds before a call, to show that a refused call
   wrote nothing. */
#define UNTOUCHED 0xEE

static void fill_untouched(uint8_t *bytes, size_t size) { memset(bytes, UNTOUCHED, size); }

static int all_untouched(const uint8_t *bytes, size_t size) {
    size_t i;
    for (i = 0; i < size; ++i) {
        if (bytes[i] != UNTOUCHED) return 0;
    }
    return 1;
}

/* A call that must return `status` and leave the buffer `out` untouched. */
#define REFUSED(call, status)                  \
    do {                                       \
        fill_untouched(out, sizeof out);       \
        CHECK((call) == (status));             \
        CHECK(all_untouched(out, sizeof out)); \
    } while (0)

static void put_le32(uint8_t *at, uint32_t value) {
    at[0] = (uint8_t)value;
    at[1] = (uint8_t)(value >> 8);
    at[2] = (uint8_t)(value >> 16);
    at[3] = (uint8_t)(value >> 24);
}

/* A bottom-up 24-bit BMP of `pixels` (blue-green-red, top row first);
   returns its length. */
static size_t make_bmp(uint8_t *file, int width, int height, const uint8_t *pixels) {
    const size_t stride = ((size_t)width * 3 + 3) / 4 * 4;
    int y;
    memset(file, 0, 54 + stride * (size_t)height);
    file[0] = 'B';
    file[1] = 'M';
    put_le32(file + 2, (uint32_t)(54 + stride * (size_t)height));
    put_le32(file + 10, 54);
    put_le32(file + 14, 40);
    put_le32(file + 18, (uint32_t)width);
    put_le32(file + 22, (uint32_t)height);
    file[26] = 1;
    file[28] = 24;
    for (y = 0; y < height; ++y) {
        memcpy(file + 54 + stride * (size_t)(height - 1 - y), pixels + (size_t)y * (size_t)width * 3,
               (size_t)width * 3);
    }
    return 54 + stride * (size_t)height;
}

static void test_version_and_texts(void) {
    char expected[32];
    int code;
    sprintf(expected, "%d.%d.%d", QLX_VERSION_MAJOR, QLX_VERSION_MINOR, QLX_VERSION_PATCH);
    CHECK(strcmp(qlx_version(), QLX_VERSION_STRING) == 0);
    CHECK(strcmp(qlx_version(), expected) == 0);

    for (code = -5; code < 100; ++code) CHECK(qlx_status_text((qlx_status)code) != NULL);
    CHECK(strcmp(qlx_status_text(QLX_BMP_NOT_24_BIT), "the file is not 24bit bmp ") == 0);
    CHECK(strcmp(qlx_status_text(QLX_BMP_PIXEL_DATA_CUT_SHORT), "bmpfile pixel data is cut short") == 0);
    CHECK(strcmp(qlx_status_text((qlx_status)77), "unknown status") == 0);
    /* Each code of the list its own name and text; every other code neither. */
    {
#define AS_ENTRY(name, value, text) {name, #name, text},
        const struct {
            qlx_status code;
            const char *name, *text;
        } listed[] = {QLX_STATUS_LIST(AS_ENTRY)};
#undef AS_ENTRY
        const size_t count = sizeof listed / sizeof listed[0];
        size_t i, j, named = 0;
        for (i = 0; i < count; ++i) {
            CHECK(listed[i].code < QLX_STATUS_CODE_LIMIT);
            CHECK(strcmp(qlx_status_name(listed[i].code), listed[i].name) == 0);
            CHECK(strcmp(qlx_status_text(listed[i].code), listed[i].text) == 0);
            CHECK(strcmp(listed[i].text, "unknown status") != 0);
            for (j = i + 1; j < count; ++j) CHECK(strcmp(listed[i].text, listed[j].text) != 0);
        }
        for (code = -5; code < 2 * QLX_STATUS_CODE_LIMIT; ++code) {
            const char *name = qlx_status_name((qlx_status)code);
            if (name == NULL) {
                CHECK(strcmp(qlx_status_text((qlx_status)code), "unknown status") == 0);
            } else {
                CHECK(code >= 0 && code < QLX_STATUS_CODE_LIMIT);
                ++named;
            }
        }
        CHECK(named == count);
    }
}

static void test_palette_rule(void) {
    CHECK(qlx_palette_colour(0) == 0x000000);
    CHECK(qlx_palette_colour(8) == 0xB70000);
    CHECK(qlx_palette_colour(2) == 0x172FAB);
    CHECK(qlx_nearest_index(255, 255, 255) == 47);
    CHECK(qlx_nearest_index(255, 255, 0) == 63);
    CHECK(qlx_nearest_index(255, 0, 0) == 215);
    CHECK(qlx_nearest_index(0, 0, 255) == 207);
    CHECK(qlx_nearest_index(0, 0x6B, 0x6B) == 172);
    CHECK(qlx_nearest_index(1, 1, 1) == 0);
    CHECK(qlx_nearest_index(128, 128, 128) == 83);
}

static void test_options(void) {
    const qlx_options options = qlx_default_options();
    size_t i;
    CHECK(sizeof(qlx_options) == 64);
    CHECK(options.dither == QLX_DITHER_NONE);
    CHECK(options.strength == 100);
    CHECK(options.transparent_index == -1);
    CHECK(options.threads == 0);
    for (i = 0; i < sizeof options.reserved / sizeof options.reserved[0]; ++i) CHECK(options.reserved[i] == 0);
    CHECK(qlx_pixel_bytes(QLX_RGB) == 3 && qlx_pixel_bytes(QLX_BGR) == 3);
    CHECK(qlx_pixel_bytes(QLX_RGBA) == 4 && qlx_pixel_bytes(QLX_BGRA) == 4);
    CHECK(qlx_pixel_bytes((qlx_pixel_format)4) == 0 && qlx_pixel_bytes((qlx_pixel_format)-1) == 0);
}

enum { W = 7, H = 5 };

/* A picture of smooth colours, blue-green-red, top row first. */
static void gradient(uint8_t *bgr) {
    int x, y;
    for (y = 0; y < H; ++y) {
        for (x = 0; x < W; ++x) {
            uint8_t *pixel = bgr + 3 * (y * W + x);
            pixel[0] = (uint8_t)(x * 37);
            pixel[1] = (uint8_t)(y * 51);
            pixel[2] = (uint8_t)(200 - x * 11 - y * 7);
        }
    }
}

/* The same pixels in `format`, rows `stride` bytes apart, alpha 200. */
static void convert_pixels(const uint8_t *bgr, qlx_pixel_format format, size_t stride, uint8_t *out) {
    const size_t bytes = qlx_pixel_bytes(format);
    const int rgb = format == QLX_RGB || format == QLX_RGBA;
    int x, y;
    for (y = 0; y < H; ++y) {
        for (x = 0; x < W; ++x) {
            const uint8_t *in = bgr + 3 * (y * W + x);
            uint8_t *pixel = out + (size_t)y * stride + bytes * (size_t)x;
            pixel[0] = rgb ? in[2] : in[0];
            pixel[1] = in[1];
            pixel[2] = rgb ? in[0] : in[2];
            if (bytes == 4) pixel[3] = 200;
        }
    }
}

static void test_every_entry_point_agrees(void) {
    static const qlx_pixel_format formats[] = {QLX_RGB, QLX_BGR, QLX_RGBA, QLX_BGRA};
    static const qlx_dither methods[] = {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_ORDERED};
    uint8_t bgr[3 * W * H], bmp[54 + 24 * H], pixels[H * 40], from_bmp[W * H], quantised[W * H];
    const size_t bmp_size = make_bmp(bmp, W, H, (gradient(bgr), bgr));
    size_t width = 0, height = 0, f, m;
    CHECK(qlx_bmp_dimensions(bmp, bmp_size, &width, &height) == QLX_OK);
    CHECK(width == W && height == H);
    for (m = 0; m < 3; ++m) {
        qlx_options options = qlx_default_options();
        options.dither = methods[m];
        options.strength = 80;
        CHECK(qlx_from_bmp(bmp, bmp_size, &options, from_bmp, sizeof from_bmp) == QLX_OK);
        for (f = 0; f < 4; ++f) {
            const size_t stride = 40; /* longer than any row: the gaps are skipped */
            fill_untouched(quantised, sizeof quantised);
            convert_pixels(bgr, formats[f], stride, pixels);
            CHECK(qlx_quantise(pixels, W, H, stride, formats[f], &options, quantised, sizeof quantised) == QLX_OK);
            CHECK(memcmp(quantised, from_bmp, sizeof quantised) == 0);
        }
    }
    /* NULL options are the defaults. */
    CHECK(qlx_from_bmp(bmp, bmp_size, NULL, quantised, sizeof quantised) == QLX_OK);
    {
        qlx_options none = qlx_default_options();
        CHECK(qlx_from_bmp(bmp, bmp_size, &none, from_bmp, sizeof from_bmp) == QLX_OK);
        CHECK(memcmp(quantised, from_bmp, sizeof quantised) == 0);
    }
}

static void test_round_trip_through_bmp(void) {
    uint8_t qlx[W * H], back[W * H], bmp[54 + 24 * H + 1], rgba[4 * W * H];
    size_t i;
    for (i = 0; i < sizeof qlx; ++i) qlx[i] = (uint8_t)(i * 29 % 64); /* no colour below 64 repeats an earlier one */
    CHECK(qlx_bmp_size(W, H) == 54 + 24 * H);
    fill_untouched(bmp, sizeof bmp);
    CHECK(qlx_to_bmp(qlx, sizeof qlx, W, H, bmp, sizeof bmp) == QLX_OK);
    CHECK(bmp[0] == 'B' && bmp[1] == 'M' && bmp[2] == 54 + 24 * H && bmp[10] == 54 && bmp[28] == 24);
    CHECK(bmp[sizeof bmp - 1] == UNTOUCHED); /* exactly qlx_bmp_size bytes */
    /* The first stored row is the bottom one; its padding is zero. */
    CHECK(bmp[54] == (uint8_t)qlx_palette_colour(qlx[(H - 1) * W]));
    CHECK(bmp[54 + 21] == 0 && bmp[54 + 22] == 0 && bmp[54 + 23] == 0);
    CHECK(qlx_from_bmp(bmp, sizeof bmp - 1, NULL, back, sizeof back) == QLX_OK);
    CHECK(memcmp(back, qlx, sizeof qlx) == 0);

    CHECK(qlx_expand(qlx, W, H, QLX_RGBA, rgba, 4 * W, sizeof rgba) == QLX_OK);
    CHECK(rgba[0] == (uint8_t)(qlx_palette_colour(qlx[0]) >> 16) && rgba[3] == 255);
    CHECK(qlx_quantise(rgba, W, H, 4 * W, QLX_RGBA, NULL, back, sizeof back) == QLX_OK);
    CHECK(memcmp(back, qlx, sizeof qlx) == 0);

    CHECK(qlx_bmp_size(320, 200) == 192054);
    CHECK(qlx_bmp_size(1, 1) == 58);
    CHECK(qlx_bmp_size(0, 1) == 0 && qlx_bmp_size(1, 0) == 0);
    CHECK(qlx_bmp_size(QLX_MAX_BMP_SIDE, 1) != 0 && qlx_bmp_size(QLX_MAX_BMP_SIDE + 1, 1) == 0);
}

/* Red 14 lies between black and 1B0000: undithered both pixels take
   1B0000 (145); Floyd-Steinberg passes the first one's error (-13) to the
   second, which becomes red 8 and black, and its error (+8) makes a third
   of red 10 red 14, 1B0000 again. A transparent second pixel takes no
   error and passes none, so the third stays red 10, black. */
static void test_transparency(void) {
    const uint8_t reds[] = {14, 0, 0, 255, 14, 0, 0, 255};
    const uint8_t split[] = {14, 0, 0, 255, 14, 0, 0, 0, 10, 0, 0, 255};
    uint8_t out[3];
    qlx_options options = qlx_default_options();
    options.dither = QLX_DITHER_FLOYD_STEINBERG;
    CHECK(qlx_quantise(reds, 2, 1, 8, QLX_RGBA, &options, out, 2) == QLX_OK);
    CHECK(out[0] == 145 && out[1] == 0);
    /* Alpha is ignored unless a transparent index is set. */
    CHECK(qlx_quantise(split, 3, 1, 12, QLX_RGBA, &options, out, 3) == QLX_OK);
    CHECK(out[0] == 145 && out[1] == 0 && out[2] == 145);
    options.transparent_index = 255;
    CHECK(qlx_quantise(split, 3, 1, 12, QLX_RGBA, &options, out, 3) == QLX_OK);
    CHECK(out[0] == 145 && out[1] == 255 && out[2] == 0);
    options.dither = QLX_DITHER_ORDERED;
    CHECK(qlx_quantise(split, 3, 1, 12, QLX_RGBA, &options, out, 3) == QLX_OK);
    CHECK(out[1] == 255);
    options.dither = QLX_DITHER_NONE;
    CHECK(qlx_quantise(split, 3, 1, 12, QLX_BGRA, &options, out, 3) == QLX_OK);
    CHECK(out[1] == 255);
    /* A format without alpha is opaque. */
    CHECK(qlx_quantise(split, 4, 1, 12, QLX_RGB, &options, out, 3) == QLX_CAPACITY_TOO_SMALL);
    CHECK(qlx_quantise(split, 3, 1, 12, QLX_RGB, &options, out, 3) == QLX_OK);
    CHECK(out[0] != 255 && out[1] != 255 && out[2] != 255);
}

/* Each call is refused with its own status, and its output keeps every byte. */
static void test_refusals_write_nothing(void) {
    uint8_t pixels[64] = {0}, out[64], bmp[54 + 8];
    qlx_options options;
    size_t width = 99, height = 99;
    const size_t bmp_size = make_bmp(bmp, 2, 1, pixels);

    REFUSED(qlx_from_bmp(NULL, 10, NULL, out, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_from_bmp(bmp, bmp_size, NULL, NULL, 4), QLX_NULL_POINTER);
    REFUSED(qlx_from_bmp(bmp, bmp_size, NULL, out, 1), QLX_CAPACITY_TOO_SMALL);
    CHECK(qlx_bmp_dimensions(bmp, bmp_size, NULL, &height) == QLX_NULL_POINTER);
    CHECK(qlx_bmp_dimensions(NULL, 3, &width, &height) == QLX_NULL_POINTER);
    CHECK(qlx_bmp_dimensions(bmp, 3, &width, &height) == QLX_BMP_HEADERS_CUT_SHORT);
    CHECK(width == 99 && height == 99);

    REFUSED(qlx_quantise(NULL, 2, 2, 6, QLX_RGB, NULL, out, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, NULL, NULL, 4), QLX_NULL_POINTER);
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, NULL, out, 3), QLX_CAPACITY_TOO_SMALL);
    REFUSED(qlx_quantise(pixels, 2, 2, 5, QLX_RGB, NULL, out, sizeof out), QLX_STRIDE_TOO_SHORT);
    REFUSED(qlx_quantise(pixels, 2, 2, 7, QLX_RGBA, NULL, out, sizeof out), QLX_STRIDE_TOO_SHORT);
    REFUSED(qlx_quantise(pixels, 2, 2, 6, (qlx_pixel_format)9, NULL, out, sizeof out), QLX_UNKNOWN_PIXEL_FORMAT);
    REFUSED(qlx_quantise(pixels, SIZE_MAX, 2, SIZE_MAX, QLX_RGB, NULL, out, sizeof out), QLX_SIZE_OVERFLOW);
    REFUSED(qlx_quantise(pixels, SIZE_MAX / 3, 3, SIZE_MAX / 3 * 3, QLX_RGB, NULL, out, sizeof out), QLX_SIZE_OVERFLOW);
    REFUSED(qlx_quantise(pixels, 1, SIZE_MAX, 3, QLX_RGB, NULL, out, sizeof out), QLX_SIZE_OVERFLOW);
    /* Sides of 0 need no buffers at all. */
    CHECK(qlx_quantise(NULL, 0, 5, 0, QLX_RGB, NULL, NULL, 0) == QLX_OK);
    CHECK(qlx_expand(NULL, 5, 0, QLX_RGB, NULL, 0, 0) == QLX_OK);

    options = qlx_default_options();
    options.dither = (qlx_dither)(QLX_DITHER_PATTERN + 1);
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, &options, out, sizeof out), QLX_UNKNOWN_DITHER);
    options = qlx_default_options();
    options.light = (qlx_light)2;
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, &options, out, sizeof out), QLX_UNKNOWN_LIGHT);
    options.light = (qlx_light)-1;
    REFUSED(qlx_from_bmp(bmp, bmp_size, &options, out, sizeof out), QLX_UNKNOWN_LIGHT);
    options = qlx_default_options();
    options.dither = (qlx_dither)-1;
    REFUSED(qlx_from_bmp(bmp, bmp_size, &options, out, sizeof out), QLX_UNKNOWN_DITHER);
    options = qlx_default_options();
    options.strength = 101;
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, &options, out, sizeof out), QLX_STRENGTH_OUT_OF_RANGE);
    options.strength = -1;
    REFUSED(qlx_from_bmp(bmp, bmp_size, &options, out, sizeof out), QLX_STRENGTH_OUT_OF_RANGE);
    options = qlx_default_options();
    options.transparent_index = 256;
    REFUSED(qlx_quantise(pixels, 2, 2, 8, QLX_RGBA, &options, out, sizeof out), QLX_TRANSPARENT_INDEX_OUT_OF_RANGE);
    options.transparent_index = -2;
    REFUSED(qlx_quantise(pixels, 2, 2, 8, QLX_RGBA, &options, out, sizeof out), QLX_TRANSPARENT_INDEX_OUT_OF_RANGE);
    options = qlx_default_options();
    options.threads = -1;
    REFUSED(qlx_quantise(pixels, 2, 2, 6, QLX_RGB, &options, out, sizeof out), QLX_THREADS_OUT_OF_RANGE);
    options = qlx_default_options();
    options.alpha = (qlx_alpha)2;
    REFUSED(qlx_quantise(pixels, 2, 2, 8, QLX_RGBA, &options, out, sizeof out), QLX_UNKNOWN_ALPHA);
    options = qlx_default_options();
    options.background = 0x1000000;
    REFUSED(qlx_quantise(pixels, 2, 2, 8, QLX_RGBA, &options, out, sizeof out), QLX_BACKGROUND_OUT_OF_RANGE);
    options.background = -1;
    REFUSED(qlx_quantise(pixels, 2, 2, 8, QLX_RGBA, &options, out, sizeof out), QLX_BACKGROUND_OUT_OF_RANGE);
    options = qlx_default_options();
    options.reserved[sizeof options.reserved / sizeof options.reserved[0] - 1] = 1;
    REFUSED(qlx_from_bmp(bmp, bmp_size, &options, out, sizeof out), QLX_UNKNOWN_OPTION);

    REFUSED(qlx_to_bmp(NULL, 4, 2, 2, out, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_to_bmp(pixels, 4, 2, 2, NULL, 70), QLX_NULL_POINTER);
    REFUSED(qlx_to_bmp(pixels, 4, 0, 2, out, sizeof out), QLX_SIDE_OUT_OF_RANGE);
    REFUSED(qlx_to_bmp(pixels, 64, QLX_MAX_BMP_SIDE + 1, 1, out, sizeof out), QLX_SIDE_OUT_OF_RANGE);
    REFUSED(qlx_to_bmp(pixels, 3, 2, 2, out, sizeof out), QLX_INPUT_TOO_SHORT);
    REFUSED(qlx_to_bmp(pixels, 4, 2, 2, out, 54 + 2 * 8 - 1), QLX_CAPACITY_TOO_SMALL);

    REFUSED(qlx_expand(NULL, 2, 2, QLX_RGB, out, 6, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_expand(pixels, 2, 2, QLX_RGB, NULL, 6, 12), QLX_NULL_POINTER);
    REFUSED(qlx_expand(pixels, 2, 2, QLX_RGB, out, 6, 11), QLX_CAPACITY_TOO_SMALL);
    REFUSED(qlx_expand(pixels, 2, 2, QLX_RGBA, out, 7, sizeof out), QLX_STRIDE_TOO_SHORT);
    REFUSED(qlx_expand(pixels, 2, 2, (qlx_pixel_format)4, out, 8, sizeof out), QLX_UNKNOWN_PIXEL_FORMAT);
    REFUSED(qlx_expand(pixels, SIZE_MAX / 2, 2, QLX_RGB, out, SIZE_MAX, sizeof out), QLX_SIZE_OVERFLOW);
    /* The last row needs no stride after it. */
    CHECK(qlx_expand(pixels, 2, 2, QLX_RGB, out, 8, 14) == QLX_OK);
}

/* Every refusal of palquant, from one valid file changed a field at a time. */
static void test_malformed_bmps(void) {
    uint8_t pixels[3 * 3 * 2] = {0}, good[54 + 24], bmp[54 + 24], out[8];
    const size_t size = make_bmp(good, 3, 2, pixels); /* rows of 9 bytes and 3 of padding */
    struct {
        size_t at;
        uint32_t value;
        size_t length;
        qlx_status status;
    } cases[] = {
        {0, 0, 20, QLX_BMP_HEADERS_CUT_SHORT},
        {28, 8, size, QLX_BMP_NOT_24_BIT},
        {28, 32, size, QLX_BMP_NOT_24_BIT},
        {14, 20, size, QLX_BMP_INFO_HEADER_TOO_SHORT},
        {18, 0xFFFFFFFF, size, QLX_BMP_NEGATIVE_WIDTH},
        {22, 0x80000000u, size, QLX_BMP_HEIGHT_OUT_OF_RANGE},
        {30, 1, size, QLX_BMP_COMPRESSED},
        {30, 3, size, QLX_BMP_COMPRESSED},
        {10, 53, size, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE},
        {10, 1000, size, QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE},
        {0, 0, size - 4, QLX_BMP_PIXEL_DATA_CUT_SHORT},
        {22, 3, size, QLX_BMP_PIXEL_DATA_CUT_SHORT},
    };
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        size_t width = 0, height = 0;
        memcpy(bmp, good, size);
        if (cases[i].at != 0) put_le32(bmp + cases[i].at, cases[i].value);
        fill_untouched(out, sizeof out);
        CHECK(qlx_from_bmp(bmp, cases[i].length, NULL, out, sizeof out) == cases[i].status);
        CHECK(all_untouched(out, sizeof out));
        CHECK(qlx_bmp_dimensions(bmp, cases[i].length, &width, &height) == cases[i].status);
        if (qlx_from_bmp(bmp, cases[i].length, NULL, out, sizeof out) != cases[i].status) {
            fprintf(stderr, "  in case %u\n", (unsigned)i);
        }
    }
    /* The last row's padding may be missing. */
    CHECK(qlx_from_bmp(good, size - 3, NULL, out, sizeof out) == QLX_OK);
}

/* Fitting: placements worked by hand, resampling by its definition, and
   refusals that write nothing. */
static void test_fitting(void) {
    qlx_placement placement, untouched;
    uint8_t out[64];
    const uint8_t black_white[6] = {0, 0, 0, 255, 255, 255};
    const uint8_t red_and_clear_blue[8] = {255, 0, 0, 255, 0, 0, 255, 0};
    const uint8_t four[12] = {1, 2, 3, 40, 50, 60, 200, 100, 0, 7, 8, 9};

    /* 640 x 480 in 320 x 200: 640 * 200 / 480 = 266.7 columns, centred. */
    CHECK(qlx_fit_placement(640, 480, 320, 200, QLX_FIT_CONTAIN, &placement) == QLX_OK);
    CHECK(placement.width == 267 && placement.height == 200 && placement.x == 26 && placement.y == 0);
    CHECK(placement.source_width == 640 && placement.box_width == 320 && placement.box_height == 200);
    /* Covering keeps 640 * 200 / 320 = 400 of the rows, 40 off each edge. */
    CHECK(qlx_fit_placement(640, 480, 320, 200, QLX_FIT_COVER, &placement) == QLX_OK);
    CHECK(placement.source_y == 40 && placement.source_height == 400 && placement.source_width == 640);
    CHECK(placement.width == 320 && placement.height == 200);
    CHECK(qlx_fit_placement(640, 480, 320, 200, QLX_FIT_KEEP, &placement) == QLX_OK);
    CHECK(placement.box_width == 640 && placement.box_height == 480 && placement.width == 640);

    memset(&untouched, 0xEE, sizeof untouched);
    placement = untouched;
    CHECK(qlx_fit_placement(640, 480, 320, 200, (qlx_fit)4, &placement) == QLX_UNKNOWN_FIT);
    CHECK(qlx_fit_placement(640, 480, 320, 200, (qlx_fit)-1, &placement) == QLX_UNKNOWN_FIT);
    CHECK(qlx_fit_placement(0, 480, 320, 200, QLX_FIT_STRETCH, &placement) == QLX_SIDE_OUT_OF_RANGE);
    CHECK(qlx_fit_placement(640, 480, 320, QLX_MAX_RESAMPLE_SIDE + 1, QLX_FIT_STRETCH, &placement) ==
          QLX_SIDE_OUT_OF_RANGE);
    CHECK(memcmp(&placement, &untouched, sizeof placement) == 0);
    CHECK(qlx_fit_placement(640, 480, 320, 200, QLX_FIT_STRETCH, NULL) == QLX_NULL_POINTER);

    /* Black beside white is half the light: code 188, not 128. */
    CHECK(qlx_resample(black_white, 2, 1, 6, QLX_RGB, out, 1, 1, 3) == QLX_OK);
    CHECK(out[0] == 188 && out[1] == 188 && out[2] == 188);
    /* A clear pixel lends no colour; alpha is averaged, halves up. */
    CHECK(qlx_resample(red_and_clear_blue, 2, 1, 8, QLX_RGBA, out, 1, 1, 4) == QLX_OK);
    CHECK(out[0] == 255 && out[1] == 0 && out[2] == 0 && out[3] == 128);
    /* At its own size, a picture comes back as it was; doubled, each pixel
       becomes four. */
    CHECK(qlx_resample(four, 2, 2, 6, QLX_BGR, out, 2, 2, 12) == QLX_OK);
    CHECK(memcmp(out, four, 12) == 0);
    CHECK(qlx_resample(four, 2, 2, 6, QLX_BGR, out, 4, 4, 48) == QLX_OK);
    CHECK(memcmp(out, four, 3) == 0 && memcmp(out + 3, four, 3) == 0 && memcmp(out + 12, four, 3) == 0);
    CHECK(memcmp(out + 47 - 2, four + 9, 3) == 0);

    REFUSED(qlx_resample(NULL, 2, 2, 6, QLX_RGB, out, 1, 1, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_resample(four, 2, 2, 6, QLX_RGB, NULL, 1, 1, 3), QLX_NULL_POINTER);
    REFUSED(qlx_resample(four, 2, 2, 6, (qlx_pixel_format)7, out, 1, 1, sizeof out), QLX_UNKNOWN_PIXEL_FORMAT);
    REFUSED(qlx_resample(four, 0, 2, 6, QLX_RGB, out, 1, 1, sizeof out), QLX_SIDE_OUT_OF_RANGE);
    REFUSED(qlx_resample(four, 2, 2, 6, QLX_RGB, out, QLX_MAX_RESAMPLE_SIDE + 1, 1, sizeof out), QLX_SIDE_OUT_OF_RANGE);
    REFUSED(qlx_resample(four, 2, 2, 5, QLX_RGB, out, 1, 1, sizeof out), QLX_STRIDE_TOO_SHORT);
    REFUSED(qlx_resample(four, 2, 2, 6, QLX_RGB, out, 4, 4, 47), QLX_CAPACITY_TOO_SMALL);
}

/* Noise in RGBA with a padded stride, some of it see-through. */
enum { STREAM_WIDTH = 37, STREAM_HEIGHT = 29, STREAM_STRIDE = STREAM_WIDTH * 4 + 5 };

static void noise(uint8_t *pixels, size_t size) {
    uint32_t state = 12345u;
    size_t i;
    for (i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        pixels[i] = (uint8_t)(state >> 16);
    }
}

/* The picture through a quantiser, `batch` rows at a time (the last batch
   shorter), top-down or stored bottom row first; 0 if a call is refused. */
static int stream(const uint8_t *pixels, const qlx_options *options, size_t batch, int bottom_up, uint8_t *indices) {
    static uint8_t flipped[STREAM_STRIDE * STREAM_HEIGHT];
    qlx_quantiser *quantiser = NULL;
    size_t first, y;
    int ok = 1;
    /* Stored bottom row first, as in a BMP. */
    for (y = 0; y < STREAM_HEIGHT; ++y) {
        memcpy(flipped + (STREAM_HEIGHT - 1 - y) * STREAM_STRIDE, pixels + y * STREAM_STRIDE, STREAM_STRIDE);
    }
    if (qlx_quantiser_create(STREAM_WIDTH, STREAM_HEIGHT, QLX_RGBA, options, &quantiser) != QLX_OK) return 0;
    for (first = 0; first < STREAM_HEIGHT && ok; first += batch) {
        const size_t rows = first + batch <= STREAM_HEIGHT ? batch : STREAM_HEIGHT - first;
        uint8_t *out = indices + first * STREAM_WIDTH;
        const uint8_t *lowest = flipped + (STREAM_HEIGHT - first - rows) * STREAM_STRIDE;
        ok = (bottom_up
                  ? qlx_quantiser_convert_bottom_up(quantiser, lowest, rows, STREAM_STRIDE, out, rows * STREAM_WIDTH)
                  : qlx_quantiser_convert(quantiser, pixels + first * STREAM_STRIDE, rows, STREAM_STRIDE, out,
                                          rows * STREAM_WIDTH)) == QLX_OK;
    }
    ok = ok && qlx_quantiser_rows_left(quantiser) == 0;
    qlx_quantiser_destroy(quantiser);
    return ok;
}

/* However the rows are split, the bytes are qlx_quantise's, in every
   method, light, strength and transparency. */
static void test_streaming_gives_the_whole_pictures_bytes(void) {
    static uint8_t pixels[STREAM_STRIDE * STREAM_HEIGHT];
    uint8_t whole[STREAM_WIDTH * STREAM_HEIGHT], streamed[STREAM_WIDTH * STREAM_HEIGHT];
    const size_t batches[] = {1, 2, 5, 13, STREAM_HEIGHT};
    int method, light, transparent;
    size_t b;
    noise(pixels, sizeof pixels);
    for (method = 0; qlx_dither_name((qlx_dither)method) != NULL; ++method) {
        for (light = 0; qlx_light_name((qlx_light)light) != NULL; ++light) {
            for (transparent = -1; transparent <= 0; ++transparent) {
                qlx_options options = qlx_default_options();
                options.dither = (qlx_dither)method;
                options.light = (qlx_light)light;
                options.strength = 100 - 30 * (transparent + 1);
                options.transparent_index = transparent;
                CHECK(qlx_quantise(pixels, STREAM_WIDTH, STREAM_HEIGHT, STREAM_STRIDE, QLX_RGBA, &options, whole,
                                   sizeof whole) == QLX_OK);
                for (b = 0; b < sizeof batches / sizeof batches[0]; ++b) {
                    memset(streamed, 0, sizeof streamed);
                    CHECK(stream(pixels, &options, batches[b], 0, streamed));
                    CHECK(memcmp(whole, streamed, sizeof whole) == 0);
                    memset(streamed, 0, sizeof streamed);
                    CHECK(stream(pixels, &options, batches[b], 1, streamed));
                    CHECK(memcmp(whole, streamed, sizeof whole) == 0);
                }
            }
        }
    }
}

/* Bad use of a quantiser returns a status, writes nothing and leaves it
   usable: the picture still comes out right afterwards. */
static void test_quantiser_refusals(void) {
    static uint8_t pixels[STREAM_STRIDE * STREAM_HEIGHT];
    uint8_t out[STREAM_WIDTH * 2], whole[STREAM_WIDTH * STREAM_HEIGHT], streamed[STREAM_WIDTH * STREAM_HEIGHT];
    qlx_quantiser *quantiser = NULL, *untouched = (qlx_quantiser *)&quantiser;
    qlx_options options = qlx_default_options();
    noise(pixels, sizeof pixels);
    options.dither = QLX_DITHER_FLOYD_STEINBERG;

    CHECK(qlx_quantiser_create(2, 2, QLX_RGB, NULL, NULL) == QLX_NULL_POINTER);
    quantiser = untouched;
    CHECK(qlx_quantiser_create(2, 2, (qlx_pixel_format)4, NULL, &quantiser) == QLX_UNKNOWN_PIXEL_FORMAT);
    CHECK(qlx_quantiser_create(SIZE_MAX / 2, 3, QLX_RGB, NULL, &quantiser) == QLX_SIZE_OVERFLOW);
    CHECK(qlx_quantiser_create(SIZE_MAX / 3 + 1, 1, QLX_RGB, NULL, &quantiser) == QLX_SIZE_OVERFLOW);
    options.reserved[0] = 1;
    CHECK(qlx_quantiser_create(2, 2, QLX_RGB, &options, &quantiser) == QLX_UNKNOWN_OPTION);
    options.reserved[0] = 0;
    CHECK(quantiser == untouched);

    CHECK(qlx_quantiser_create(STREAM_WIDTH, STREAM_HEIGHT, QLX_RGBA, &options, &quantiser) == QLX_OK);
    REFUSED(qlx_quantiser_convert(NULL, pixels, 1, STREAM_STRIDE, out, sizeof out), QLX_NULL_POINTER);
    REFUSED(qlx_quantiser_convert(quantiser, NULL, 1, STREAM_STRIDE, out, sizeof out), QLX_NULL_POINTER);
    CHECK(qlx_quantiser_convert(quantiser, pixels, 1, STREAM_STRIDE, NULL, 8) == QLX_NULL_POINTER);
    REFUSED(qlx_quantiser_convert(quantiser, pixels, 2, STREAM_WIDTH * 4 - 1, out, sizeof out), QLX_STRIDE_TOO_SHORT);
    REFUSED(qlx_quantiser_convert(quantiser, pixels, 2, STREAM_STRIDE, out, sizeof out - 1), QLX_CAPACITY_TOO_SMALL);
    REFUSED(qlx_quantiser_convert(quantiser, pixels, 2, SIZE_MAX, out, sizeof out), QLX_SIZE_OVERFLOW);
    REFUSED(qlx_quantiser_convert(quantiser, pixels, STREAM_HEIGHT + 1, STREAM_STRIDE, out, sizeof out),
            QLX_TOO_MANY_ROWS);
    REFUSED(qlx_quantiser_convert_bottom_up(quantiser, pixels, 2, 3, out, sizeof out), QLX_STRIDE_TOO_SHORT);
    CHECK(qlx_quantiser_rows_left(quantiser) == STREAM_HEIGHT);
    CHECK(qlx_quantiser_rows_left(NULL) == 0);
    /* No rows is a batch like any other. */
    CHECK(qlx_quantiser_convert(quantiser, NULL, 0, 0, NULL, 0) == QLX_OK);

    CHECK(qlx_quantiser_convert(quantiser, pixels, STREAM_HEIGHT, STREAM_STRIDE, streamed, sizeof streamed) == QLX_OK);
    CHECK(qlx_quantise(pixels, STREAM_WIDTH, STREAM_HEIGHT, STREAM_STRIDE, QLX_RGBA, &options, whole, sizeof whole) ==
          QLX_OK);
    CHECK(memcmp(whole, streamed, sizeof whole) == 0);
    REFUSED(qlx_quantiser_convert(quantiser, pixels, 1, STREAM_STRIDE, out, sizeof out), QLX_TOO_MANY_ROWS);
    qlx_quantiser_destroy(quantiser);
    qlx_quantiser_destroy(NULL);

    /* A picture without pixels takes its empty rows and nothing else. */
    CHECK(qlx_quantiser_create(0, 3, QLX_RGB, NULL, &quantiser) == QLX_OK);
    CHECK(qlx_quantiser_convert(quantiser, NULL, 3, 0, NULL, 0) == QLX_OK);
    CHECK(qlx_quantiser_convert(quantiser, NULL, 1, 0, NULL, 0) == QLX_TOO_MANY_ROWS);
    qlx_quantiser_destroy(quantiser);
}

/* A BMP written a batch of rows at a time is qlx_to_bmp's. */
static void test_bmp_in_batches(void) {
    enum { WIDTH = 7, HEIGHT = 5, STRIDE = 24, SIZE = 54 + STRIDE * HEIGHT };
    uint8_t indices[WIDTH * HEIGHT], whole[SIZE], batched[SIZE], out[STRIDE * 2];
    qlx_bmp_layout layout;
    size_t first;
    noise(indices, sizeof indices);
    CHECK(qlx_to_bmp(indices, sizeof indices, WIDTH, HEIGHT, whole, sizeof whole) == QLX_OK);
    memset(batched, UNTOUCHED, sizeof batched);
    CHECK(qlx_bmp_headers(WIDTH, HEIGHT, batched, QLX_BMP_HEADERS_SIZE) == QLX_OK);
    for (first = 0; first < HEIGHT; first += 2) {
        const size_t rows = first + 2 <= HEIGHT ? 2 : 1;
        CHECK(qlx_to_bmp_rows(indices, sizeof indices, WIDTH, HEIGHT, first, rows, batched + 54 + first * STRIDE,
                              rows * STRIDE) == QLX_OK);
    }
    CHECK(memcmp(whole, batched, sizeof whole) == 0);
    CHECK(qlx_bmp_read_layout(whole, QLX_BMP_MAX_HEADERS_SIZE, sizeof whole, &layout) == QLX_OK);
    CHECK(layout.width == WIDTH && layout.height == HEIGHT && !layout.top_down && layout.pixel_offset == 54 &&
          layout.row_stride == STRIDE);
    /* The last row's padding (3 bytes) may be missing, not a pixel byte. */
    CHECK(qlx_bmp_read_layout(whole, QLX_BMP_MAX_HEADERS_SIZE, sizeof whole - 3, &layout) == QLX_OK);
    CHECK(qlx_bmp_read_layout(whole, QLX_BMP_MAX_HEADERS_SIZE, sizeof whole - 4, &layout) ==
          QLX_BMP_PIXEL_DATA_CUT_SHORT);
    CHECK(qlx_bmp_read_layout(NULL, 10, 10, &layout) == QLX_NULL_POINTER);

    REFUSED(qlx_bmp_headers(WIDTH, HEIGHT, out, QLX_BMP_HEADERS_SIZE - 1), QLX_CAPACITY_TOO_SMALL);
    REFUSED(qlx_bmp_headers(0, HEIGHT, out, sizeof out), QLX_SIDE_OUT_OF_RANGE);
    REFUSED(qlx_to_bmp_rows(indices, sizeof indices, WIDTH, HEIGHT, 4, 2, out, sizeof out), QLX_TOO_MANY_ROWS);
    REFUSED(qlx_to_bmp_rows(indices, sizeof indices, WIDTH, HEIGHT, SIZE_MAX, 2, out, sizeof out), QLX_TOO_MANY_ROWS);
    REFUSED(qlx_to_bmp_rows(indices, sizeof indices, WIDTH, HEIGHT, 0, 2, out, sizeof out - 1), QLX_CAPACITY_TOO_SMALL);
    REFUSED(qlx_to_bmp_rows(indices, sizeof indices - 1, WIDTH, HEIGHT, 0, 1, out, sizeof out), QLX_INPUT_TOO_SHORT);
    REFUSED(qlx_to_bmp_rows(NULL, sizeof indices, WIDTH, HEIGHT, 0, 1, out, sizeof out), QLX_NULL_POINTER);
}

int main(void) {
    test_version_and_texts();
    test_palette_rule();
    test_options();
    test_every_entry_point_agrees();
    test_round_trip_through_bmp();
    test_transparency();
    test_refusals_write_nothing();
    test_malformed_bmps();
    test_fitting();
    test_streaming_gives_the_whole_pictures_bytes();
    test_quantiser_refusals();
    test_bmp_in_batches();
    if (failures != 0) {
        fprintf(stderr, "%d checks failed\n", failures);
        return 1;
    }
    puts("all checks of the C API passed");
    return 0;
}
