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
//                 block = (red >> 2) << 12 | (green >> 2) << 6 | blue >> 2
//   slot_answers  64 bytes a slot, a cache line: the answers of the block's
//                 colours, at offset (red & 3) << 4 | (green & 3) << 2 | (blue & 3).
//                 Slots 0 to 255 are the uniform blocks, slot i answering i
//                 everywhere; slots 256 on are the other blocks, in block order.
//
// A colour costs two dependent loads and no branch: 512 KiB of slots and
// 3.6 MiB of answers, of which a picture touches only the pages its colours
// fall in. generate_nearest_table.cpp writes both arrays. Large pictures copy
// them into a flat table of one byte a colour (NearestColourTable below).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "file_io.hpp"

namespace pal {

inline constexpr int block_bits = 2;                    // 4 colours a side
inline constexpr std::size_t block_count = 1u << 18;    // 64^3
inline constexpr std::size_t slot_bytes = 64;           // 4^3 answers
inline constexpr std::size_t uniform_slot_count = 256;  // one per index

namespace nearest_table {
// Defined in the generated source. The answers are declared as 64-bit words
// so that the generated initialiser stays short; they are read as bytes, in
// the order the generator, built for the same machine, laid them out.
extern const std::uint16_t block_slots[block_count];
extern const std::uint64_t slot_answers[];
}  // namespace nearest_table

// Pixels are blue, green, red; read as a little-endian number they are the
// colour key red << 16 | green << 8 | blue.
constexpr std::uint32_t colour_key(const std::uint8_t* pixel) {
    return static_cast<std::uint32_t>(pixel[0] | pixel[1] << 8 | pixel[2] << 16);
}

// A colour's place in the table, block << 6 | offset in the block, is the sum
// of one entry per component: each puts its high six bits in the block
// number and its low two in the offset, fields that never overlap. Three
// lookups in these 3 KiB cost less than gathering the bits with shifts.
struct ComponentPlaces {
    std::array<std::uint32_t, 256> blue, green, red;
};
inline constexpr ComponentPlaces component_places = [] {
    ComponentPlaces places{};
    for (std::uint32_t c = 0; c < 256; ++c) {
        places.blue[c] = (c >> 2) << 6 | (c & 3);
        places.green[c] = (c >> 2) << 12 | (c & 3) << 2;
        places.red[c] = (c >> 2) << 18 | (c & 3) << 4;
    }
    return places;
}();

constexpr std::uint32_t table_place(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    return component_places.blue[blue] + component_places.green[green] + component_places.red[red];
}

constexpr std::uint32_t block_of(std::uint32_t place) { return place >> 6; }
constexpr std::uint32_t offset_in_block(std::uint32_t place) { return place & 63; }

inline const std::uint8_t* slot_answer_bytes() {
    return reinterpret_cast<const std::uint8_t*>(nearest_table::slot_answers);
}

// The nearest index of the blue-green-red triple at `pixel`.
inline std::uint8_t nearest_index(const std::uint8_t* pixel) {
    const std::uint32_t place = table_place(pixel[0], pixel[1], pixel[2]);
    return slot_answer_bytes()[std::size_t{nearest_table::block_slots[block_of(place)]} * slot_bytes +
                               offset_in_block(place)];
}

// The built-in table read where it lies, for small pictures: nothing to
// allocate or fill, and a picture touches only the pages its colours need.
struct BuiltInSearch {
    std::uint8_t nearest(const std::uint8_t* pixel) const { return nearest_index(pixel); }
    // Quantises `width` pixels of blue-green-red triples.
    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) const;
};

// Every answer in one 16 MiB array indexed by colour key (red << 16 | green
// << 8 | blue), for large pictures: one load a pixel instead of two. It is
// copied from the built-in table a 16 x 16 x 16 cell at a time, the first
// time a pixel falls in the cell, or whole by fill() for pictures whose
// colours are scattered all over. It stores index + 1, so that the zero of a
// fresh page means "not copied yet" (index 255 repeats white and is never an
// answer, so index + 1 never wraps).
class NearestColourTable {
public:
    // Empty when its 16 MiB cannot be had.
    static std::optional<NearestColourTable> create();

    std::uint8_t nearest(const std::uint8_t* pixel) {
        const std::uint32_t key = colour_key(pixel);
        const std::uint8_t stored = answers_.data()[key];
        return static_cast<std::uint8_t>((stored != 0 ? stored : fill_cell_of(key)) - 1);
    }
    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    // Copies every cell, on `threads` threads. Afterwards nothing is written,
    // so that rows can be converted on several threads at once.
    void fill(unsigned threads);

    static constexpr int cell_bits = 4;

private:
    explicit NearestColourTable(ByteBuffer answers);
    template <bool prefetch>
    void quantise_row_with(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    std::uint8_t fill_cell_of(std::uint32_t key);
    void copy_box(int red0, int red_count, int green0, int green_count, int blue0, int blue_count);

    ByteBuffer answers_;  // index + 1, or 0 where not copied yet
};

}  // namespace pal
