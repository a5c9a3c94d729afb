// How still each method holds an animation, and what that costs: on clips
// made from a photograph, the share of indices that change from one frame
// to the next, and the blurred error in linear light (as dither_error
// measures it) averaged over the frames. Two clips of 10 frames: the
// picture with noise of -3 to +3 added to every component of every frame,
// and the picture panning 2 pixels a frame. Linear Floyd-Steinberg with
// --dither-stable runs at a range of tolerances: the trade-off's curve.
// Usage: frame_stability PICTURE.bmp...
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "blurred_error.hpp"
#include "load_bmp.hpp"
#include "qlx.h"

namespace {

constexpr int frame_count = 10;
constexpr int noise = 3;
constexpr std::size_t pan_step = 2;

struct Clip {
    std::string name;
    std::size_t width = 0, height = 0;
    std::vector<std::vector<std::uint8_t>> frames;  // red, green, blue
};

std::vector<std::uint8_t> rgb_of(const LoadedBmp& bmp) {
    const qlx_bmp_layout& layout = bmp.layout;
    std::vector<std::uint8_t> rgb(3 * layout.width * layout.height);
    for (std::size_t y = 0; y < layout.height; ++y) {
        const std::size_t stored = layout.top_down ? y : layout.height - 1 - y;
        const std::uint8_t* row = bmp.file.data() + layout.pixel_offset + stored * layout.row_stride;
        for (std::size_t x = 0; x < layout.width; ++x) {
            for (std::size_t c = 0; c < 3; ++c) rgb[3 * (y * layout.width + x) + c] = row[3 * x + 2 - c];
        }
    }
    return rgb;
}

Clip noisy_clip(const std::vector<std::uint8_t>& rgb, std::size_t width, std::size_t height) {
    Clip clip{"noise", width, height, {}};
    std::mt19937 random(7);
    for (int f = 0; f < frame_count; ++f) {
        std::vector<std::uint8_t> frame(rgb.size());
        for (std::size_t i = 0; i < rgb.size(); ++i) {
            frame[i] = static_cast<std::uint8_t>(
                std::clamp(rgb[i] + static_cast<int>(random() % (2 * noise + 1)) - noise, 0, 255));
        }
        clip.frames.push_back(std::move(frame));
    }
    return clip;
}

Clip panning_clip(const std::vector<std::uint8_t>& rgb, std::size_t width, std::size_t height) {
    const std::size_t crop = width - pan_step * frame_count;
    Clip clip{"pan", crop, height, {}};
    for (std::size_t f = 0; f < frame_count; ++f) {
        std::vector<std::uint8_t> frame(3 * crop * height);
        for (std::size_t y = 0; y < height; ++y) {
            std::copy_n(rgb.begin() + static_cast<std::ptrdiff_t>(3 * (y * width + f * pan_step)), 3 * crop,
                        frame.begin() + static_cast<std::ptrdiff_t>(3 * y * crop));
        }
        clip.frames.push_back(std::move(frame));
    }
    return clip;
}

struct Setting {
    std::string name;
    qlx_options options;
};

std::vector<Setting> settings() {
    const auto with = [](qlx_dither dither, qlx_light light, int stable) {
        qlx_options options = qlx_default_options();
        options.dither = dither, options.light = light, options.stable = stable;
        return options;
    };
    std::vector<Setting> list = {
        {"none", with(QLX_DITHER_NONE, QLX_LIGHT_SRGB, 0)},
        {"ordered", with(QLX_DITHER_ORDERED, QLX_LIGHT_SRGB, 0)},
        {"blue-noise", with(QLX_DITHER_BLUE_NOISE, QLX_LIGHT_SRGB, 0)},
        {"floyd-steinberg", with(QLX_DITHER_FLOYD_STEINBERG, QLX_LIGHT_SRGB, 0)},
        {"floyd-steinberg linear", with(QLX_DITHER_FLOYD_STEINBERG, QLX_LIGHT_LINEAR, 0)},
        {"pattern", with(QLX_DITHER_PATTERN, QLX_LIGHT_SRGB, 0)},
    };
    for (const int tolerance : {1, 2, 4, 6, 8, 12, 16, 24, 32}) {
        list.push_back({"fs linear stable=" + std::to_string(tolerance),
                        with(QLX_DITHER_FLOYD_STEINBERG, QLX_LIGHT_LINEAR, tolerance)});
    }
    return list;
}

struct Figures {
    double changed = 0;  // share of indices changed between consecutive frames
    double error = 0;    // mean blurred error in linear light
};

Figures measure(const Clip& clip, const qlx_options& options) {
    const std::size_t pixels = clip.width * clip.height;
    std::vector<std::uint8_t> memory(pixels * QLX_FRAME_MEMORY_PIXEL_BYTES, 0), indices(pixels), previous;
    Figures figures;
    std::size_t changed = 0;
    for (const auto& frame : clip.frames) {
        const qlx_picture picture{frame.data(), clip.width, clip.height, 3 * clip.width, QLX_RGB, nullptr, 0, nullptr};
        if (qlx_convert_frame(&picture, &options, QLX_FIT_KEEP, 0, 0, memory.data(), memory.size(), indices.data(),
                              indices.size()) != QLX_OK) {
            std::exit(2);
        }
        if (!previous.empty()) {
            for (std::size_t p = 0; p < pixels; ++p) changed += indices[p] != previous[p];
        }
        const Plane source(frame.begin(), frame.end());
        figures.error += mean_squared(blurred(in_linear_light(colours_of(indices)), clip.width, clip.height),
                                      blurred(in_linear_light(source), clip.width, clip.height));
        previous = indices;
    }
    figures.changed = static_cast<double>(changed) / static_cast<double>(pixels * (clip.frames.size() - 1));
    figures.error /= static_cast<double>(clip.frames.size());
    return figures;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::printf("%-28s %-6s %-26s %9s %12s %12s\n", "picture", "clip", "method", "changed", "linear blur", "/ ordered");
    for (int i = 1; i < argc; ++i) {
        const std::optional<LoadedBmp> bmp = load_bmp(argv[i]);
        if (!bmp || bmp->layout.width <= pan_step * frame_count) return 2;
        const std::vector<std::uint8_t> rgb = rgb_of(*bmp);
        for (const Clip& clip : {noisy_clip(rgb, bmp->layout.width, bmp->layout.height),
                                 panning_clip(rgb, bmp->layout.width, bmp->layout.height)}) {
            const double ordered = measure(clip, settings()[1].options).error;
            for (const Setting& setting : settings()) {
                const Figures figures = measure(clip, setting.options);
                std::printf("%-28s %-6s %-26s %8.1f%% %12.1f %12.3f\n", argv[i], clip.name.c_str(),
                            setting.name.c_str(), 100 * figures.changed, figures.error, figures.error / ordered);
            }
        }
    }
    return 0;
}
