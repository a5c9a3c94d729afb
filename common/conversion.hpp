#pragma once
// The two conversions.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "dithering.hpp"
#include "file_io.hpp"
#include "image_formats.hpp"

namespace pal {

// Both conversions read and write in batches of about this many bytes: large
// enough that system calls and waking threads cost nothing (1 MiB batches
// measured 2-9 % slower on large pictures, half a megabyte 3-17 %), small
// enough to stay in the last-level cache.
inline constexpr std::size_t batch_bytes = std::size_t{1} << 21;

// Fills `out` with the BMP's bytes from `offset` on; false if they cannot be had.
using PixelReader = std::function<bool(std::uint64_t offset, std::span<std::uint8_t> out)>;
// Takes the next indices in QLX order; false if they cannot be written.
using IndexWriter = std::function<bool(std::span<const std::uint8_t> indices)>;

enum class QuantiseStatus { ok, read_failed, write_failed, out_of_memory };

// Quantises a validated BMP a batch of rows at a time, in QLX order (top row
// first), so that a picture of any size needs a few megabytes of buffers:
// two batches, so that the next can be read while this one is converted.
// Everything is allocated by create(), before any output is opened. Rows of
// large pictures are shared among the processor's cores unless
// Floyd-Steinberg dithering chains each row to the one before; the bytes are
// the same whatever the number of cores.
class BmpQuantiser {
public:
    // Empty when the memory cannot be had. `max_threads` caps the threads a
    // picture is converted on; 0 means one for each core.
    static std::optional<BmpQuantiser> create(const BmpLayout& layout, const DitherOptions& dither = {},
                                              unsigned max_threads = 0);

    QuantiseStatus run(const PixelReader& read, const IndexWriter& write);

private:
    struct Buffers {
        ByteBuffer pixels, indices;
    };
    BmpQuantiser(const BmpLayout& layout, std::size_t rows_per_batch, std::array<Buffers, 2> buffers,
                 std::vector<Ditherer> ditherers);
    // QLX rows [first, first + count), read into buffers_[buffer].pixels
    // from stored row lowest_stored on, converted into its indices.
    struct Batch {
        std::size_t first, count, lowest_stored, buffer;
    };
    Batch batch_from(std::size_t first, std::size_t buffer) const;
    bool read_batch(const PixelReader& read, const Batch& batch);
    void quantise_rows(Ditherer& ditherer, const Batch& batch, std::size_t begin, std::size_t end);

    BmpLayout layout_;
    std::size_t rows_per_batch_;
    std::array<Buffers, 2> buffers_;
    std::vector<Ditherer> ditherers_;  // one for each thread
};

// Quantises a whole BMP held in memory into `indices` (width * height bytes),
// reading only inside `file`: pixels past its end fail the read, as they
// would from a short file.
QuantiseStatus quantise_bmp(std::span<const std::uint8_t> file, const BmpLayout& layout,
                            std::span<std::uint8_t> indices, const DitherOptions& dither = {},
                            unsigned max_threads = 0);

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
