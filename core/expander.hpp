#pragma once
// Expanding QLX indices to the palette colours of a BMP or of pixels.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "byte_buffer.hpp"
#include "qlx.h"
#include "quantiser.hpp"

namespace qlx {

// Takes the next bytes of an output; false if they cannot be written.
using ByteWriter = std::function<bool(std::span<const std::uint8_t> bytes)>;

// Writes the BMP of a QLX picture: the headers, then the rows bottom first,
// padded to 4 bytes, handed to the writer in batches of about batch_bytes.
// Everything is checked and allocated by create(), before anything is written.
class BmpExpander {
public:
    struct Created;
    // QLX_SIDE_OUT_OF_RANGE unless each side is 1 to QLX_MAX_BMP_SIDE;
    // QLX_OUT_OF_MEMORY when the batch cannot be had.
    static Created create(std::size_t width, std::size_t height);

    // QLX_INPUT_TOO_SHORT, writing nothing, when `indices` holds fewer than
    // width * height bytes; bytes after those are not read.
    qlx_status check_input(std::span<const std::uint8_t> indices) const;
    // Expands a checked input; false as soon as `write` fails.
    bool run(std::span<const std::uint8_t> indices, const ByteWriter& write);

private:
    BmpExpander(std::size_t width, std::size_t height, std::size_t rows_per_batch, ByteBuffer buffer)
        : width_(width), height_(height), rows_per_batch_(rows_per_batch), buffer_(std::move(buffer)) {}

    std::size_t width_, height_, rows_per_batch_;
    ByteBuffer buffer_;  // a batch of rows, with one byte of slack
};

struct BmpExpander::Created {
    qlx_status status = QLX_OK;
    std::optional<BmpExpander> expander;
};

// The palette colours of `width` indices as pixels of a known `format`, alpha 255.
void expand_row(const std::uint8_t* indices, std::size_t width, qlx_pixel_format format, std::uint8_t* pixels);

}  // namespace qlx
