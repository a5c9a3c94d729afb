// Drives qlx's writers with any indices, sides and settings: the indexed
// and RGB PNG, the 8-bit and 24-bit BMP, and the zlib stream joined from
// parts of any size. Each is read back by qlx's own readers (or zlib) and
// must give back exactly what went in.
//
// Build and run (clang with its libFuzzer runtime):
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DPAL_FUZZ=ON -DPAL_BUILD_TESTS=OFF
//   cmake --build build-fuzz --target writers_fuzzer
//   build-fuzz/bin/writers_fuzzer -max_total_time=60 -artifact_prefix=fuzz/findings/ fuzz/corpus/writers
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "decoding.hpp"
#include "encoding.hpp"
#include "zlib_stream.hpp"

namespace {

void require(bool holds) {
    if (!holds) __builtin_trap();
}

// The palette colour of every index, as RGB.
std::vector<std::uint8_t> colours_of(const std::vector<std::uint8_t>& indices) {
    std::vector<std::uint8_t> rgb(indices.size() * 3);
    require(qlx_expand(indices.data(), indices.size(), 1, QLX_RGB, rgb.data(), rgb.size(), rgb.size()) == QLX_OK);
    return rgb;
}

// What a decoded picture holds: its indices if it has a palette, else its
// colours as RGB.
std::vector<std::uint8_t> contents(const qlxcmd::Picture& picture) {
    const qlxcmd::Frame& frame = picture.frames.at(0);
    if (const auto* stored = std::get_if<qlxcmd::PaletteIndices>(&frame)) {
        return {stored->indices.data(), stored->indices.data() + stored->indices.size()};
    }
    const auto& colours = std::get<qlxcmd::Colours>(frame);
    const std::size_t bytes = qlx_pixel_bytes(colours.format);
    std::vector<std::uint8_t> rgb;
    for (std::size_t i = 0; i < picture.width * picture.height; ++i) {
        const std::uint8_t* pixel = colours.pixels.data() + i * bytes;
        const bool bgr = colours.format == QLX_BGR || colours.format == QLX_BGRA;
        rgb.insert(rgb.end(), {bgr ? pixel[2] : pixel[0], pixel[1], bgr ? pixel[0] : pixel[2]});
    }
    return rgb;
}

void check_png(const qlxcmd::Indices& picture, const std::vector<std::uint8_t>& indices, bool truecolour,
               int transparent_index, unsigned threads) {
    auto png = truecolour ? qlxcmd::truecolour_png(picture, threads)
                          : qlxcmd::indexed_png(picture, transparent_index, threads);
    require(png.has_value());
    auto read = qlxcmd::decode_png(png->bytes(), {});
    require(read.has_value() && read->width == picture.width && read->height == picture.height);
    require(contents(*read) == (truecolour ? colours_of(indices) : indices));
}

void check_bmp(const qlxcmd::Indices& picture, const std::vector<std::uint8_t>& indices, bool truecolour) {
    static const std::string path = "/tmp/qlx-writers-fuzzer-" + std::to_string(::getpid()) + ".bmp";
    {
        auto file = sys::OutputFile::open(path);
        require(file.has_value());
        qlxcmd::PictureOutput output;
        output.format = qlxcmd::FileFormat::bmp;
        output.truecolour = truecolour;
        require(qlxcmd::write_picture(picture, output, *file).has_value() && file->commit().has_value());
    }
    auto input = sys::InputFile::open(path);
    require(input.has_value());
    auto bytes = input->read_all();
    require(bytes.has_value());
    auto read = qlxcmd::decode_bmp(bytes->bytes(), {});
    require(read.has_value() && read->width == picture.width && read->height == picture.height);
    require(contents(*read) == (truecolour ? colours_of(indices) : indices));
}

// Parts of any size, joined, are one zlib stream of the data.
void check_joined_parts(FuzzedDataProvider& input) {
    const int level = input.ConsumeIntegralInRange(0, 12);
    const unsigned threads = input.ConsumeIntegralInRange(1u, 4u);
    const std::size_t part_size = input.ConsumeIntegralInRange<std::size_t>(1, 4096);
    const std::vector<std::uint8_t> data = input.ConsumeRemainingBytes<std::uint8_t>();
    auto stream = qlxcmd::zlib_stream(data, level, threads, part_size);
    require(stream.has_value());
    std::vector<std::uint8_t> back(data.size() + 1);
    uLongf size = static_cast<uLongf>(back.size());
    require(uncompress(back.data(), &size, stream->data(), static_cast<uLong>(stream->size())) == Z_OK);
    require(size == data.size() && std::equal(data.begin(), data.end(), back.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const int writer = input.ConsumeIntegralInRange(0, 4);
    if (writer == 4) {
        check_joined_parts(input);
        return 0;
    }
    const auto width = input.ConsumeIntegralInRange<std::size_t>(1, 300);
    const auto height = input.ConsumeIntegralInRange<std::size_t>(1, 300);
    const int transparent_index = input.ConsumeIntegralInRange(-1, 255);
    const unsigned threads = input.ConsumeIntegralInRange(1u, 4u);
    std::vector<std::uint8_t> indices = input.ConsumeBytes<std::uint8_t>(width * height);
    indices.resize(width * height, static_cast<std::uint8_t>(width));
    const qlxcmd::Indices picture{indices.data(), width, height};
    switch (writer) {
        case 0: check_png(picture, indices, false, transparent_index, threads); break;
        case 1: check_png(picture, indices, true, -1, threads); break;
        case 2: check_bmp(picture, indices, false); break;
        default: check_bmp(picture, indices, true); break;
    }
    return 0;
}
