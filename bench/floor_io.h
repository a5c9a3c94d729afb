/* What the floor programs share: whole reads and writes, and buffers that
 * large pictures get on huge pages, as the converters' buffers do. */
#pragma once
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

static inline uint8_t* floor_allocate(size_t size) {
    const size_t huge_page = (size_t)2 << 20;
    if (size < huge_page) return malloc(size ? size : 1);
    void* block = NULL;
    const size_t rounded = (size + huge_page - 1) / huge_page * huge_page;
    if (posix_memalign(&block, huge_page, rounded) != 0) return NULL;
#ifdef MADV_HUGEPAGE
    madvise(block, rounded, MADV_HUGEPAGE);
#endif
    return block;
}

static inline int floor_read(int descriptor, uint8_t* buffer, size_t size) {
    while (size > 0) {
        const ssize_t count = read(descriptor, buffer, size);
        if (count <= 0) return 0;
        buffer += count;
        size -= (size_t)count;
    }
    return 1;
}

static inline int floor_write(const char* path, const uint8_t* bytes, size_t size) {
    const int output = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (output < 0) return 0;
    while (size > 0) {
        const ssize_t count = write(output, bytes, size);
        if (count <= 0) return 0;
        bytes += count;
        size -= (size_t)count;
    }
    return close(output) == 0;
}
