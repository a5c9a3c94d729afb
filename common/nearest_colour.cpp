#include "nearest_colour.hpp"

#include <algorithm>

#include "palette.hpp"

namespace pal {
namespace {

constexpr int cell_size = 1 << cell_bits;

struct Bounds {
    int nearest;   // smallest distance from the entry to any colour of the cell
    int farthest;  // largest
};

// Distance bounds along one axis from component `c` to the range [low, high].
Bounds axis_bounds(int c, int low, int high) {
    const int nearest = c < low ? low - c : (c > high ? c - high : 0);
    return {nearest, std::max(c - low, high - c)};
}

bool repeats_an_earlier_entry(int index) {
    for (int earlier = 0; earlier < index; ++earlier) {
        if (palette_rgb[static_cast<std::size_t>(earlier)] == palette_rgb[static_cast<std::size_t>(index)]) return true;
    }
    return false;
}

// Entries that are not a copy of an earlier one; only they can be nearest.
const std::vector<std::uint8_t>& distinct_entries() {
    static const std::vector<std::uint8_t> entries = [] {
        std::vector<std::uint8_t> list;
        for (int i = 0; i < palette_size; ++i) {
            if (!repeats_an_earlier_entry(i)) list.push_back(static_cast<std::uint8_t>(i));
        }
        return list;
    }();
    return entries;
}

}  // namespace

NearestColourGrid::Span NearestColourGrid::build_cell(int cell_index) {
    const int red_low = (cell_index >> (2 * cell_bits)) * cell_size;
    const int green_low = (cell_index >> cell_bits & (cell_size - 1)) * cell_size;
    const int blue_low = (cell_index & (cell_size - 1)) * cell_size;

    std::array<Bounds, palette_size> bounds{};
    int least_farthest = max_colour_distance;
    for (const std::uint8_t i : distinct_entries()) {
        const Bounds r = axis_bounds(palette.red[i], red_low, red_low + cell_size - 1);
        const Bounds g = axis_bounds(palette.green[i], green_low, green_low + cell_size - 1);
        const Bounds b = axis_bounds(palette.blue[i], blue_low, blue_low + cell_size - 1);
        bounds[i] = {r.nearest + g.nearest + b.nearest, r.farthest + g.farthest + b.farthest};
        least_farthest = std::min(least_farthest, bounds[i].farthest);
    }

    Span span{static_cast<std::uint32_t>(pool_.size()), 0};
    for (const std::uint8_t i : distinct_entries()) {
        // Every colour of the cell has an entry within least_farthest; one
        // that is always farther can never be chosen. Equal may tie, so stays.
        if (bounds[i].nearest > least_farthest) continue;
        pool_.push_back({palette.blue[i], palette.green[i], palette.red[i], i});
        ++span.count;
    }
    return span;
}

std::optional<NearestColourTable> NearestColourTable::create() {
    std::optional<ByteBuffer> answers = ByteBuffer::allocate(std::size_t{cell_count} * colours_per_cell);
    if (!answers) return std::nullopt;
    return NearestColourTable(std::move(*answers));
}

void NearestColourTable::fill_cell(int cell_index) {
    const int red_low = (cell_index >> (2 * cell_bits)) * cell_size;
    const int green_low = (cell_index >> cell_bits & (cell_size - 1)) * cell_size;
    const int blue_low = (cell_index & (cell_size - 1)) * cell_size;
    std::uint8_t* answer = answers_.data() + (static_cast<std::size_t>(cell_index) << (3 * cell_bits));
    for (int red = red_low; red < red_low + cell_size; ++red) {
        for (int green = green_low; green < green_low + cell_size; ++green) {
            for (int blue = blue_low; blue < blue_low + cell_size; ++blue) {
                *answer++ = grid_.nearest(static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                                          static_cast<std::uint8_t>(red));
            }
        }
    }
    filled_[static_cast<std::size_t>(cell_index)] = true;
}

}  // namespace pal
