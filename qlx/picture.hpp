#pragma once
// A decoded picture, as every reader gives it and every writer takes it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "buffer.hpp"
#include "expected.hpp"
#include "qlx.h"

namespace qlxcli {

// A result, or the reason an input failed: "PNG data is corrupt".
template <class T = void>
using Outcome = common::Expected<T, std::string>;
inline common::Unexpected<std::string> refusal(std::string reason) { return common::failure(std::move(reason)); }

struct Rgba {
    std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    bool operator==(const Rgba&) const = default;
};

// Colours in `format`, rows unpadded.
struct Colours {
    qlx_pixel_format format = QLX_RGB;
    pal::Buffer pixels;
};

// Indices into the file's own palette, one byte a pixel, as PNG, GIF, BMP
// and QLX (whose palette is ours) store them. Whether they are kept is the
// library's to decide.
struct PaletteIndices {
    std::vector<Rgba> palette;  // as many entries as the file has
    pal::Buffer indices;
    pal::Buffer stored;  // empty when every pixel was stored; else 0 where none was (transparent black)
};

// What a frame is, said by its type.
using Frame = std::variant<Colours, PaletteIndices>;

// A decoded picture: its frames, all of its sides. A still picture has one.
struct Picture {
    std::size_t width = 0;
    std::size_t height = 0;
    std::vector<Frame> frames;
};

Picture single_frame(std::size_t width, std::size_t height, Frame frame);

// Our palette, all 256 entries: a QLX file's.
std::vector<Rgba> our_palette();

// `width` indices of `bits` bits (1, 2, 4 or 8), packed from each byte's
// high bits as PNG and BMP store them, one byte each.
void unpack_indices(const std::uint8_t* packed, std::uint8_t* out, std::size_t width, unsigned bits);

// width * height * bytes_per_pixel, or a refusal when no buffer of that
// size can exist here: checked in 64 bits before anything is allocated.
Outcome<std::size_t> picture_bytes(std::uint64_t width, std::uint64_t height, std::uint64_t bytes_per_pixel);

// A buffer of `size` bytes, or the refusal "not enough memory".
Outcome<pal::Buffer> allocate(std::size_t size);

}  // namespace qlxcli
