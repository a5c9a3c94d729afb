// Drives the whole BMP-to-QLX conversion on one input held in memory: the
// header checks, then quantising every pixel the checks let through, with the
// dithering method, light and strength that the input's last byte picks.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target bmp_to_qlx_fuzzer
//   build-fuzz/bin/bmp_to_qlx_fuzzer -max_total_time=60 -artifact_prefix=fuzz/findings/ fuzz/corpus/bmp
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bmp_format.hpp"
#include "quantiser.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> file(data, size);
    const qlx::BmpParse parsed = qlx::parse_bmp(file);
    if (parsed.status != QLX_OK) return 0;
    // Checked against the input's size, so this is at most size / 3 bytes.
    std::vector<std::uint8_t> indices(parsed.layout.width * parsed.layout.height);
    const int choice = data[size - 1];  // a parsed file is never empty
    const qlx::DitherLight light = choice / 6 % 2 == 0 ? qlx::DitherLight::srgb : qlx::DitherLight::linear;
    const qlx::QuantiseOptions options{.dither = {static_cast<qlx::DitherMethod>(choice % 6), choice % 101, light}};
    if (qlx::quantise_in_memory(file, parsed.layout, indices, options) != QLX_OK) __builtin_trap();
    return 0;
}
