#include "frames.hpp"

#include <cstring>

#include "decoding.hpp"
#include "file_io.hpp"
#include "formats.hpp"

namespace qlxcmd {
namespace {

std::string sides_text(std::size_t width, std::size_t height) {
    return std::to_string(width) + " × " + std::to_string(height);
}

class StillFrames final : public FrameSource {
public:
    explicit StillFrames(Picture picture) : picture_(std::move(picture)) {
        width_ = picture_.width, height_ = picture_.height;
    }
    Outcome<FrameView> next() override {
        if (picture_.frames.empty()) return refusal("the picture has no frames");
        view_ = library_picture(picture_, picture_.frames.front());
        return FrameView{view_.picture, std::nullopt};
    }

private:
    Picture picture_;
    LibraryPicture view_;
};

// Each file one frame, opened when its frame is asked for.
class SequenceFrames final : public FrameSource {
public:
    SequenceFrames(std::vector<std::string> inputs, const DecodeSettings& settings, Frames first)
        : inputs_(std::move(inputs)), settings_(settings), current_(std::move(first)) {
        width_ = current_->width(), height_ = current_->height(), frame_count_ = inputs_.size();
    }
    Outcome<FrameView> next() override {
        if (next_ > 0) {
            auto opened = open_still(inputs_[next_], settings_);
            if (!opened) return refusal(opened.error());
            current_ = std::move(*opened);
        }
        const std::string& name = inputs_[next_++];
        auto frame = current_->next();
        if (!frame) return refusal(name + ": " + frame.error().text());
        return frame;
    }

    // A file of the sequence: a still picture, or a refusal that names it.
    static Outcome<Frames> open_still(const std::string& name, const DecodeSettings& settings) {
        auto bytes = read_input(name);
        if (!bytes) return refusal(name + ": " + bytes.error().text());
        auto frames = open_frames(std::move(*bytes), name, settings);
        if (!frames) return refusal(name + ": " + frames.error().text());
        if ((*frames)->frame_count() != 1) {
            return refusal(name + " has " + std::to_string((*frames)->frame_count()) +
                           " frames; a sequence takes one frame a file (give --frame=N to pick one of them)");
        }
        return frames;
    }

private:
    std::vector<std::string> inputs_;
    DecodeSettings settings_;
    Frames current_;
    std::size_t next_ = 0;
};

class TiledFrames final : public FrameSource {
public:
    TiledFrames(Frames frames, Size tile) : frames_(std::move(frames)), tile_(tile) {
        columns_ = frames_->width() / tile.width;
        tiles_ = columns_ * (frames_->height() / tile.height);
        width_ = tile.width, height_ = tile.height, frame_count_ = frames_->frame_count() * tiles_;
        loop_ = frames_->loop();
    }
    Outcome<FrameView> next() override {
        if (next_tile_ % tiles_ == 0) {
            auto frame = frames_->next();
            if (!frame) return refusal(frame.error());
            if (frame->picture.width != frames_->width() || frame->picture.height != frames_->height()) {
                return refusal("a frame is " + sides_text(frame->picture.width, frame->picture.height) +
                               ", not the first's " + sides_text(frames_->width(), frames_->height()));
            }
            sheet_ = *frame;
        }
        const std::size_t tile = next_tile_++ % tiles_;
        const std::size_t left = tile % columns_ * tile_.width, top = tile / columns_ * tile_.height;
        const qlx_picture& whole = sheet_.picture;
        FrameView view = sheet_;
        qlx_picture& part = view.picture;
        const std::size_t pixel_bytes = whole.palette != nullptr ? 1 : qlx_pixel_bytes(whole.format);
        part.pixels = whole.pixels + top * whole.stride + left * pixel_bytes;
        part.width = tile_.width, part.height = tile_.height;
        if (whole.stored != nullptr) {
            // The mask has no stride of its own: the tile's part is copied out.
            stored_.resize(tile_.width * tile_.height);
            for (std::size_t y = 0; y < tile_.height; ++y) {
                std::memcpy(stored_.data() + y * tile_.width, whole.stored + (top + y) * whole.width + left,
                            tile_.width);
            }
            part.stored = stored_.data();
        }
        return view;
    }

private:
    Frames frames_;
    Size tile_;
    std::size_t columns_ = 0, tiles_ = 0, next_tile_ = 0;
    FrameView sheet_;
    std::vector<std::uint8_t> stored_;
};

}  // namespace

Frames still_frames(Picture picture) { return std::make_unique<StillFrames>(std::move(picture)); }

Outcome<Frames> open_frames(sys::Buffer file, const std::string& name, const DecodeSettings& settings) {
    if (!has_qlx_extension(name)) {
        for (const FormatEntry& entry : format_table()) {
            if (entry.open_frames != nullptr && entry.sniff(file.bytes())) return entry.open_frames(file, settings);
        }
    }
    auto picture = decode(file.bytes(), name, settings);
    if (!picture) return refusal(picture.error());
    return still_frames(std::move(*picture));
}

Outcome<Frames> sequence_frames(std::vector<std::string> inputs, const DecodeSettings& settings) {
    auto first = SequenceFrames::open_still(inputs.front(), settings);
    if (!first) return refusal(first.error());
    return Frames(std::make_unique<SequenceFrames>(std::move(inputs), settings, std::move(*first)));
}

Outcome<Frames> tiled_frames(Frames frames, Size tile) {
    if (frames->width() % tile.width != 0 || frames->height() % tile.height != 0) {
        return refusal("the sheet is " + sides_text(frames->width(), frames->height()) +
                       ", which is not a whole number of tiles of " + sides_text(tile.width, tile.height));
    }
    return Frames(std::make_unique<TiledFrames>(std::move(frames), tile));
}

LibraryPicture library_picture(const Picture& picture, const Frame& frame) {
    LibraryPicture view;
    qlx_picture& out = view.picture;
    out.width = picture.width;
    out.height = picture.height;
    if (const auto* colours = std::get_if<Colours>(&frame)) {
        out.pixels = colours->pixels.data();
        out.format = colours->format;
        out.stride = picture.width * qlx_pixel_bytes(colours->format);
        return view;
    }
    const auto& stored = std::get<PaletteIndices>(frame);
    for (const Rgba& entry : stored.palette)
        view.palette.insert(view.palette.end(), {entry.red, entry.green, entry.blue, entry.alpha});
    out.pixels = stored.indices.data();
    out.stride = picture.width;
    out.palette = view.palette.data();
    out.palette_size = stored.palette.size();
    out.stored = stored.stored.size() != 0 ? stored.stored.data() : nullptr;
    return view;
}

Outcome<sys::Buffer> read_input(const std::string& name) {
    auto input = name == "-" ? sys::InputFile::standard_input() : sys::InputFile::open(name);
    if (!input) return refusal(Failure::system("cannot open it"));
    auto bytes = input->read_all();
    if (!bytes) {
        return refusal(bytes.error() == sys::IoError::out_of_memory ? Failure::library(QLX_OUT_OF_MEMORY)
                                                                    : Failure::system("cannot read it"));
    }
    return std::move(*bytes);
}

}  // namespace qlxcmd
