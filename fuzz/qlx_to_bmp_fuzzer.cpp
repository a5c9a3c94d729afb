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

#include "bmp_format.hpp"
#include "expander.hpp"
#include "palette.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const std::size_t width = data[0] | std::size_t{data[1]} << 8;
    const std::size_t height = data[2] | std::size_t{data[3]} << 8;
    const std::span<const std::uint8_t> indices(data + 4, size - 4);

    qlx::BmpExpander::Created created = qlx::BmpExpander::create(width, height);
    const bool sides_fit = width >= 1 && width <= QLX_MAX_BMP_SIDE && height >= 1 && height <= QLX_MAX_BMP_SIDE;
    if (!created.expander) {
        if (sides_fit || created.status != QLX_SIDE_OUT_OF_RANGE) __builtin_trap();
        return 0;
    }
    if (!sides_fit) __builtin_trap();
    const bool long_enough = indices.size() / width >= height;
    if ((created.expander->check_input(indices) == QLX_OK) != long_enough) __builtin_trap();
    if (!long_enough) return 0;

    std::vector<std::uint8_t> bmp;
    if (!created.expander->run(indices, [&](std::span<const std::uint8_t> bytes) {
            bmp.insert(bmp.end(), bytes.begin(), bytes.end());
            return true;
        })) {
        __builtin_trap();
    }
    const std::size_t stride = (3 * width + 3) / 4 * 4;
    if (bmp.size() != qlx::expanded_bmp_file_size(width, height) || bmp.size() != 54 + stride * height) {
        __builtin_trap();
    }
    for (std::size_t row = 0; row < height; ++row) {
        const std::uint8_t* stored = bmp.data() + 54 + (height - 1 - row) * stride;
        for (std::size_t x = 0; x < width; ++x) {
            const qlx::Colour colour = qlx::palette_colour(indices[row * width + x]);
            if (stored[3 * x] != colour.blue || stored[3 * x + 1] != colour.green || stored[3 * x + 2] != colour.red) {
                __builtin_trap();
            }
        }
        for (std::size_t pad = 3 * width; pad < stride; ++pad) {
            if (stored[pad] != 0) __builtin_trap();
        }
    }
    return 0;
}
