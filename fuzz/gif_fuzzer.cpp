// Reads any bytes as a GIF through the library, every frame of it, as a
// careless file would reach it: every call returns a status, never reads
// past the bytes it was given, and a reader that refused a frame refuses
// every later one. Each frame read is written again by the library's GIF
// writer and read back: a frame of indices must come back exactly.
//
//   build-fuzz/bin/gif_fuzzer -max_total_time=60 -max_len=65536 fuzz/corpus/gif
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "qlx.h"

namespace {

// Canvases past this are read only as far as their structure: a small file
// may declare a canvas of four billion pixels.
constexpr std::size_t most_pixels = std::size_t{1} << 20;

struct ReaderCloser {
    void operator()(qlx_gif_reader* reader) const { qlx_gif_reader_destroy(reader); }
};
using Reader = std::unique_ptr<qlx_gif_reader, ReaderCloser>;

// One frame of indices written as a GIF of one frame and read back.
void round_trip(const std::uint8_t* indices, std::size_t width, std::size_t height) {
    const std::size_t bound = qlx_gif_frame_bound(width, height);
    if (bound == 0) return;
    std::vector<std::uint8_t> gif(QLX_GIF_START_SIZE + bound + 1);
    std::size_t start = 0, frame = 0;
    if (qlx_gif_start(width, height, 0, gif.data(), gif.size(), &start) != QLX_OK) __builtin_trap();
    if (qlx_gif_frame(indices, nullptr, width, height, 5, -1, gif.data() + start, bound, &frame) != QLX_OK) {
        __builtin_trap();
    }
    gif[start + frame] = QLX_GIF_TRAILER;
    gif.resize(start + frame + 1);
    qlx_gif_reader* made = nullptr;
    if (qlx_gif_reader_create(gif.data(), gif.size(), &made) != QLX_OK) __builtin_trap();
    Reader reader(made);
    qlx_gif_frame_view view{};
    if (qlx_gif_read_frame(reader.get(), &view) != QLX_OK || view.picture.palette == nullptr ||
        std::memcmp(view.picture.pixels, indices, width * height) != 0) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The bytes in a buffer of their own size, so that a stray read is seen.
    const std::vector<std::uint8_t> bytes(data, data + size);
    qlx_gif_reader* made = nullptr;
    if (qlx_gif_reader_create(bytes.data(), bytes.size(), &made) != QLX_OK) return 0;
    Reader reader(made);
    const qlx_gif_info info = qlx_gif_reader_info(reader.get());
    if (info.frame_count == 0 || info.width == 0 || info.height == 0) __builtin_trap();
    if (info.width * info.height > most_pixels) return 0;
    qlx_status status = QLX_OK;
    for (std::size_t frame = 0; frame <= info.frame_count; ++frame) {
        qlx_gif_frame_view view{};
        status = qlx_gif_read_frame(reader.get(), &view);
        if (status != QLX_OK) break;
        if (frame == info.frame_count) __builtin_trap();  // one frame more than counted
        if (view.picture.width != info.width || view.picture.height != info.height) __builtin_trap();
        if (view.picture.palette != nullptr) round_trip(view.picture.pixels, info.width, info.height);
    }
    qlx_gif_frame_view view{};
    if (qlx_gif_read_frame(reader.get(), &view) != status) __builtin_trap();
    return 0;
}
