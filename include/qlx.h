/* qlx.h: libqlx, exact conversion between true-colour pixels and QLX.

   QLX is the index format of one fixed palette of 256 colours. A QLX file
   has no header, no palette and no recorded size:

     offset y * width + x   1 byte   the palette index of the pixel in
                                     column x (from the left) and row y
                                     (from the top), both from 0

   so a picture of width x height is exactly width * height bytes, top row
   first, rows unpadded. The standard picture is 320 x 200 (64000 bytes).

   The palette rule: a colour's index is that of the palette entry at the
   smallest city-block distance |dr| + |dg| + |db|, unweighted; on a tie the
   lowest index wins. The palette holds 235 distinct colours, so some
   indices (80, 255, 71, ...) are never chosen: black is always 0, white
   47, yellow 63.

   24-bit BMP, as read by qlx_from_bmp (little-endian throughout):
      0  2  bfType         "BM", not examined
      2  4  bfSize         not examined
     10  4  bfOffBits      offset of the pixel array, inside the file
     14  4  biSize         40, or 52, 56, 64, 108, 124 (longer headers);
                           any other size from 40 up is read as 40;
                           12 is the old core header (16-bit sides at 18
                           and 20, bit count at 24)
     18  4  biWidth        signed, not negative
     22  4  biHeight       signed; negative means rows stored top-down
     28  2  biBitCount     24
     30  4  biCompression  0
   Pixels: rows of width blue-green-red triples, each row padded to a
   multiple of 4 bytes (the last row's padding may be missing), bottom row
   first unless the height is negative.

   As written by qlx_to_bmp: the 14-byte file header ("BM", bfSize the
   file's length, bfOffBits 54), the 40-byte information header (biSize
   40, the sides, biPlanes 1, biBitCount 24, zeros), then the rows bottom
   first, each padded with zero bytes to a multiple of 4.

   The API: every buffer is the caller's, with its capacity. A function
   checks everything it is given before it writes anything, and writes
   nothing unless it returns QLX_OK. Nothing throws, and every function may
   be called from several threads at once. The one object that outlives a
   call is a qlx_quantiser, for pictures that arrive a batch of rows at a
   time: it is the caller's until qlx_quantiser_destroy, and one quantiser
   must not be used from two threads at once (two quantisers may be). The
   results are the same bytes on every system, build and number of
   threads, and the same as the palquant and palexpand programs give. */
#ifndef QLX_H
#define QLX_H

#include <stddef.h>
#include <stdint.h>

#define QLX_VERSION_MAJOR 1
#define QLX_VERSION_MINOR 8
#define QLX_VERSION_PATCH 0
#define QLX_VERSION_STRING "1.8.0"

#if defined(QLX_BUILDING_SHARED) && defined(_WIN32)
#define QLX_API __declspec(dllexport)
#elif defined(QLX_BUILDING_SHARED) && defined(__GNUC__)
#define QLX_API __attribute__((visibility("default")))
#else
#define QLX_API
#endif

/* A status that is ignored is a fault that goes unseen, so the compiler
   warns of it. */
#if defined(__GNUC__) || defined(__clang__)
#define QLX_USE_RESULT __attribute__((warn_unused_result))
#elif defined(_MSC_VER)
#define QLX_USE_RESULT _Check_return_
#else
#define QLX_USE_RESULT
#endif

/* In C any int may be passed for an enum, and in C++ these types take any
   int too, so a function can refuse an unknown value instead of meeting
   undefined behaviour. */
#ifdef __cplusplus
#define QLX_ANY_INT : int
#else
#define QLX_ANY_INT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The standard picture, which a QLX file of unknown size is taken to be. */
#define QLX_STANDARD_WIDTH 320
#define QLX_STANDARD_HEIGHT 200
/* The largest side qlx_to_bmp writes: a BMP of 16384 x 16384 (805 MB)
   still has a length that bfSize's 32 bits hold. */
#define QLX_MAX_BMP_SIDE 16384
/* Alpha below this marks a pixel transparent (see transparent_index). */
#define QLX_ALPHA_THRESHOLD 128
/* The most bytes at a BMP's start that its headers take: the 14-byte file
   header and the longest information header, 124 bytes. */
#define QLX_BMP_MAX_HEADERS_SIZE 138
/* The headers qlx_to_bmp writes: 14 + 40 bytes. */
#define QLX_BMP_HEADERS_SIZE 54

/* Every failure has its own code, name and text, from this one list: the
   enum, qlx_status_name and qlx_status_text are made from it, and so are
   the codes the Python and npm packages name. The values never change.
   A BMP refusal's text is palquant's message without its newline. */
#define QLX_STATUS_LIST(X)                                                                       \
    X(QLX_OK, 0, "ok")                                                                           \
    /* BMPs that qlx_from_bmp refuses, as palquant refuses them. */                              \
    X(QLX_BMP_HEADERS_CUT_SHORT, 1, "bmpfile headers are cut short")                             \
    X(QLX_BMP_NOT_24_BIT, 2, "the file is not 24bit bmp ")                                       \
    X(QLX_BMP_INFO_HEADER_TOO_SHORT, 3, "bmpfile information header is too short")               \
    X(QLX_BMP_NEGATIVE_WIDTH, 4, "bmpfile width is negative")                                    \
    X(QLX_BMP_HEIGHT_OUT_OF_RANGE, 5, "bmpfile height is out of range")                          \
    X(QLX_BMP_COMPRESSED, 6, "bmpfile is compressed")                                            \
    X(QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE, 7, "bmpfile pixel offset is outside the file")          \
    X(QLX_BMP_PIXEL_DATA_CUT_SHORT, 8, "bmpfile pixel data is cut short")                        \
    X(QLX_BMP_TOO_LARGE, 9, "bmpfile is too large for memory")                                   \
    /* Arguments the call cannot use. */                                                         \
    X(QLX_NULL_POINTER, 20, "a pointer is NULL where bytes are needed")                          \
    X(QLX_SIZE_OVERFLOW, 21, "the picture's size overflows size_t")                              \
    X(QLX_SIDE_OUT_OF_RANGE, 22, "a side is 0 or larger than 16384")                             \
    X(QLX_STRIDE_TOO_SHORT, 23, "the stride is shorter than a row of pixels")                    \
    X(QLX_INPUT_TOO_SHORT, 24, "the input is shorter than width x height")                       \
    X(QLX_CAPACITY_TOO_SMALL, 25, "the output buffer is too small")                              \
    X(QLX_UNKNOWN_PIXEL_FORMAT, 26, "unknown pixel format")                                      \
    X(QLX_UNKNOWN_DITHER, 27, "unknown dithering method")                                        \
    X(QLX_STRENGTH_OUT_OF_RANGE, 28, "strength must be a whole number from 0 to 100")            \
    X(QLX_TRANSPARENT_INDEX_OUT_OF_RANGE, 29, "transparent_index must be -1 or from 0 to 255")   \
    X(QLX_THREADS_OUT_OF_RANGE, 30, "threads must not be negative")                              \
    X(QLX_UNKNOWN_OPTION, 31, "an option this version does not know is set")                     \
    X(QLX_UNKNOWN_FIT, 32, "unknown fit")                                                        \
    X(QLX_UNKNOWN_LIGHT, 33, "unknown light for dithering")                                      \
    X(QLX_TOO_MANY_ROWS, 34, "more rows than the picture has left")                              \
    X(QLX_UNKNOWN_NAME, 35, "no method, light, fit or alpha rule has that name")                 \
    X(QLX_UNKNOWN_ALPHA, 36, "unknown alpha rule")                                               \
    X(QLX_BACKGROUND_OUT_OF_RANGE, 37, "background must be a colour from 0x000000 to 0xFFFFFF")  \
    X(QLX_PALETTE_SIZE_OUT_OF_RANGE, 38, "a picture's palette has 1 to 256 entries")             \
    X(QLX_NO_SIZE_IN_NAME, 39, "the name states no size, as in castle.641x480.qlx")              \
    X(QLX_STABLE_OUT_OF_RANGE, 41, "stable must be from 0 to 255")                               \
    X(QLX_DELAY_OUT_OF_RANGE, 42, "a delay is 0 to 65535 hundredths of a second")                \
    X(QLX_LOOP_OUT_OF_RANGE, 43, "the loop count is -1 (play once), 0 (forever) or up to 65535") \
    /* GIFs that qlx_gif_reader_create and qlx_gif_read_frame refuse. */                         \
    X(QLX_NOT_GIF, 50, "not a GIF")                                                              \
    X(QLX_GIF_CUT_SHORT, 51, "GIF data is cut short")                                            \
    X(QLX_GIF_UNKNOWN_BLOCK, 52, "GIF data is corrupt: a block of unknown type")                 \
    X(QLX_GIF_BAD_CODE_SIZE, 53, "GIF data is corrupt: an LZW code size outside 2 to 8")         \
    X(QLX_GIF_BAD_CODE, 54, "GIF data is corrupt: an LZW code past the table")                   \
    X(QLX_GIF_PIXELS_CUT_SHORT, 55, "GIF data is corrupt: a frame's pixels end early")           \
    X(QLX_GIF_NO_COLOUR_TABLE, 56, "GIF has no colour table")                                    \
    X(QLX_GIF_NO_PICTURE, 57, "GIF has no picture")                                              \
    X(QLX_GIF_EMPTY_FRAME, 58, "GIF frame has no pixels")                                        \
    X(QLX_NO_MORE_FRAMES, 59, "the animation has no more frames")                                \
    X(QLX_OUT_OF_MEMORY, 40, "out of memory")

#define QLX_STATUS_ENUMERATOR(name, value, text) name = value,
typedef enum qlx_status QLX_ANY_INT { QLX_STATUS_LIST(QLX_STATUS_ENUMERATOR) } qlx_status;
#undef QLX_STATUS_ENUMERATOR

/* The library's version, QLX_VERSION_STRING of the library actually linked
   ("1.8.0"): the number the programs' --version prints. */
QLX_API const char *qlx_version(void);

/* A text for every status, never NULL (an unknown code has one too). A BMP
   refusal gives palquant's message without its newline: "bmpfile pixel data
   is cut short", "the file is not 24bit bmp " (with its space). */
QLX_API const char *qlx_status_text(qlx_status status);

/* The status's name as the list spells it ("QLX_TOO_MANY_ROWS"), or NULL
   for a code that is none. Asking for every code from 0 to
   QLX_STATUS_CODE_LIMIT - 1 lists them all. */
#define QLX_STATUS_CODE_LIMIT 64
QLX_API const char *qlx_status_name(qlx_status status);

/* Palette entry `index` as 0xRRGGBB. */
QLX_API uint32_t qlx_palette_colour(uint8_t index);

/* The index of the colour nearest to red, green, blue by the palette rule. */
QLX_API uint8_t qlx_nearest_index(uint8_t red, uint8_t green, uint8_t blue);

typedef enum qlx_dither QLX_ANY_INT {
    QLX_DITHER_NONE = 0,            /* the nearest colour of every pixel */
    QLX_DITHER_FLOYD_STEINBERG = 1, /* error diffusion 7, 3, 5, 1 sixteenths, serpentine */
    QLX_DITHER_ORDERED = 2,         /* 8 x 8 Bayer offsets added before the search */
    QLX_DITHER_ATKINSON = 3,        /* error diffusion, 1/8 to each of six neighbours, serpentine */
    QLX_DITHER_SIERRA_LITE = 4,     /* error diffusion 2, 1, 1 quarters, serpentine */
    QLX_DITHER_BLUE_NOISE = 5,      /* offsets from a 64 x 64 blue-noise mask */
    /* The larger kernels, serpentine, each over three rows but Burkes's two: */
    QLX_DITHER_JARVIS_JUDICE_NINKE = 6, /* 7, 5 / 3, 5, 7, 5, 3 / 1, 3, 5, 3, 1 forty-eighths */
    QLX_DITHER_STUCKI = 7,              /* 8, 4 / 2, 4, 8, 4, 2 / 1, 2, 4, 2, 1 forty-seconds */
    QLX_DITHER_BURKES = 8,              /* 8, 4 / 2, 4, 8, 4, 2 thirty-seconds */
    QLX_DITHER_SIERRA = 9,              /* 5, 3 / 2, 4, 5, 4, 2 / 2, 3, 2 thirty-seconds */
    QLX_DITHER_PATTERN = 10             /* an 8 x 8 Bayer pattern of sixteen palette colours that
                                           mix, in linear light, to the pixel's; palette colours
                                           stay exact */
} qlx_dither;

/* Where error diffusion adds errors up. Neighbouring pixels are seen as
   the average of their light, so diffusing in linear light keeps the
   brightness of dithered areas. The ordered methods ignore it. */
typedef enum qlx_light QLX_ANY_INT {
    QLX_LIGHT_SRGB = 0,  /* in sRGB codes, as in earlier versions */
    QLX_LIGHT_LINEAR = 1 /* in 16-bit linear light */
} qlx_light;

/* How pixels are quantised. Take it from qlx_default_options() and change
   what you need.

   Growth: the struct keeps this size and layout in every 1.x version. A new
   option takes the place of a reserved word, and zero in it always means
   what this version does, so a caller built against this header gets the
   same bytes from any later 1.x library. A caller built against a later
   header that sets a new option and runs on an older library gets
   QLX_UNKNOWN_OPTION, never a silently different result. */
/* What alpha means when no transparent index is set. */
typedef enum qlx_alpha QLX_ANY_INT {
    QLX_ALPHA_IGNORE = 0,   /* the colour stored under any alpha is used (1.5) */
    QLX_ALPHA_COMPOSITE = 1 /* each pixel is blended over `background` first, in
                               integers on the sRGB codes, component by component:
                               (colour * alpha + background * (255 - alpha) + 127) / 255.
                               Fully transparent pixels become the background exactly.
                               The qlx command, the Python and npm packages and the
                               page convert so. */
} qlx_alpha;

typedef struct qlx_options {
    qlx_dither dither;     /* QLX_DITHER_NONE */
    int strength;          /* 0-100 percent of the diffused error or the pattern: 100 */
    int transparent_index; /* -1: alpha follows `alpha` (the default). 0-255: every pixel
                              whose alpha is below QLX_ALPHA_THRESHOLD gets this index
                              and takes part in no error diffusion: it neither receives
                              error nor passes any on; other pixels' alpha is ignored.
                              Formats without alpha are opaque. */
    int threads;           /* 0: one thread a core, up to 8, for pictures of a million
                              pixels or more (the default); 1: the calling thread alone;
                              n: at most n. The bytes never depend on it. */
    qlx_light light;       /* QLX_LIGHT_SRGB (1.3) */
    qlx_alpha alpha;       /* QLX_ALPHA_IGNORE (1.6) */
    int background;        /* 0xRRGGBB for QLX_ALPHA_COMPOSITE: 0, black (1.6) */
    int stable;            /* error diffusion across the frames of an animation, through
                              qlx_convert_frame: 0, each frame on its own (1.7); 1-255, a
                              pixel whose colour stays within `stable` codes in every
                              component of the colour its index was chosen for keeps
                              that index (QLX_STABLE_TOLERANCE is the programs'). The
                              other methods are stable already and ignore it. */
    int reserved[8];       /* zero */
} qlx_options;

/* The tolerance of --dither-stable: noise of up to 3 codes either way, as a
   camera or a lossy codec adds to every frame, differs by at most 6 between
   two frames and is held still, while what moves is chosen afresh. Larger
   tolerances hold more still and cost more error where the picture moves
   (docs/performance.md has the curve). */
#define QLX_STABLE_TOLERANCE 6

/* QLX_DITHER_NONE, strength 100, transparent_index -1, threads 0, QLX_LIGHT_SRGB,
   QLX_ALPHA_IGNORE, background 0, stable 0. */
QLX_API qlx_options qlx_default_options(void);

/* QLX_OK if every option is one this version knows and within its range,
   else the status the converting functions would give for it. NULL means
   the defaults. A front end checks a user's choices here before it
   touches a file. */
QLX_USE_RESULT QLX_API qlx_status qlx_check_options(const qlx_options *options);

/* The names of the methods and lights, as the programs, the web module and
   the page spell them: "none", "floyd-steinberg", "ordered", "atkinson",
   "sierra-lite", "blue-noise", "jarvis-judice-ninke", "stucki", "burkes",
   "sierra", "pattern"; "srgb", "linear". A name is NULL for a
   value this version does not know, and the values run from 0 without
   gaps, so asking from 0 until NULL lists them all. Reading a name back
   gives QLX_UNKNOWN_NAME, leaving the result alone, for any other text. */
QLX_API const char *qlx_dither_name(qlx_dither dither);
QLX_USE_RESULT QLX_API qlx_status qlx_dither_from_name(const char *name, qlx_dither *dither);
QLX_API const char *qlx_light_name(qlx_light light);
QLX_USE_RESULT QLX_API qlx_status qlx_light_from_name(const char *name, qlx_light *light);

/* Whole files in memory: byte for byte what palquant and palexpand write. */

/* Where the pixels of a 24-bit BMP lie in its file. */
typedef struct qlx_bmp_layout {
    size_t width, height;  /* both 0 when the picture has no pixels */
    int top_down;          /* 1: rows stored top row first; 0: bottom row first */
    uint64_t pixel_offset; /* bfOffBits: where the first stored row starts */
    uint64_t row_stride;   /* from one stored row to the next: width * 3 rounded up to 4 */
} qlx_bmp_layout;

/* Reads the layout of a BMP of file_size bytes from its first bytes
   (QLX_BMP_MAX_HEADERS_SIZE of them, or the whole file if it is shorter),
   after every check qlx_from_bmp makes: the pixel rows lie inside the
   file, so a reader may size its buffers from the layout. On failure the
   layout is left alone. With it a BMP can be streamed through a
   qlx_quantiser, a batch of stored rows at a time. */
QLX_USE_RESULT QLX_API qlx_status qlx_bmp_read_layout(const uint8_t *headers, size_t headers_size, uint64_t file_size,
                                                      qlx_bmp_layout *layout);

/* The sides of a BMP that qlx_from_bmp would convert, after every check
   it makes; on failure the results are left alone. */
QLX_USE_RESULT QLX_API qlx_status qlx_bmp_dimensions(const uint8_t *bmp, size_t bmp_size, size_t *width,
                                                     size_t *height);

/* Quantises a 24-bit BMP into width * height bytes of QLX at `qlx`.
   `options` NULL means the defaults. */
QLX_USE_RESULT QLX_API qlx_status qlx_from_bmp(const uint8_t *bmp, size_t bmp_size, const qlx_options *options,
                                               uint8_t *qlx, size_t qlx_capacity);

/* The length of the BMP qlx_to_bmp writes for these sides: 54 + the padded
   row length * height. 0 if a side is 0 or above QLX_MAX_BMP_SIDE. */
QLX_API size_t qlx_bmp_size(size_t width, size_t height);

/* Writes the QLX_BMP_HEADERS_SIZE bytes that start the BMP qlx_to_bmp
   writes for these sides. */
QLX_USE_RESULT QLX_API qlx_status qlx_bmp_headers(size_t width, size_t height, uint8_t *headers,
                                                  size_t headers_capacity);

/* Writes `rows` of the stored rows of that BMP, from stored row first_row
   on (counted from the bottom, as a BMP stores them), each the palette
   colours of a row of `qlx` padded with zero bytes to (3 * width + 3) / 4 *
   4 bytes. After qlx_bmp_headers, a program writes a BMP of any size a
   batch at a time. Rows past the picture's give QLX_TOO_MANY_ROWS. */
QLX_USE_RESULT QLX_API qlx_status qlx_to_bmp_rows(const uint8_t *qlx, size_t qlx_size, size_t width, size_t height,
                                                  size_t first_row, size_t rows, uint8_t *out, size_t out_capacity);

/* Writes the BMP of the first width * height bytes of `qlx` (a longer input
   is fine, as palexpand reads a longer file). */
QLX_USE_RESULT QLX_API qlx_status qlx_to_bmp(const uint8_t *qlx, size_t qlx_size, size_t width, size_t height,
                                             uint8_t *bmp, size_t bmp_capacity);

/* Pixels in memory: rows top first, `stride` bytes from one row's start to
   the next's, at least a row of pixels. A picture with a side of 0 has no
   pixels, needs no buffers, and is converted to nothing. */
typedef enum qlx_pixel_format QLX_ANY_INT {
    QLX_RGB = 0,  /* 3 bytes: red, green, blue */
    QLX_BGR = 1,  /* 3 bytes: blue, green, red, as in a BMP */
    QLX_RGBA = 2, /* 4 bytes: red, green, blue, alpha, as a canvas gives them */
    QLX_BGRA = 3  /* 4 bytes: blue, green, red, alpha */
} qlx_pixel_format;

/* Bytes per pixel of a format: 3 or 4, or 0 for an unknown one. */
QLX_API size_t qlx_pixel_bytes(qlx_pixel_format format);

/* Quantises height rows of width pixels (reading stride * (height - 1) +
   width * pixel bytes) into width * height indices, top row first. The same
   pixels give the same bytes as qlx_from_bmp. */
QLX_USE_RESULT QLX_API qlx_status qlx_quantise(const uint8_t *pixels, size_t width, size_t height, size_t stride,
                                               qlx_pixel_format format, const qlx_options *options, uint8_t *indices,
                                               size_t indices_capacity);

/* A picture that arrives in batches of rows: decoded a few rows at a time,
   read from a file, or one frame of many. However its rows are split, the
   indices are exactly qlx_quantise's for the whole picture. The memory it
   keeps does not grow with the picture's height: error diffusion keeps
   three rows of errors, and nothing else is kept between calls. Threads,
   when the options allow them, work inside each batch. */
typedef struct qlx_quantiser qlx_quantiser;

/* Starts a picture of width x height pixels in `format` that will arrive
   in batches of rows, top row first. `options` NULL means the defaults.
   On failure *quantiser is left alone. */
QLX_USE_RESULT QLX_API qlx_status qlx_quantiser_create(size_t width, size_t height, qlx_pixel_format format,
                                                       const qlx_options *options, qlx_quantiser **quantiser);

/* Converts the next `rows` rows (`stride` bytes apart, reading stride *
   (rows - 1) + a row of pixels) into rows * width indices. More rows than
   the picture has left give QLX_TOO_MANY_ROWS. A refused call changes
   nothing, and the quantiser is still usable. */
QLX_USE_RESULT QLX_API qlx_status qlx_quantiser_convert(qlx_quantiser *quantiser, const uint8_t *pixels, size_t rows,
                                                        size_t stride, uint8_t *indices, size_t indices_capacity);

/* The same for rows stored bottom row first, as most BMPs store them:
   `pixels` is the lowest of the batch's rows (the last in picture order),
   and each row above it lies `stride` bytes further on. The indices are
   still written top row first. */
QLX_USE_RESULT QLX_API qlx_status qlx_quantiser_convert_bottom_up(qlx_quantiser *quantiser, const uint8_t *pixels,
                                                                  size_t rows, size_t stride, uint8_t *indices,
                                                                  size_t indices_capacity);

/* The rows the picture has left to convert; 0 for NULL. */
QLX_API size_t qlx_quantiser_rows_left(const qlx_quantiser *quantiser);

/* Frees the quantiser and stops its threads. NULL is fine. */
QLX_API void qlx_quantiser_destroy(qlx_quantiser *quantiser);

/* Writes the palette colour of each of width * height indices, rows top
   first and `stride` bytes apart, alpha 255. The bytes between rows are
   left alone; `pixels_capacity` must hold stride * (height - 1) + a row. */
QLX_USE_RESULT QLX_API qlx_status qlx_expand(const uint8_t *indices, size_t width, size_t height,
                                             qlx_pixel_format format, uint8_t *pixels, size_t stride,
                                             size_t pixels_capacity);

/* Fitting a picture of any size into a box, such as the standard 320 x 200,
   before it is quantised. The resampling averages areas in linear light,
   in integers, so it gives the same bytes everywhere: each result pixel is
   the average of the source area it covers, each source pixel weighted by
   the part of it inside; colours are weighted by alpha, so transparent
   pixels lend none of their colour, and alpha is averaged as it is.
   Light values are 16-bit, round(65535 * L(code / 255)) with the sRGB
   curve L, and an average goes back to the code whose value is nearest. */

/* The largest side qlx_resample takes or makes: with it every sum of
   16-bit light times alpha times area fits 64 bits. */
#define QLX_MAX_RESAMPLE_SIDE 16384

typedef enum qlx_fit QLX_ANY_INT {
    QLX_FIT_KEEP = 0,    /* the picture's own sides; nothing is resampled */
    QLX_FIT_CONTAIN = 1, /* all of the picture, as large as the box allows, centred;
                            the rest of the box is the caller's (the web page
                            fills it with index 0) */
    QLX_FIT_COVER = 2,   /* all of the box, from the centre of the picture cut
                            to the box's aspect */
    QLX_FIT_STRETCH = 3  /* all of the picture onto all of the box */
} qlx_fit;

/* "ignore", "composite", as for the methods above. */
QLX_API const char *qlx_alpha_name(qlx_alpha alpha);
QLX_USE_RESULT QLX_API qlx_status qlx_alpha_from_name(const char *name, qlx_alpha *alpha);

/* "keep", "contain", "cover", "stretch", as for the methods above. */
QLX_API const char *qlx_fit_name(qlx_fit fit);
QLX_USE_RESULT QLX_API qlx_status qlx_fit_from_name(const char *name, qlx_fit *fit);

/* Where a fitted picture comes from and where it lands. */
typedef struct qlx_placement {
    size_t source_x, source_y, source_width, source_height; /* the part of the picture used */
    size_t x, y, width, height;                             /* its resampled copy, in the box */
    size_t box_width, box_height;                           /* the result's sides: the box's, or the picture's own
                                                               for QLX_FIT_KEEP */
} qlx_placement;

/* Computes the placement of a width x height picture in the box. Every
   side from 1 to QLX_MAX_RESAMPLE_SIDE. A side that does not fit exactly
   is rounded to the nearest pixel, halves up, and centred with the odd
   pixel after it (to the right or below). */
QLX_USE_RESULT QLX_API qlx_status qlx_fit_placement(size_t width, size_t height, size_t box_width, size_t box_height,
                                                    qlx_fit fit, qlx_placement *placement);

/* Resamples height rows of width pixels (stride bytes apart) to
   resampled_width x resampled_height pixels of the same format, rows
   unpadded. A part of a picture is resampled by pointing at its first
   pixel and passing its sides, with the picture's stride. */
QLX_USE_RESULT QLX_API qlx_status qlx_resample(const uint8_t *pixels, size_t width, size_t height, size_t stride,
                                               qlx_pixel_format format, uint8_t *resampled, size_t resampled_width,
                                               size_t resampled_height, size_t resampled_capacity);

/* The whole conversion of a picture in memory: fitted into a box, its
   indices kept where its palette is ours, its transparency marked or
   blended over the background, quantised and dithered, the rest of the box
   index 0. Every door (the qlx command, Python, npm, the page) converts
   through it, so each gives the same bytes. */

/* A picture: colours in any format and stride, or indices into a palette
   of its own (an indexed PNG, GIF or BMP), rows top first. */
typedef struct qlx_picture {
    const uint8_t *pixels; /* colours in `format`, or one index a pixel */
    size_t width, height;
    size_t stride;           /* from one row's start to the next's, in bytes */
    qlx_pixel_format format; /* of the colours; not read for indices */
    const uint8_t *palette;  /* NULL for colours; else palette_size entries of 4 bytes:
                                red, green, blue, alpha. An index past the last entry
                                is transparent black, as browsers draw it. */
    size_t palette_size;     /* 1 to 256 with a palette */
    const uint8_t *stored;   /* indices only (colours say it by their alpha): NULL, or
                                width * height bytes, rows unpadded, 0 marking a pixel the
                                file stores nothing for (the canvas around a GIF frame,
                                what an RLE BMP skips): transparent black */
} qlx_picture;

/* 1 if a picture with this palette (palette_size entries of red, green,
   blue, alpha) keeps its indices: 1 to 256 entries, each equal to ours at
   the same index in red, green and blue, duplicates included. Else 0. */
QLX_API int qlx_palette_is_ours(const uint8_t *palette, size_t palette_size);

/* The sides of the result: the picture's own for QLX_FIT_KEEP (the box is
   not read), else the box's, each side of both from 1 to
   QLX_MAX_RESAMPLE_SIDE. On failure the results are left alone. */
QLX_USE_RESULT QLX_API qlx_status qlx_convert_size(const qlx_picture *picture, qlx_fit fit, size_t box_width,
                                                   size_t box_height, size_t *width, size_t *height);

/* Converts the picture into the indices of the result, rows top first,
   unpadded. `options` NULL means the defaults; the doors set
   QLX_ALPHA_COMPOSITE. Step by step:
   - the placement of qlx_fit_placement, and the part of the picture it uses;
   - kept indices: if the picture has a palette whose every entry (as many as
     it has, duplicates included) is ours at the same index in red, green and
     blue, and the part is not resampled, every opaque pixel keeps its index
     and dithering does not apply; a pixel that is not opaque takes the
     transparent index below QLX_ALPHA_THRESHOLD, or under
     QLX_ALPHA_COMPOSITE the nearest index of its colour blended over the
     background;
   - otherwise colours: the palette's, if it has one; resampled as
     qlx_resample does when the part's sides are not the place's; then
     quantised as qlx_quantise does with the options;
   - index 0 around a contained picture. */
QLX_USE_RESULT QLX_API qlx_status qlx_convert(const qlx_picture *picture, const qlx_options *options, qlx_fit fit,
                                              size_t box_width, size_t box_height, uint8_t *indices,
                                              size_t indices_capacity);

/* The frames of an animation, one call a frame, each as qlx_convert
   converts it, with `memory` carried from each frame to the next for
   options->stable: QLX_FRAME_MEMORY_PIXEL_BYTES for every pixel of the
   result, zeroed by the caller before the first frame and then left to
   the library. For each pixel it holds the colour its index was chosen for
   and that index, so error diffusion keeps an index while its pixel holds
   still; the error is diffused all the same, so the tone holds. With
   stable 0, kept indices or a method that does not diffuse errors, memory
   may be NULL and is not read; kept indices clear it. On failure memory is
   left alone. */
#define QLX_FRAME_MEMORY_PIXEL_BYTES 5
QLX_USE_RESULT QLX_API qlx_status qlx_convert_frame(const qlx_picture *picture, const qlx_options *options, qlx_fit fit,
                                                    size_t box_width, size_t box_height, uint8_t *memory,
                                                    size_t memory_capacity, uint8_t *indices, size_t indices_capacity);

/* The colours qlx_convert quantises, for showing beside its result: the
   placed part of the picture (its palette's colours, for indices),
   resampled where it is, as RGBA in the box, the rest of the box palette
   entry 0, opaque. Kept indices are shown by their colours too.
   `rgba_capacity` holds 4 bytes for every pixel of qlx_convert_size's
   sides. */
QLX_USE_RESULT QLX_API qlx_status qlx_convert_colours(const qlx_picture *picture, qlx_fit fit, size_t box_width,
                                                      size_t box_height, uint8_t *rgba, size_t rgba_capacity);

/* How close a result looks to the colours it was converted from, as the
   eye sees them from a distance; docs/qlx-format.md ("Closeness") states
   each figure. */
typedef struct qlx_closeness {
    double blurred_error; /* both pictures blurred by a 5 x 5 binomial kernel in linear light:
                             the mean squared difference per component, on a scale of 0-255 */
    double ciede2000;     /* the mean CIEDE2000 difference of the blurred pictures' colours */
    double exact_share;   /* the share of the measured pixels whose palette colour is exactly
                             their own: 0 to 1 */
    size_t measured;      /* the pixels measured (those the transparent index took are not) */
} qlx_closeness;

/* A picture of up to this many pixels is measured at every one; a larger
   one at one pixel in each cell of a grid of at most this many cells, at a
   fixed place in the cell. So a figure of a 4096 x 4096 picture costs a
   few milliseconds, within a percent or two of the whole picture's. */
#define QLX_CLOSENESS_POINTS 16384

/* The figures of `indices`, the result of qlx_convert with the same
   picture, options, fit and box, against the colours it converted: the
   placed part, resampled where it is, blended over the background as the
   options say; palette entry 0 around a contained picture. */
QLX_USE_RESULT QLX_API qlx_status qlx_closeness_of(const qlx_picture *picture, const qlx_options *options, qlx_fit fit,
                                                   size_t box_width, size_t box_height, const uint8_t *indices,
                                                   size_t indices_size, qlx_closeness *closeness);

/* A QLX file's size in its name. The rule: the last part of the path (after
   the last '/' or '\\') ends in ".qlx", in any case; the dotted part just
   before it is WIDTHxHEIGHT, each side 1 to 5 decimal digits without a
   leading zero and from 1 to QLX_MAX_RESAMPLE_SIDE, the 'x' lower case. Only
   that part counts, so "a.64x48.320x200.qlx" is 320 x 200, and a name means
   the same before its file exists. "castle.641x480.qlx" is 641 x 480;
   "castle.qlx" states none (QLX_NO_SIZE_IN_NAME), and neither does a name
   whose part is not such a size. */
QLX_USE_RESULT QLX_API qlx_status qlx_size_from_name(const char *name, size_t *width, size_t *height);

/* The name of a QLX file of these sides: `stem` + ".WIDTHxHEIGHT.qlx", or
   `stem` + ".qlx" for the standard 320 x 200 (unless the stem itself ends in
   a size, as "a.64x48" does), with its terminating zero, in
   `name` of `name_capacity` bytes. Sides from 1 to QLX_MAX_RESAMPLE_SIDE. */
QLX_USE_RESULT QLX_API qlx_status qlx_name_with_size(const char *stem, size_t width, size_t height, char *name,
                                                     size_t name_capacity);

/* Animated GIF in our palette, and every frame of any GIF.

   A GIF as qlx_gif_start and qlx_gif_frame write it (little-endian):
      0    6  "GIF89a"
      6    2  canvas width         8  2  canvas height
     10    1  0xF7: a global colour table of 256 entries
     11    1  background index 0   12  1  aspect 0 (square pixels)
     13  768  our palette, red, green, blue for index 0 to 255
    781   19  unless the loop is -1: 0x21 0xFF 0x0B "NETSCAPE2.0" 0x03 0x01,
              the loop count (2 bytes; 0 loops forever), 0x00
   then for every frame:
      0    8  graphic control extension: 0x21 0xF9 0x04, flags (disposal << 2,
              | 1 when a transparent index is set), the delay in hundredths of
              a second (2 bytes), the transparent index, 0x00
      8   10  image descriptor: 0x2C, left, top, width, height (2 bytes
              each), 0x00 (no local table, not interlaced)
     18       LZW data: the minimum code size (2 to 8, as few bits as the
              frame's indices need), sub-blocks, 0x00
   and the trailer QLX_GIF_TRAILER after the last frame.

   Decoded, every frame is exactly the indices it was given, on its own
   canvas. Without a transparent index each frame keeps the last (disposal
   1) and stores only the rectangle that changed; inside it a pixel that did
   not change may be sent as an index the frame does not use, marked
   transparent, where that makes the data shorter. With a transparent index
   every frame clears its rectangle when it is done (disposal 2), so the
   canvas is clear before each frame, which stores the rectangle around the
   pixels that are not transparent. */
#define QLX_GIF_START_SIZE 800
#define QLX_GIF_START_SIZE_ONCE 781 /* with loop -1: no loop extension */
#define QLX_GIF_TRAILER 0x3B

/* Writes the start of a GIF of width x height (1 to QLX_MAX_RESAMPLE_SIDE
   each): QLX_GIF_START_SIZE bytes, or QLX_GIF_START_SIZE_ONCE for loop -1
   (played once). `loop` is the NETSCAPE2.0 loop count: 0 loops forever. */
QLX_USE_RESULT QLX_API qlx_status qlx_gif_start(size_t width, size_t height, int loop, uint8_t *out,
                                                size_t out_capacity, size_t *written);

/* The most bytes qlx_gif_frame writes for a frame of these sides; 0 if a
   side is out of range. */
QLX_API size_t qlx_gif_frame_bound(size_t width, size_t height);

/* Writes one frame of width * height indices (the canvas's sides), shown
   for `delay` hundredths of a second. `previous` is the frame before (NULL
   for the first), whose decoded canvas this one changes; it is not read
   with a transparent index. transparent_index -1, or 0 to 255: pixels of
   that index are transparent. */
QLX_USE_RESULT QLX_API qlx_status qlx_gif_frame(const uint8_t *indices, const uint8_t *previous, size_t width,
                                                size_t height, int delay, int transparent_index, uint8_t *out,
                                                size_t out_capacity, size_t *written);

/* Reading a GIF's frames as a browser composes them: each frame on the
   canvas the last left, at its offset and clipped to the canvas, through
   its local colour table or the global one, interlaced or not, its
   transparent index leaving the canvas as it was, and the last frame's
   disposal done first: 0 and 1 keep the canvas, 2 clears the last frame's
   rectangle to transparent, 3 (and 4) restore the canvas from before it.
   The canvas starts transparent. A canvas side of 0 is the first frame's
   extent. An index past the frame's table is opaque black, as Chromium
   draws it (our index 0).

   Each frame comes as a qlx_picture for qlx_convert: indices into our
   palette (with `stored` for what is transparent) while every pixel on the
   canvas came from a table that is ours (qlx_palette_is_ours), else RGBA
   colours, transparent pixels (0, 0, 0, 0). So a GIF in our palette keeps
   its indices, duplicates included.

   The reader is the caller's until qlx_gif_reader_destroy. It reads the
   caller's bytes, which must stay unchanged while it lives, and keeps a
   canvas of 12 bytes a pixel, made at the first frame, whatever the number
   of frames. */
typedef struct qlx_gif_reader qlx_gif_reader;

typedef struct qlx_gif_info {
    size_t width, height; /* the canvas */
    size_t frame_count;   /* 1 or more */
    int loop;             /* the loop count: -1 without one (played once), 0 forever */
} qlx_gif_info;

typedef struct qlx_gif_frame_view {
    qlx_picture picture; /* the canvas after the frame; its bytes are the reader's,
                            good until the next call */
    int delay;           /* hundredths of a second, as the file gives it (0 without) */
} qlx_gif_frame_view;

/* Checks the GIF's structure from end to end (its signature, "GIF87a" or
   "GIF89a", its blocks, a frame or more and the trailer) and counts its
   frames; the pixels are decoded frame by frame. On failure *reader is
   left alone. */
QLX_USE_RESULT QLX_API qlx_status qlx_gif_reader_create(const uint8_t *gif, size_t gif_size, qlx_gif_reader **reader);
QLX_API qlx_gif_info qlx_gif_reader_info(const qlx_gif_reader *reader);

/* The next frame, composed; QLX_NO_MORE_FRAMES after the last. A refused
   frame ends the reading: every later call gives the same status. */
QLX_USE_RESULT QLX_API qlx_status qlx_gif_read_frame(qlx_gif_reader *reader, qlx_gif_frame_view *frame);

/* NULL is fine. */
QLX_API void qlx_gif_reader_destroy(qlx_gif_reader *reader);

#ifdef __cplusplus
}
#endif

#endif /* QLX_H */
