// The nearest-colour table of a QLX_NEAREST_TABLE_AT_LOAD build: the same
// arrays the build tool writes into the programs, computed by the same code
// while the module starts, so that they cost nothing to download; and from
// them the flat table of every colour's answer that the module looks up
// (about 0.25 s in all).
#include <algorithm>
#include <cstdlib>

#include "nearest_colour.hpp"
#include "nearest_table_builder.hpp"

namespace qlx::nearest_table {

std::uint16_t block_slots[block_count];
// The slot numbers are 16 bits, so there are at most 65536 slots.
alignas(64) std::uint8_t slot_answers[(std::size_t{UINT16_MAX} + 1) * slot_bytes];
std::uint8_t colour_answers[std::size_t{1} << 24];

namespace {

// Runs before any exported function can be called.
const bool filled = [] {
    const NearestTable table = compute_nearest_table();
    if (table.slots.size() > std::size_t{UINT16_MAX} + 1) std::abort();
    std::copy(table.block_slots.begin(), table.block_slots.end(), block_slots);
    std::uint8_t* answers = slot_answers;
    for (const NearestTable::Answers& slot : table.slots) answers = std::copy(slot.begin(), slot.end(), answers);
    for (std::uint32_t colour = 0; colour < (1u << 24); ++colour) {
        colour_answers[colour] =
            nearest_index_at(table_place(static_cast<std::uint8_t>(colour >> 16),
                                         static_cast<std::uint8_t>(colour >> 8), static_cast<std::uint8_t>(colour)));
    }
    return true;
}();

}  // namespace
}  // namespace qlx::nearest_table
