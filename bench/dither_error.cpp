// How far each dithering method's result looks from the original, as the eye
// sees it from a distance: both pictures blurred with a 5 x 5 binomial
// kernel, then the mean squared difference per colour component. Twice: the
// blur over sRGB codes, and the blur over linear light (scaled to 0-255),
// which is how light from neighbouring pixels really adds up. Then the mean
// CIEDE2000 of the blurred pictures, as the library's --report measures it.
// Usage: dither_error PICTURE.bmp...   (one line a picture and method)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "blurred_error.hpp"
#include "load_bmp.hpp"
#include "qlx.h"

namespace {

// Every method in sRGB, and the error-diffusion ones in linear light too:
// those whose bytes the light changes.
struct Method {
    qlx_dither dither;
    qlx_light light;
    std::string name;
};

std::vector<Method> every_method(const LoadedBmp& probe) {
    std::vector<Method> methods;
    for (int code = 0; qlx_dither_name(static_cast<qlx_dither>(code)) != nullptr; ++code) {
        const auto dither = static_cast<qlx_dither>(code);
        methods.push_back({dither, QLX_LIGHT_SRGB, qlx_dither_name(dither)});
        qlx_options srgb = qlx_default_options(), linear = qlx_default_options();
        srgb.dither = linear.dither = dither;
        linear.light = QLX_LIGHT_LINEAR;
        std::vector<std::uint8_t> a(probe.layout.width * probe.layout.height), b(a.size());
        if (qlx_from_bmp(probe.file.data(), probe.file.size(), &srgb, a.data(), a.size()) == QLX_OK &&
            qlx_from_bmp(probe.file.data(), probe.file.size(), &linear, b.data(), b.size()) == QLX_OK && a != b) {
            methods.push_back({dither, QLX_LIGHT_LINEAR, std::string(qlx_dither_name(dither)) + " linear"});
        }
    }
    return methods;
}

}  // namespace

int main(int argc, char* argv[]) {
    std::printf("%-40s %-24s %10s %12s %10s\n", "picture", "method", "sRGB blur", "linear blur", "CIEDE2000");
    for (int i = 1; i < argc; ++i) {
        const std::optional<LoadedBmp> bmp = load_bmp(argv[i]);
        if (!bmp) return 2;
        const qlx_bmp_layout& layout = bmp->layout;
        const std::vector<Method> methods = every_method(*bmp);
        const std::size_t pixels = layout.width * layout.height;
        Plane original(3 * pixels);
        for (std::size_t y = 0; y < layout.height; ++y) {
            const std::size_t stored = layout.top_down ? y : layout.height - 1 - y;
            const std::uint8_t* row = bmp->file.data() + layout.pixel_offset + stored * layout.row_stride;
            for (std::size_t x = 0; x < 3 * layout.width; ++x) original[3 * y * layout.width + x] = row[x];
        }
        const std::vector<std::uint8_t> top_first(original.begin(), original.end());
        const Plane reference = blurred(original, layout.width, layout.height);
        const Plane linear_reference = blurred(in_linear_light(original), layout.width, layout.height);
        for (const auto& [dither, light, name] : methods) {
            std::vector<std::uint8_t> indices(pixels);
            qlx_options options = qlx_default_options();
            options.dither = dither;
            options.light = light;
            if (qlx_from_bmp(bmp->file.data(), bmp->file.size(), &options, indices.data(), indices.size()) != QLX_OK) {
                return 2;
            }
            Plane result(3 * pixels);
            for (std::size_t p = 0; p < pixels; ++p) {
                const std::uint32_t colour = qlx_palette_colour(indices[p]);
                result[3 * p] = colour & 0xFF;
                result[3 * p + 1] = colour >> 8 & 0xFF;
                result[3 * p + 2] = colour >> 16;
            }
            const double srgb_error = mean_squared(blurred(result, layout.width, layout.height), reference);
            const double linear_error =
                mean_squared(blurred(in_linear_light(result), layout.width, layout.height), linear_reference);
            // The library's figure, as --report gives it.
            const qlx_picture picture{
                top_first.data(), layout.width, layout.height, 3 * layout.width, QLX_BGR, nullptr, 0, nullptr};
            qlx_closeness closeness{};
            if (qlx_closeness_of(&picture, &options, QLX_FIT_KEEP, 0, 0, indices.data(), indices.size(), &closeness) !=
                QLX_OK) {
                return 2;
            }
            std::printf("%-40s %-24s %10.1f %12.1f %10.2f\n", argv[i], name.c_str(), srgb_error, linear_error,
                        closeness.ciede2000);
        }
    }
    return 0;
}
