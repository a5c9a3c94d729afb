// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// GIF: an animation in our palette written frame by frame, and any GIF's
// frames read as a browser composes them. qlx.h documents both.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "api_checks.hpp"
#include "lzw.hpp"
#include "memory.hpp"
#include "palette.hpp"
#include "qlx.h"

using qlx::api::bytes_present;
using qlx::api::guarded;

namespace qlx {
namespace {

constexpr std::size_t control_size = 8;      // graphic control extension
constexpr std::size_t descriptor_size = 10;  // image descriptor
constexpr std::size_t loop_size = QLX_GIF_START_SIZE - QLX_GIF_START_SIZE_ONCE;
constexpr int disposal_keep = 1, disposal_clear = 2;

void put16(std::uint8_t* at, std::size_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

struct Rectangle {
    std::size_t left = 0, top = 0, width = 0, height = 0;
};

// The smallest rectangle holding every pixel for which `wanted(i)`; one
// pixel at the corner when none is, since a frame needs a pixel.
template <class Wanted>
Rectangle bounds(std::size_t width, std::size_t height, Wanted wanted) {
    std::size_t left = width, right = 0, top = height, bottom = 0;
    for (std::size_t y = 0; y < height; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            if (!wanted(y * width + x)) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    if (left > right || top > bottom) return {0, 0, 1, 1};
    return {left, top, right - left + 1, bottom - top + 1};
}

// A frame's control extension and descriptor.
void put_frame_headers(std::uint8_t* out, const Rectangle& place, int disposal, int delay, int transparent) {
    const std::uint8_t control[control_size] = {0x21,
                                                0xF9,
                                                4,
                                                static_cast<std::uint8_t>(disposal << 2 | (transparent >= 0 ? 1 : 0)),
                                                0,
                                                0,
                                                static_cast<std::uint8_t>(transparent >= 0 ? transparent : 0),
                                                0};
    std::memcpy(out, control, control_size);
    put16(out + 4, static_cast<std::size_t>(delay));
    out += control_size;
    out[0] = 0x2C;
    put16(out + 1, place.left), put16(out + 3, place.top), put16(out + 5, place.width), put16(out + 7, place.height);
    out[9] = 0;
}

// A rectangle of the frame, row by row.
void copy_out(const std::uint8_t* frame, std::size_t width, const Rectangle& place, std::uint8_t* out) {
    for (std::size_t y = 0; y < place.height; ++y) {
        std::memcpy(out + y * place.width, frame + (place.top + y) * width + place.left, place.width);
    }
}

// Writes one frame; the caller has checked everything.
qlx_status write_frame(const std::uint8_t* indices, const std::uint8_t* previous, std::size_t width, std::size_t height,
                       int delay, int transparent, std::uint8_t* out, std::size_t& written) {
    Rectangle place;
    int disposal = disposal_keep;
    if (transparent >= 0) {
        disposal = disposal_clear;
        place = bounds(width, height, [&](std::size_t i) { return indices[i] != transparent; });
    } else if (previous != nullptr) {
        place = bounds(width, height, [&](std::size_t i) { return indices[i] != previous[i]; });
    } else {
        place = {0, 0, width, height};
    }
    const std::size_t count = place.width * place.height;
    Result<std::unique_ptr<std::uint8_t[]>> pixels = allocate_array<std::uint8_t>(count);
    if (!pixels) return pixels.error();
    copy_out(indices, width, place, pixels->get());
    std::uint8_t* const data = out + control_size + descriptor_size;
    Result<std::size_t> plain =
        lzw_encode({pixels->get(), nullptr, count, false, min_code_size_of({pixels->get()}, count)}, data);
    if (!plain) return plain.error();
    std::size_t size = *plain;
    int marked = transparent;

    // Inside the rectangle, a pixel that did not change may be sent as an
    // index this frame does not use, marked transparent: whichever of the
    // two makes the longer strings.
    if (transparent < 0 && previous != nullptr) {
        std::array<bool, 256> used{};
        for (std::size_t i = 0; i < count; ++i) used[pixels->get()[i]] = true;
        // The lowest spare index, so that the codes stay as short as they can.
        const auto unused = std::find(used.begin(), used.end(), false);
        if (unused != used.end()) {
            const auto spare = static_cast<std::uint8_t>(unused - used.begin());
            Result<std::unique_ptr<std::uint8_t[]>> before = allocate_array<std::uint8_t>(count);
            Result<std::unique_ptr<std::uint8_t[]>> trial = allocate_array<std::uint8_t>(lzw_encoded_bound(count));
            if (!before || !trial) return QLX_OUT_OF_MEMORY;
            copy_out(previous, width, place, before->get());
            std::uint8_t* const alternatives = before->get();
            for (std::size_t i = 0; i < count; ++i) {
                alternatives[i] = alternatives[i] == pixels->get()[i] ? spare : pixels->get()[i];
            }
            for (const bool prefer : {true, false}) {
                Result<std::size_t> tried = lzw_encode({pixels->get(), alternatives, count, prefer,
                                                        min_code_size_of({pixels->get(), alternatives}, count)},
                                                       trial->get());
                if (!tried) return tried.error();
                if (*tried < size) {
                    std::memcpy(data, trial->get(), *tried);
                    size = *tried;
                    marked = spare;
                }
            }
        }
    }
    put_frame_headers(out, place, disposal, delay, marked);
    written = control_size + descriptor_size + size;
    return QLX_OK;
}

}  // namespace
}  // namespace qlx

extern "C" {

QLX_API qlx_status qlx_gif_start(size_t width, size_t height, int loop, uint8_t* out, size_t out_capacity,
                                 size_t* written) {
    if (!qlx::api::resample_side_fits(width) || !qlx::api::resample_side_fits(height)) return QLX_SIDE_OUT_OF_RANGE;
    if (loop < -1 || loop > 65535) return QLX_LOOP_OUT_OF_RANGE;
    if (out == nullptr || written == nullptr) return QLX_NULL_POINTER;
    const std::size_t size = loop < 0 ? QLX_GIF_START_SIZE_ONCE : QLX_GIF_START_SIZE;
    if (out_capacity < size) return QLX_CAPACITY_TOO_SMALL;
    std::memcpy(out, "GIF89a", 6);
    qlx::put16(out + 6, width), qlx::put16(out + 8, height);
    out[10] = 0xF7, out[11] = 0, out[12] = 0;
    for (std::size_t i = 0; i < qlx::palette_size; ++i) {
        const std::uint32_t colour = qlx::palette_rgb[i];
        out[13 + 3 * i] = static_cast<std::uint8_t>(colour >> 16);
        out[14 + 3 * i] = static_cast<std::uint8_t>(colour >> 8);
        out[15 + 3 * i] = static_cast<std::uint8_t>(colour);
    }
    if (loop >= 0) {
        std::uint8_t* extension = out + QLX_GIF_START_SIZE_ONCE;
        std::memcpy(extension, "\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        qlx::put16(extension + 16, static_cast<std::size_t>(loop));
        extension[18] = 0;
        static_assert(qlx::loop_size == 19);
    }
    *written = size;
    return QLX_OK;
}

QLX_API size_t qlx_gif_frame_bound(size_t width, size_t height) {
    if (!qlx::api::resample_side_fits(width) || !qlx::api::resample_side_fits(height)) return 0;
    std::size_t count = 0;
    if (!qlx::api::multiply_fits(width, height, count)) return 0;
    const std::size_t data = qlx::lzw_encoded_bound(count);
    return data == 0 ? 0 : qlx::control_size + qlx::descriptor_size + data;
}

QLX_API qlx_status qlx_gif_frame(const uint8_t* indices, const uint8_t* previous, size_t width, size_t height,
                                 int delay, int transparent_index, uint8_t* out, size_t out_capacity, size_t* written) {
    return guarded([&] {
        const std::size_t bound = qlx_gif_frame_bound(width, height);
        if (bound == 0) return QLX_SIDE_OUT_OF_RANGE;
        if (delay < 0 || delay > 65535) return QLX_DELAY_OUT_OF_RANGE;
        if (transparent_index < -1 || transparent_index > 255) return QLX_TRANSPARENT_INDEX_OUT_OF_RANGE;
        if (indices == nullptr || out == nullptr || written == nullptr) return QLX_NULL_POINTER;
        if (out_capacity < bound) return QLX_CAPACITY_TOO_SMALL;
        return qlx::write_frame(indices, previous, width, height, delay, transparent_index, out, *written);
    });
}

}  // extern "C"
