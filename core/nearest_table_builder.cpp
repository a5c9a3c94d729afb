#include "nearest_table_builder.hpp"

#include <algorithm>
#include <cstdlib>

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

// Palette entries in index order, held on the stack: the halving visits
// about 300,000 boxes, and allocating a list for each cost more than the rest.
struct EntryList {
    std::array<std::uint8_t, palette_size> entries;
    std::size_t count = 0;
};

Bounds entry_bounds(std::uint8_t i, int red0, int green0, int blue0, int size) {
    const Bounds r = axis_bounds(palette.red[i], red0, size);
    const Bounds g = axis_bounds(palette.green[i], green0, size);
    const Bounds b = axis_bounds(palette.blue[i], blue0, size);
    return {r.nearest + g.nearest + b.nearest, r.farthest + g.farthest + b.farthest};
}

// Keeps, in order, the entries that may be nearest to some colour of the box:
// every colour has one within the least farthest distance, so an entry
// always farther than that never wins; one at equal may tie.
EntryList prune_to_box(int red0, int green0, int blue0, int size, const EntryList& list) {
    std::array<int, palette_size> nearest;
    int least_farthest = max_colour_distance;
    for (std::size_t k = 0; k < list.count; ++k) {
        const Bounds bounds = entry_bounds(list.entries[k], red0, green0, blue0, size);
        nearest[k] = bounds.nearest;
        least_farthest = std::min(least_farthest, bounds.farthest);
    }
    EntryList kept;
    for (std::size_t k = 0; k < list.count; ++k) {
        if (nearest[k] <= least_farthest) kept.entries[kept.count++] = list.entries[k];
    }
    return kept;
}

Answers rank_block(int red0, int green0, int blue0, const EntryList& list) {
    // A distance is the sum of three distances along the axes, each taking
    // one of four values in the block: worked out once per entry.
    constexpr int side = 1 << block_bits;
    struct AxisDistances {
        std::array<int, side> red, green, blue;
    };
    std::array<AxisDistances, palette_size> along;
    for (std::size_t k = 0; k < list.count; ++k) {
        const std::uint8_t i = list.entries[k];
        for (int d = 0; d < side; ++d) {
            const auto index = static_cast<std::size_t>(d);
            along[k].red[index] = std::abs(red0 + d - palette.red[i]);
            along[k].green[index] = std::abs(green0 + d - palette.green[i]);
            along[k].blue[index] = std::abs(blue0 + d - palette.blue[i]);
        }
    }
    Answers answers{};
    for (std::size_t offset = 0; offset < slot_bytes; ++offset) {
        const std::size_t red = offset >> 4, green = offset >> 2 & 3, blue = offset & 3;
        int best_distance = max_colour_distance + 1;
        for (std::size_t k = 0; k < list.count; ++k) {
            const int distance = along[k].red[red] + along[k].green[green] + along[k].blue[blue];
            if (distance < best_distance) {
                best_distance = distance;
                answers[offset] = list.entries[k];
            }
        }
    }
    return answers;
}

void answer_box(int red0, int green0, int blue0, int size, const EntryList& list, std::vector<Answers>& blocks) {
    const EntryList kept = prune_to_box(red0, green0, blue0, size, list);
    constexpr int block_size = 1 << block_bits;
    if (kept.count == 1) {
        // One entry left answers the whole box: most boxes end here.
        Answers uniform;
        uniform.fill(kept.entries[0]);
        for (int red = red0; red < red0 + size; red += block_size) {
            for (int green = green0; green < green0 + size; green += block_size) {
                for (int blue = blue0; blue < blue0 + size; blue += block_size) {
                    blocks[block_of(table_place(static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                                static_cast<std::uint8_t>(blue)))] = uniform;
                }
            }
        }
        return;
    }
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
    EntryList every_index;
    for (std::size_t i = 0; i < palette_size; ++i)
        every_index.entries[every_index.count++] = static_cast<std::uint8_t>(i);
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
