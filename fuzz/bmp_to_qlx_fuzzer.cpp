// Drives the whole BMP-to-QLX conversion on one input held in memory: the
// header checks, then quantising every pixel the checks let through, with
// the dithering method, light and strength that the input's last byte picks.
// The same file streamed through a quantiser, in batches of as many rows as
// that byte picks, must give the same bytes.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target bmp_to_qlx_fuzzer
//   build-fuzz/bin/bmp_to_qlx_fuzzer -max_total_time=60 -artifact_prefix=fuzz/findings/ fuzz/corpus/bmp
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "qlx.h"

namespace {

int count_of(const char* (*name_of)(qlx_dither)) {
    int count = 0;
    while (name_of(static_cast<qlx_dither>(count)) != nullptr) ++count;
    return count;
}

// The file's rows through a quantiser, `batch` rows at a time.
std::vector<std::uint8_t> streamed(const std::uint8_t* data, std::size_t size, const qlx_options& options,
                                   std::size_t batch) {
    qlx_bmp_layout layout{};
    if (qlx_bmp_read_layout(data, size, size, &layout) != QLX_OK) __builtin_trap();
    std::vector<std::uint8_t> indices(layout.width * layout.height);
    qlx_quantiser* quantiser = nullptr;
    if (qlx_quantiser_create(layout.width, layout.height, QLX_BGR, &options, &quantiser) != QLX_OK) __builtin_trap();
    const auto stride = static_cast<std::size_t>(layout.row_stride);
    for (std::size_t first = 0; first < layout.height; first += batch) {
        const std::size_t rows = std::min(batch, layout.height - first);
        const std::size_t lowest_stored = layout.top_down ? first : layout.height - first - rows;
        const std::uint8_t* pixels = data + layout.pixel_offset + lowest_stored * stride;
        std::uint8_t* out = indices.data() + first * layout.width;
        const qlx_status status =
            layout.top_down
                ? qlx_quantiser_convert(quantiser, pixels, rows, stride, out, rows * layout.width)
                : qlx_quantiser_convert_bottom_up(quantiser, pixels, rows, stride, out, rows * layout.width);
        if (status != QLX_OK) __builtin_trap();
    }
    if (qlx_quantiser_rows_left(quantiser) != 0) __builtin_trap();
    qlx_quantiser_destroy(quantiser);
    return indices;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t width = 0, height = 0;
    if (qlx_bmp_dimensions(data, size, &width, &height) != QLX_OK) return 0;
    // Checked against the input's size, so this is at most size / 3 bytes.
    std::vector<std::uint8_t> indices(width * height);
    const int choice = data[size - 1];  // a parsed file is never empty
    const int methods = count_of(qlx_dither_name);
    qlx_options options = qlx_default_options();
    options.dither = static_cast<qlx_dither>(choice % methods);
    options.strength = choice % 101;
    options.light = choice / methods % 2 == 0 ? QLX_LIGHT_SRGB : QLX_LIGHT_LINEAR;
    if (qlx_from_bmp(data, size, &options, indices.data(), indices.size()) != QLX_OK) __builtin_trap();
    if (streamed(data, size, options, 1 + static_cast<std::size_t>(choice % 5)) != indices) __builtin_trap();
    return 0;
}
