// Drives the answer table, which palquant uses for pictures of a million
// pixels and more, with fuzzed rows of pixels, and checks every answer
// against the grid. No input small enough to fuzz reaches the table through
// a whole BMP, so its lazy filling, 4-byte loads and prefetching on rows of
// scattered colours are driven here directly. One table and one grid serve
// the whole run, filling up as a long picture would fill them.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target table_vs_grid_fuzzer
//   build-fuzz/bin/table_vs_grid_fuzzer -max_total_time=60 -artifact_prefix=fuzz/findings/
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "nearest_colour.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static pal::NearestColourGrid grid;
    static std::optional<pal::NearestColourTable> table = pal::NearestColourTable::create();
    // An exact copy, so that a read past the row's last pixel is caught.
    const std::vector<std::uint8_t> pixels(data, data + size / 3 * 3);
    const std::size_t width = pixels.size() / 3;
    std::vector<std::uint8_t> from_table(width), from_grid(width), from_portable(width);
    table->quantise_row(pixels.data(), width, from_table.data());
    grid.quantise_row(pixels.data(), width, from_grid.data());
    grid.quantise_row_portable(pixels.data(), width, from_portable.data());
    if (from_table != from_grid || from_grid != from_portable) __builtin_trap();
    return 0;
}
