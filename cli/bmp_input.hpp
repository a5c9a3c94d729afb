#pragma once
// palquant's input: a BMP read a batch of rows at a time where it lies.

#include <cstdint>

#include "byte_buffer.hpp"
#include "file_io.hpp"
#include "quantiser.hpp"

namespace pal {

// A BMP opened for palquant: its first bytes for the header checks and a
// reader for its pixels. A regular file is read where it lies, a batch at a
// time; any other input (a pipe) is read whole first.
struct BmpInput {
    ReadStatus status = ReadStatus::ok;
    std::uint64_t file_size = 0;
    qlx::ByteBuffer contents;  // the first bmp_max_headers_size bytes, or everything
    qlx::PixelReader read_pixels;
};
// `file` must outlive the reader.
BmpInput open_bmp_input(InputFile& file);

}  // namespace pal
