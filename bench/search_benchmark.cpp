// Mpx/s of each exact nearest-colour search, on smooth and on random colours.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "nearest_colour.hpp"
#include "palette.hpp"

namespace {

constexpr std::size_t pixel_count = 1 << 16;

std::vector<std::uint8_t> random_pixels() {
    std::mt19937 generator(42);
    std::vector<std::uint8_t> pixels(pixel_count * 3);
    for (auto& byte : pixels) byte = static_cast<std::uint8_t>(generator());
    return pixels;
}

// A slow walk through colour space, as along the rows of a photograph.
std::vector<std::uint8_t> smooth_pixels() {
    std::vector<std::uint8_t> pixels(pixel_count * 3);
    for (std::size_t i = 0; i < pixel_count; ++i) {
        pixels[3 * i] = static_cast<std::uint8_t>(i / 97);
        pixels[3 * i + 1] = static_cast<std::uint8_t>(128 + (i / 61) % 64);
        pixels[3 * i + 2] = static_cast<std::uint8_t>(i / 263);
    }
    return pixels;
}

template <class Search>
void BM_Search(benchmark::State& state, Search&& search) {
    const auto pixels = state.range(0) != 0 ? random_pixels() : smooth_pixels();
    std::vector<std::uint8_t> out(pixel_count);
    for (auto _ : state) {
        search.quantise_row(pixels.data(), pixel_count, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(pixel_count));
}

struct Literal {
    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
        for (std::size_t x = 0; x < width; ++x, pixels += 3) {
            indices[x] = qlx::nearest_palette_index(pixels[2], pixels[1], pixels[0]);
        }
    }
};

struct Table {
    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
        qlx::quantise_row<QLX_BGR>(pixels, width, indices);
    }
};

void BM_Literal(benchmark::State& state) { BM_Search(state, Literal{}); }
void BM_Table(benchmark::State& state) { BM_Search(state, Table{}); }

}  // namespace

BENCHMARK(BM_Literal)->Arg(0)->Arg(1)->ArgName("random");
BENCHMARK(BM_Table)->Arg(0)->Arg(1)->ArgName("random");
