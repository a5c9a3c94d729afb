// Writes the pictures the whole-process benchmark converts:
//   photo-4096.bmp   the sample picture enlarged smoothly to 4096 x 4096
//   random-4096.bmp  4096 x 4096 uniformly random colours
//   small-320.bmp    the 320 x 200 sample itself
//   gradient-768.bmp 768 x 256: red rising and blue falling left to right,
//                    green rising top to bottom: every mix of ramps
//   flat-art-320.bmp 320 x 200 of hard-edged shapes, three colours of the
//                    palette and three between its ramps, as a logo is
// Usage: make_pictures SAMPLE.bmp OUTDIR
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "load_bmp.hpp"
#include "qlx.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// `stored_pixels` are padded rows, bottom first, as the library's BMPs hold them.
bool write_bmp(const std::string& path, std::size_t width, std::size_t height, const Bytes& stored_pixels) {
    std::uint8_t headers[QLX_BMP_HEADERS_SIZE];
    if (qlx_bmp_headers(width, height, headers, sizeof headers) != QLX_OK) return false;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    std::fwrite(headers, 1, sizeof headers, out);
    std::fwrite(stored_pixels.data(), 1, stored_pixels.size(), out);
    return std::fclose(out) == 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    const std::optional<LoadedBmp> sample = load_bmp(argv[1]);
    if (!sample) return 2;
    const qlx_bmp_layout& in = sample->layout;
    const std::string dir = argv[2];

    constexpr int size = 4096;  // rows of 4096 * 3 bytes need no padding
    Bytes photo(std::size_t{size} * size * 3);
    for (int y = 0; y < size; ++y) {
        const double fy = (y + 0.5) * static_cast<double>(in.height) / size - 0.5;
        const std::size_t y0 = fy < 0 ? 0 : static_cast<std::size_t>(fy);
        const std::size_t y1 = y0 + 1 < in.height ? y0 + 1 : y0;
        const double ty = fy < 0 ? 0 : fy - static_cast<double>(y0);
        for (int x = 0; x < size; ++x) {
            const double fx = (x + 0.5) * static_cast<double>(in.width) / size - 0.5;
            const std::size_t x0 = fx < 0 ? 0 : static_cast<std::size_t>(fx);
            const std::size_t x1 = x0 + 1 < in.width ? x0 + 1 : x0;
            const double tx = fx < 0 ? 0 : fx - static_cast<double>(x0);
            for (std::size_t c = 0; c < 3; ++c) {
                const auto at = [&](std::size_t px, std::size_t py) {
                    return static_cast<double>(sample->file.data()[in.pixel_offset + py * in.row_stride + px * 3 + c]);
                };
                const double top = at(x0, y0) * (1 - tx) + at(x1, y0) * tx;
                const double bottom = at(x0, y1) * (1 - tx) + at(x1, y1) * tx;
                photo[(std::size_t(y) * size + std::size_t(x)) * 3 + c] =
                    static_cast<std::uint8_t>(top * (1 - ty) + bottom * ty + 0.5);
            }
        }
    }
    Bytes random(photo.size());
    std::mt19937 generator(2026);
    for (auto& byte : random) byte = static_cast<std::uint8_t>(generator());

    const Bytes small(sample->file.data() + in.pixel_offset, sample->file.data() + sample->file.size());

    // Rows bottom first, blue, green, red, as the BMPs hold them.
    constexpr int gradient_width = 768, gradient_height = 256;
    Bytes gradient;
    for (int row = gradient_height - 1; row >= 0; --row) {
        for (int x = 0; x < gradient_width; ++x) {
            const double t = x / double(gradient_width - 1);
            gradient.push_back(static_cast<std::uint8_t>(255 * (1 - t) + 0.5));
            gradient.push_back(static_cast<std::uint8_t>(255 * (row / double(gradient_height - 1)) + 0.5));
            gradient.push_back(static_cast<std::uint8_t>(255 * t + 0.5));
        }
    }
    const std::uint32_t art_colours[6] = {qlx_palette_colour(0), qlx_palette_colour(15), qlx_palette_colour(140),
                                          0x7F3F9F /* purple */, 0xD8B08C /* skin */,    0x4A6A5A /* sage */};
    Bytes art;
    for (int row = 199; row >= 0; --row) {
        for (int x = 0; x < 320; ++x) {
            const int dx = x - 110, dy = row - 100, ex = x - 230, ey = row - 90;
            int shape = 1;  // the background
            if (dx * dx + dy * dy < 60 * 60) shape = 3;
            if (dx * dx + dy * dy < 30 * 30) shape = 2;
            if (ex > -50 && ex < 50 && ey > -40 && ey < 40) shape = 4;
            if (ex > -20 && ex < 20 && ey > -60 && ey < 60) shape = 5;
            if (row > 180 || (x / 20 + row / 20) % 7 == 0) shape = 0;
            const std::uint32_t colour = art_colours[shape];
            art.insert(art.end(), {static_cast<std::uint8_t>(colour), static_cast<std::uint8_t>(colour >> 8),
                                   static_cast<std::uint8_t>(colour >> 16)});
        }
    }
    const bool ok = write_bmp(dir + "/photo-4096.bmp", size, size, photo) &&
                    write_bmp(dir + "/random-4096.bmp", size, size, random) &&
                    write_bmp(dir + "/small-320.bmp", in.width, in.height, small) &&
                    write_bmp(dir + "/gradient-768.bmp", gradient_width, gradient_height, gradient) &&
                    write_bmp(dir + "/flat-art-320.bmp", 320, 200, art);
    return ok ? 0 : 1;
}
