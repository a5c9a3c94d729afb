#pragma once
// palexpand's conversion: the BMP of a QLX picture, written a batch of rows
// at a time from the library's headers and rows.

#include <cstddef>
#include <cstdint>
#include <span>

#include "system_names.hpp"

namespace cli {

class BmpWriter {
public:
    // Sides the library writes a BMP for (1 to QLX_MAX_BMP_SIDE); fails only
    // when the memory for a batch cannot be had.
    static IoResult<BmpWriter> create(std::size_t width, std::size_t height);

    // Writes the BMP of the first width * height `indices`, which must be there.
    IoResult<> write(std::span<const std::uint8_t> indices, OutputFile& output);

private:
    BmpWriter(std::size_t width, std::size_t height, std::size_t rows_per_batch, Buffer batch)
        : width_(width), height_(height), rows_per_batch_(rows_per_batch), batch_(std::move(batch)) {}

    std::size_t width_, height_, rows_per_batch_;
    Buffer batch_;  // the headers, then a batch of rows
};

}  // namespace cli
