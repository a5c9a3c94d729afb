#pragma once
// Frames as the library takes them, one at a time, so that an animation of
// any length is converted in the memory of a frame or two: every frame of
// a GIF or WebP, the one frame of a still picture, the files of a
// --sequence in turn, and each cut into --tiles.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "buffer.hpp"
#include "picture.hpp"

namespace qlxcmd {

struct DecodeSettings;

// A frame, good until the next is asked for.
struct FrameView {
    qlx_picture picture{};
    std::optional<int> delay;  // hundredths of a second, when the file gives one
};

class FrameSource {
public:
    virtual ~FrameSource() = default;
    std::size_t width() const { return width_; }
    std::size_t height() const { return height_; }
    std::size_t frame_count() const { return frame_count_; }
    std::optional<int> loop() const { return loop_; }  // the file's loop count: -1 plays once, 0 forever
    // The next frame; there are frame_count() of them.
    virtual Outcome<FrameView> next() = 0;

protected:
    std::size_t width_ = 0, height_ = 0, frame_count_ = 1;
    std::optional<int> loop_;
};
using Frames = std::unique_ptr<FrameSource>;

// A still picture's one frame.
Frames still_frames(Picture picture);

// The frames of one file, whose bytes the source keeps as long as it needs
// them; `name` as decode() takes it.
Outcome<Frames> open_frames(sys::Buffer file, const std::string& name, const DecodeSettings& settings);

// The frames of each file in turn, read when its first frame is asked for.
// Every frame must have the first one's sides.
Outcome<Frames> sequence_frames(std::vector<std::string> inputs, const DecodeSettings& settings);

// Each frame cut into tiles of `tile`, left to right, then top to bottom.
// Sides that are not multiples of the tile's are refused.
Outcome<Frames> tiled_frames(Frames frames, Size tile);

// A decoded picture's frame as the library sees it: it points into `picture`.
struct LibraryPicture {
    qlx_picture picture{};
    std::vector<std::uint8_t> palette;  // 4 bytes an entry
};
LibraryPicture library_picture(const Picture& picture, const Frame& frame);

// The bytes of a file, or standard input for "-".
Outcome<sys::Buffer> read_input(const std::string& name);

}  // namespace qlxcmd
