#pragma once
// Reading any input qlx takes: PNG, JPEG, GIF and BMP recognised by their
// first bytes, and QLX, which has no signature, by its name.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "arguments.hpp"
#include "picture.hpp"

namespace qlxcmd {
class FrameSource;
}

namespace qlxcmd {

// 2^29 pixels: a 20000 x 20000 scan (4 x 10^8) converts, and so does any
// square picture up to 23170 pixels a side, with at most 2 GiB of colours
// in memory; while a few megabytes of deflate data, which can claim
// gigabytes, are refused before they are inflated.
constexpr std::uint64_t default_max_pixels = std::uint64_t{1} << 29;

struct DecodeSettings {
    std::optional<Size> size;  // --size: a QLX input's sides
    // The most pixels a picture may have, checked from its header before
    // anything is allocated (--max-pixels; 0 means no limit).
    std::uint64_t max_pixels = default_max_pixels;
};

// `name` is the input's name ("-" for standard input): a QLX file's size may
// be spelled in it.
Outcome<Picture> decode(std::span<const std::uint8_t> file, const std::string& name, const DecodeSettings& settings);

// The decoders, for bytes whose signature is theirs.
Outcome<Picture> decode_png(std::span<const std::uint8_t> file, const DecodeSettings& settings);
Outcome<Picture> decode_jpeg(std::span<const std::uint8_t> file, const DecodeSettings& settings);
Outcome<Picture> decode_gif(std::span<const std::uint8_t> file, const DecodeSettings& settings);
Outcome<Picture> decode_bmp(std::span<const std::uint8_t> file, const DecodeSettings& settings);
Outcome<Picture> decode_qlx(std::span<const std::uint8_t> file, const std::string& name,
                            const DecodeSettings& settings);

Outcome<Picture> decode_webp(std::span<const std::uint8_t> file, const DecodeSettings& settings);

// Every frame of a GIF or WebP, composed; the source keeps the file's bytes.
Outcome<std::unique_ptr<FrameSource>> open_gif(sys::Buffer& file, const DecodeSettings& settings);
Outcome<std::unique_ptr<FrameSource>> open_webp(sys::Buffer& file, const DecodeSettings& settings);

// The size a name such as "castle.641x480.qlx" gives, if it gives one.
std::optional<Size> size_in_name(const std::string& name);

// Whether the name ends in ".qlx", in any case.
bool has_qlx_extension(const std::string& name);

// Refuses a picture of more pixels than the settings allow.
Outcome<> check_pixel_count(std::uint64_t width, std::uint64_t height, const DecodeSettings& settings);

}  // namespace qlxcmd
