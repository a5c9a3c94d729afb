#include "nearest_colour.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "palette.hpp"

// The hot loops are compiled twice on x86-64, once for AVX2, and the loader
// picks by what the processor has; both give the same bytes.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define PAL_MULTIVERSION __attribute__((target_clones("avx2", "default")))
#else
#define PAL_MULTIVERSION
#endif

namespace pal {
namespace {

struct Bounds {
    int nearest;   // smallest distance from the entry to any colour of the cell
    int farthest;  // largest
};

// Distance bounds along one axis from component `c` to the range [low, low + size).
Bounds axis_bounds(int c, int low, int size = cell_size) {
    const int high = low + size - 1;
    return {std::max(0, low - c) + std::max(0, c - high), std::max(c - low, high - c)};
}

int absolute_difference(int a, int b) { return a > b ? a - b : b - a; }

std::uint32_t rank_key(int distance, std::uint8_t index) { return static_cast<std::uint32_t>(distance) << 8 | index; }

// A copy of an earlier entry always ties with it and so never wins.
constexpr std::array<bool, palette_size> repeats_an_earlier_entry = [] {
    std::array<bool, palette_size> repeats{};
    for (std::size_t i = 0; i < palette_size; ++i) {
        repeats[i] = std::find(palette_rgb.begin(), palette_rgb.begin() + static_cast<std::ptrdiff_t>(i),
                               palette_rgb[i]) != palette_rgb.begin() + static_cast<std::ptrdiff_t>(i);
    }
    return repeats;
}();

struct CellOrigin {
    int blue, green, red;
};

std::size_t colour_key_of(int red, int green, int blue) {
    return static_cast<std::size_t>(red) << 16 | static_cast<std::size_t>(green) << 8 | static_cast<std::size_t>(blue);
}

CellOrigin origin_of(int cell_index) {
    return {(cell_index & (cell_size - 1)) * cell_size, (cell_index >> cell_bits & (cell_size - 1)) * cell_size,
            (cell_index >> (2 * cell_bits)) * cell_size};
}

// Keeps, in order, the candidates that may be nearest to some colour of the
// box: every colour has one within the least farthest distance, so a
// candidate always farther than that never wins; one at equal may tie.
std::size_t prune_to_box(int red0, int green0, int blue0, int size, std::span<const NearestColourGrid::Candidate> list,
                         NearestColourGrid::Candidate* kept) {
    std::array<Bounds, palette_size> bounds;
    int least_farthest = max_colour_distance;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const Bounds r = axis_bounds(list[i].red, red0, size);
        const Bounds g = axis_bounds(list[i].green, green0, size);
        const Bounds b = axis_bounds(list[i].blue, blue0, size);
        bounds[i] = {r.nearest + g.nearest + b.nearest, r.farthest + g.farthest + b.farthest};
        least_farthest = std::min(least_farthest, bounds[i].farthest);
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (bounds[i].nearest <= least_farthest) kept[count++] = list[i];
    }
    return count;
}

}  // namespace

NearestColourGrid::Span NearestColourGrid::build_cell(int cell_index) {
    static const std::vector<Candidate> distinct_entries = [] {
        std::vector<Candidate> entries;
        for (std::size_t i = 0; i < palette_size; ++i) {
            if (!repeats_an_earlier_entry[i]) {
                entries.push_back({palette.blue[i], palette.green[i], palette.red[i], static_cast<std::uint8_t>(i)});
            }
        }
        return entries;
    }();
    const CellOrigin origin = origin_of(cell_index);
    std::array<Candidate, palette_size> kept;
    const std::size_t count = prune_to_box(origin.red, origin.green, origin.blue, cell_size, distinct_entries, kept.data());
    const Span span{static_cast<std::uint32_t>(pool_.size()), static_cast<std::uint32_t>(count)};
    pool_.insert(pool_.end(), kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(count));
    return span;
}

std::span<const NearestColourGrid::Candidate> NearestColourGrid::candidates(int cell_index) {
    Span& span = cells_[static_cast<std::size_t>(cell_index)];
    if (span.count == 0) span = build_cell(cell_index);
    return {pool_.data() + span.first, span.count};
}

std::uint8_t NearestColourGrid::nearest(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const std::uint8_t pixel[3] = {blue, green, red};
    std::uint8_t index = 0;
    quantise_row(pixel, 1, &index);
    return index;
}

PAL_MULTIVERSION
void NearestColourGrid::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    for (std::size_t x = 0; x < width; ++x, pixels += 3) {
        const std::span<const Candidate> list = candidates(cell_of(colour_key(pixels)));
        std::uint32_t best = UINT32_MAX;
        for (const Candidate& candidate : list) {
            const int distance = absolute_difference(pixels[0], candidate.blue) +
                                 absolute_difference(pixels[1], candidate.green) +
                                 absolute_difference(pixels[2], candidate.red);
            best = std::min(best, rank_key(distance, candidate.index));
        }
        indices[x] = static_cast<std::uint8_t>(best);
    }
}

std::optional<NearestColourTable> NearestColourTable::create() {
    std::optional<ByteBuffer> answers = ByteBuffer::allocate(std::size_t{1} << 24);
    if (!answers) return std::nullopt;
    return NearestColourTable(std::move(*answers));
}

NearestColourTable::NearestColourTable(ByteBuffer answers) : answers_(std::move(answers)) {}

std::uint8_t NearestColourTable::nearest(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    const std::uint8_t pixel[3] = {blue, green, red};
    std::uint8_t index = 0;
    quantise_row(pixel, 1, &index);
    return index;
}

PAL_MULTIVERSION
void NearestColourTable::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    const std::uint8_t* answers = answers_.data();
    for (std::size_t x = 0; x < width; ++x, pixels += 3) {
        const std::uint32_t key = colour_key(pixels);
        const int cell_index = cell_of(key);
        if (!filled_[static_cast<std::size_t>(cell_index)]) fill_cell(cell_index);
        indices[x] = answers[key];
    }
}

void NearestColourTable::fill_cell(int cell_index) {
    const CellOrigin origin = origin_of(cell_index);
    fill_box(origin.red, origin.green, origin.blue, cell_size, grid_.candidates(cell_index));
    filled_[static_cast<std::size_t>(cell_index)] = true;
}

// Halves the box until one candidate is left, which then answers the whole
// box; boxes of a few colours that straddle a boundary are ranked directly.
void NearestColourTable::fill_box(int red0, int green0, int blue0, int size,
                                  std::span<const NearestColourGrid::Candidate> list) {
    std::array<NearestColourGrid::Candidate, palette_size> kept;
    const std::size_t kept_count = prune_to_box(red0, green0, blue0, size, list, kept.data());
    if (kept_count > 1 && size > smallest_box) {
        const int half = size / 2;
        for (int octant = 0; octant < 8; ++octant) {
            fill_box(red0 + (octant >> 2) * half, green0 + (octant >> 1 & 1) * half, blue0 + (octant & 1) * half, half,
                     {kept.data(), kept_count});
        }
        return;
    }
    if (kept_count == 1) {
        for (int red = red0; red < red0 + size; ++red) {
            for (int green = green0; green < green0 + size; ++green) {
                std::memset(answers_.data() + colour_key_of(red, green, blue0), kept[0].index,
                            static_cast<std::size_t>(size));
            }
        }
        return;
    }
    rank_box(red0, green0, blue0, {kept.data(), kept_count}, answers_.data());
}

// Ranks every colour of a smallest box against every candidate at once, a
// loop compilers vectorise.
PAL_MULTIVERSION
void NearestColourTable::rank_box(int red0, int green0, int blue0, std::span<const NearestColourGrid::Candidate> list,
                                  std::uint8_t* answers) {
    constexpr int side = smallest_box;
    constexpr int volume = side * side * side;
    std::array<std::uint32_t, volume> best;
    best.fill(UINT32_MAX);
    for (const auto& candidate : list) {
        const int red_from = red0 - candidate.red;
        const int green_from = green0 - candidate.green;
        const int blue_from = blue0 - candidate.blue;
        for (int i = 0; i < volume; ++i) {
            const int distance = std::abs(red_from + i / (side * side)) + std::abs(green_from + i / side % side) +
                                 std::abs(blue_from + i % side);
            best[static_cast<std::size_t>(i)] = std::min(best[static_cast<std::size_t>(i)], rank_key(distance, candidate.index));
        }
    }
    for (int i = 0; i < volume; i += side) {
        std::uint8_t* line = answers + colour_key_of(red0 + i / (side * side), green0 + i / side % side, blue0);
        for (int b = 0; b < side; ++b) line[b] = static_cast<std::uint8_t>(best[static_cast<std::size_t>(i + b)]);
    }
}

}  // namespace pal
