#include "picture.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace qlxcmd {

Picture single_frame(std::size_t width, std::size_t height, Frame frame) {
    Picture picture{width, height, {}};
    picture.frames.push_back(std::move(frame));
    return picture;
}

std::vector<Rgba> our_palette() {
    std::vector<Rgba> palette;
    for (unsigned i = 0; i < 256; ++i) {
        const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
        palette.push_back({static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
                           static_cast<std::uint8_t>(colour), 255});
    }
    return palette;
}

void unpack_indices(const std::uint8_t* packed, std::uint8_t* out, std::size_t width, unsigned bits) {
    if (bits == 8) {
        std::copy_n(packed, width, out);
        return;
    }
    const unsigned per_byte = 8 / bits;
    const unsigned mask = (1u << bits) - 1;
    for (std::size_t x = 0; x < width; ++x) {
        const unsigned shift = 8 - bits * (static_cast<unsigned>(x % per_byte) + 1);
        out[x] = static_cast<std::uint8_t>((unsigned{packed[x / per_byte]} >> shift) & mask);
    }
}

Outcome<std::size_t> picture_bytes(std::uint64_t width, std::uint64_t height, std::uint64_t bytes_per_pixel) {
    constexpr std::uint64_t most = std::numeric_limits<std::size_t>::max();
    if (width == 0 || height == 0 || height > most / width || bytes_per_pixel > most / (width * height)) {
        return refusal("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels is too large for this machine");
    }
    return static_cast<std::size_t>(width * height * bytes_per_pixel);
}

Outcome<sys::Buffer> allocate(std::size_t size) {
    auto buffer = sys::Buffer::allocate(size);
    if (!buffer) return refusal("not enough memory");
    return std::move(*buffer);
}

}  // namespace qlxcmd
