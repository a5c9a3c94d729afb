#include "conversion.hpp"

#include <algorithm>
#include <utility>

#include "messages.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"

namespace pal {
namespace {

// Below this many pixels filling table cells costs more than it saves.
constexpr std::size_t table_min_pixels = std::size_t{1} << 20;
// Rows are read and written in batches of about this many bytes: large
// enough that system calls cost nothing, small enough to stay in cache.
constexpr std::uint64_t batch_bytes = std::uint64_t{1} << 20;

}  // namespace

std::optional<BmpQuantiser> BmpQuantiser::create(const BmpLayout& layout, const DitherOptions& dither,
                                                 NearestColourGrid* grid) {
    const std::uint64_t rows = std::max<std::uint64_t>(1, batch_bytes / std::max<std::uint64_t>(1, layout.row_stride));
    const std::uint64_t rows_per_batch = std::min<std::uint64_t>(rows, layout.height);
    // Below 2^64: a batch is one row, or about batch_bytes.
    const std::optional<std::size_t> pixel_bytes = size_in_memory(rows_per_batch * layout.row_stride);
    const std::optional<std::size_t> index_bytes = size_in_memory(rows_per_batch * layout.width);
    if (!pixel_bytes || !index_bytes) return std::nullopt;
    std::optional<ByteBuffer> pixels = ByteBuffer::allocate(*pixel_bytes);
    std::optional<ByteBuffer> indices = ByteBuffer::allocate(*index_bytes);
    std::optional<Ditherer> ditherer = Ditherer::create(dither, layout.width);
    if (!pixels || !indices || !ditherer) return std::nullopt;
    std::optional<NearestColourTable> table;
    if (std::uint64_t{layout.width} * layout.height >= table_min_pixels) table = NearestColourTable::create();  // else the grid
    return BmpQuantiser(layout, static_cast<std::size_t>(rows_per_batch), std::move(*pixels), std::move(*indices),
                        std::move(*ditherer), std::move(table), grid);
}

BmpQuantiser::BmpQuantiser(const BmpLayout& layout, std::size_t rows_per_batch, ByteBuffer pixels, ByteBuffer indices,
                           Ditherer ditherer, std::optional<NearestColourTable> table, NearestColourGrid* grid)
    : layout_(layout),
      rows_per_batch_(rows_per_batch),
      pixels_(std::move(pixels)),
      indices_(std::move(indices)),
      ditherer_(std::move(ditherer)),
      table_(std::move(table)),
      own_grid_(grid == nullptr ? std::make_unique<NearestColourGrid>() : nullptr),
      grid_(grid == nullptr ? own_grid_.get() : grid) {}

QuantiseStatus BmpQuantiser::run(const PixelReader& read, const IndexWriter& write) {
    return table_ ? run_with(*table_, read, write) : run_with(*grid_, read, write);
}

template <class Search>
QuantiseStatus BmpQuantiser::run_with(Search& search, const PixelReader& read, const IndexWriter& write) {
    const std::size_t width = layout_.width;
    const std::size_t height = layout_.height;
    // Fits: create() checked that a batch of rows does.
    const std::size_t stride = static_cast<std::size_t>(layout_.row_stride);
    for (std::size_t first = 0; first < height; first += rows_per_batch_) {
        // QLX rows [first, first + count) lie in one run of stored rows.
        const std::size_t count = std::min(rows_per_batch_, height - first);
        const std::size_t lowest_stored = layout_.top_down ? first : height - first - count;
        // The padding after the run's last row may be missing at the end of the file.
        const std::size_t length = (count - 1) * stride + width * bytes_per_pixel;
        if (!read(layout_.pixel_offset + lowest_stored * layout_.row_stride, pixels_.bytes().first(length))) {
            return QuantiseStatus::read_failed;
        }
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t stored = layout_.top_down ? first + i : flipped_row(first + i, height);
            ditherer_.quantise_row(search, pixels_.data() + (stored - lowest_stored) * stride, first + i,
                                   indices_.data() + i * width);
        }
        if (!write(indices_.bytes().first(count * width))) return QuantiseStatus::write_failed;
    }
    return QuantiseStatus::ok;
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
                            const DitherOptions& dither, NearestColourGrid* grid) {
    std::optional<BmpQuantiser> quantiser = BmpQuantiser::create(layout, dither, grid);
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

bool expand_qlx(std::span<const std::uint8_t> indices, std::size_t width, std::size_t height, const ByteWriter& write) {
    // Sides are at most 16384, so a row fits in size_t everywhere.
    const auto stride = static_cast<std::size_t>(padded_row_bytes(width));
    const std::size_t rows_per_batch =
        std::max<std::size_t>(1, std::min(static_cast<std::size_t>(batch_bytes) / stride, height));
    std::optional<ByteBuffer> buffer = ByteBuffer::allocate(bmp_headers_size + rows_per_batch * stride);
    if (!buffer) return false;
    const auto headers = expanded_bmp_headers(width, height);
    std::copy(headers.begin(), headers.end(), buffer->data());
    std::size_t filled = bmp_headers_size;
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* index = indices.data() + flipped_row(row, height) * width;
        std::uint8_t* out = buffer->data() + filled;
        for (std::size_t column = 0; column < width; ++column) {
            const Colour colour = palette_colour(index[column]);
            *out++ = colour.blue;
            *out++ = colour.green;
            *out++ = colour.red;
        }
        std::fill(out, buffer->data() + filled + stride, std::uint8_t{0});
        filled += stride;
        if (filled + stride > buffer->size()) {
            if (!write(buffer->bytes().first(filled))) return false;
            filled = 0;
        }
    }
    return filled == 0 || write(buffer->bytes().first(filled));
}

std::string qlx_too_short_message(std::size_t picture_bytes) {
    return "qlxfile is shorter than " + std::to_string(picture_bytes) + " bytes\n";
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
