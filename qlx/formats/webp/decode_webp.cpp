// WebP, still or animated, through libwebp's animation decoder, which
// composes each frame on its canvas (offsets, blending and disposal) as
// browsers do, and gives it as RGBA.

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstring>
#include <memory>

#include "decoding.hpp"
#include "frames.hpp"

namespace qlxcmd {
namespace {

struct DecoderCloser {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoder = std::unique_ptr<WebPAnimDecoder, DecoderCloser>;

constexpr const char* corrupt = "WebP data is corrupt or cut short";

// The decoder, once the canvas's sides pass the pixel limit: the decoder
// makes its canvas as it starts.
Outcome<AnimDecoder> open_decoder(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK) return refusal(corrupt);
    if (auto allowed = check_pixel_count(static_cast<std::uint64_t>(features.width),
                                         static_cast<std::uint64_t>(features.height), settings);
        !allowed) {
        return refusal(allowed.error());
    }
    WebPAnimDecoderOptions options{};
    if (!WebPAnimDecoderOptionsInit(&options)) return refusal("the WebP library does not match its header");
    options.color_mode = MODE_RGBA;  // not premultiplied
    options.use_threads = 0;
    const WebPData data{file.data(), file.size()};
    AnimDecoder decoder(WebPAnimDecoderNew(&data, &options));
    if (!decoder) return refusal(corrupt);
    return decoder;
}

class WebpFrames final : public FrameSource {
public:
    WebpFrames(sys::Buffer file, AnimDecoder decoder) : file_(std::move(file)), decoder_(std::move(decoder)) {
        WebPAnimInfo info{};
        WebPAnimDecoderGetInfo(decoder_.get(), &info);
        width_ = info.canvas_width, height_ = info.canvas_height, frame_count_ = info.frame_count;
        // A still picture has no loop count of its own.
        if (info.frame_count > 1) loop_ = static_cast<int>(info.loop_count);
    }
    Outcome<FrameView> next() override {
        std::uint8_t* rgba = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder_.get(), &rgba, &timestamp)) return refusal(corrupt);
        // Timestamps are where each frame ends, in milliseconds.
        const int delay = (timestamp - last_timestamp_ + 5) / 10;
        last_timestamp_ = timestamp;
        qlx_picture picture{rgba, width_, height_, 4 * width_, QLX_RGBA, nullptr, 0, nullptr};
        return FrameView{picture, frame_count_ > 1 ? std::optional<int>(delay) : std::nullopt};
    }

private:
    sys::Buffer file_;  // the decoder reads it
    AnimDecoder decoder_;
    int last_timestamp_ = 0;
};

}  // namespace

Outcome<Picture> decode_webp(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    auto decoder = open_decoder(file, settings);
    if (!decoder) return refusal(decoder.error());
    WebPAnimInfo info{};
    WebPAnimDecoderGetInfo(decoder->get(), &info);
    std::uint8_t* rgba = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder->get(), &rgba, &timestamp)) return refusal(corrupt);
    auto bytes = picture_bytes(info.canvas_width, info.canvas_height, 4);
    if (!bytes) return refusal(bytes.error());
    auto copy = allocate(*bytes);
    if (!copy) return refusal(copy.error());
    std::memcpy(copy->data(), rgba, *bytes);
    return single_frame(info.canvas_width, info.canvas_height, Colours{QLX_RGBA, std::move(*copy)});
}

Outcome<Frames> open_webp(sys::Buffer& file, const DecodeSettings& settings) {
    auto decoder = open_decoder(file.bytes(), settings);
    if (!decoder) return refusal(decoder.error());
    return Frames(std::make_unique<WebpFrames>(std::move(file), std::move(*decoder)));
}

}  // namespace qlxcmd
