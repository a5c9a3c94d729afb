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
void run(benchmark::State& state, Search& search, const std::vector<std::uint8_t>& pixels) {
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
            indices[x] = pal::nearest_palette_index(pixels[0], pixels[1], pixels[2]);
        }
    }
};

template <class Search>
void BM_Search(benchmark::State& state, Search search, bool random) {
    const auto pixels = random ? random_pixels() : smooth_pixels();
    run(state, search, pixels);
}

void BM_Literal(benchmark::State& state) { BM_Search(state, Literal{}, state.range(0) != 0); }
void BM_Grid(benchmark::State& state) { BM_Search(state, pal::NearestColourGrid{}, state.range(0) != 0); }
void BM_Table(benchmark::State& state) { BM_Search(state, *pal::NearestColourTable::create(), state.range(0) != 0); }

// The one-off cost of answering every colour: filling all 4096 table cells.
void BM_TableFillAll(benchmark::State& state) {
    std::vector<std::uint8_t> one_pixel_per_cell;
    for (int cell = 0; cell < pal::cell_count; ++cell) {
        one_pixel_per_cell.push_back(static_cast<std::uint8_t>((cell & 15) << 4));
        one_pixel_per_cell.push_back(static_cast<std::uint8_t>((cell >> 4 & 15) << 4));
        one_pixel_per_cell.push_back(static_cast<std::uint8_t>((cell >> 8) << 4));
    }
    std::vector<std::uint8_t> out(pal::cell_count);
    for (auto _ : state) {
        auto table = pal::NearestColourTable::create();
        table->quantise_row(one_pixel_per_cell.data(), out.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
}

// A 320 x 200 picture from a cold start, cell building included: what
// palquant spends on a small picture beyond reading and writing.
void BM_SmallPictureColdGrid(benchmark::State& state) {
    const auto pixels = smooth_pixels();
    std::vector<std::uint8_t> out(320 * 200);
    for (auto _ : state) {
        pal::NearestColourGrid grid;
        grid.quantise_row(pixels.data(), out.size(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}

}  // namespace

BENCHMARK(BM_SmallPictureColdGrid)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Literal)->Arg(0)->Arg(1)->ArgName("random");
BENCHMARK(BM_Grid)->Arg(0)->Arg(1)->ArgName("random");
BENCHMARK(BM_Table)->Arg(0)->Arg(1)->ArgName("random");
BENCHMARK(BM_TableFillAll)->Unit(benchmark::kMillisecond);
