#include "nearest_table_builder.hpp"

#include <algorithm>

#include "palette.hpp"

namespace qlx {
namespace {

using Answers = NearestTable::Answers;

struct Bounds {
    int nearest;   // smallest distance from the entry to any colour of the box
    int farthest;  // largest
};

Bounds axis_bounds(int c, int low, int size) {
    const int high = low + size - 1;
    return {std::max(0, low - c) + std::max(0, c - high), std::max(c - low, high - c)};
}

// Keeps, in order, the entries that may be nearest to some colour of the box:
// every colour has one within the least farthest distance, so an entry
// always farther than that never wins; one at equal may tie.
std::vector<std::uint8_t> prune_to_box(int red0, int green0, int blue0, int size,
                                       const std::vector<std::uint8_t>& list) {
    std::vector<Bounds> bounds;
    bounds.reserve(list.size());
    int least_farthest = max_colour_distance;
    for (const std::uint8_t i : list) {
        const Bounds r = axis_bounds(palette.red[i], red0, size);
        const Bounds g = axis_bounds(palette.green[i], green0, size);
        const Bounds b = axis_bounds(palette.blue[i], blue0, size);
        bounds.push_back({r.nearest + g.nearest + b.nearest, r.farthest + g.farthest + b.farthest});
        least_farthest = std::min(least_farthest, bounds.back().farthest);
    }
    std::vector<std::uint8_t> kept;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (bounds[i].nearest <= least_farthest) kept.push_back(list[i]);
    }
    return kept;
}

Answers rank_block(int red0, int green0, int blue0, const std::vector<std::uint8_t>& list) {
    Answers answers{};
    for (int offset = 0; offset < static_cast<int>(slot_bytes); ++offset) {
        const int red = red0 + (offset >> 4);
        const int green = green0 + (offset >> 2 & 3);
        const int blue = blue0 + (offset & 3);
        int best_distance = max_colour_distance + 1;
        for (const std::uint8_t i : list) {
            const int distance = colour_distance(red, green, blue, i);
            if (distance < best_distance) {
                best_distance = distance;
                answers[static_cast<std::size_t>(offset)] = i;
            }
        }
    }
    return answers;
}

void answer_box(int red0, int green0, int blue0, int size, const std::vector<std::uint8_t>& list,
                std::vector<Answers>& blocks) {
    const std::vector<std::uint8_t> kept = prune_to_box(red0, green0, blue0, size, list);
    constexpr int block_size = 1 << block_bits;
    if (size > block_size) {
        const int half = size / 2;
        for (int octant = 0; octant < 8; ++octant) {
            answer_box(red0 + (octant >> 2) * half, green0 + (octant >> 1 & 1) * half, blue0 + (octant & 1) * half,
                       half, kept, blocks);
        }
        return;
    }
    const std::uint32_t place = table_place(static_cast<std::uint8_t>(red0), static_cast<std::uint8_t>(green0),
                                            static_cast<std::uint8_t>(blue0));
    blocks[block_of(place)] = rank_block(red0, green0, blue0, kept);
}

}  // namespace

NearestTable compute_nearest_table() {
    std::vector<std::uint8_t> every_index(palette_size);
    for (std::size_t i = 0; i < every_index.size(); ++i) every_index[i] = static_cast<std::uint8_t>(i);
    std::vector<Answers> blocks(block_count);
    answer_box(0, 0, 0, 256, every_index, blocks);

    NearestTable table;
    table.block_slots.resize(block_count);
    table.slots.resize(uniform_slot_count);
    for (std::size_t i = 0; i < uniform_slot_count; ++i) table.slots[i].fill(static_cast<std::uint8_t>(i));
    for (std::size_t block = 0; block < blocks.size(); ++block) {
        const Answers& answers = blocks[block];
        if (std::all_of(answers.begin(), answers.end(), [&](std::uint8_t a) { return a == answers[0]; })) {
            table.block_slots[block] = answers[0];
        } else {
            table.block_slots[block] = static_cast<std::uint16_t>(table.slots.size());
            table.slots.push_back(answers);
        }
    }
    return table;
}

}  // namespace qlx
