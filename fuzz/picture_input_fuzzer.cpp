// Drives qlx's reading of any input: recognising the format, then the PNG,
// JPEG, GIF, BMP or QLX decoder, then fitting and quantising what decodes,
// with the fit and method that the input's last byte picks. A header may
// claim any size; pictures of more than max_pixels are refused at once, as
// memory would refuse them in the program.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target picture_input_fuzzer
//   build-fuzz/bin/picture_input_fuzzer -max_total_time=60 -artifact_prefix=fuzz/findings/ fuzz/corpus/pictures
#include <cstddef>
#include <cstdint>
#include <span>

#include "conversion.hpp"

namespace {

// Large enough for every corpus picture, small enough to fuzz quickly.
constexpr std::uint64_t max_pixels = 1u << 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int choice = data[size - 1];
    qlxcmd::ConversionSettings settings;
    settings.decode.max_pixels = max_pixels;
    settings.options.dither = static_cast<qlx_dither>(choice % 6);
    settings.options.transparent_index = choice % 3 == 0 ? choice : -1;
    settings.options.threads = 1;
    settings.options.alpha = QLX_ALPHA_COMPOSITE;
    settings.options.background = choice * 0x10101;
    settings.fit = static_cast<qlx_fit>(choice / 6 % 4);
    settings.box = {static_cast<std::size_t>(choice % 17 + 1), static_cast<std::size_t>(choice % 13 + 1)};
    // Standard input's name: bytes of no known format are read as QLX.
    auto picture = qlxcmd::decode(std::span(data, size), choice % 2 == 0 ? "-" : "input", settings.decode);
    if (!picture) return 0;
    qlxcmd::Size sides;
    auto indices = qlxcmd::indices_of(*picture, settings, sides);
    if (indices && indices->size() != sides.width * sides.height) __builtin_trap();
    return 0;
}
