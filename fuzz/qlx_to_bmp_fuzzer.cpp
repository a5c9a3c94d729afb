// Drives palexpand's conversion: sides from the first four bytes (any value,
// so out-of-range sides are refused), the QLX bytes after them. A refusal
// must be the right one; an expansion must be the BMP of exactly the
// palette colours of the first width * height bytes, bottom row first.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target qlx_to_bmp_fuzzer
//   build-fuzz/bin/qlx_to_bmp_fuzzer -max_total_time=60 -max_len=4096 -artifact_prefix=fuzz/findings/ fuzz/corpus/qlx
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qlx.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t width = data[0] | std::size_t{data[1]} << 8;
    const std::size_t height = data[2] | std::size_t{data[3]} << 8;
    const std::uint8_t* indices = data + 4;
    const std::size_t count = size - 4;

    const bool sides_fit = width >= 1 && width <= QLX_MAX_BMP_SIDE && height >= 1 && height <= QLX_MAX_BMP_SIDE;
    const std::size_t stride = (3 * width + 3) / 4 * 4;
    const std::size_t bmp_size = qlx_bmp_size(width, height);
    if (bmp_size != (sides_fit ? 54 + stride * height : 0)) __builtin_trap();
    // Only an input long enough for its sides gets a buffer of the BMP's
    // size: the input is judged before the capacity.
    const bool long_enough = sides_fit && count / width >= height;
    std::vector<std::uint8_t> bmp(long_enough ? bmp_size : 1);
    const qlx_status status = qlx_to_bmp(indices, count, width, height, bmp.data(), bmp.size());
    if (status != (!sides_fit ? QLX_SIDE_OUT_OF_RANGE : long_enough ? QLX_OK : QLX_INPUT_TOO_SHORT)) __builtin_trap();
    if (!long_enough) return 0;

    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* stored = bmp.data() + 54 + (height - 1 - row) * stride;
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t colour = qlx_palette_colour(indices[row * width + x]);
            if (stored[3 * x] != (colour & 0xFF) || stored[3 * x + 1] != (colour >> 8 & 0xFF) ||
                stored[3 * x + 2] != colour >> 16) {
                __builtin_trap();
            }
        }
        for (std::size_t pad = 3 * width; pad < stride; ++pad) {
            if (stored[pad] != 0) __builtin_trap();
        }
    }
    return 0;
}
