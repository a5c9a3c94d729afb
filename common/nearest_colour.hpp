#pragma once
// Fast searches for the nearest palette index that give exactly the answer of
// nearest_palette_index() for every one of the 2^24 colours, ties included.
//
// RGB space is cut into 16 x 16 x 16 cells of 16 x 16 x 16 colours. For each
// cell the grid keeps every entry that could be nearest to some colour in it:
// an entry whose smallest possible distance to the cell exceeds the largest
// possible distance of some other entry can never win, and a repeated colour
// never beats its first index. That leaves about 8 candidates a cell, 29 at
// most. The table goes one step further for large pictures: it stores the
// answer for every colour, filled a cell at a time the first time a pixel
// falls in the cell, so a pixel costs one load. It stores index + 1, so that
// the zero of a fresh page means "not filled yet": index 255 repeats white
// and is never an answer, so index + 1 never wraps to 0.
//
// Both rank a candidate by the key distance * 256 + index: the smallest key
// has the smallest distance and, among equals, the lowest index, exactly the
// full search's strict less-than in index order. Taking a minimum of keys
// needs no branch, so compilers can vectorise it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "file_io.hpp"

// Where the toolchain can build it (a configure-time check), the grid search
// has an SSE4.1 path, taken when the processor has it. PAL_PORTABLE_ONLY
// builds leave it out, to test the plain C++ paths alone.
#if defined(PAL_HAVE_SSE41_DISPATCH)
#define PAL_X86_DISPATCH 1
#else
#define PAL_X86_DISPATCH 0
#endif

namespace pal {

inline constexpr int cell_bits = 4;
inline constexpr int cell_size = 1 << cell_bits;
inline constexpr int cell_count = 1 << (3 * cell_bits);

// Pixels are blue, green, red; read as a little-endian number they are the
// colour key red << 16 | green << 8 | blue.
constexpr std::uint32_t colour_key(const std::uint8_t* pixel) {
    return static_cast<std::uint32_t>(pixel[0] | pixel[1] << 8 | pixel[2] << 16);
}

constexpr int cell_of(std::uint32_t key) {
    constexpr int high = cell_size - 1;
    return static_cast<int>((key >> 4 & high) | (key >> 12 & high) << 4 | (key >> 20 & high) << 8);
}

class NearestColourGrid {
public:
    struct Candidate {
        std::uint8_t blue, green, red, index;
    };

    // Quantises `width` pixels of blue-green-red triples, with SIMD where the
    // processor has it.
    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    // The same in plain C++, the path of processors without it.
    void quantise_row_portable(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    // One colour, for searches whose next colour depends on this answer.
    std::uint8_t nearest(std::uint32_t key);
    // The entries searched for colours of a cell, in increasing index order.
    std::span<const Candidate> candidates(int cell_index);

private:
    // The same candidates again in groups of eight, one array per component,
    // so that a pixel is ranked against eight at once. A short last group is
    // padded with copies of its last candidate, which can never win a tie.
    static constexpr int block_lanes = 8;
    struct CandidateBlock {
        std::array<std::uint16_t, block_lanes> blue, green, red, index;
    };
    struct Span {
        std::uint32_t first = 0;
        std::uint32_t count = 0;  // 0: not built yet; every cell has a candidate
        std::uint32_t first_block = 0;
        std::uint32_t block_count = 0;
    };
    const Span& cell(int cell_index);
    Span build_cell(int cell_index);
    std::span<const Candidate> parent_candidates(int cell_index);
#if PAL_X86_DISPATCH
    void quantise_row_sse41(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
#endif

    // Parent boxes of 4 x 4 x 4 cells, whose candidates cells are pruned from.
    static constexpr int parent_bits = 2;
    // On the heap, so that moving a grid copies nothing.
    std::vector<Span> cells_ = std::vector<Span>(cell_count);
    std::vector<std::vector<Candidate>> parents_ = std::vector<std::vector<Candidate>>(cell_count >> (3 * parent_bits));
    std::vector<Candidate> pool_;
    std::vector<CandidateBlock> blocks_;
};

class NearestColourTable {
public:
    // Empty when its 16 MiB cannot be had.
    static std::optional<NearestColourTable> create();

    void quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    // One colour, for searches whose next colour depends on this answer.
    std::uint8_t nearest(std::uint32_t key) {
        const std::uint8_t stored = answers_.data()[key];
        return static_cast<std::uint8_t>((stored != 0 ? stored : fill_cell_of(key)) - 1);
    }

private:
    explicit NearestColourTable(ByteBuffer answers);
    template <bool prefetch>
    void quantise_row_with(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    void quantise_coherent_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    void quantise_scattered_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices);
    std::uint8_t fill_cell_of(std::uint32_t key);
    void fill_box(int red0, int green0, int blue0, int size, std::span<const NearestColourGrid::Candidate> list);
    static void rank_box(int red0, int green0, int blue0, std::span<const NearestColourGrid::Candidate> list,
                         std::uint8_t* answers);

    // Boxes this small are ranked colour by colour rather than split further.
    static constexpr int smallest_box = 8;

    ByteBuffer answers_;  // index + 1, or 0 where not filled yet; indexed by colour key
    NearestColourGrid grid_;
};

}  // namespace pal
