// Writes the C++ source of the 64 x 64 blue-noise mask (core/blue_noise.hpp)
// to the file named by its one argument, by void and cluster:
//
// - Energy: a cell's energy is the sum, over the cells that are on, of a
//   Gaussian of their distance (sigma 1.5, wrapping around the edges so
//   that the mask tiles), in integers: round(65536 exp(-d^2 / 4.5)).
// - Start: 409 cells (a tenth) switched on at places drawn from
//   std::mt19937 seeded with 20261209, each draw taken modulo 4096.
// - Settle: switch off the tightest cluster (the on cell of highest energy)
//   and switch on the largest void (the off cell of lowest energy) until the
//   two are the same cell.
// - Rank: from the settled pattern, switch off the tightest cluster again
//   and again, ranking the cells 408 down to 0; then from the settled
//   pattern switch on the largest void again and again, ranking 409 up to
//   4095.
//
// Ties go to the lowest cell number, y * 64 + x. The mask holds every rank
// from 0 to 4095 once; a test checks its values.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr int side = 64;
constexpr int cells = side * side;

class Pattern {
public:
    Pattern() {
        for (int dy = 0; dy < side; ++dy) {
            for (int dx = 0; dx < side; ++dx) {
                const int wrapped_x = std::min(dx, side - dx), wrapped_y = std::min(dy, side - dy);
                const double squared = wrapped_x * wrapped_x + wrapped_y * wrapped_y;
                weight_[static_cast<std::size_t>(dy * side + dx)] = std::llround(65536.0 * std::exp(-squared / 4.5));
            }
        }
    }

    bool on(int cell) const { return on_[static_cast<std::size_t>(cell)] != 0; }

    void set(int cell, bool on) {
        on_[static_cast<std::size_t>(cell)] = on;
        const int sign = on ? 1 : -1;
        const int cx = cell % side, cy = cell / side;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const int dx = (x - cx + side) % side, dy = (y - cy + side) % side;
                energy_[static_cast<std::size_t>(y * side + x)] +=
                    sign * weight_[static_cast<std::size_t>(dy * side + dx)];
            }
        }
    }

    // The on cell of highest energy, or the off cell of lowest.
    int tightest_cluster() const { return extreme(true); }
    int largest_void() const { return extreme(false); }

private:
    int extreme(bool among_on) const {
        int best = -1;
        for (int cell = 0; cell < cells; ++cell) {
            if (on(cell) != among_on) continue;
            const std::int64_t e = energy_[static_cast<std::size_t>(cell)];
            if (best < 0 || (among_on ? e > energy_[static_cast<std::size_t>(best)]
                                      : e < energy_[static_cast<std::size_t>(best)])) {
                best = cell;
            }
        }
        return best;
    }

    std::array<std::int64_t, cells> weight_{};
    std::array<std::int64_t, cells> energy_{};
    std::array<std::uint8_t, cells> on_{};
};

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fputs("usage: generate_blue_noise OUTPUT.cpp\n", stderr);
        return 2;
    }
    Pattern pattern;
    std::mt19937 random(20261209);
    constexpr int initial = cells / 10;
    for (int placed = 0; placed < initial;) {
        const int cell = static_cast<int>(random() % cells);
        if (!pattern.on(cell)) {
            pattern.set(cell, true);
            ++placed;
        }
    }
    for (;;) {
        const int cluster = pattern.tightest_cluster();
        pattern.set(cluster, false);
        const int void_cell = pattern.largest_void();
        pattern.set(void_cell, true);
        if (void_cell == cluster) break;
    }

    std::vector<int> rank(cells, -1);
    Pattern removing = pattern;
    for (int r = initial - 1; r >= 0; --r) {
        const int cluster = removing.tightest_cluster();
        removing.set(cluster, false);
        rank[static_cast<std::size_t>(cluster)] = r;
    }
    for (int r = initial; r < cells; ++r) {
        const int void_cell = pattern.largest_void();
        pattern.set(void_cell, true);
        rank[static_cast<std::size_t>(void_cell)] = r;
    }

    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) return 1;
    std::fputs(
        "// Written by generate_blue_noise at build time.\n#include \"blue_noise.hpp\"\n\n"
        "namespace qlx {\n\nconst std::uint16_t blue_noise_mask[blue_noise_side][blue_noise_side] = {\n",
        out);
    for (int y = 0; y < side; ++y) {
        std::fputs("{", out);
        for (int x = 0; x < side; ++x) std::fprintf(out, "%d,", rank[static_cast<std::size_t>(y * side + x)]);
        std::fputs("},\n", out);
    }
    std::fputs("};\n\n}  // namespace qlx\n", out);
    return std::fclose(out) == 0 ? 0 : 1;
}
