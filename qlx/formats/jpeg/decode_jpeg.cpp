// JPEG through libjpeg-turbo (jpeg_reader.c).

#include "decoding.hpp"
#include "jpeg_reader.h"

namespace qlxcmd {
namespace {

struct Destination {
    const DecodeSettings* settings;
    std::size_t width = 0, height = 0;
    Colours picture;
    Failure refused;
};

std::uint8_t* allocate_pixels(void* context, std::size_t width, std::size_t height) {
    auto& destination = *static_cast<Destination*>(context);
    if (auto allowed = check_pixel_count(width, height, *destination.settings); !allowed) {
        destination.refused = allowed.error();
        return nullptr;
    }
    auto size = picture_bytes(width, height, 3);
    if (!size) {
        destination.refused = size.error();
        return nullptr;
    }
    auto pixels = allocate(*size);
    if (!pixels) {
        destination.refused = pixels.error();
        return nullptr;
    }
    destination.width = width;
    destination.height = height;
    destination.picture.format = QLX_RGB;
    destination.picture.pixels = std::move(*pixels);
    return destination.picture.pixels.data();
}

}  // namespace

Outcome<Picture> decode_jpeg(std::span<const std::uint8_t> file, const DecodeSettings& settings) {
    Destination destination{&settings, 0, 0, {}, {}};
    char reason[200];
    switch (jpeg_reader_decode(file.data(), file.size(), allocate_pixels, &destination, reason, sizeof reason)) {
        case JPEG_READER_OK: return single_frame(destination.width, destination.height, std::move(destination.picture));
        case JPEG_READER_CUT_SHORT: return refusal("JPEG data is cut short");
        case JPEG_READER_CMYK: return refusal("CMYK JPEG is not supported; save it as RGB");
        case JPEG_READER_REFUSED: return refusal(destination.refused);
        case JPEG_READER_CORRUPT: break;
    }
    return refusal(std::string("JPEG data is corrupt: ") + reason);
}

}  // namespace qlxcmd
