// GIF through the library's reader, which composes every frame as browsers
// do: a still reads the first frame, an animation each in turn.

#include <cstring>
#include <memory>

#include "decoding.hpp"
#include "frames.hpp"

namespace qlxcmd {
namespace {

struct ReaderCloser {
    void operator()(qlx_gif_reader* reader) const { qlx_gif_reader_destroy(reader); }
};
using GifReader = std::unique_ptr<qlx_gif_reader, ReaderCloser>;

Outcome<GifReader> open_reader(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    qlx_gif_reader* made = nullptr;
    if (const qlx_status status = qlx_gif_reader_create(file.data(), file.size(), &made); status != QLX_OK) {
        return refusal(status);
    }
    GifReader reader(made);
    const qlx_gif_info info = qlx_gif_reader_info(reader.get());
    if (auto allowed = check_pixel_count(info.width, info.height, settings); !allowed) return refusal(allowed.error());
    return reader;
}

class GifFrames final : public FrameSource {
public:
    GifFrames(sys::Buffer file, GifReader reader) : file_(std::move(file)), reader_(std::move(reader)) {
        const qlx_gif_info info = qlx_gif_reader_info(reader_.get());
        width_ = info.width, height_ = info.height, frame_count_ = info.frame_count, loop_ = info.loop;
    }
    Outcome<FrameView> next() override {
        qlx_gif_frame_view view{};
        if (const qlx_status status = qlx_gif_read_frame(reader_.get(), &view); status != QLX_OK) {
            return refusal(status);
        }
        return FrameView{view.picture, view.delay};
    }

private:
    sys::Buffer file_;  // the reader reads it
    GifReader reader_;
};

// A copy of the library's view of a canvas, for a still picture.
Outcome<Picture> copied(const qlx_picture& view) {
    const std::size_t pixels = view.width * view.height;
    if (view.palette == nullptr) {
        auto colours = allocate(4 * pixels);
        if (!colours) return refusal(colours.error());
        std::memcpy(colours->data(), view.pixels, 4 * pixels);
        return single_frame(view.width, view.height, Colours{QLX_RGBA, std::move(*colours)});
    }
    PaletteIndices stored{our_palette(), {}, {}};
    auto indices = allocate(pixels);
    auto mask = allocate(pixels);
    if (!indices || !mask) return refusal("not enough memory");
    std::memcpy(indices->data(), view.pixels, pixels);
    std::memcpy(mask->data(), view.stored, pixels);
    stored.indices = std::move(*indices);
    stored.stored = std::move(*mask);
    return single_frame(view.width, view.height, std::move(stored));
}

}  // namespace

Outcome<Picture> decode_gif(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    auto reader = open_reader(file, settings);
    if (!reader) return refusal(reader.error());
    qlx_gif_frame_view view{};
    if (const qlx_status status = qlx_gif_read_frame(reader->get(), &view); status != QLX_OK) return refusal(status);
    return copied(view.picture);
}

Outcome<Frames> open_gif(sys::Buffer& file, const DecodeSettings& settings) {
    auto reader = open_reader(file.bytes(), settings);
    if (!reader) return refusal(reader.error());
    return Frames(std::make_unique<GifFrames>(std::move(file), std::move(*reader)));
}

}  // namespace qlxcmd
