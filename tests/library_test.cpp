// The C API against the programs: the same bytes for every test picture and
// option, from files or from pixels in memory, on any number of threads.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "qlx.h"
#include "test_support.hpp"

namespace qlx {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const std::string palquant = PALQUANT_PATH;
const std::string palexpand = PALEXPAND_PATH;

struct Conversion {
    qlx_status status = QLX_OK;
    Bytes indices;
};

Conversion from_bmp(const Bytes& bmp, const qlx_options& options) {
    std::size_t width = 0, height = 0;
    Conversion result;
    result.status = qlx_bmp_dimensions(bmp.data(), bmp.size(), &width, &height);
    if (result.status != QLX_OK) return result;
    result.indices.resize(width * height);
    result.status = qlx_from_bmp(bmp.data(), bmp.size(), &options, result.indices.data(), result.indices.size());
    return result;
}

std::vector<std::string> program_options(const qlx_options& options) {
    static const char* const names[] = {"none", "floyd-steinberg", "ordered"};
    return {std::string("--dither=") + names[options.dither], "--dither-strength=" + std::to_string(options.strength)};
}

std::vector<fs::path> test_pictures() {
    std::vector<fs::path> pictures = {PAL_SAMPLE_BMP};
    for (const auto& entry : fs::recursive_directory_iterator(test::data_path("bmpsuite"))) {
        if (entry.path().extension() == ".bmp") pictures.push_back(entry.path());
    }
    std::sort(pictures.begin(), pictures.end());
    return pictures;
}

// Every picture palquant converts comes out of qlx_from_bmp byte for byte,
// and every one it refuses is refused with the same words.
TEST(Library, FromBmpGivesPalquantsBytesAndRefusals) {
    test::TempDir dir;
    const fs::path qlx = dir / "out.qlx";
    for (const fs::path& picture : test_pictures()) {
        const Bytes bmp = test::read_file(picture);
        for (const auto& [dither, strength] : {std::pair{QLX_DITHER_NONE, 100},
                                               {QLX_DITHER_FLOYD_STEINBERG, 100},
                                               {QLX_DITHER_FLOYD_STEINBERG, 41},
                                               {QLX_DITHER_ORDERED, 100},
                                               {QLX_DITHER_ORDERED, 7}}) {
            qlx_options options = qlx_default_options();
            options.dither = dither;
            options.strength = strength;
            std::vector<std::string> arguments = program_options(options);
            arguments.insert(arguments.end(), {test::utf8(picture), test::utf8(qlx)});
            fs::remove(qlx);
            const test::RunResult run = test::run_program(palquant, arguments);
            const Conversion converted = from_bmp(bmp, options);
            const std::string what = picture.filename().string() + " " + arguments[0] + " " + arguments[1];
            if (run.status == 1) {
                ASSERT_EQ(converted.status, QLX_OK) << what;
                EXPECT_EQ(converted.indices, test::read_file(qlx)) << what;
            } else {
                ASSERT_NE(converted.status, QLX_OK) << what;
                EXPECT_EQ(run.out + run.err, std::string(qlx_status_text(converted.status)) + "\n") << what;
            }
        }
    }
}

// The same pixels in every format, padded rows and several threads give
// qlx_from_bmp's bytes; a picture of over a million pixels takes the
// threads and several batches.
TEST(Library, QuantiseGivesFromBmpsBytesInEveryFormat) {
    constexpr std::size_t width = 1031, height = 1030;
    std::mt19937 random(3);
    Bytes bgr = test::gradient_pixels(width, height);
    for (std::size_t i = 0; i < bgr.size() / 2; ++i) bgr[i] = static_cast<std::uint8_t>(random());  // noise above
    const Bytes bmp = test::make_bmp({.width = width, .height = height, .pixels = bgr});
    for (const qlx_dither dither : {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_ORDERED}) {
        qlx_options options = qlx_default_options();
        options.dither = dither;
        const Conversion expected = from_bmp(bmp, options);
        ASSERT_EQ(expected.status, QLX_OK);
        for (const qlx_pixel_format format : {QLX_RGB, QLX_BGR, QLX_RGBA, QLX_BGRA}) {
            const std::size_t bytes = qlx_pixel_bytes(format);
            const std::size_t stride = bytes * width + 5;
            Bytes pixels(stride * height, 0);
            for (std::size_t p = 0; p < width * height; ++p) {
                std::uint8_t* out = &pixels[p / width * stride + p % width * bytes];
                const bool rgb = format == QLX_RGB || format == QLX_RGBA;
                out[0] = bgr[3 * p + (rgb ? 2 : 0)];
                out[1] = bgr[3 * p + 1];
                out[2] = bgr[3 * p + (rgb ? 0 : 2)];
                if (bytes == 4) out[3] = static_cast<std::uint8_t>(p);  // ignored without a transparent index
            }
            for (const int threads : {1, 3, 0}) {
                options.threads = threads;
                Bytes indices(width * height);
                ASSERT_EQ(qlx_quantise(pixels.data(), width, height, stride, format, &options, indices.data(),
                                       indices.size()),
                          QLX_OK);
                EXPECT_EQ(indices, expected.indices)
                    << "dither " << dither << " format " << format << " threads " << threads;
            }
        }
    }
}

// qlx_to_bmp writes palexpand's file for the default size and others.
TEST(Library, ToBmpGivesPalexpandsBytes) {
    test::TempDir dir;
    std::mt19937 random(9);
    for (const auto& [width, height] : {std::pair<std::size_t, std::size_t>{320, 200}, {1, 1}, {3, 5}, {641, 3}}) {
        Bytes qlx(width * height + 7);  // a longer input is read as far as the picture goes
        for (auto& index : qlx) index = static_cast<std::uint8_t>(random());
        test::write_file(dir / "in.qlx", qlx);
        const std::string size = "--size=" + std::to_string(width) + "x" + std::to_string(height);
        ASSERT_EQ(test::run_program(palexpand, {size, test::utf8(dir / "in.qlx"), test::utf8(dir / "out.bmp")}).status,
                  0);
        Bytes bmp(qlx_bmp_size(width, height));
        ASSERT_EQ(qlx_to_bmp(qlx.data(), qlx.size(), width, height, bmp.data(), bmp.size()), QLX_OK);
        EXPECT_EQ(bmp, test::read_file(dir / "out.bmp")) << size;
    }
}

// Calls from several threads at once share nothing but read-only tables.
TEST(Library, CallsFromSeveralThreadsAtOnceAgree) {
    const Bytes sample = test::read_file(PAL_SAMPLE_BMP);
    std::vector<Conversion> expected;
    for (const qlx_dither dither : {QLX_DITHER_NONE, QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_ORDERED}) {
        qlx_options options = qlx_default_options();
        options.dither = dither;
        expected.push_back(from_bmp(sample, options));
    }
    std::vector<int> mismatches(6, 0);
    {
        std::vector<std::jthread> threads;
        for (std::size_t t = 0; t < mismatches.size(); ++t) {
            threads.emplace_back([&, t] {
                qlx_options options = qlx_default_options();
                options.dither = static_cast<qlx_dither>(t % 3);
                for (int round = 0; round < 20; ++round) {
                    if (from_bmp(sample, options).indices != expected[t % 3].indices) ++mismatches[t];
                }
            });
        }
    }
    EXPECT_EQ(mismatches, std::vector<int>(6, 0));
}

// The largest peak of this process's memory so far, in KiB; 0 where the
// system cannot tell.
long peak_memory_kib() {
#ifdef _WIN32
    return 0;
#else
    rusage usage{};
    return ::getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : 0;
#endif
}

// A quantiser keeps three rows of errors and nothing else between calls, so
// the widest picture fed 64 rows at a time needs a few megabytes beyond the
// caller's buffers, however tall it is.
TEST(Library, QuantiserMemoryDoesNotGrowWithTheHeight) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory grows with every byte touched";
#endif
    constexpr std::size_t width = QLX_MAX_BMP_SIDE, height = QLX_MAX_BMP_SIDE, batch = 64, fed = 1024;
    std::vector<std::uint8_t> rows(width * batch * 3), indices(width * batch);
    std::mt19937 random(3);
    for (std::uint8_t& byte : rows) byte = static_cast<std::uint8_t>(random());
    const long before = peak_memory_kib();
    if (before == 0) GTEST_SKIP() << "needs the process's peak memory";
    qlx_options options = qlx_default_options();
    options.dither = QLX_DITHER_FLOYD_STEINBERG;
    options.light = QLX_LIGHT_LINEAR;
    qlx_quantiser* quantiser = nullptr;
    ASSERT_EQ(qlx_quantiser_create(width, height, QLX_RGB, &options, &quantiser), QLX_OK);
    for (std::size_t first = 0; first < fed; first += batch) {
        ASSERT_EQ(qlx_quantiser_convert(quantiser, rows.data(), batch, width * 3, indices.data(), indices.size()),
                  QLX_OK);
    }
    EXPECT_EQ(qlx_quantiser_rows_left(quantiser), height - fed);
    qlx_quantiser_destroy(quantiser);
    EXPECT_LT(peak_memory_kib() - before, 8 * 1024) << "KiB beyond the caller's buffers";
}

}  // namespace
}  // namespace qlx
