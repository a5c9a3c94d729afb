#pragma once
// The nearest palette index of every one of the 2^24 colours, exactly as
// nearest_palette_index() gives it, ties included, read from a table that is
// computed when the programs are built and lies in their read-only data: a
// program starts with every answer ready and builds nothing at run time.
//
// RGB space is cut into 64 x 64 x 64 blocks of 4 x 4 x 4 colours. 77 % of the
// blocks (202,750) have one answer throughout; of the other 59,394 most hold
// two. So the table has two levels:
//
//   block_slots   262144 x uint16, indexed by block: the block's slot.
//                 Blocks are numbered in Z order, bit i of the high six bits
//                 of blue, green and red at bits 3i, 3i + 1 and 3i + 2, so
//                 that colours near each other have slots near each other and
//                 a picture touches fewer pages (a quarter fewer page faults on
//                 the sample than numbering red, then green, then blue).
//   slot_answers  64 bytes a slot, a cache line: the answers of the block's
//                 colours, at offset (red & 3) << 4 | (green & 3) << 2 | (blue & 3).
//                 Slots 0 to 255 are the uniform blocks, slot i answering i
//                 everywhere; slots 256 on are the other blocks, in block order.
//
// A colour costs two dependent loads and no branch: 512 KiB of slots and
// 3.6 MiB of answers, of which a picture touches only the pages its colours
// fall in. tools/generate_nearest_table.cpp writes both arrays as numbers,
// so their bytes are the same whatever machine builds or runs them.
//
// A build defining QLX_NEAREST_TABLE_AT_LOAD (the WebAssembly module, whose
// download must stay small) instead computes the same arrays once while it
// loads, before anything can call it: nearest_table_at_load.cpp.

#include <array>
#include <cstddef>
#include <cstdint>

#include "pixel_format.hpp"

namespace qlx {

inline constexpr int block_bits = 2;                    // 4 colours a side
inline constexpr std::size_t block_count = 1u << 18;    // 64^3
inline constexpr std::size_t slot_bytes = 64;           // 4^3 answers
inline constexpr std::size_t uniform_slot_count = 256;  // one per index

#ifdef QLX_NEAREST_TABLE_AT_LOAD
#define QLX_NEAREST_TABLE_STORAGE
#else
#define QLX_NEAREST_TABLE_STORAGE const
#endif
namespace nearest_table {
// Defined in the generated source, or filled at load.
extern QLX_NEAREST_TABLE_STORAGE std::uint16_t block_slots[block_count];
extern QLX_NEAREST_TABLE_STORAGE std::uint8_t slot_answers[];
}  // namespace nearest_table

// A colour's place in the table, block << 6 | offset in the block, is the sum
// of one entry per component: each puts its high six bits in the block
// number and its low two in the offset, bits that never overlap. Three
// lookups in these 3 KiB cost less than gathering the bits with shifts.
struct ComponentPlaces {
    std::array<std::uint32_t, 256> red, green, blue;
};
inline constexpr ComponentPlaces component_places = [] {
    // Bit i of a component's high six goes to bit 3i of the block number.
    const auto spread = [](std::uint32_t high) {
        std::uint32_t bits = 0;
        for (int i = 0; i < 6; ++i) bits |= (high >> i & 1) << (3 * i);
        return bits;
    };
    ComponentPlaces places{};
    for (std::uint32_t c = 0; c < 256; ++c) {
        places.red[c] = spread(c >> 2) << 8 | (c & 3) << 4;
        places.green[c] = spread(c >> 2) << 7 | (c & 3) << 2;
        places.blue[c] = spread(c >> 2) << 6 | (c & 3);
    }
    return places;
}();

constexpr std::uint32_t table_place(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return component_places.red[red] + component_places.green[green] + component_places.blue[blue];
}

constexpr std::uint32_t block_of(std::uint32_t place) { return place >> 6; }
constexpr std::uint32_t offset_in_block(std::uint32_t place) { return place & 63; }

// The nearest index of the colour at `place`.
inline std::uint8_t nearest_index_at(std::uint32_t place) {
    return nearest_table::slot_answers[std::size_t{nearest_table::block_slots[block_of(place)]} * slot_bytes +
                                       offset_in_block(place)];
}

#ifdef QLX_NEAREST_TABLE_AT_LOAD
namespace nearest_table {
// Every colour's answer at red << 16 | green << 8 | blue: one load a pixel,
// where WebAssembly pays dearly for the three small lookups of the blocks.
extern std::uint8_t colour_answers[std::size_t{1} << 24];
}  // namespace nearest_table
inline std::uint8_t nearest_index(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return nearest_table::colour_answers[std::uint32_t{red} << 16 | std::uint32_t{green} << 8 | blue];
}
#else
inline std::uint8_t nearest_index(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return nearest_index_at(table_place(red, green, blue));
}
#endif

// The nearest index of the pixel of format F at `pixel`.
template <qlx_pixel_format F>
inline std::uint8_t nearest_index_of(const std::uint8_t* pixel) {
    constexpr PixelOrder order = pixel_order(F);
    return nearest_index(pixel[order.red], pixel[order.green], pixel[order.blue]);
}

// Quantises `width` pixels of format F, alpha ignored. Rows of noise fetch
// their answers ahead.
template <qlx_pixel_format F>
void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);

}  // namespace qlx
