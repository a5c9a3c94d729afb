// A still picture as a GIF of one frame in our palette, through the
// library's writer; an animation is written frame by frame by the
// conversion, through the same calls.

#include "encoding.hpp"

namespace qlxcmd {

Outcome<> write_gif(Indices indices, const PictureOutput& output, sys::OutputFile& file) {
    const std::size_t bound = qlx_gif_frame_bound(indices.width, indices.height);
    if (bound == 0) return refusal(QLX_SIDE_OUT_OF_RANGE);
    auto buffer = allocate(bound + QLX_GIF_START_SIZE + 1);
    if (!buffer) return refusal(buffer.error());
    std::size_t start = 0, frame = 0;
    if (const qlx_status status =
            qlx_gif_start(indices.width, indices.height, -1, buffer->data(), buffer->size(), &start);
        status != QLX_OK) {
        return refusal(status);
    }
    if (const qlx_status status = qlx_gif_frame(indices.data, nullptr, indices.width, indices.height, 0,
                                                output.transparent_index, buffer->data() + start, bound, &frame);
        status != QLX_OK) {
        return refusal(status);
    }
    buffer->data()[start + frame] = QLX_GIF_TRAILER;
    return write_bytes(file, buffer->data(), start + frame + 1);
}

}  // namespace qlxcmd
