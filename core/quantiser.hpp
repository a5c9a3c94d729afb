#pragma once
// Quantising a picture a batch of rows at a time, from any source of bytes:
// a file the caller reads, or pixels already in memory.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "bmp_format.hpp"
#include "byte_buffer.hpp"
#include "dithering.hpp"
#include "qlx.h"

namespace qlx {

// Batches of about this many bytes: large enough that reading, writing and
// waking threads cost nothing per batch (1 MiB batches measured 2-9 % slower
// on large pictures, half a megabyte 3-17 %), small enough to stay in the
// last-level cache.
inline constexpr std::size_t batch_bytes = std::size_t{1} << 21;

struct QuantiseOptions {
    DitherOptions dither;
    int transparent_index = -1;  // -1, or the index of pixels whose alpha is below 128
    unsigned max_threads = 0;    // 0: one for each core, up to 8
};

// Gives out.size() bytes of the source from `offset` on: fills `out` and
// returns out.data(), or returns where the bytes already lie, so that a
// source in memory is not copied; nullptr if they cannot be had.
using PixelReader = std::function<const std::uint8_t*(std::uint64_t offset, std::span<std::uint8_t> out)>;
// Takes the next indices in QLX order; false if they cannot be written.
using IndexWriter = std::function<bool(std::span<const std::uint8_t> indices)>;

// How a run ended: converted, or which of the caller's callbacks failed.
enum class RunStatus { ok, read_failed, write_failed };

// Quantises a picture a batch of rows at a time, in QLX order (top row
// first), so that a picture of any size needs a few megabytes of buffers:
// two batches, so that the next can be read while this one is converted.
// Everything is allocated by create(), before anything is read. Rows of
// large pictures are shared among the processor's cores unless error
// diffusion chains each row to the one before: then another core converts
// them all while this one reads and writes. The bytes are the same whatever
// the number of cores.
class BmpQuantiser {
public:
    struct Created;
    // QLX_BMP_TOO_LARGE when a batch does not fit this machine's memory
    // sizes, QLX_OUT_OF_MEMORY when it cannot be had.
    static Created create(const PixelLayout& layout, const QuantiseOptions& options = {});

    RunStatus run(const PixelReader& read, const IndexWriter& write);

private:
    struct Buffers {
        ByteBuffer pixels, indices;
    };
    BmpQuantiser(const PixelLayout& layout, std::size_t rows_per_batch, std::array<Buffers, 2> buffers,
                 std::vector<Ditherer> ditherers, bool converts_aside);
    // QLX rows [first, first + count), whose pixels from stored row
    // lowest_stored on are read into buffers_[buffer].pixels (or lie at
    // `pixels` already), converted into its indices.
    struct Batch {
        std::size_t first, count, lowest_stored, buffer;
        const std::uint8_t* pixels = nullptr;
    };
    Batch batch_from(std::size_t first, std::size_t buffer) const;
    // Where the batch's pixels lie once read; nullptr if they cannot be.
    const std::uint8_t* read_batch(const PixelReader& read, const Batch& batch);
    void quantise_rows(Ditherer& ditherer, const Batch& batch, std::size_t begin, std::size_t end);

    PixelLayout layout_;
    std::size_t rows_per_batch_;
    std::array<Buffers, 2> buffers_;
    std::vector<Ditherer> ditherers_;  // one for each converting thread
    bool converts_aside_;              // one helper converts while this thread reads and writes
};

struct BmpQuantiser::Created {
    qlx_status status = QLX_OK;
    std::optional<BmpQuantiser> quantiser;
};

// A PixelReader's work on bytes in memory: where `length` bytes from
// `offset` lie in `bytes`, or nullptr where a file of those bytes would end.
const std::uint8_t* bytes_in_memory(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::size_t length);

// Quantises a picture held whole in memory into `indices`, which must hold
// width * height bytes, reading only inside `source`: pixels past its end
// give QLX_BMP_PIXEL_DATA_CUT_SHORT, as a short file would.
qlx_status quantise_in_memory(std::span<const std::uint8_t> source, const PixelLayout& layout,
                              std::span<std::uint8_t> indices, const QuantiseOptions& options = {});

}  // namespace qlx
