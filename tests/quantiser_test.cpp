// Quantising BMPs through the library, whole or a batch of rows at a time,
// and expanding QLX back to BMPs.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <thread>

#include "palette.hpp"
#include "qlx.h"
#include "test_support.hpp"

namespace qlx {
namespace {

using test::BmpRecipe;
using test::Bytes;

qlx_options with_method(qlx_dither dither, int threads = 0) {
    qlx_options options = qlx_default_options();
    options.dither = dither;
    options.threads = threads;
    return options;
}

// The QLX bytes of a BMP file, or an empty result if it is refused.
Bytes quantise_file(const Bytes& file, const qlx_options& options = qlx_default_options()) {
    std::size_t width = 0, height = 0;
    if (qlx_bmp_dimensions(file.data(), file.size(), &width, &height) != QLX_OK) return {};
    Bytes indices(width * height);
    EXPECT_EQ(qlx_from_bmp(file.data(), file.size(), &options, indices.data(), indices.size()), QLX_OK);
    return indices;
}

Bytes nearest_of_each(const Bytes& pixels) {
    Bytes indices;
    for (std::size_t i = 0; i < pixels.size(); i += 3) {
        indices.push_back(nearest_palette_index(pixels[i + 2], pixels[i + 1], pixels[i]));
    }
    return indices;
}

TEST(QuantiseBmp, GivesTopRowFirstWhateverTheStorage) {
    for (int width : {1, 2, 3, 4, 5, 17}) {
        const Bytes pixels = test::gradient_pixels(width, 6);
        const Bytes expected = nearest_of_each(pixels);
        BmpRecipe recipe{.width = width, .height = 6, .pixels = pixels};
        EXPECT_EQ(quantise_file(test::make_bmp(recipe)), expected) << "bottom-up, width " << width;
        recipe.top_down = true;
        EXPECT_EQ(quantise_file(test::make_bmp(recipe)), expected) << "top-down, width " << width;
        recipe.gap = 1024;
        recipe.info_size = 124;
        EXPECT_EQ(quantise_file(test::make_bmp(recipe)), expected) << "gap, width " << width;
    }
}

Bytes noise_pixels(int width, int height) {
    std::mt19937 random(5);
    Bytes noise(static_cast<std::size_t>(3 * width * height));
    for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
    return noise;
}

// Over a million pixels: rows read in several batches, the last partial,
// and shared among threads in uneven runs. The bytes never depend on how
// many, with or without a pattern: each thread makes the pattern
// method's plans it meets on its own.
TEST(QuantiseBmp, LargePicturesGiveTheSameIndicesOnAnyNumberOfThreads) {
    constexpr int width = 1023;  // rows of 3069 bytes, padded to 3072
    constexpr int height = 1100;
    for (const Bytes& pixels : {test::gradient_pixels(width, height), noise_pixels(width, height)}) {
        const Bytes expected = nearest_of_each(pixels);
        BmpRecipe recipe{.width = width, .height = height, .pixels = pixels};
        Bytes bottom_up = test::make_bmp(recipe);
        bottom_up.resize(bottom_up.size() - 3);  // the last row's padding is optional
        for (const int threads : {1, 2, 3}) {
            EXPECT_EQ(quantise_file(bottom_up, with_method(QLX_DITHER_NONE, threads)), expected) << threads;
        }
        for (const qlx_dither method : {QLX_DITHER_ORDERED, QLX_DITHER_PATTERN}) {
            EXPECT_EQ(quantise_file(bottom_up, with_method(method, 3)),
                      quantise_file(bottom_up, with_method(method, 1)))
                << qlx_dither_name(method);
        }
        recipe.top_down = true;
        EXPECT_EQ(quantise_file(test::make_bmp(recipe)), expected);
    }
}

// The threads of this process as Linux counts them, or 0 elsewhere (under
// Wine the file names another process).
unsigned running_threads() {
#ifdef _WIN32
    return 0;
#else
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) return static_cast<unsigned>(std::stoul(line.substr(8)));
    }
    return 0;
#endif
}

// A caller that asks for one thread gets the conversion on its own; error
// diffusion, which chains every row to the one before, always has it so.
// Counted between the batches of a streaming quantiser, whose helpers live
// as long as it does.
TEST(QuantiseStream, OneThreadKeepsTheConversionOnTheCallingThread) {
    if (running_threads() != 1) GTEST_SKIP() << "needs a count of this process's threads, and no others running";
    constexpr std::size_t width = 1024, height = 1100, batch = 100;
    const Bytes pixels = noise_pixels(static_cast<int>(width), static_cast<int>(height));
    Bytes indices(width * batch);
    for (const qlx_dither method : {QLX_DITHER_FLOYD_STEINBERG, QLX_DITHER_ORDERED}) {
        for (const int threads : {1, 2}) {
            const qlx_options options = with_method(method, threads);
            qlx_quantiser* quantiser = nullptr;
            ASSERT_EQ(qlx_quantiser_create(width, height, QLX_BGR, &options, &quantiser), QLX_OK);
            unsigned most = 0;
            for (std::size_t first = 0; first < height; first += batch) {
                const std::size_t rows = std::min(batch, height - first);
                ASSERT_EQ(qlx_quantiser_convert(quantiser, pixels.data() + 3 * width * first, rows, 3 * width,
                                                indices.data(), indices.size()),
                          QLX_OK);
                most = std::max(most, running_threads());
            }
            qlx_quantiser_destroy(quantiser);
            const unsigned expected = threads == 1 || method == QLX_DITHER_FLOYD_STEINBERG
                                          ? 1
                                          : std::min(2u, std::max(1u, std::thread::hardware_concurrency()));
            EXPECT_EQ(most, expected) << "method " << method << ", threads " << threads;
            EXPECT_EQ(running_threads(), 1u) << "the quantiser's helpers outlived it";
        }
    }
}

// Batches large enough to share among threads, one after another: each is
// handed to the helpers, and a helper slow to wake for one batch must take
// nothing of the next.
TEST(QuantiseStream, BatchesSharedAmongThreadsGiveTheWholePicturesBytes) {
    constexpr std::size_t width = 1024, height = 1100;
    const Bytes pixels = noise_pixels(static_cast<int>(width), static_cast<int>(height));
    for (const qlx_dither method : {QLX_DITHER_NONE, QLX_DITHER_BLUE_NOISE}) {
        const qlx_options one_thread = with_method(method, 1);
        Bytes expected(width * height);
        ASSERT_EQ(qlx_quantise(pixels.data(), width, height, 3 * width, QLX_BGR, &one_thread, expected.data(),
                               expected.size()),
                  QLX_OK);
        for (const std::size_t batch : {64u, 100u, 333u}) {
            const qlx_options options = with_method(method, 3);
            qlx_quantiser* quantiser = nullptr;
            ASSERT_EQ(qlx_quantiser_create(width, height, QLX_BGR, &options, &quantiser), QLX_OK);
            Bytes indices(width * height);
            for (std::size_t first = 0; first < height; first += batch) {
                const std::size_t rows = std::min(batch, height - first);
                ASSERT_EQ(qlx_quantiser_convert(quantiser, pixels.data() + 3 * width * first, rows, 3 * width,
                                                indices.data() + width * first, rows * width),
                          QLX_OK);
            }
            qlx_quantiser_destroy(quantiser);
            EXPECT_TRUE(indices == expected) << "method " << method << ", batches of " << batch;
        }
    }
}

// One row of the widest picture is 6 GiB. Where size_t has 32 bits that
// cannot be counted, and it is refused before anything is allocated,
// instead of being sized from a wrapped product.
TEST(QuantiseStream, RefusesPicturesThatMemorySizesCannotCount) {
    if constexpr (sizeof(std::size_t) >= 8) GTEST_SKIP() << "a 64-bit size_t counts every picture";
    constexpr std::size_t widest = 0x7FFFFFFF;
    qlx_quantiser* quantiser = nullptr;
    EXPECT_EQ(qlx_quantiser_create(widest, 2, QLX_BGR, nullptr, &quantiser), QLX_SIZE_OVERFLOW);
    EXPECT_EQ(quantiser, nullptr);
}

TEST(QuantiseBmp, SuiteVariantsOfOnePictureGiveTheSameIndices) {
    const Bytes plain = quantise_file(test::read_file(test::data_path("bmpsuite/g/rgb24.bmp")));
    ASSERT_EQ(plain.size(), 127u * 64u);
    for (const char* name : {"g/rgb24pal.bmp", "q/rgb24largepal.bmp", "q/rgb24prof.bmp", "q/rgb24lprof.bmp"}) {
        EXPECT_EQ(quantise_file(test::read_file(test::data_path(std::string("bmpsuite/") + name))), plain) << name;
    }
    // The same pixels stored top-down, after a gap, and behind a core header.
    const Bytes suite_file = test::read_file(test::data_path("bmpsuite/g/rgb24.bmp"));
    Bytes pixels;
    for (std::size_t row = 0; row < 64; ++row) {
        const auto start = suite_file.begin() + static_cast<std::ptrdiff_t>(54 + (63 - row) * 384);
        pixels.insert(pixels.end(), start, start + 127 * 3);
    }
    BmpRecipe recipe{.width = 127, .height = 64, .top_down = true, .pixels = pixels};
    EXPECT_EQ(quantise_file(test::make_bmp(recipe)), plain) << "top-down";
    recipe.top_down = false;
    recipe.info_size = 124;
    recipe.gap = 100;
    EXPECT_EQ(quantise_file(test::make_bmp(recipe)), plain) << "gap";
    recipe.info_size = 12;
    EXPECT_EQ(quantise_file(test::make_bmp(recipe)), plain) << "core header";

    // Red and green are stored swapped; only its colour profile undoes that.
    const Bytes swapped = quantise_file(test::read_file(test::data_path("bmpsuite/q/rgb24prof2.bmp")));
    EXPECT_EQ(swapped.size(), plain.size());
    EXPECT_NE(swapped, plain);
}

constexpr std::size_t qlx_size = QLX_STANDARD_WIDTH * QLX_STANDARD_HEIGHT;

Bytes expand(const Bytes& qlx, std::size_t width = QLX_STANDARD_WIDTH, std::size_t height = QLX_STANDARD_HEIGHT) {
    Bytes bmp(qlx_bmp_size(width, height));
    EXPECT_EQ(qlx_to_bmp(qlx.data(), qlx.size(), width, height, bmp.data(), bmp.size()), QLX_OK);
    return bmp;
}

TEST(QuantiseBmp, PixelsPastTheEndOfTheDataAreRefused) {
    Bytes file = test::make_bmp({.width = 4, .height = 4});
    file.pop_back();
    Bytes indices(16);
    EXPECT_EQ(qlx_from_bmp(file.data(), file.size(), nullptr, indices.data(), indices.size()),
              QLX_BMP_PIXEL_DATA_CUT_SHORT);
}

// A plain statement of what a conversion must give for a parsed layout.
Bytes reference_indices(const Bytes& file, const qlx_bmp_layout& layout) {
    Bytes indices;
    for (std::size_t row = 0; row < layout.height; ++row) {
        const std::size_t stored = layout.top_down ? row : layout.height - 1 - row;
        const auto start = static_cast<std::size_t>(layout.pixel_offset + stored * layout.row_stride);
        const Bytes row_indices =
            nearest_of_each(Bytes(file.begin() + static_cast<std::ptrdiff_t>(start),
                                  file.begin() + static_cast<std::ptrdiff_t>(start + 3 * layout.width)));
        indices.insert(indices.end(), row_indices.begin(), row_indices.end());
    }
    return indices;
}

// Every single-byte change of the headers, and every truncation, of a few
// small valid files: each is refused or converted as its layout says, and
// never read out of bounds (the sanitizer build checks that).
TEST(MalformedInputs, EveryHeaderByteChangeAndTruncationEndsCleanly) {
    const auto expect_clean = [&](const Bytes& file, const std::string& what) {
        qlx_bmp_layout layout{};
        if (qlx_bmp_read_layout(file.data(), file.size(), file.size(), &layout) != QLX_OK) return;
        Bytes indices(layout.width * layout.height);
        ASSERT_EQ(qlx_from_bmp(file.data(), file.size(), nullptr, indices.data(), indices.size()), QLX_OK) << what;
        ASSERT_EQ(indices, reference_indices(file, layout)) << what;
    };
    const Bytes files[] = {
        test::make_bmp({.width = 5, .height = 3, .pixels = test::gradient_pixels(5, 3)}),
        test::make_bmp({.width = 3, .height = 2, .info_size = 12, .pixels = test::gradient_pixels(3, 2)}),
        test::make_bmp(
            {.width = 4, .height = 2, .top_down = true, .info_size = 124, .pixels = test::gradient_pixels(4, 2)}),
    };
    for (const Bytes& original : files) {
        const std::size_t headers_end = 14 + original[14];
        for (std::size_t at = 0; at < headers_end; ++at) {
            Bytes file = original;
            for (int value = 0; value < 256; ++value) {
                file[at] = static_cast<std::uint8_t>(value);
                expect_clean(file, "byte " + std::to_string(at) + " set to " + std::to_string(value));
            }
        }
        for (std::size_t length = 0; length < original.size(); ++length) {
            expect_clean(Bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(length)),
                         "cut to " + std::to_string(length));
        }
    }
}

TEST(ExpandQlx, WritesPaletteColoursBottomRowFirst) {
    const Bytes black = expand(Bytes(qlx_size, 0));
    EXPECT_TRUE(std::all_of(black.begin() + QLX_BMP_HEADERS_SIZE, black.end(), [](auto b) { return b == 0; }));

    const Bytes red = expand(Bytes(qlx_size, 8));
    EXPECT_EQ(Bytes(red.begin() + 54, red.begin() + 57), (Bytes{0x00, 0x00, 0xB7}));

    Bytes qlx(qlx_size, 0);
    qlx[63680] = 2;  // first pixel of the last QLX row
    qlx[319] = 8;    // last pixel of the first QLX row
    const Bytes marked = expand(qlx);
    EXPECT_EQ(Bytes(marked.begin() + 54, marked.begin() + 57), (Bytes{0xAB, 0x2F, 0x17}));
    EXPECT_EQ(Bytes(marked.end() - 3, marked.end()), (Bytes{0x00, 0x00, 0xB7}));
}

TEST(ExpandQlx, QuantisingTheExpansionGivesBackCanonicalIndices) {
    Bytes qlx(qlx_size);
    for (std::size_t i = 0; i < qlx.size(); ++i) qlx[i] = static_cast<std::uint8_t>(i * 7 + i / 320);
    const Bytes back = quantise_file(expand(qlx));
    ASSERT_EQ(back.size(), qlx_size);
    for (std::size_t i = 0; i < qlx.size(); ++i) {
        const Colour colour = palette_colour(qlx[i]);
        ASSERT_EQ(back[i], nearest_palette_index(colour.red, colour.green, colour.blue)) << i;
        ASSERT_EQ(palette_colour(back[i]), colour) << i;
    }
}

}  // namespace
}  // namespace qlx
