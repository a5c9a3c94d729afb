#pragma once
// Quantising a picture that arrives a batch of rows at a time: the object
// behind qlx_quantiser, and behind qlx_quantise and qlx_from_bmp, which hand
// it the whole picture as one batch.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

#include "dithering.hpp"
#include "memory.hpp"
#include "qlx.h"
#include "result.hpp"

namespace qlx {

struct QuantiseOptions {
    DitherOptions dither;
    int transparent_index = -1;  // -1, or the index of pixels whose alpha is below QLX_ALPHA_THRESHOLD
    unsigned max_threads = 0;    // 0: one for each core, up to max_quantising_threads
    // Pixels of a format with alpha blended over `background` (0xRRGGBB)
    // before anything else; never together with a transparent index.
    bool composite = false;
    std::uint32_t background = 0;
    int stable = 0;  // qlx_options.stable: 0, or the tolerance of frames held still
};

// A colour code blended over the background's, as the header states it.
constexpr std::uint8_t composited(unsigned code, unsigned alpha, unsigned background) {
    return static_cast<std::uint8_t>((code * alpha + background * (255 - alpha) + 127) / 255);
}

// A cap, so that a machine of many cores does not start dozens of threads
// to share a few rows.
inline constexpr unsigned max_quantising_threads = 8;

// The caller's options, checked: QLX_UNKNOWN_DITHER and the like for the
// first that is out of range. NULL means the defaults.
Result<QuantiseOptions> read_options(const qlx_options* given);

// A batch of rows in the caller's memory, `stride` bytes apart: top row
// first, or, bottom_up, the lowest row at `pixels` and each row above it
// `stride` bytes further on, as a BMP stores them.
struct BatchRows {
    const std::uint8_t* pixels = nullptr;
    std::size_t count = 0;
    std::size_t stride = 0;
    bool bottom_up = false;

    // Row k of the batch, counted from its top.
    const std::uint8_t* row(std::size_t k) const { return pixels + (bottom_up ? count - 1 - k : k) * stride; }
};

class RowCrew;

// Rows of a large picture are shared among the processor's cores unless
// error diffusion chains each row to the one before. Which thread converts
// a row never changes its bytes.
class Quantiser {
public:
    // QLX_OUT_OF_MEMORY when its rows cannot be had. The sides and options
    // are the caller's to check.
    // Stable frames pass their memory, which error diffusion reads and writes.
    static Result<std::unique_ptr<Quantiser>> create(std::size_t width, std::size_t height, qlx_pixel_format format,
                                                     const QuantiseOptions& options, const FrameMemory& memory = {});
    Quantiser(const Quantiser&) = delete;
    Quantiser& operator=(const Quantiser&) = delete;
    ~Quantiser();

    std::size_t width() const { return width_; }
    qlx_pixel_format format() const { return format_; }
    std::size_t rows_left() const { return height_ - next_row_; }

    // Converts the next batch.count rows (rows_left() at most, checked by
    // the caller) into batch.count * width indices.
    void convert(const BatchRows& batch, std::uint8_t* indices);
    // Counts rows that have no pixels: any rows of a picture 0 pixels wide.
    void skip_empty_rows(std::size_t count) { next_row_ += count; }

private:
    template <class T, class... Arguments>
    friend Result<std::unique_ptr<T>> allocate_object(Arguments&&... arguments);
    Quantiser(std::size_t width, std::size_t height, qlx_pixel_format format);
    void convert_rows(std::size_t thread, std::size_t begin, std::size_t end);
    // Row k of the batch over the background, as RGB in the thread's row.
    const std::uint8_t* composite_row(std::size_t thread, std::size_t k);

    std::size_t width_, height_;
    qlx_pixel_format format_;
    std::size_t next_row_ = 0;
    // One for each converting thread, the calling thread's first.
    std::array<std::optional<Ditherer>, max_quantising_threads> ditherers_;
    std::unique_ptr<RowCrew> crew_;  // none when the calling thread converts alone
    // When compositing: the background, and a row of RGB for each thread.
    bool composite_ = false;
    std::array<std::uint8_t, 3> background_{};
    std::array<std::unique_ptr<std::uint8_t[]>, max_quantising_threads> composited_rows_;
    // The batch in hand, which the crew's threads read between its start and its end.
    BatchRows batch_;
    std::uint8_t* indices_ = nullptr;
};

}  // namespace qlx
