#include "nearest_colour.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "palette.hpp"

// Where the toolchain can (a configure-time check), the hot loops are
// compiled twice, once for AVX2, and the loader picks by what the processor
// has; both give the same bytes.
#if defined(PAL_HAVE_TARGET_CLONES)
#define PAL_MULTIVERSION __attribute__((target_clones("avx2", "default")))
#else
#define PAL_MULTIVERSION
#endif
#if defined(__has_cpp_attribute)
#if __has_cpp_attribute(gnu::always_inline)
#define PAL_ALWAYS_INLINE [[gnu::always_inline]] inline
#endif
#endif
#ifndef PAL_ALWAYS_INLINE
#define PAL_ALWAYS_INLINE inline
#endif
#if defined(__has_builtin)
#if __has_builtin(__builtin_prefetch)
#define PAL_PREFETCH(address) __builtin_prefetch(address)
#endif
#endif
#ifndef PAL_PREFETCH
#define PAL_PREFETCH(address) static_cast<void>(address)
#endif
#if PAL_X86_DISPATCH
#include <immintrin.h>
#endif

namespace pal {
namespace {

struct Bounds {
    int nearest;   // smallest distance from the entry to any colour of the cell
    int farthest;  // largest
};

// Distance bounds along one axis from component `c` to the range [low, low + size).
Bounds axis_bounds(int c, int low, int size) {
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

// Cells are pruned from the candidates of their parent box of 4 x 4 x 4
// cells, a few dozen entries instead of all 235 distinct colours: an entry
// nearest to some colour of the cell is nearest to it in the parent too.
std::span<const NearestColourGrid::Candidate> NearestColourGrid::parent_candidates(int cell_index) {
    static const std::vector<Candidate> distinct_entries = [] {
        std::vector<Candidate> entries;
        for (std::size_t i = 0; i < palette_size; ++i) {
            if (!repeats_an_earlier_entry[i]) {
                entries.push_back({palette.blue[i], palette.green[i], palette.red[i], static_cast<std::uint8_t>(i)});
            }
        }
        return entries;
    }();
    constexpr int parent_size = cell_size << parent_bits;
    const CellOrigin origin = origin_of(cell_index);
    const int parent_index = origin.red / parent_size << (2 * parent_bits) | origin.green / parent_size << parent_bits |
                             origin.blue / parent_size;
    std::vector<Candidate>& parent = parents_[static_cast<std::size_t>(parent_index)];
    if (parent.empty()) {
        std::array<Candidate, palette_size> kept;
        const auto round_down = [](int component) { return component / parent_size * parent_size; };
        const std::size_t count = prune_to_box(round_down(origin.red), round_down(origin.green), round_down(origin.blue),
                                               parent_size, distinct_entries, kept.data());
        parent.assign(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(count));
    }
    return parent;
}

NearestColourGrid::Span NearestColourGrid::build_cell(int cell_index) {
    const CellOrigin origin = origin_of(cell_index);
    std::array<Candidate, palette_size> kept;
    const std::size_t count =
        prune_to_box(origin.red, origin.green, origin.blue, cell_size, parent_candidates(cell_index), kept.data());
    const Span span{static_cast<std::uint32_t>(pool_.size()), static_cast<std::uint32_t>(count),
                    static_cast<std::uint32_t>(blocks_.size()),
                    static_cast<std::uint32_t>((count + block_lanes - 1) / block_lanes)};
    pool_.insert(pool_.end(), kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(count));
    for (std::size_t first = 0; first < count; first += block_lanes) {
        CandidateBlock block;
        for (std::size_t lane = 0; lane < block_lanes; ++lane) {
            const Candidate& candidate = kept[std::min(first + lane, count - 1)];
            block.blue[lane] = candidate.blue;
            block.green[lane] = candidate.green;
            block.red[lane] = candidate.red;
            block.index[lane] = candidate.index;
        }
        blocks_.push_back(block);
    }
    return span;
}

const NearestColourGrid::Span& NearestColourGrid::cell(int cell_index) {
    Span& span = cells_[static_cast<std::size_t>(cell_index)];
    if (span.count == 0) span = build_cell(cell_index);
    return span;
}

std::span<const NearestColourGrid::Candidate> NearestColourGrid::candidates(int cell_index) {
    const Span& span = cell(cell_index);
    return {pool_.data() + span.first, span.count};
}

// The portable search: every candidate of the colour's cell, ranked by key.
std::uint8_t NearestColourGrid::nearest(std::uint32_t key) {
    const auto blue = static_cast<int>(key & 0xFF);
    const auto green = static_cast<int>(key >> 8 & 0xFF);
    const auto red = static_cast<int>(key >> 16);
    std::uint32_t best = UINT32_MAX;
    for (const Candidate& candidate : candidates(cell_of(key))) {
        const int distance = absolute_difference(blue, candidate.blue) + absolute_difference(green, candidate.green) +
                             absolute_difference(red, candidate.red);
        best = std::min(best, rank_key(distance, candidate.index));
    }
    return static_cast<std::uint8_t>(best);
}

void NearestColourGrid::quantise_row_portable(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    for (std::size_t x = 0; x < width; ++x, pixels += 3) indices[x] = nearest(colour_key(pixels));
}

#if PAL_X86_DISPATCH
// Eight candidates at a time; minpos returns the smallest distance and the
// lowest lane holding it, and lanes and blocks run in increasing index order,
// so a strict less-than across blocks keeps the lowest index on ties.
__attribute__((target("sse4.1"))) void NearestColourGrid::quantise_row_sse41(const std::uint8_t* pixels,
                                                                             std::size_t width, std::uint8_t* indices) {
    for (std::size_t x = 0; x < width; ++x, pixels += 3) {
        const Span& span = cell(cell_of(colour_key(pixels)));
        const CandidateBlock* block = blocks_.data() + span.first_block;
        const __m128i blue = _mm_set1_epi16(pixels[0]);
        const __m128i green = _mm_set1_epi16(pixels[1]);
        const __m128i red = _mm_set1_epi16(pixels[2]);
        int best_distance = INT32_MAX;
        std::uint8_t best_index = 0;
        for (std::uint32_t b = 0; b < span.block_count; ++b, ++block) {
            // Loaded here, not in a helper: a helper would need the target
            // attribute too, or 32-bit x86 builds could not inline it.
            const __m128i block_blue = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block->blue.data()));
            const __m128i block_green = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block->green.data()));
            const __m128i block_red = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block->red.data()));
            const __m128i distance = _mm_add_epi16(_mm_add_epi16(_mm_abs_epi16(_mm_sub_epi16(blue, block_blue)),
                                                                 _mm_abs_epi16(_mm_sub_epi16(green, block_green))),
                                                   _mm_abs_epi16(_mm_sub_epi16(red, block_red)));
            const int packed = _mm_cvtsi128_si32(_mm_minpos_epu16(distance));
            if ((packed & 0xFFFF) < best_distance) {
                best_distance = packed & 0xFFFF;
                best_index = static_cast<std::uint8_t>(block->index[static_cast<std::size_t>(packed >> 16 & 7)]);
            }
        }
        indices[x] = best_index;
    }
}
#endif

void NearestColourGrid::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
#if PAL_X86_DISPATCH
    static const bool has_sse41 = __builtin_cpu_supports("sse4.1");
    if (has_sse41) {
        quantise_row_sse41(pixels, width, indices);
        return;
    }
#endif
    quantise_row_portable(pixels, width, indices);
}

std::optional<NearestColourTable> NearestColourTable::create() {
    std::optional<ByteBuffer> answers = ByteBuffer::allocate_zeroed(std::size_t{1} << 24);
    if (!answers) return std::nullopt;
    return NearestColourTable(std::move(*answers));
}

NearestColourTable::NearestColourTable(ByteBuffer answers) : answers_(std::move(answers)) {}

namespace {

// Whether neighbouring pixels of a row mostly fall in different cells, as in
// noise, judged from a few pairs: such rows miss the caches on every pixel.
bool row_looks_scattered(const std::uint8_t* pixels, std::size_t width) {
    constexpr std::size_t pairs = 16;
    if (width < 2 * pairs) return false;
    std::size_t apart = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t* pixel = pixels + 3 * (i * (width - 1) / pairs);
        apart += cell_of(colour_key(pixel)) != cell_of(colour_key(pixel + 3));
    }
    return apart > pairs / 2;
}

}  // namespace

void NearestColourTable::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    if (row_looks_scattered(pixels, width)) {
        quantise_scattered_row(pixels, width, indices);
    } else {
        quantise_coherent_row(pixels, width, indices);
    }
}

// The two loops differ only in prefetching, so share one body.
template <bool prefetch>
PAL_ALWAYS_INLINE void NearestColourTable::quantise_row_with(const std::uint8_t* pixels, std::size_t width,
                                                             std::uint8_t* indices) {
    // Far enough ahead to cover a miss, near enough to stay in the row.
    constexpr std::size_t prefetch_distance = 64;
    const std::uint8_t* answers = answers_.data();
    for (std::size_t x = 0; x < width; ++x, pixels += 3) {
        // A 4-byte load is cheaper than three; the last pixel may end the file.
        std::uint32_t key = 0;
        if (std::endian::native == std::endian::little && x + 1 < width) {
            std::memcpy(&key, pixels, sizeof key);
            key &= 0xFFFFFF;
        } else {
            key = colour_key(pixels);
        }
        if (prefetch && x + prefetch_distance < width) {
            PAL_PREFETCH(answers + colour_key(pixels + 3 * prefetch_distance));
        }
        std::uint8_t stored = answers[key];
        if (stored == 0) stored = fill_cell_of(key);
        indices[x] = static_cast<std::uint8_t>(stored - 1);
    }
}

PAL_MULTIVERSION
void NearestColourTable::quantise_coherent_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    quantise_row_with<false>(pixels, width, indices);
}

PAL_MULTIVERSION
void NearestColourTable::quantise_scattered_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    quantise_row_with<true>(pixels, width, indices);
}

static_assert(repeats_an_earlier_entry[palette_size - 1], "index + 1 must fit in a byte for every answer");

std::uint8_t NearestColourTable::fill_cell_of(std::uint32_t key) {
    const int cell_index = cell_of(key);
    const CellOrigin origin = origin_of(cell_index);
    fill_box(origin.red, origin.green, origin.blue, cell_size, grid_.candidates(cell_index));
    return answers_.data()[key];
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
                std::memset(answers_.data() + colour_key_of(red, green, blue0), kept[0].index + 1,
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
    // Distances are at most 765, so 16-bit lanes hold them: twice the lanes
    // of a ranking key. Candidates come in increasing index order, so only a
    // strictly smaller distance takes a colour over, as in the full search.
    struct Offsets {
        std::array<std::int16_t, volume> red, green, blue;
    };
    static constexpr Offsets offsets = [] {
        Offsets o{};
        for (int i = 0; i < volume; ++i) {
            o.red[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i / (side * side));
            o.green[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i / side % side);
            o.blue[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % side);
        }
        return o;
    }();
    const auto magnitude = [](std::int16_t v) { return static_cast<std::int16_t>(v < 0 ? -v : v); };
    std::array<std::int16_t, volume> best_distance;
    std::array<std::int16_t, volume> best_index{};
    best_distance.fill(INT16_MAX);
    for (const auto& candidate : list) {
        const auto red_from = static_cast<std::int16_t>(red0 - candidate.red);
        const auto green_from = static_cast<std::int16_t>(green0 - candidate.green);
        const auto blue_from = static_cast<std::int16_t>(blue0 - candidate.blue);
        const auto index = static_cast<std::int16_t>(candidate.index);
        for (std::size_t i = 0; i < volume; ++i) {
            const auto distance = static_cast<std::int16_t>(
                magnitude(static_cast<std::int16_t>(red_from + offsets.red[i])) +
                magnitude(static_cast<std::int16_t>(green_from + offsets.green[i])) +
                magnitude(static_cast<std::int16_t>(blue_from + offsets.blue[i])));
            const bool closer = distance < best_distance[i];
            best_distance[i] = closer ? distance : best_distance[i];
            best_index[i] = closer ? index : best_index[i];
        }
    }
    for (int i = 0; i < volume; i += side) {
        std::uint8_t* line = answers + colour_key_of(red0 + i / (side * side), green0 + i / side % side, blue0);
        for (int b = 0; b < side; ++b) line[b] = static_cast<std::uint8_t>(best_index[static_cast<std::size_t>(i + b)] + 1);
    }
}

}  // namespace pal
