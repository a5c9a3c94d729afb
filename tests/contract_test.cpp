// The C API's contract at its edges, checked against plain statements of
// what qlx.h promises, written here for clarity and not for speed: the
// nearest colour by a literal search, BMP rows by hand, resampling as an
// area average in integers, placements by their rules. Every refusal must
// also leave the caller's buffers untouched.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <unordered_map>
#include <vector>

#include "qlx.h"
#include "test_support.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t canary = 0xab;

// ---- Plain statements ----------------------------------------------------

std::array<std::uint8_t, 3> palette_rgb(unsigned index) {
    const std::uint32_t c = qlx_palette_colour(static_cast<std::uint8_t>(index));
    return {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
}

// The entry at the smallest city-block distance, the lowest on ties.
std::uint8_t literal_nearest(int red, int green, int blue) {
    int best = 0, best_distance = std::numeric_limits<int>::max();
    for (int i = 0; i < 256; ++i) {
        const auto [r, g, b] = palette_rgb(static_cast<unsigned>(i));
        const int distance = std::abs(red - r) + std::abs(green - g) + std::abs(blue - b);
        if (distance < best_distance) best = i, best_distance = distance;
    }
    return static_cast<std::uint8_t>(best);
}

class NearestMemo {
public:
    std::uint8_t operator()(int r, int g, int b) {
        const int key = r << 16 | g << 8 | b;
        const auto found = memo_.find(key);
        if (found != memo_.end()) return found->second;
        return memo_[key] = literal_nearest(r, g, b);
    }

private:
    std::unordered_map<int, std::uint8_t> memo_;
};

// Pixels whose colours come from a small random set, so that the literal
// search stays cheap however large the picture.
Bytes noise(std::size_t count, std::size_t bytes_per_pixel, unsigned seed, int colours = 4096) {
    std::mt19937 random(seed);
    std::vector<std::array<std::uint8_t, 4>> set(static_cast<std::size_t>(colours));
    for (auto& colour : set) {
        for (auto& c : colour) c = static_cast<std::uint8_t>(random());
    }
    Bytes pixels(count * bytes_per_pixel);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& colour = set[random() % set.size()];
        std::copy_n(colour.begin(), bytes_per_pixel, pixels.begin() + static_cast<std::ptrdiff_t>(i * bytes_per_pixel));
        if (bytes_per_pixel == 4) pixels[i * 4 + 3] = 255;
    }
    return pixels;
}

struct Format {
    qlx_pixel_format format;
    int red, green, blue;  // byte offsets
    std::size_t bytes;
};
constexpr Format formats[] = {{QLX_RGB, 0, 1, 2, 3}, {QLX_BGR, 2, 1, 0, 3}, {QLX_RGBA, 0, 1, 2, 4}, {QLX_BGRA, 2, 1, 0, 4}};

// ---- Arithmetic at the edges ----------------------------------------------

TEST(Contract, StridesThatOverflowOnlyAtTheLastRowAreRefusedAsOverflow) {
    Bytes pixels(64, 1), indices(4000, canary);
    for (const std::size_t height : {std::size_t{2}, std::size_t{3}, std::size_t{1000}}) {
        // stride * (height - 1) fits; adding the last row's 12 bytes does not.
        const std::size_t stride = (std::numeric_limits<std::size_t>::max() - 12) / (height - 1) + 1;
        EXPECT_EQ(qlx_quantise(pixels.data(), 4, height, stride, QLX_RGB, nullptr, indices.data(), indices.size()),
                  QLX_SIZE_OVERFLOW)
            << height;
        EXPECT_EQ(qlx_expand(indices.data(), 4, height, QLX_RGB, pixels.data(), stride, pixels.size()),
                  QLX_SIZE_OVERFLOW)
            << height;
    }
    EXPECT_EQ(indices, Bytes(4000, canary));
    EXPECT_EQ(pixels, Bytes(64, 1));
}

// A capacity one byte short, counting the gaps between rows, is refused and
// nothing is written; the exact capacity is enough, and not a byte more is
// touched.
TEST(Contract, CapacitiesCountTheGapsBetweenRows) {
    int cases = 0;
    for (const Format& f : formats) {
        for (const std::size_t gap : {std::size_t{0}, std::size_t{1}, std::size_t{7}}) {
            const std::size_t width = 5, height = 4, row = width * f.bytes, stride = row + gap;
            const std::size_t needed = stride * (height - 1) + row;
            Bytes indices(width * height);
            for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint8_t>(i * 37);
            Bytes pixels(needed + 1, canary);
            EXPECT_EQ(qlx_expand(indices.data(), width, height, f.format, pixels.data(), stride, needed - 1),
                      QLX_CAPACITY_TOO_SMALL);
            EXPECT_EQ(pixels, Bytes(needed + 1, canary));
            ASSERT_EQ(qlx_expand(indices.data(), width, height, f.format, pixels.data(), stride, needed), QLX_OK);
            EXPECT_EQ(pixels[needed], canary);
            // The bytes: each pixel's palette colour, alpha 255, the gaps untouched.
            for (std::size_t y = 0; y < height; ++y) {
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint8_t* p = pixels.data() + y * stride + x * f.bytes;
                    const auto rgb = palette_rgb(indices[y * width + x]);
                    EXPECT_EQ((std::array<std::uint8_t, 3>{p[f.red], p[f.green], p[f.blue]}), rgb);
                    if (f.bytes == 4) {
                        EXPECT_EQ(p[3], 255);
                    }
                }
                for (std::size_t g = 0; g < gap && y + 1 < height; ++g) {
                    EXPECT_EQ(pixels[y * stride + row + g], canary);
                }
            }
            // And quantising from padded rows reads the pixels, not the gaps.
            Bytes back(width * height, canary);
            EXPECT_EQ(qlx_quantise(pixels.data(), width, height, stride, f.format, nullptr, back.data(), back.size() - 1),
                      QLX_CAPACITY_TOO_SMALL);
            EXPECT_EQ(back, Bytes(width * height, canary));
            ASSERT_EQ(qlx_quantise(pixels.data(), width, height, stride, f.format, nullptr, back.data(), back.size()),
                      QLX_OK);
            for (std::size_t i = 0; i < back.size(); ++i) {
                const auto rgb = palette_rgb(indices[i]);
                EXPECT_EQ(back[i], literal_nearest(rgb[0], rgb[1], rgb[2]));
            }
            ++cases;
        }
    }
    EXPECT_EQ(cases, 12);
}

// ---- Transparency at its edges --------------------------------------------

std::vector<std::string> names_of(const char* (*name_of)(int)) {
    std::vector<std::string> names;
    for (int i = 0; name_of(i) != nullptr; ++i) names.emplace_back(name_of(i));
    return names;
}
const char* dither_name(int value) { return qlx_dither_name(static_cast<qlx_dither>(value)); }
const char* light_name(int value) { return qlx_light_name(static_cast<qlx_light>(value)); }

// Methods whose pixels do not depend on their neighbours.
bool independent_pixels(const std::string& method) {
    return method == "none" || method == "ordered" || method == "blue-noise";
}

TEST(Contract, TransparencyAtTheThresholdForEveryMethodLightAndIndex) {
    const std::size_t width = 61, height = 23, count = width * height;
    const Bytes rgb = noise(count, 3, 11);
    const std::uint8_t alphas[] = {0, 127, 128, 255};
    int cases = 0;
    for (const std::string& method : names_of(dither_name)) {
        for (const std::string& light : names_of(light_name)) {
            qlx_options options = qlx_default_options();
            ASSERT_EQ(qlx_dither_from_name(method.c_str(), &options.dither), QLX_OK);
            ASSERT_EQ(qlx_light_from_name(light.c_str(), &options.light), QLX_OK);
            Bytes without_alpha(count);
            ASSERT_EQ(qlx_quantise(rgb.data(), width, height, width * 3, QLX_RGB, &options, without_alpha.data(), count),
                      QLX_OK);
            for (const int index : {0, 255}) {
                options.transparent_index = index;
                for (const bool some_transparent : {true, false}) {
                    Bytes rgba(count * 4);
                    for (std::size_t i = 0; i < count; ++i) {
                        std::copy_n(rgb.begin() + static_cast<std::ptrdiff_t>(3 * i), 3, rgba.begin() + static_cast<std::ptrdiff_t>(4 * i));
                        rgba[4 * i + 3] = some_transparent ? alphas[i % 4] : alphas[2 + i % 2];
                    }
                    Bytes indices(count);
                    ASSERT_EQ(qlx_quantise(rgba.data(), width, height, width * 4, QLX_RGBA, &options, indices.data(), count),
                              QLX_OK);
                    for (std::size_t i = 0; i < count; ++i) {
                        const bool transparent = rgba[4 * i + 3] < QLX_ALPHA_THRESHOLD;
                        if (transparent) {
                            EXPECT_EQ(indices[i], index) << method << " " << light << " pixel " << i;
                        } else if (!some_transparent || independent_pixels(method)) {
                            EXPECT_EQ(indices[i], without_alpha[i]) << method << " " << light << " pixel " << i;
                        }
                    }
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, static_cast<int>(names_of(dither_name).size() * names_of(light_name).size() * 4));
}

// ---- Pictures larger than one batch ---------------------------------------

// The BMP qlx_to_bmp writes, by hand: 54 bytes of headers, then the rows
// bottom first as blue, green, red, padded with zeros.
Bytes plain_bmp(const Bytes& indices, std::size_t width, std::size_t height) {
    const std::size_t stride = (width * 3 + 3) / 4 * 4;
    Bytes bmp(54 + stride * height, 0);
    bmp[0] = 'B';
    bmp[1] = 'M';
    qlx::test::put_le32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    qlx::test::put_le32(bmp, 10, 54);
    qlx::test::put_le32(bmp, 14, 40);
    qlx::test::put_le32(bmp, 18, static_cast<std::uint32_t>(width));
    qlx::test::put_le32(bmp, 22, static_cast<std::uint32_t>(height));
    qlx::test::put_le16(bmp, 26, 1);
    qlx::test::put_le16(bmp, 28, 24);
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            const auto [r, g, b] = palette_rgb(indices[y * width + x]);
            std::uint8_t* p = bmp.data() + 54 + (height - 1 - y) * stride + 3 * x;
            p[0] = b, p[1] = g, p[2] = r;
        }
    }
    return bmp;
}

TEST(Contract, WholePicturesLargerThanABatchMatchPlainStatements) {
    const std::size_t width = 1217, height = 1033;  // over a million pixels: threads and many batches
    const std::size_t count = width * height;
    NearestMemo nearest;
    const Bytes rgb = noise(count, 3, 5);
    Bytes expected(count);
    for (std::size_t i = 0; i < count; ++i) expected[i] = nearest(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);

    Bytes indices(count);
    ASSERT_EQ(qlx_quantise(rgb.data(), width, height, width * 3, QLX_RGB, nullptr, indices.data(), count), QLX_OK);
    EXPECT_TRUE(indices == expected);

    for (const bool top_down : {false, true}) {
        Bytes bgr(count * 3);
        for (std::size_t i = 0; i < count; ++i) {
            bgr[3 * i] = rgb[3 * i + 2], bgr[3 * i + 1] = rgb[3 * i + 1], bgr[3 * i + 2] = rgb[3 * i];
        }
        const Bytes bmp = qlx::test::make_bmp(
            {static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), top_down, 40, 0, true, 24, 0, bgr});
        Bytes from_bmp(count);
        ASSERT_EQ(qlx_from_bmp(bmp.data(), bmp.size(), nullptr, from_bmp.data(), count), QLX_OK);
        EXPECT_TRUE(from_bmp == expected) << (top_down ? "top-down" : "bottom-up");
    }

    Bytes written(qlx_bmp_size(width, height));
    ASSERT_EQ(qlx_to_bmp(expected.data(), count, width, height, written.data(), written.size()), QLX_OK);
    EXPECT_TRUE(written == plain_bmp(expected, width, height));

    Bytes rgba(count * 4);
    ASSERT_EQ(qlx_expand(expected.data(), width, height, QLX_RGBA, rgba.data(), width * 4, rgba.size()), QLX_OK);
    for (std::size_t i = 0; i < count; i += 997) {
        const auto colour = palette_rgb(expected[i]);
        EXPECT_EQ((std::array<std::uint8_t, 3>{rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]}), colour) << i;
    }
}

// ---- Resampling ------------------------------------------------------------

// round(65535 * L(code / 255)), L the sRGB curve.
std::int64_t linear_of(int code) {
    const double v = code / 255.0;
    const double l = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    return std::lround(65535 * l);
}

// The average sum / weight as a 16-bit light value, rounded, and the code
// whose value is nearest to it (the lower on a tie).
int code_nearest(std::uint64_t sum, std::uint64_t weight) {
    const auto average = static_cast<std::int64_t>((sum + weight / 2) / weight);
    int best = 0;
    for (int code = 1; code < 256; ++code) {
        if (std::llabs(linear_of(code) - average) < std::llabs(linear_of(best) - average)) best = code;
    }
    return best;
}

// Each result pixel the average of the source area it covers: along a side of
// source length S and result length D, source pixel j spans [jD, (j+1)D) and
// result pixel i spans [iS, (i+1)S); the weight is their overlap.
Bytes plain_resample(const Bytes& rgb, std::size_t width, std::size_t height, std::size_t out_width,
                     std::size_t out_height) {
    const auto overlap = [](std::uint64_t j, std::uint64_t i, std::uint64_t s, std::uint64_t d) -> std::uint64_t {
        const std::uint64_t begin = std::max(j * d, i * s), end = std::min((j + 1) * d, (i + 1) * s);
        return end > begin ? end - begin : 0;
    };
    Bytes out(out_width * out_height * 3);
    for (std::size_t oy = 0; oy < out_height; ++oy) {
        for (std::size_t ox = 0; ox < out_width; ++ox) {
            std::uint64_t sums[3] = {}, weight = 0;
            for (std::size_t y = 0; y < height; ++y) {
                const std::uint64_t wy = overlap(y, oy, height, out_height);
                if (wy == 0) continue;
                for (std::size_t x = 0; x < width; ++x) {
                    const std::uint64_t w = wy * overlap(x, ox, width, out_width);
                    for (int c = 0; c < 3; ++c) {
                        sums[c] += static_cast<std::uint64_t>(linear_of(rgb[(y * width + x) * 3 + static_cast<std::size_t>(c)])) * w;
                    }
                    weight += w;
                }
            }
            for (int c = 0; c < 3; ++c) {
                out[(oy * out_width + ox) * 3 + static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(code_nearest(sums[c], weight));
            }
        }
    }
    return out;
}

TEST(Contract, ResamplingIsTheAreaAverageInLinearLight) {
    const std::pair<std::size_t, std::size_t> sizes[][2] = {
        {{37, 23}, {11, 7}}, {{13, 9}, {40, 31}}, {{50, 50}, {17, 29}}, {{7, 5}, {7, 5}}, {{1, 1}, {3, 2}}};
    int compared = 0;
    for (const auto& [from, to] : sizes) {
        const Bytes rgb = noise(from.first * from.second, 3, static_cast<unsigned>(from.first), 1 << 20);
        Bytes out(to.first * to.second * 3);
        ASSERT_EQ(qlx_resample(rgb.data(), from.first, from.second, from.first * 3, QLX_RGB, out.data(), to.first,
                               to.second, out.size()),
                  QLX_OK);
        const Bytes expected = plain_resample(rgb, from.first, from.second, to.first, to.second);
        for (std::size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i], expected[i]) << from.first << "x" << from.second << " to " << to.first << "x"
                                           << to.second << ", byte " << i;
        }
        compared += static_cast<int>(out.size());
    }
    EXPECT_GT(compared, 4000);
}

// ---- Fitting ---------------------------------------------------------------

// a * b / c rounded to the nearest, halves up.
std::size_t rounded(std::size_t a, std::size_t b, std::size_t c) { return (2 * a * b + c) / (2 * c); }

qlx_placement plain_placement(std::size_t w, std::size_t h, std::size_t bw, std::size_t bh, qlx_fit fit) {
    qlx_placement p{0, 0, w, h, 0, 0, w, h, w, h};
    if (fit == QLX_FIT_KEEP) return p;
    p.box_width = bw, p.box_height = bh;
    const bool wider = w * bh > h * bw;  // than the box
    if (fit == QLX_FIT_STRETCH) {
        p.width = bw, p.height = bh;
    } else if (fit == QLX_FIT_CONTAIN) {
        p.width = wider ? bw : std::max<std::size_t>(1, rounded(w, bh, h));
        p.height = wider ? std::max<std::size_t>(1, rounded(h, bw, w)) : bh;
        p.x = (bw - p.width) / 2, p.y = (bh - p.height) / 2;
    } else {  // cover: the centre of the picture, cut to the box's aspect
        p.width = bw, p.height = bh;
        p.source_width = wider ? std::max<std::size_t>(1, rounded(h, bw, bh)) : w;
        p.source_height = wider ? h : std::max<std::size_t>(1, rounded(w, bh, bw));
        p.source_x = (w - p.source_width) / 2, p.source_y = (h - p.source_height) / 2;
    }
    return p;
}

TEST(Contract, PlacementsFollowTheirRulesForEveryShape) {
    const std::pair<std::size_t, std::size_t> pictures[] = {{1000, 100}, {100, 1000}, {640, 400}, {320, 200},
                                                            {321, 199},  {1, 1},      {1, 500},   {500, 1}};
    const std::pair<std::size_t, std::size_t> boxes[] = {{320, 200}, {200, 320}, {1, 1}, {7, 3}};
    int cases = 0;
    for (const auto& [w, h] : pictures) {
        for (const auto& [bw, bh] : boxes) {
            for (const qlx_fit fit : {QLX_FIT_KEEP, QLX_FIT_CONTAIN, QLX_FIT_COVER, QLX_FIT_STRETCH}) {
                qlx_placement got{};
                ASSERT_EQ(qlx_fit_placement(w, h, bw, bh, fit, &got), QLX_OK);
                const qlx_placement want = plain_placement(w, h, bw, bh, fit);
                const auto fields = [](const qlx_placement& p) {
                    return std::vector<std::size_t>{p.source_x, p.source_y, p.source_width, p.source_height, p.x,
                                                    p.y,        p.width,    p.height,       p.box_width,  p.box_height};
                };
                EXPECT_EQ(fields(got), fields(want)) << w << "x" << h << " in " << bw << "x" << bh << ", fit "
                                                     << qlx_fit_name(fit);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 8 * 4 * 4);

    // The bytes of a wide picture covering the box: its centre, resampled.
    const std::size_t w = 1000, h = 100;
    const Bytes rgb = noise(w * h, 3, 9, 1 << 20);
    qlx_placement place{};
    ASSERT_EQ(qlx_fit_placement(w, h, 32, 20, QLX_FIT_COVER, &place), QLX_OK);
    Bytes part(place.source_width * place.source_height * 3);
    for (std::size_t y = 0; y < place.source_height; ++y) {
        std::copy_n(rgb.begin() + static_cast<std::ptrdiff_t>(((place.source_y + y) * w + place.source_x) * 3),
                    place.source_width * 3, part.begin() + static_cast<std::ptrdiff_t>(y * place.source_width * 3));
    }
    Bytes out(32 * 20 * 3);
    ASSERT_EQ(qlx_resample(rgb.data() + (place.source_y * w + place.source_x) * 3, place.source_width,
                           place.source_height, w * 3, QLX_RGB, out.data(), 32, 20, out.size()),
              QLX_OK);
    EXPECT_TRUE(out == plain_resample(part, place.source_width, place.source_height, 32, 20));
}

}  // namespace
