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

namespace qlxcmd {

// Why a conversion failed, kept as what it is until it is printed: the
// library's status, whose text is the library's own; a file the system
// would not open, read or write, with its name; or the input's fault, in
// its format's words ("PNG data is corrupt: bad CRC in IDAT").
class Failure {
public:
    static Failure library(qlx_status status) { return Failure(status, {}); }
    static Failure system(std::string what) { return Failure(QLX_OK, std::move(what)); }
    static Failure input(std::string reason) { return Failure(QLX_OK, std::move(reason)); }
    Failure() = default;  // for results that hold no value

    qlx_status status() const { return status_; }  // QLX_OK unless the library refused
    std::string text() const { return status_ != QLX_OK ? qlx_status_text(status_) : reason_; }

private:
    Failure(qlx_status status, std::string reason) : status_(status), reason_(std::move(reason)) {}
    qlx_status status_ = QLX_OK;
    std::string reason_;
};

// A result, or why it failed.
template <class T = void>
using Outcome = common::Expected<T, Failure>;
inline common::Unexpected<Failure> refusal(Failure failure) { return common::failure(std::move(failure)); }
inline common::Unexpected<Failure> refusal(std::string reason) { return refusal(Failure::input(std::move(reason))); }
inline common::Unexpected<Failure> refusal(qlx_status status) { return refusal(Failure::library(status)); }

struct Rgba {
    std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    bool operator==(const Rgba&) const = default;
};

// Colours in `format`, rows unpadded.
struct Colours {
    qlx_pixel_format format = QLX_RGB;
    sys::Buffer pixels;
};

// Indices into the file's own palette, one byte a pixel, as PNG, GIF, BMP
// and QLX (whose palette is ours) store them. Whether they are kept is the
// library's to decide.
struct PaletteIndices {
    std::vector<Rgba> palette;  // as many entries as the file has
    sys::Buffer indices;
    sys::Buffer stored;  // empty when every pixel was stored; else 0 where none was (transparent black)
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
Outcome<sys::Buffer> allocate(std::size_t size);

}  // namespace qlxcmd
