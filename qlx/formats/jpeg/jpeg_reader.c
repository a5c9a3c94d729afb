#include "jpeg_reader.h"

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

/* After stdio.h, which jpeglib.h needs and does not include. */
#include <jpeglib.h>

/* After jpeglib.h, whose configuration says which codes it has. */
#include <jerror.h>

typedef struct reader_error {
    struct jpeg_error_mgr manager;
    jmp_buf escape;
    jpeg_reader_status status;
} reader_error;

static void leave(j_common_ptr info, jpeg_reader_status status) {
    reader_error *error = (reader_error *)info->err;
    error->status = status;
    longjmp(error->escape, 1);
}

/* libjpeg's state while it reads the header, before any scan (DSTATE_INHEADER
   of its internal header). */
enum { reading_header = 201 };

static void on_error(j_common_ptr info) { leave(info, JPEG_READER_CORRUPT); }

/* libjpeg warns of damaged entropy-coded data and carries on, filling or
   shifting what it cannot decode: every such warning is a refusal. Bytes
   between the header's segments are skipped harmlessly, but bytes left over
   once a scan has begun mean its data did not decode as it was written.
   Other warnings (an unusual JFIF version, a bad ICC profile) leave the
   pixels alone. */
static void on_message(j_common_ptr info, int level) {
    if (level >= 0) return;
    switch (info->err->msg_code) {
        case JWRN_JPEG_EOF: leave(info, JPEG_READER_CUT_SHORT); break;
        case JWRN_EXTRANEOUS_DATA:
            if (info->global_state != reading_header) leave(info, JPEG_READER_CORRUPT);
            break;
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
        case JWRN_TOO_MUCH_DATA: leave(info, JPEG_READER_CORRUPT); break;
        default: break;
    }
}

jpeg_reader_status jpeg_reader_decode(const uint8_t *file, size_t size, jpeg_reader_allocate allocate, void *context,
                                      char *reason, size_t reason_capacity) {
    struct jpeg_decompress_struct info;
    reader_error error;
    /* volatile: read after longjmp */
    uint8_t *volatile pixels = NULL;
    memset(&info, 0, sizeof info);
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = on_error;
    error.manager.emit_message = on_message;
    error.status = JPEG_READER_OK;
    if (reason_capacity > 0) reason[0] = '\0';
    if (setjmp(error.escape)) {
        if (error.status == JPEG_READER_CORRUPT && reason_capacity > 0) {
            /* Warnings of damage begin so; the caller says it once. */
            static const char prefix[] = "Corrupt JPEG data: ";
            char text[JMSG_LENGTH_MAX];
            error.manager.format_message((j_common_ptr)&info, text);
            snprintf(reason, reason_capacity, "%s",
                     strncmp(text, prefix, sizeof prefix - 1) == 0 ? text + sizeof prefix - 1 : text);
        }
        jpeg_destroy_decompress(&info);
        return error.status;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file, (unsigned long)size);
    jpeg_read_header(&info, TRUE);
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(&info);
        return JPEG_READER_CMYK;
    }
    info.out_color_space = JCS_RGB;
    info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&info);
    pixels = allocate(context, info.output_width, info.output_height);
    if (pixels == NULL) {
        jpeg_destroy_decompress(&info);
        return JPEG_READER_REFUSED;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + (size_t)info.output_scanline * info.output_width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return JPEG_READER_OK;
}
