#pragma once
// Fast searches for the nearest palette index that give exactly the answer of
// nearest_palette_index() for every one of the 2^24 colours, ties included.
//
// RGB space is cut into 16 x 16 x 16 cells of 16 x 16 x 16 colours. For each
// cell the grid keeps, in increasing index order, every entry that could be
// nearest to some colour in it: an entry whose smallest possible distance to
// the cell exceeds the largest possible distance of some other entry can never
// win, and a repeated colour never beats its first index. Searching those few
// candidates with the same strict less-than as the full search gives the same
// index. The table goes one step further for large pictures: it stores the
// answer for every colour of a cell, filled the first time a pixel falls in
// the cell, so a pixel costs one load.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "file_io.hpp"

namespace pal {

inline constexpr int cell_bits = 4;  // 16 levels per axis: about 8 true candidates a cell
inline constexpr int cell_count = 1 << (3 * cell_bits);
inline constexpr int colours_per_cell = 1 << (3 * cell_bits);

constexpr int cell_of(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    return (red >> cell_bits) << (2 * cell_bits) | (green >> cell_bits) << cell_bits | blue >> cell_bits;
}

class NearestColourGrid {
public:
    std::uint8_t nearest(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
        const Span span = cell(cell_of(blue, green, red));
        const Candidate* candidate = pool_.data() + span.first;
        int best_distance = 0x7FFF;
        std::uint8_t best_index = 0;
        for (std::uint32_t i = 0; i < span.count; ++i, ++candidate) {
            const int distance = absolute_difference(blue, candidate->blue) +
                                 absolute_difference(green, candidate->green) +
                                 absolute_difference(red, candidate->red);
            if (distance < best_distance) {
                best_distance = distance;
                best_index = candidate->index;
            }
        }
        return best_index;
    }

    // How many entries are searched for colours of `cell_index`.
    std::size_t candidate_count(int cell_index) { return cell(cell_index).count; }

private:
    struct Candidate {
        std::uint8_t blue, green, red, index;
    };
    struct Span {
        std::uint32_t first = 0;
        std::uint32_t count = 0;  // 0: not built yet; every cell has a candidate
    };

    static int absolute_difference(int a, int b) { return a > b ? a - b : b - a; }

    Span cell(int cell_index) {
        Span& span = cells_[static_cast<std::size_t>(cell_index)];
        if (span.count == 0) span = build_cell(cell_index);
        return span;
    }
    Span build_cell(int cell_index);

    std::array<Span, cell_count> cells_{};
    std::vector<Candidate> pool_;
};

class NearestColourTable {
public:
    // Empty when its 16 MiB cannot be had.
    static std::optional<NearestColourTable> create();

    std::uint8_t nearest(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
        const int cell_index = cell_of(blue, green, red);
        if (!filled_[static_cast<std::size_t>(cell_index)]) fill_cell(cell_index);
        return answers_.data()[slot_of(cell_index, blue, green, red)];
    }

private:
    explicit NearestColourTable(ByteBuffer answers) : answers_(std::move(answers)) {}

    // Cell-major layout: the 4096 answers of a cell share one 4 KiB page, so
    // filling a cell touches one page and a small picture touches few.
    static std::size_t slot_of(int cell_index, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
        constexpr int low = (1 << cell_bits) - 1;
        return static_cast<std::size_t>(cell_index) << (3 * cell_bits) |
               static_cast<std::size_t>((red & low) << (2 * cell_bits) | (green & low) << cell_bits | (blue & low));
    }
    void fill_cell(int cell_index);

    ByteBuffer answers_;
    std::array<bool, cell_count> filled_{};
    NearestColourGrid grid_;
};

}  // namespace pal
