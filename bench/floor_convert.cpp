// The floor for palquant: read the BMP whole into a huge-page buffer, one
// trivial operation per pixel, rows reversed, write the result. Any converter
// of the same file must at least do this much. Usage: floor_convert IN OUT
#include <cstdio>
#include <cstring>
#include <optional>

#include "file_io.hpp"

int main(int argc, char* argv[]) {
    if (argc < 3) return 2;
    auto input = pal::InputFile::open(argv[1]);
    if (!input) return 2;
    pal::ReadResult file = input->read_all();
    if (file.status != pal::ReadStatus::ok || file.bytes.size() < 54) return 2;
    const std::uint8_t* bytes = file.bytes.data();
    std::uint32_t offset = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::memcpy(&offset, bytes + 10, 4);
    std::memcpy(&width, bytes + 18, 4);
    std::memcpy(&height, bytes + 22, 4);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    const std::size_t stride = (w * 3 + 3) / 4 * 4;
    auto out = pal::ByteBuffer::allocate(w * h);
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* pixel = bytes + offset + row * stride;
        std::uint8_t* index = out->data() + (h - 1 - row) * w;
        for (std::size_t x = 0; x < w; ++x, pixel += 3) index[x] = static_cast<std::uint8_t>(pixel[0] ^ pixel[2]);
    }
    std::FILE* output = std::fopen(argv[2], "wb");
    if (output == nullptr) return 2;
    std::fwrite(out->data(), 1, out->size(), output);
    return std::fclose(output) == 0 ? 0 : 2;
}
