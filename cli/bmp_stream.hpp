#pragma once
// palquant's conversion: a BMP read a batch of rows at a time where it lies,
// quantised by the library's streaming quantiser, and its indices written as
// each batch is done, so that a picture of any size needs a few megabytes.

#include <cstdint>
#include <memory>
#include <span>

#include "expected.hpp"
#include "qlx.h"
#include "system_names.hpp"

namespace cli {

// A BMP opened for palquant: its first bytes for the header checks, and its
// pixels. A regular file is read where it lies, a batch at a time; any other
// input (a pipe) is read whole first.
class BmpSource {
public:
    // `file` must outlive the source.
    static IoResult<BmpSource> open(InputFile& file);

    // The first QLX_BMP_MAX_HEADERS_SIZE bytes, or the whole file if shorter.
    std::span<const std::uint8_t> headers() const;
    std::uint64_t file_size() const { return file_size_; }
    bool holds_whole_file() const { return whole_; }
    // `length` bytes from `offset` on: read into `buffer`, which holds
    // them, or where they already lie when the source holds the whole file.
    IoResult<const std::uint8_t*> read(std::uint64_t offset, std::size_t length, std::uint8_t* buffer);

private:
    BmpSource(InputFile& file, std::uint64_t file_size, Buffer contents, bool whole)
        : file_(&file), file_size_(file_size), contents_(std::move(contents)), whole_(whole) {}

    InputFile* file_;
    std::uint64_t file_size_;
    Buffer contents_;  // the headers' bytes, or the whole file
    bool whole_;
};

struct QuantiserDeleter {
    void operator()(qlx_quantiser* quantiser) const { qlx_quantiser_destroy(quantiser); }
};
using QuantiserHandle = std::unique_ptr<qlx_quantiser, QuantiserDeleter>;

enum class StreamError { read_failed, write_failed };

// The batches of a BMP's rows, in QLX order. Each is converted while the
// next is read and the last written, on a thread beside this one.
class BmpStream {
public:
    // Allocates every buffer, before the output is created: two batches of
    // pixels (none when the source holds the whole file) and of indices.
    static IoResult<BmpStream> create(const qlx_bmp_layout& layout, const BmpSource& source);

    common::Expected<void, StreamError> run(BmpSource& source, qlx_quantiser* quantiser, OutputFile& output);

private:
    struct Batch;
    BmpStream(const qlx_bmp_layout& layout, std::size_t rows_per_batch, Buffer pixels[2], Buffer indices[2]);
    Batch batch(std::size_t number) const;
    IoResult<const std::uint8_t*> read(BmpSource& source, const Batch& batch);
    qlx_status convert(qlx_quantiser* quantiser, const Batch& batch, const std::uint8_t* pixels);
    IoResult<> write(OutputFile& output, const Batch& batch);

    qlx_bmp_layout layout_;
    std::size_t rows_per_batch_;
    std::size_t batch_count_;
    Buffer pixels_[2], indices_[2];
};

}  // namespace cli
