/* JPEG decoding through libjpeg-turbo, in C: its errors leave by longjmp,
   which must not cross C++ frames. */
#ifndef QLX_JPEG_READER_H
#define QLX_JPEG_READER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum jpeg_reader_status {
    JPEG_READER_OK = 0,
    JPEG_READER_CORRUPT = 1,   /* the reason says how */
    JPEG_READER_CUT_SHORT = 2, /* the data ends before the picture does */
    JPEG_READER_CMYK = 3,      /* CMYK or YCCK, which we do not convert */
    JPEG_READER_REFUSED = 4    /* the caller gave no buffer for these sides */
} jpeg_reader_status;

/* Asked for width * height * 3 bytes once the sides are known; NULL refuses. */
typedef uint8_t *(*jpeg_reader_allocate)(void *context, size_t width, size_t height);

/* Decodes baseline and progressive JPEG, colour or grey, to RGB with the
   accurate integer transform, so that a file gives the same pixels
   everywhere. `reason` receives libjpeg's text for a corrupt file. */
jpeg_reader_status jpeg_reader_decode(const uint8_t *file, size_t size, jpeg_reader_allocate allocate, void *context,
                                      char *reason, size_t reason_capacity);

#ifdef __cplusplus
}
#endif

#endif
