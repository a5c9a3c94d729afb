#pragma once
// The two conversions.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "dithering.hpp"
#include "file_io.hpp"
#include "image_formats.hpp"
#include "nearest_colour.hpp"

namespace pal {

// Fills `out` with the BMP's bytes from `offset` on; false if they cannot be had.
using PixelReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;
// Takes the next indices in QLX order; false if they cannot be written.
using IndexWriter = std::function<bool(std::span<const std::uint8_t> indices)>;

enum class QuantiseStatus { ok, read_failed, write_failed, out_of_memory };

// Quantises a validated BMP a batch of rows at a time, in QLX order (top row
// first), so that a picture of any size needs about a megabyte of buffers
// besides the search structures. Everything is allocated by create(), before
// any output is opened.
class BmpQuantiser {
public:
    // Empty when the memory cannot be had. Small pictures are searched with
    // `grid` when one is given: a caller that converts many pictures keeps
    // one, so that its cells are built once. Otherwise with a grid of its own.
    static std::optional<BmpQuantiser> create(const BmpLayout& layout, const DitherOptions& dither = {},
                                              NearestColourGrid* grid = nullptr);

    QuantiseStatus run(const PixelReader& read, const IndexWriter& write);

private:
    BmpQuantiser(const BmpLayout& layout, std::size_t rows_per_batch, ByteBuffer pixels, ByteBuffer indices,
                 Ditherer ditherer, std::optional<NearestColourTable> table, NearestColourGrid* grid);
    template <class Search>
    QuantiseStatus run_with(Search& search, const PixelReader& read, const IndexWriter& write);

    BmpLayout layout_;
    std::size_t rows_per_batch_;
    ByteBuffer pixels_;
    ByteBuffer indices_;
    Ditherer ditherer_;
    std::optional<NearestColourTable> table_;      // for large pictures
    std::unique_ptr<NearestColourGrid> own_grid_;  // on the heap, so grid_ survives a move
    NearestColourGrid* grid_;                      // for small ones
};

// Quantises a whole BMP held in memory into `indices` (width * height bytes),
// reading only inside `file`: pixels past its end fail the read, as they
// would from a short file.
QuantiseStatus quantise_bmp(std::span<const std::uint8_t> file, const BmpLayout& layout, std::span<std::uint8_t> indices,
                            const DitherOptions& dither = {}, NearestColourGrid* grid = nullptr);

// A BMP opened for palquant: its first bytes for the header checks and a
// reader for its pixels. A regular file is read where it lies, a batch at a
// time; any other input (a pipe) is read whole first.
struct BmpInput {
    ReadStatus status = ReadStatus::ok;
    std::uint64_t file_size = 0;
    ByteBuffer contents;  // the first bmp_max_headers_size bytes, or everything
    PixelReader read_pixels;
};
BmpInput open_bmp_input(InputFile& file);

// Takes the next bytes of an output; false if they cannot be written.
using ByteWriter = std::function<bool(std::span<const std::uint8_t> bytes)>;

// Writes the BMP of a QLX picture of width x height (indices holds at least
// width * height bytes): the headers, then the rows bottom first, padded to
// 4 bytes, handed to `write` in batches of about a megabyte. False when
// memory runs out or a write fails.
bool expand_qlx(std::span<const std::uint8_t> indices, std::size_t width, std::size_t height, const ByteWriter& write);

// "qlxfile is shorter than N bytes": a QLX file too short for its picture.
std::string qlx_too_short_message(std::size_t picture_bytes);

// The message that refuses a BMP for `error`.
const char* bmp_error_message(BmpError error);

}  // namespace pal
