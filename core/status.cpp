// The text of every status. A BMP refusal reads as palquant's message, which
// scripts match on, so those texts never change.
#include "qlx.h"

extern "C" QLX_API const char* qlx_status_text(qlx_status status) {
    switch (status) {
        case QLX_OK: return "ok";
        case QLX_BMP_HEADERS_CUT_SHORT: return "bmpfile headers are cut short";
        case QLX_BMP_NOT_24_BIT: return "the file is not 24bit bmp ";
        case QLX_BMP_INFO_HEADER_TOO_SHORT: return "bmpfile information header is too short";
        case QLX_BMP_NEGATIVE_WIDTH: return "bmpfile width is negative";
        case QLX_BMP_HEIGHT_OUT_OF_RANGE: return "bmpfile height is out of range";
        case QLX_BMP_COMPRESSED: return "bmpfile is compressed";
        case QLX_BMP_PIXEL_OFFSET_OUTSIDE_FILE: return "bmpfile pixel offset is outside the file";
        case QLX_BMP_PIXEL_DATA_CUT_SHORT: return "bmpfile pixel data is cut short";
        case QLX_BMP_TOO_LARGE: return "bmpfile is too large for memory";
        case QLX_NULL_POINTER: return "a pointer is NULL where bytes are needed";
        case QLX_SIZE_OVERFLOW: return "the picture's size overflows size_t";
        case QLX_SIDE_OUT_OF_RANGE: return "a side is 0 or larger than 16384";
        case QLX_STRIDE_TOO_SHORT: return "the stride is shorter than a row of pixels";
        case QLX_INPUT_TOO_SHORT: return "the input is shorter than width x height";
        case QLX_CAPACITY_TOO_SMALL: return "the output buffer is too small";
        case QLX_UNKNOWN_PIXEL_FORMAT: return "unknown pixel format";
        case QLX_UNKNOWN_DITHER: return "unknown dithering method";
        case QLX_STRENGTH_OUT_OF_RANGE: return "strength must be a whole number from 0 to 100";
        case QLX_TRANSPARENT_INDEX_OUT_OF_RANGE: return "transparent_index must be -1 or from 0 to 255";
        case QLX_THREADS_OUT_OF_RANGE: return "threads must not be negative";
        case QLX_UNKNOWN_OPTION: return "an option this version does not know is set";
        case QLX_UNKNOWN_FIT: return "unknown fit";
        case QLX_UNKNOWN_LIGHT: return "unknown light for dithering";
        case QLX_OUT_OF_MEMORY: return "out of memory";
        default: return "unknown status";
    }
}
