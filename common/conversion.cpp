#include "conversion.hpp"

#include <algorithm>
#include <exception>
#include <thread>
#include <utility>

#include "messages.hpp"

namespace pal {
namespace {

// From this many pixels on, the 16 MiB table pays for itself.
constexpr std::uint64_t table_min_pixels = std::uint64_t{1} << 20;
// Beyond this many threads the memory bus, not the cores, sets the pace.
constexpr unsigned max_useful_threads = 8;

// Threads help where every pixel waits for memory, in pictures of scattered
// colours, which need the whole table; Floyd-Steinberg chains each row to
// the one before, so it keeps to one.
unsigned thread_count(const DitherOptions& dither, unsigned max_threads) {
    if (dither.method == DitherMethod::floyd_steinberg) return 1;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return std::min({cores, max_threads == 0 ? max_useful_threads : max_threads, max_useful_threads});
}

// Judged from up to eight rows spread over the batch.
bool batch_looks_scattered(const std::uint8_t* pixels, std::size_t rows, std::size_t stride, std::size_t width) {
    const std::size_t samples = std::min<std::size_t>(rows, 8);
    std::size_t scattered = 0;
    for (std::size_t i = 0; i < samples; ++i) {
        scattered += row_looks_scattered(pixels + i * rows / samples * stride, width);
    }
    return 2 * scattered > samples;
}

}  // namespace

std::optional<BmpQuantiser> BmpQuantiser::create(const BmpLayout& layout, const DitherOptions& dither,
                                                 unsigned max_threads) {
    const std::uint64_t rows = std::max<std::uint64_t>(1, std::uint64_t{batch_bytes} / std::max<std::uint64_t>(1, layout.row_stride));
    const std::uint64_t rows_per_batch = std::min<std::uint64_t>(rows, layout.height);
    // Below 2^64: a batch is one row, or about batch_bytes.
    const std::optional<std::size_t> pixel_bytes = size_in_memory(rows_per_batch * layout.row_stride);
    const std::optional<std::size_t> index_bytes = size_in_memory(rows_per_batch * layout.width);
    if (!pixel_bytes || !index_bytes) return std::nullopt;
    std::optional<ByteBuffer> pixels = ByteBuffer::allocate(*pixel_bytes);
    std::optional<ByteBuffer> indices = ByteBuffer::allocate(*index_bytes);
    if (!pixels || !indices) return std::nullopt;
    // Without its 16 MiB a large picture is still converted, from the built-in table.
    std::optional<NearestColourTable> table;
    if (std::uint64_t{layout.width} * layout.height >= table_min_pixels) table = NearestColourTable::create();
    std::vector<Ditherer> ditherers;
    for (unsigned i = table ? thread_count(dither, max_threads) : 1; i > 0; --i) {
        std::optional<Ditherer> ditherer = Ditherer::create(dither, layout.width);
        if (!ditherer) return std::nullopt;
        ditherers.push_back(std::move(*ditherer));
    }
    return BmpQuantiser(layout, static_cast<std::size_t>(rows_per_batch), std::move(*pixels), std::move(*indices),
                        std::move(table), std::move(ditherers));
}

BmpQuantiser::BmpQuantiser(const BmpLayout& layout, std::size_t rows_per_batch, ByteBuffer pixels, ByteBuffer indices,
                           std::optional<NearestColourTable> table, std::vector<Ditherer> ditherers)
    : layout_(layout),
      rows_per_batch_(rows_per_batch),
      pixels_(std::move(pixels)),
      indices_(std::move(indices)),
      table_(std::move(table)),
      ditherers_(std::move(ditherers)) {}

QuantiseStatus BmpQuantiser::run(const PixelReader& read, const IndexWriter& write) {
    const std::size_t width = layout_.width;
    const std::size_t height = layout_.height;
    // Fits: create() checked that a batch of rows does.
    const std::size_t stride = static_cast<std::size_t>(layout_.row_stride);
    bool parallel = false;
    for (std::size_t first = 0; first < height; first += rows_per_batch_) {
        // QLX rows [first, first + count) lie in one run of stored rows.
        const std::size_t count = std::min(rows_per_batch_, height - first);
        const std::size_t lowest_stored = layout_.top_down ? first : height - first - count;
        // The padding after the run's last row may be missing at the end of the file.
        const std::size_t length = (count - 1) * stride + width * bytes_per_pixel;
        if (!read(layout_.pixel_offset + lowest_stored * layout_.row_stride, pixels_.bytes().first(length))) {
            return QuantiseStatus::read_failed;
        }
        const Batch batch{first, count, lowest_stored};
        if (first == 0 && table_ && ditherers_.size() > 1 && batch_looks_scattered(pixels_.data(), count, stride, width)) {
            // Such a picture touches every cell soon anyway.
            table_->fill(static_cast<unsigned>(ditherers_.size()));
            parallel = true;
        }
        if (parallel) {
            quantise_in_parallel(batch);
        } else if (table_) {
            quantise_rows(*table_, ditherers_[0], batch, first, first + count);
        } else {
            BuiltInSearch built_in;
            quantise_rows(built_in, ditherers_[0], batch, first, first + count);
        }
        if (!write(indices_.bytes().first(count * width))) return QuantiseStatus::write_failed;
    }
    return QuantiseStatus::ok;
}

// Each thread takes an equal run of the batch's rows; a thread that cannot be
// started leaves its rows to this one. The table is filled, so the threads
// only read it.
void BmpQuantiser::quantise_in_parallel(const Batch& batch) {
    const std::size_t shares = ditherers_.size();
    const auto share_start = [&](std::size_t share) { return batch.first + batch.count * share / shares; };
    std::vector<std::jthread> helpers;
    for (std::size_t share = 1; share < shares; ++share) {
        const auto rows = [=, this] {
            quantise_rows(*table_, ditherers_[share], batch, share_start(share), share_start(share + 1));
        };
        try {
            helpers.emplace_back(rows);
        } catch (const std::exception&) {
            rows();
        }
    }
    quantise_rows(*table_, ditherers_[0], batch, batch.first, share_start(1));
}

// QLX rows [begin, end) of the batch.
template <class Search>
void BmpQuantiser::quantise_rows(Search& search, Ditherer& ditherer, const Batch& batch, std::size_t begin,
                                 std::size_t end) {
    const std::size_t width = layout_.width;
    const auto stride = static_cast<std::size_t>(layout_.row_stride);
    for (std::size_t row = begin; row < end; ++row) {
        const std::size_t stored = layout_.top_down ? row : flipped_row(row, layout_.height);
        ditherer.quantise_row(search, pixels_.data() + (stored - batch.lowest_stored) * stride, row,
                              indices_.data() + (row - batch.first) * width);
    }
}

namespace {

// Fills `out` from `bytes` at `offset`, or fails where a file would end.
bool read_from_memory(std::span<const std::uint8_t> bytes, std::uint64_t offset, std::span<std::uint8_t> out) {
    if (offset > bytes.size() || out.size() > bytes.size() - offset) return false;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), out.size(), out.begin());
    return true;
}

}  // namespace

QuantiseStatus quantise_bmp(std::span<const std::uint8_t> file, const BmpLayout& layout, std::span<std::uint8_t> indices,
                            const DitherOptions& dither, unsigned max_threads) {
    std::optional<BmpQuantiser> quantiser = BmpQuantiser::create(layout, dither, max_threads);
    if (!quantiser) return QuantiseStatus::out_of_memory;
    std::size_t written = 0;
    return quantiser->run([file](std::uint64_t offset, std::span<std::uint8_t> out) {
        return read_from_memory(file, offset, out);
    },
        [&](std::span<const std::uint8_t> batch) {
            if (batch.size() > indices.size() - written) return false;
            std::copy(batch.begin(), batch.end(), indices.begin() + static_cast<std::ptrdiff_t>(written));
            written += batch.size();
            return true;
        });
}

BmpInput open_bmp_input(InputFile& file) {
    BmpInput input;
    if (const std::optional<std::uint64_t> size = file.regular_size()) {
        input.file_size = *size;
        std::optional<ByteBuffer> headers =
            ByteBuffer::allocate(static_cast<std::size_t>(std::min<std::uint64_t>(*size, bmp_max_headers_size)));
        if (!headers) return {ReadStatus::out_of_memory, 0, {}, {}};
        if (!file.read_at(0, headers->bytes())) return {ReadStatus::read_failed, 0, {}, {}};
        input.contents = std::move(*headers);
        input.read_pixels = [&file](std::uint64_t offset, std::span<std::uint8_t> out) {
            return file.read_at(offset, out);
        };
        return input;
    }
    ReadResult whole = file.read_all();
    if (whole.status != ReadStatus::ok) return {whole.status, 0, {}, {}};
    input.file_size = whole.bytes.size();
    input.contents = std::move(whole.bytes);
    input.read_pixels = [contents = input.contents.bytes()](std::uint64_t offset, std::span<std::uint8_t> out) {
        return read_from_memory(contents, offset, out);
    };
    return input;
}

const char* bmp_error_message(BmpError error) {
    switch (error) {
        case BmpError::none: break;
        case BmpError::headers_cut_short: return messages::bmp_headers_cut_short;
        case BmpError::not_24_bit: return messages::not_24_bit;
        case BmpError::info_header_too_short: return messages::bmp_info_header_too_short;
        case BmpError::negative_width: return messages::bmp_negative_width;
        case BmpError::height_out_of_range: return messages::bmp_height_out_of_range;
        case BmpError::compressed: return messages::bmp_compressed;
        case BmpError::pixel_offset_out_of_range: return messages::bmp_pixel_offset_out_of_range;
        case BmpError::pixel_data_cut_short: return messages::bmp_pixel_data_cut_short;
    }
    return "";
}

}  // namespace pal
