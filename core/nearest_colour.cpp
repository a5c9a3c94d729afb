#include "nearest_colour.hpp"

// A hint to fetch a line of the table ahead of its use; nothing where the
// compiler has no such hint.
#if defined(__has_builtin)
#if __has_builtin(__builtin_prefetch)
#define QLX_PREFETCH(address) __builtin_prefetch(address)
#endif
#endif
#ifndef QLX_PREFETCH
#define QLX_PREFETCH(address) static_cast<void>(address)
#endif

namespace qlx {
namespace {

// Whether nearly every pixel of a row falls in another cell of 16 x 16 x 16
// colours than its neighbour, as in noise, judged from a few pairs. Such rows
// miss the caches on every pixel; a photograph's rows keep at least a few
// neighbours together (the sample's keep 4 of 16 pairs or more).
template <qlx_pixel_format F>
bool row_looks_scattered(const std::uint8_t* pixels, std::size_t width) {
    constexpr std::size_t pairs = 16;
    constexpr std::size_t bytes = pixel_order(F).bytes;
    if (width < 2 * pairs) return false;
    // Alpha, if any, is the fourth byte and left out.
    const auto cell_at = [](const std::uint8_t* pixel) {
        return (pixel[0] >> 4) | (pixel[1] >> 4) << 4 | (pixel[2] >> 4) << 8;
    };
    std::size_t apart = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t* pixel = pixels + bytes * (i * (width - 1) / pairs);
        apart += cell_at(pixel) != cell_at(pixel + bytes);
    }
    return apart + 1 >= pairs;
}

// Both loads of a scattered pixel miss, and the second needs the first, so
// each is fetched well ahead: a pixel's slot far ahead, its answer line once
// the slot has had time to arrive. With the other core busy this made noise
// 10-20 % faster; on rows of a photograph it would only add instructions.
template <qlx_pixel_format F>
void quantise_scattered_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    constexpr std::size_t slot_distance = 64;
    constexpr std::size_t answer_distance = 24;
    static constexpr PixelOrder order = pixel_order(F);
    const auto place_at = [pixels](std::size_t x) {
        const std::uint8_t* pixel = pixels + order.bytes * x;
        return table_place(pixel[order.red], pixel[order.green], pixel[order.blue]);
    };
    for (std::size_t x = 0; x < width; ++x) {
        if (x + slot_distance < width) QLX_PREFETCH(nearest_table::block_slots + block_of(place_at(x + slot_distance)));
        if (x + answer_distance < width) {
            const std::uint32_t slot = nearest_table::block_slots[block_of(place_at(x + answer_distance))];
            QLX_PREFETCH(nearest_table::slot_answers + std::size_t{slot} * slot_bytes);
        }
        indices[x] = nearest_index_of<F>(pixels + order.bytes * x);
    }
}

}  // namespace

template <qlx_pixel_format F>
void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
#ifndef QLX_NEAREST_TABLE_AT_LOAD  // whose one flat table has nothing to fetch ahead
    if (row_looks_scattered<F>(pixels, width)) {
        quantise_scattered_row<F>(pixels, width, indices);
        return;
    }
#endif
    constexpr std::size_t bytes = pixel_order(F).bytes;
    for (std::size_t x = 0; x < width; ++x) indices[x] = nearest_index_of<F>(pixels + bytes * x);
}

template void quantise_row<QLX_RGB>(const std::uint8_t*, std::size_t, std::uint8_t*);
template void quantise_row<QLX_BGR>(const std::uint8_t*, std::size_t, std::uint8_t*);
template void quantise_row<QLX_RGBA>(const std::uint8_t*, std::size_t, std::uint8_t*);
template void quantise_row<QLX_BGRA>(const std::uint8_t*, std::size_t, std::uint8_t*);

}  // namespace qlx
