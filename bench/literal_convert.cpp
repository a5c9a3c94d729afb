// palquant's conversion with the literal 256-entry search for every pixel:
// the baseline the fast searches are measured against. Usage: literal_convert IN OUT
#include <cstdio>
#include <optional>

#include "load_bmp.hpp"
#include "palette.hpp"

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    const std::optional<LoadedBmp> bmp = load_bmp(argv[1]);
    if (!bmp) return 2;
    const qlx_bmp_layout& layout = bmp->layout;
    sys::IoResult<sys::Buffer> out = sys::Buffer::allocate(layout.width * layout.height);
    if (!out) return 2;
    for (std::size_t row = 0; row < layout.height; ++row) {
        const std::uint8_t* pixel = bmp->file.data() + layout.pixel_offset + row * layout.row_stride;
        std::uint8_t* index = out->data() + (layout.height - 1 - row) * layout.width;
        for (std::size_t x = 0; x < layout.width; ++x, pixel += 3) {
            index[x] = qlx::nearest_palette_index(pixel[2], pixel[1], pixel[0]);
        }
    }
    std::FILE* output = std::fopen(argv[2], "wb");
    if (output == nullptr) return 2;
    std::fwrite(out->data(), 1, out->size(), output);
    return std::fclose(output) == 0 ? 0 : 2;
}
