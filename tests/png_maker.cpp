#include "png_maker.hpp"

#include <zlib.h>

#include <array>
#include <stdexcept>
#include <string>

namespace qlx::test {
namespace {

void put_be32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void chunk(Bytes& out, const char* type, const Bytes& data) {
    put_be32(out, static_cast<std::uint32_t>(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    out.insert(out.end(), typed.begin(), typed.end());
    put_be32(out, static_cast<std::uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size()))));
}

// The filtered rows (filter 0) of the pixels at columns x0, x0 + dx, ... and
// rows y0, y0 + dy, ...: the whole picture, or one pass of Adam7.
void append_pass(Bytes& raw, const PngRecipe& recipe, std::uint32_t x0, std::uint32_t y0, std::uint32_t dx,
                 std::uint32_t dy) {
    const unsigned channels = channels_of(recipe.colour_type);
    for (std::uint32_t y = y0; y < recipe.height; y += dy) {
        if (x0 >= recipe.width) break;
        raw.push_back(0);
        unsigned bits = 0, pending = 0;
        for (std::uint32_t x = x0; x < recipe.width; x += dx) {
            for (unsigned c = 0; c < channels; ++c) {
                const std::uint16_t sample = recipe.samples[(std::size_t{y} * recipe.width + x) * channels + c];
                if (recipe.bit_depth == 16) {
                    raw.push_back(static_cast<std::uint8_t>(sample >> 8));
                    raw.push_back(static_cast<std::uint8_t>(sample));
                    continue;
                }
                pending = pending << recipe.bit_depth | sample;
                bits += recipe.bit_depth;
                if (bits == 8) {
                    raw.push_back(static_cast<std::uint8_t>(pending));
                    bits = pending = 0;
                }
            }
        }
        if (bits > 0) raw.push_back(static_cast<std::uint8_t>(pending << (8 - bits)));
    }
}

}  // namespace

unsigned channels_of(std::uint8_t colour_type) {
    switch (colour_type) {
        case 2: return 3;
        case 4: return 2;
        case 6: return 4;
        default: return 1;
    }
}

Bytes make_png(const PngRecipe& recipe) {
    Bytes raw;
    if (recipe.interlaced) {
        constexpr std::array<std::array<std::uint32_t, 4>, 7> passes = {
            {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}};
        for (const auto& [x0, y0, dx, dy] : passes) append_pass(raw, recipe, x0, y0, dx, dy);
    } else {
        append_pass(raw, recipe, 0, 0, 1, 1);
    }
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes compressed(size);
    if (compress(compressed.data(), &size, raw.data(), static_cast<uLong>(raw.size())) != Z_OK) {
        throw std::runtime_error("zlib failed");
    }
    compressed.resize(size);

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    Bytes header;
    put_be32(header, recipe.width);
    put_be32(header, recipe.height);
    header.insert(header.end(), {recipe.bit_depth, recipe.colour_type, 0, 0, recipe.interlaced ? std::uint8_t{1} : std::uint8_t{0}});
    chunk(png, "IHDR", header);
    if (!recipe.palette.empty()) chunk(png, "PLTE", recipe.palette);
    if (!recipe.transparency.empty()) chunk(png, "tRNS", recipe.transparency);
    chunk(png, "IDAT", compressed);
    chunk(png, "IEND", {});
    return png;
}

}  // namespace qlx::test
