#include "nearest_colour.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "palette.hpp"

#if defined(__has_builtin)
#if __has_builtin(__builtin_prefetch)
#define PAL_PREFETCH(address) __builtin_prefetch(address)
#endif
#endif
#ifndef PAL_PREFETCH
#define PAL_PREFETCH(address) static_cast<void>(address)
#endif

namespace pal {

static_assert(palette_rgb[palette_size - 1] == palette_rgb[47], "index + 1 must fit in a byte for every answer");

namespace {

// Whether neighbouring pixels of a row mostly fall in different blocks, as in
// noise, judged from a few pairs: such rows miss the caches on every pixel.
bool row_looks_scattered(const std::uint8_t* pixels, std::size_t width) {
    constexpr std::size_t pairs = 16;
    if (width < 2 * pairs) return false;
    const auto block_at = [](const std::uint8_t* pixel) { return block_of(table_place(pixel[0], pixel[1], pixel[2])); };
    std::size_t apart = 0;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t* pixel = pixels + 3 * (i * (width - 1) / pairs);
        apart += block_at(pixel) != block_at(pixel + 3);
    }
    return apart > pairs / 2;
}

}  // namespace

// Small pictures touch a few thousand blocks at most, so prefetching would
// cost more instructions than the misses it hides.
void BuiltInSearch::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) const {
    for (std::size_t x = 0; x < width; ++x) indices[x] = nearest_index(pixels + 3 * x);
}

std::optional<NearestColourTable> NearestColourTable::create() {
    std::optional<ByteBuffer> answers = ByteBuffer::allocate_zeroed(std::size_t{1} << 24);
    if (!answers) return std::nullopt;
    return NearestColourTable(std::move(*answers));
}

NearestColourTable::NearestColourTable(ByteBuffer answers) : answers_(std::move(answers)) {}

void NearestColourTable::quantise_row(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
    if (row_looks_scattered(pixels, width)) {
        quantise_row_with<true>(pixels, width, indices);
    } else {
        quantise_row_with<false>(pixels, width, indices);
    }
}

template <bool prefetch>
void NearestColourTable::quantise_row_with(const std::uint8_t* pixels, std::size_t width, std::uint8_t* indices) {
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
        if (prefetch && x + prefetch_distance < width) PAL_PREFETCH(answers + colour_key(pixels + 3 * prefetch_distance));
        std::uint8_t stored = answers[key];
        if (stored == 0) stored = fill_cell_of(key);
        indices[x] = static_cast<std::uint8_t>(stored - 1);
    }
}

std::uint8_t NearestColourTable::fill_cell_of(std::uint32_t key) {
    constexpr std::uint32_t cell_corner = ~((1u << cell_bits) - 1) & 0xFF;
    constexpr int cell_size = 1 << cell_bits;
    copy_box(static_cast<int>(key >> 16 & cell_corner), cell_size, static_cast<int>(key >> 8 & cell_corner), cell_size,
             static_cast<int>(key & cell_corner), cell_size);
    return answers_.data()[key];
}

// Copies the answers of a box whose corners lie on block boundaries: every
// line of four blues within a block comes from one slot, four bytes in a row.
void NearestColourTable::copy_box(int red0, int red_count, int green0, int green_count, int blue0, int blue_count) {
    constexpr int block_side = 1 << block_bits;
    constexpr std::uint32_t plus_one_each = 0x01010101;  // answers are below 255: no carries
    for (int red = red0; red < red0 + red_count; ++red) {
        for (int green = green0; green < green0 + green_count; ++green) {
            std::uint8_t* line = answers_.data() + (static_cast<std::size_t>(red) << 16 | static_cast<std::size_t>(green) << 8);
            for (int blue = blue0; blue < blue0 + blue_count; blue += block_side) {
                const std::uint32_t place = table_place(static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(green),
                                                        static_cast<std::uint8_t>(red));
                std::uint32_t four = 0;
                std::memcpy(&four,
                            slot_answer_bytes() + std::size_t{nearest_table::block_slots[block_of(place)]} * slot_bytes +
                                offset_in_block(place),
                            sizeof four);
                four += plus_one_each;
                std::memcpy(line + blue, &four, sizeof four);
            }
        }
    }
}

// Each thread copies a run of reds; a thread that cannot be started leaves
// its run to this one.
void NearestColourTable::fill(unsigned threads) {
    threads = std::max(1u, threads);
    const auto run_start = [threads](unsigned run) { return static_cast<int>(256 * run / threads); };
    std::vector<std::jthread> helpers;
    for (unsigned run = 1; run < threads; ++run) {
        const auto copy_run = [=, this] { copy_box(run_start(run), run_start(run + 1) - run_start(run), 0, 256, 0, 256); };
        try {
            helpers.emplace_back(copy_run);
        } catch (const std::exception&) {
            copy_run();
        }
    }
    copy_box(0, run_start(1), 0, 256, 0, 256);
}

}  // namespace pal
