#include "picture.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

namespace qlxcli {
namespace {

bool palette_is_ours(std::span<const Rgba> palette) {
    if (palette.empty() || palette.size() > 256) return false;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::uint32_t ours = qlx_palette_colour(static_cast<std::uint8_t>(i));
        const Rgba entry = palette[i];
        if (entry.red != (ours >> 16 & 255) || entry.green != (ours >> 8 & 255) || entry.blue != (ours & 255)) {
            return false;
        }
    }
    return true;
}

// The alpha of stored index `index`, or of a pixel none was stored for.
std::uint8_t alpha_of(const PalettePicture& stored, std::size_t pixel) {
    if (stored.covered.size() != 0 && stored.covered.data()[pixel] == 0) return 0;
    const std::uint8_t index = stored.indices.data()[pixel];
    return index < stored.palette.size() ? stored.palette[index].alpha : 0;
}

Outcome<Picture> kept_indices(PalettePicture&& stored) {
    Picture picture;
    picture.width = stored.width;
    picture.height = stored.height;
    picture.indexed = true;
    const std::size_t count = stored.indices.size();
    const bool transparent = stored.covered.size() != 0 ||
                             std::any_of(stored.palette.begin(), stored.palette.end(),
                                         [](const Rgba& entry) { return entry.alpha != 255; });
    if (transparent) {
        auto alpha = allocate(count);
        if (!alpha) return refusal(alpha.error());
        for (std::size_t i = 0; i < count; ++i) alpha->data()[i] = alpha_of(stored, i);
        picture.alpha = std::move(*alpha);
    }
    // A pixel none was stored for is transparent black, which is index 0.
    if (stored.covered.size() != 0) {
        for (std::size_t i = 0; i < count; ++i) {
            if (stored.covered.data()[i] == 0) stored.indices.data()[i] = 0;
        }
    }
    picture.indices = std::move(stored.indices);
    return picture;
}

Outcome<Picture> colours_of(const PalettePicture& stored) {
    const bool transparent = stored.covered.size() != 0 ||
                             std::any_of(stored.palette.begin(), stored.palette.end(),
                                         [](const Rgba& entry) { return entry.alpha != 255; });
    Picture picture;
    picture.width = stored.width;
    picture.height = stored.height;
    picture.format = transparent ? QLX_RGBA : QLX_RGB;
    const std::size_t bytes = qlx_pixel_bytes(picture.format);
    auto size = picture_bytes(stored.width, stored.height, bytes);
    if (!size) return refusal(size.error());
    auto pixels = allocate(*size);
    if (!pixels) return refusal(pixels.error());
    // An index past the palette's end is transparent black, as browsers draw it.
    std::array<Rgba, 256> table{};
    for (Rgba& entry : table) entry = Rgba{0, 0, 0, 0};
    std::copy_n(stored.palette.begin(), std::min<std::size_t>(stored.palette.size(), 256), table.begin());
    std::uint8_t* out = pixels->data();
    for (std::size_t i = 0; i < stored.indices.size(); ++i, out += bytes) {
        Rgba colour = table[stored.indices.data()[i]];
        if (stored.covered.size() != 0 && stored.covered.data()[i] == 0) colour = Rgba{0, 0, 0, 0};
        out[0] = colour.red;
        out[1] = colour.green;
        out[2] = colour.blue;
        if (transparent) out[3] = colour.alpha;
    }
    picture.pixels = std::move(*pixels);
    return picture;
}

}  // namespace

Outcome<Picture> resolve_palette(PalettePicture&& stored) {
    if (palette_is_ours(stored.palette)) return kept_indices(std::move(stored));
    return colours_of(stored);
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

Outcome<pal::Buffer> allocate(std::size_t size) {
    auto buffer = pal::Buffer::allocate(size);
    if (!buffer) return refusal("not enough memory");
    return std::move(*buffer);
}

}  // namespace qlxcli
