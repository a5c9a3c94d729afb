#pragma once
// Computes the nearest-colour table that core/nearest_colour.hpp describes.
// The build tool writes its result into the programs' source; a build whose
// files must stay small (the WebAssembly module) runs it once at load.

#include <array>
#include <cstdint>
#include <vector>

#include "nearest_colour.hpp"

namespace qlx {

struct NearestTable {
    using Answers = std::array<std::uint8_t, slot_bytes>;
    std::vector<std::uint16_t> block_slots;  // block_count entries
    std::vector<Answers> slots;              // uniform_slot_count first; at most 65536
};

// Every answer exact: boxes of colours are halved from the whole RGB cube
// down to the blocks, each keeping only the entries that may be nearest to
// one of its colours, and each colour of a block is then ranked against the
// few left, in index order with a strict less-than, as the defining search
// does. The test suite checks every colour against that search.
NearestTable compute_nearest_table();

}  // namespace qlx
