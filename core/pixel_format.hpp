#pragma once
// Where the components of a pixel lie in each format the library takes.

#include <cstddef>

#include "qlx.h"

namespace qlx {

struct PixelOrder {
    std::size_t bytes, red, green, blue;
    bool has_alpha;
    std::size_t alpha;
};

// `format` must be known.
constexpr PixelOrder pixel_order(qlx_pixel_format format) {
    switch (format) {
        case QLX_RGB: return {3, 0, 1, 2, false, 0};
        case QLX_BGR: break;
        case QLX_RGBA: return {4, 0, 1, 2, true, 3};
        case QLX_BGRA: return {4, 2, 1, 0, true, 3};
    }
    return {3, 2, 1, 0, false, 0};
}

}  // namespace qlx
