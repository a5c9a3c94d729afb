#include "bmp_stream.hpp"

#include <algorithm>
#include <future>
#include <utility>

namespace cli {
namespace {

// Batches of about this many bytes of pixels: large enough that reading,
// writing and waking threads cost nothing per batch (1 MiB batches measured
// 2-9 % slower on large pictures, half a megabyte 3-17 %), small enough to
// stay in the last-level cache.
constexpr std::uint64_t batch_bytes = std::uint64_t{1} << 21;

// Runs `beside` on a thread of its own while `here` runs on this one, or
// on this one afterwards where no thread can be had.
template <class Beside, class Here>
void run_together(Beside& beside, Here&& here) {
    std::future<void> done;
    try {
        done = std::async(std::launch::async, [&beside] { beside(); });
    } catch (...) {
        // No thread: the same work, one after the other.
    }
    here();
    if (done.valid()) {
        done.get();
    } else {
        beside();
    }
}

// A 64-bit size as a memory size, or none where size_t is narrower (32-bit
// builds) and cannot hold it.
IoResult<std::size_t> size_in_memory(std::uint64_t size) {
    if (size > SIZE_MAX) return failure(IoError::out_of_memory);
    return static_cast<std::size_t>(size);
}

}  // namespace

IoResult<BmpSource> BmpSource::open(InputFile& file) {
    if (const std::optional<std::uint64_t> size = file.regular_size()) {
        IoResult<Buffer> headers =
            Buffer::allocate(static_cast<std::size_t>(std::min<std::uint64_t>(*size, QLX_BMP_MAX_HEADERS_SIZE)));
        if (!headers) return failure(headers.error());
        if (const IoResult<> read = file.read_at(0, headers->bytes()); !read) return failure(read.error());
        return BmpSource(file, *size, std::move(*headers), false);
    }
    IoResult<Buffer> whole = file.read_all();
    if (!whole) return failure(whole.error());
    const std::uint64_t size = whole->size();
    return BmpSource(file, size, std::move(*whole), true);
}

std::span<const std::uint8_t> BmpSource::headers() const {
    return contents_.bytes().first(std::min<std::size_t>(contents_.size(), QLX_BMP_MAX_HEADERS_SIZE));
}

IoResult<const std::uint8_t*> BmpSource::read(std::uint64_t offset, std::size_t length, std::uint8_t* buffer) {
    if (whole_) {
        // The layout's checks put every row inside the file.
        if (offset > contents_.size() || length > contents_.size() - offset) return failure(IoError::failed);
        return contents_.data() + offset;
    }
    if (const IoResult<> read = file_->read_at(offset, {buffer, length}); !read) return failure(read.error());
    return buffer;
}

// QLX rows [first, first + count), which lie in one run of stored rows from
// lowest_stored on, read into and converted from buffer `slot`.
struct BmpStream::Batch {
    std::size_t first, count, lowest_stored, slot;
};

IoResult<BmpStream> BmpStream::create(const qlx_bmp_layout& layout, const BmpSource& source) {
    const std::uint64_t stride = std::max<std::uint64_t>(1, layout.row_stride);
    const std::uint64_t rows = std::min<std::uint64_t>(std::max<std::uint64_t>(1, batch_bytes / stride), layout.height);
    // Below 2^64: a batch is one row, or about batch_bytes.
    const IoResult<std::size_t> pixel_bytes = size_in_memory(source.holds_whole_file() ? 0 : rows * layout.row_stride);
    const IoResult<std::size_t> index_bytes = size_in_memory(rows * layout.width);
    if (!pixel_bytes || !index_bytes) return failure(IoError::out_of_memory);
    // A picture of one batch needs no second buffer to read ahead into.
    Buffer pixels[2], indices[2];
    for (std::size_t slot = 0; slot < (rows < layout.height ? 2u : 1u); ++slot) {
        IoResult<Buffer> batch_pixels = Buffer::allocate(*pixel_bytes);
        IoResult<Buffer> batch_indices = Buffer::allocate(*index_bytes);
        if (!batch_pixels || !batch_indices) return failure(IoError::out_of_memory);
        pixels[slot] = std::move(*batch_pixels);
        indices[slot] = std::move(*batch_indices);
    }
    return BmpStream(layout, static_cast<std::size_t>(rows), pixels, indices);
}

BmpStream::BmpStream(const qlx_bmp_layout& layout, std::size_t rows_per_batch, Buffer pixels[2], Buffer indices[2])
    : layout_(layout),
      rows_per_batch_(rows_per_batch),
      batch_count_(rows_per_batch == 0 ? 0 : (layout.height + rows_per_batch - 1) / rows_per_batch),
      pixels_{std::move(pixels[0]), std::move(pixels[1])},
      indices_{std::move(indices[0]), std::move(indices[1])} {}

BmpStream::Batch BmpStream::batch(std::size_t number) const {
    const std::size_t first = number * rows_per_batch_;
    const std::size_t count = std::min(rows_per_batch_, layout_.height - first);
    return {first, count, layout_.top_down ? first : layout_.height - first - count, number % 2};
}

IoResult<const std::uint8_t*> BmpStream::read(BmpSource& source, const Batch& batch) {
    // Fits: create() checked that a batch of rows does. The padding after
    // the run's last row may be missing at the end of the file.
    const auto stride = static_cast<std::size_t>(layout_.row_stride);
    const std::size_t length = (batch.count - 1) * stride + layout_.width * qlx_pixel_bytes(QLX_BGR);
    return source.read(layout_.pixel_offset + batch.lowest_stored * layout_.row_stride, length,
                       pixels_[batch.slot].data());
}

qlx_status BmpStream::convert(qlx_quantiser* quantiser, const Batch& batch, const std::uint8_t* pixels) {
    const auto stride = static_cast<std::size_t>(layout_.row_stride);
    std::uint8_t* const indices = indices_[batch.slot].data();
    const std::size_t capacity = indices_[batch.slot].size();
    return layout_.top_down
               ? qlx_quantiser_convert(quantiser, pixels, batch.count, stride, indices, capacity)
               : qlx_quantiser_convert_bottom_up(quantiser, pixels, batch.count, stride, indices, capacity);
}

IoResult<> BmpStream::write(OutputFile& output, const Batch& batch) {
    return output.write(indices_[batch.slot].bytes().first(batch.count * layout_.width));
}

common::Expected<void, StreamError> BmpStream::run(BmpSource& source, qlx_quantiser* quantiser, OutputFile& output) {
    if (batch_count_ == 0) return {};
    IoResult<const std::uint8_t*> pixels = read(source, batch(0));
    if (!pixels) return common::failure(StreamError::read_failed);
    for (std::size_t number = 0; number < batch_count_; ++number) {
        const bool last = number + 1 == batch_count_;
        IoResult<const std::uint8_t*> next = pixels;
        IoResult<> written;
        auto read_next_and_write_last = [&] {
            if (!last) next = read(source, batch(number + 1));
            if (number > 0) written = write(output, batch(number - 1));
        };
        // The layout and the quantiser were made for these very rows, so
        // the library refuses nothing here.
        qlx_status converted = QLX_OK;
        auto convert_this = [&] { converted = convert(quantiser, batch(number), *pixels); };
        if (batch_count_ == 1) {
            convert_this();
        } else {
            run_together(read_next_and_write_last, convert_this);
        }
        if (!next) return common::failure(StreamError::read_failed);
        if (!written || converted != QLX_OK) return common::failure(StreamError::write_failed);
        pixels = next;
    }
    if (!write(output, batch(batch_count_ - 1))) return common::failure(StreamError::write_failed);
    return {};
}

}  // namespace cli
