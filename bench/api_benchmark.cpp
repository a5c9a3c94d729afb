// The C API on a picture in memory: qlx_quantise on its pixels as an RGB
// buffer against qlx_from_bmp on the BMP file, which runs palquant's own
// conversion (batches read from the file, threads, dithering) without the
// file system. Both in one process, so their ratio holds on a noisy machine.
//   api_benchmark PICTURE.bmp [--benchmark_...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "load_bmp.hpp"
#include "qlx.h"

// The batch a streaming caller hands over, as a PNG decoder might.
constexpr std::size_t stream_rows = 64;

int main(int argc, char* argv[]) {
    benchmark::Initialize(&argc, argv);
    if (argc != 2) {
        std::fputs("usage: api_benchmark PICTURE.bmp [--benchmark_...]\n", stderr);
        return 2;
    }
    const std::optional<LoadedBmp> bmp = load_bmp(argv[1]);
    if (!bmp) return 2;
    const qlx_bmp_layout& layout = bmp->layout;
    const std::size_t width = layout.width, height = layout.height;
    std::vector<std::uint8_t> rgb(3 * width * height), indices(width * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t stored = layout.top_down ? y : height - 1 - y;
        const std::uint8_t* row = bmp->file.data() + layout.pixel_offset + stored * layout.row_stride;
        for (std::size_t x = 0; x < width; ++x) {
            for (std::size_t c = 0; c < 3; ++c) rgb[3 * (y * width + x) + c] = row[3 * x + 2 - c];
        }
    }
    const std::int64_t pixels = static_cast<std::int64_t>(width * height);
    // Times `convert`, one whole picture an iteration.
    const auto time = [&](const std::string& name, auto convert) {
        benchmark::RegisterBenchmark(name.c_str(),
                                     [convert, pixels, &indices](benchmark::State& state) {
                                         for (auto _ : state) {
                                             if (convert() != QLX_OK) state.SkipWithError("refused");
                                             benchmark::DoNotOptimize(indices.data());
                                         }
                                         state.SetItemsProcessed(state.iterations() * pixels);
                                     })
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
    };
    for (const qlx_dither dither : {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG}) {
        qlx_options options = qlx_default_options();
        options.dither = dither;
        const std::string method = dither == QLX_DITHER_NONE ? "none" : "floyd-steinberg";
        time("BM_FromBmp/" + method, [&, options] {
            return qlx_from_bmp(bmp->file.data(), bmp->file.size(), &options, indices.data(), indices.size());
        });
        time("BM_QuantiseRgb/" + method, [&, options] {
            return qlx_quantise(rgb.data(), width, height, 3 * width, QLX_RGB, &options, indices.data(),
                                indices.size());
        });
        // The same pixels through a streaming quantiser, as a decoder hands them over.
        time("BM_StreamRgb64/" + method, [&, options] {
            qlx_quantiser* quantiser = nullptr;
            qlx_status status = qlx_quantiser_create(width, height, QLX_RGB, &options, &quantiser);
            for (std::size_t first = 0; first < height && status == QLX_OK; first += stream_rows) {
                const std::size_t rows = std::min(stream_rows, height - first);
                status = qlx_quantiser_convert(quantiser, rgb.data() + 3 * width * first, rows, 3 * width,
                                               indices.data() + width * first, rows * width);
            }
            qlx_quantiser_destroy(quantiser);
            return status;
        });
    }
    // On one thread, as the WebAssembly module runs.
    qlx_options one_thread = qlx_default_options();
    one_thread.threads = 1;
    time("BM_FromBmp/none/one-thread", [&, one_thread] {
        return qlx_from_bmp(bmp->file.data(), bmp->file.size(), &one_thread, indices.data(), indices.size());
    });
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
