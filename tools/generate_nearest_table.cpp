// Writes the C++ source of the nearest-colour table (core/nearest_colour.hpp
// says its layout) to the file named by its one argument. It is a tool of
// the build machine: the table is written as numbers, which mean the same
// to every compiler, so cross builds run it where they are built.
//
// Every answer is exact: boxes of colours are halved from the whole RGB cube
// down to the 4 x 4 x 4 blocks, each keeping only the entries that may be
// nearest to one of its colours, and each colour of a block is then ranked
// against the few left, in index order with a strict less-than, as the
// defining search does. The test suite checks every colour against that search.

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "nearest_colour.hpp"
#include "palette.hpp"

namespace {

using qlx::palette;
using Answers = std::array<std::uint8_t, qlx::slot_bytes>;

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
    int least_farthest = qlx::max_colour_distance;
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
    for (int offset = 0; offset < static_cast<int>(qlx::slot_bytes); ++offset) {
        const int red = red0 + (offset >> 4);
        const int green = green0 + (offset >> 2 & 3);
        const int blue = blue0 + (offset & 3);
        int best_distance = qlx::max_colour_distance + 1;
        for (const std::uint8_t i : list) {
            const int distance = qlx::colour_distance(red, green, blue, i);
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
    constexpr int block_size = 1 << qlx::block_bits;
    if (size > block_size) {
        const int half = size / 2;
        for (int octant = 0; octant < 8; ++octant) {
            answer_box(red0 + (octant >> 2) * half, green0 + (octant >> 1 & 1) * half, blue0 + (octant & 1) * half,
                       half, kept, blocks);
        }
        return;
    }
    const std::uint32_t place = qlx::table_place(static_cast<std::uint8_t>(red0), static_cast<std::uint8_t>(green0),
                                                 static_cast<std::uint8_t>(blue0));
    blocks[qlx::block_of(place)] = rank_block(red0, green0, blue0, kept);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: generate_nearest_table OUTPUT.cpp\n", stderr);
        return 2;
    }
    std::vector<std::uint8_t> every_index(qlx::palette_size);
    for (std::size_t i = 0; i < every_index.size(); ++i) every_index[i] = static_cast<std::uint8_t>(i);
    std::vector<Answers> blocks(qlx::block_count);
    answer_box(0, 0, 0, 256, every_index, blocks);

    std::vector<std::uint16_t> block_slots(qlx::block_count);
    std::vector<Answers> slots(qlx::uniform_slot_count);
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i].fill(static_cast<std::uint8_t>(i));
    for (std::size_t block = 0; block < blocks.size(); ++block) {
        const Answers& answers = blocks[block];
        if (std::all_of(answers.begin(), answers.end(), [&](std::uint8_t a) { return a == answers[0]; })) {
            block_slots[block] = answers[0];
        } else {
            block_slots[block] = static_cast<std::uint16_t>(slots.size());
            slots.push_back(answers);
        }
    }
    if (slots.size() > UINT16_MAX + std::size_t{1}) {
        std::fputs("generate_nearest_table: too many slots for 16 bits\n", stderr);
        return 1;
    }

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fputs(
        "// Written by generate_nearest_table at build time.\n#include \"nearest_colour.hpp\"\n\n"
        "namespace qlx::nearest_table {\n\nconst std::uint16_t block_slots[block_count] = {\n",
        out);
    for (std::size_t block = 0; block < block_slots.size(); ++block) {
        std::fprintf(out, "%u,%s", block_slots[block], block % 32 == 31 ? "\n" : "");
    }
    std::fprintf(out, "};\n\nalignas(64) const std::uint8_t slot_answers[%zu] = {\n", slots.size() * qlx::slot_bytes);
    for (const Answers& answers : slots) {
        for (const std::uint8_t answer : answers) std::fprintf(out, "%u,", answer);
        std::fputc('\n', out);
    }
    std::fputs("};\n\n}  // namespace qlx::nearest_table\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
