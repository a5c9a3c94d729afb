// Area averaging: each result pixel is the average of the source area it
// covers, each source pixel weighted by the part of it inside, in linear
// light, colours weighted by alpha so that transparent pixels lend none of
// their colour. Along one side, with source length S and result length D,
// source pixel j spans [jD, (j + 1)D) and result pixel i spans [iS, (i + 1)S)
// in units of 1/D of a source pixel: every overlap is a whole number and a
// result pixel's weights add up to S, so the sums are exact integers.
#include "resample.hpp"

#include <algorithm>
#include <memory>

#include "arithmetic.hpp"
#include "linear_light.hpp"
#include "memory.hpp"
#include "pixel_format.hpp"

namespace qlx {
namespace {

// The source pixels under each result pixel along one side, and their weights.
class AxisWeights {
public:
    Result<> make(std::size_t source_length, std::size_t result_length) {
        // Each result pixel covers at most S / D + 2 source pixels, and all of
        // them together at most S + D - 1 (consecutive ones share at most one).
        Result<std::unique_ptr<std::size_t[]>> first_weight = allocate_array<std::size_t>(result_length + 1);
        Result<std::unique_ptr<std::size_t[]>> first_source = allocate_array<std::size_t>(result_length);
        Result<std::unique_ptr<std::uint32_t[]>> weights = allocate_array<std::uint32_t>(source_length + result_length);
        if (!first_weight || !first_source || !weights) return failure(QLX_OUT_OF_MEMORY);
        first_weight_ = std::move(*first_weight);
        first_source_ = std::move(*first_source);
        weights_ = std::move(*weights);
        // Below 2^28 with sides of at most 2^14.
        const std::uint64_t s = source_length, d = result_length;
        std::size_t stored = 0;
        for (std::size_t i = 0; i < result_length; ++i) {
            first_weight_[i] = stored;
            first_source_[i] = static_cast<std::size_t>(i * s / d);
            const std::uint64_t begin = i * s, end = (i + 1) * s;
            for (std::uint64_t j = begin / d; j * d < end; ++j) {
                const std::uint64_t overlap = std::min((j + 1) * d, end) - std::max(j * d, begin);
                weights_[stored++] = static_cast<std::uint32_t>(overlap);
            }
        }
        first_weight_[result_length] = stored;
        return {};
    }

    std::size_t first_source(std::size_t i) const { return first_source_[i]; }
    std::size_t count(std::size_t i) const { return first_weight_[i + 1] - first_weight_[i]; }
    std::uint32_t weight(std::size_t i, std::size_t k) const { return weights_[first_weight_[i] + k]; }

private:
    std::unique_ptr<std::size_t[]> first_weight_;
    std::unique_ptr<std::size_t[]> first_source_;
    std::unique_ptr<std::uint32_t[]> weights_;
};

// Per result column: red, green and blue in linear light times alpha, and alpha.
struct Sums {
    std::uint64_t red, green, blue, alpha;
};

// The horizontal sums of one source row for every result column.
void sum_row(const PixelView& source, std::size_t y, const AxisWeights& columns, std::size_t width, Sums* sums) {
    const PixelOrder order = pixel_order(source.format);
    const std::uint8_t* row = source.pixels + y * source.stride;
    for (std::size_t i = 0; i < width; ++i) {
        Sums sum{};
        const std::size_t first = columns.first_source(i);
        for (std::size_t k = 0; k < columns.count(i); ++k) {
            const std::uint8_t* pixel = row + (first + k) * order.bytes;
            const std::uint64_t alpha = order.has_alpha ? pixel[order.alpha] : 255;
            const std::uint64_t weighted_alpha = alpha * columns.weight(i, k);
            sum.red += linear_of_code[pixel[order.red]] * weighted_alpha;
            sum.green += linear_of_code[pixel[order.green]] * weighted_alpha;
            sum.blue += linear_of_code[pixel[order.blue]] * weighted_alpha;
            sum.alpha += weighted_alpha;
        }
        sums[i] = sum;
    }
}

}  // namespace

qlx_placement place_in_box(std::size_t width, std::size_t height, std::size_t box_width, std::size_t box_height,
                           qlx_fit fit) {
    qlx_placement placement{0, 0, width, height, 0, 0, box_width, box_height, box_width, box_height};
    // Sides are at most 2^14, so these products fit 64 bits.
    const std::uint64_t w = width, h = height, bw = box_width, bh = box_height;
    const bool wider_than_box = w * bh > h * bw;
    switch (fit) {
        case QLX_FIT_KEEP:
            placement.width = placement.box_width = width;
            placement.height = placement.box_height = height;
            break;
        case QLX_FIT_CONTAIN:
            // The side that fills the box first sets the scale; the other
            // side rounds to the nearest pixel, at least one.
            if (wider_than_box) {
                placement.height = static_cast<std::size_t>(std::max<std::uint64_t>(1, divide_rounding(h * bw, w)));
            } else {
                placement.width = static_cast<std::size_t>(std::max<std::uint64_t>(1, divide_rounding(w * bh, h)));
            }
            placement.x = (box_width - placement.width) / 2;
            placement.y = (box_height - placement.height) / 2;
            break;
        case QLX_FIT_COVER:
            // The centre of the picture with the box's aspect.
            if (wider_than_box) {
                placement.source_width =
                    static_cast<std::size_t>(std::max<std::uint64_t>(1, divide_rounding(h * bw, bh)));
            } else {
                placement.source_height =
                    static_cast<std::size_t>(std::max<std::uint64_t>(1, divide_rounding(w * bh, bw)));
            }
            placement.source_x = (width - placement.source_width) / 2;
            placement.source_y = (height - placement.source_height) / 2;
            break;
        case QLX_FIT_STRETCH: break;
    }
    return placement;
}

namespace {

// Adds the weighted sums of the source rows under result row y into `totals`.
// `row_sums` keeps the last source row summed: consecutive result rows share
// a source row at their border.
void sum_result_row(const PixelView& source, std::size_t y, const AxisWeights& columns, const AxisWeights& rows,
                    std::size_t width, Sums* totals, Sums* row_sums, std::size_t& summed_row) {
    std::fill_n(totals, width, Sums{});
    for (std::size_t k = 0; k < rows.count(y); ++k) {
        const std::size_t source_row = rows.first_source(y) + k;
        if (source_row != summed_row) {
            sum_row(source, source_row, columns, width, row_sums);
            summed_row = source_row;
        }
        const std::uint64_t weight = rows.weight(y, k);
        for (std::size_t x = 0; x < width; ++x) {
            totals[x].red += row_sums[x].red * weight;
            totals[x].green += row_sums[x].green * weight;
            totals[x].blue += row_sums[x].blue * weight;
            totals[x].alpha += row_sums[x].alpha * weight;
        }
    }
}

// Each total as a pixel: its light averaged back to a code, its alpha over
// the area every pixel's weights add up to.
void write_averages(const Sums* totals, std::size_t width, std::uint64_t area, qlx_pixel_format format,
                    std::uint8_t* pixel) {
    const PixelOrder order = pixel_order(format);
    for (std::size_t x = 0; x < width; ++x, pixel += order.bytes) {
        const Sums& total = totals[x];
        const auto code = [&](std::uint64_t sum) {
            return total.alpha == 0 ? std::uint8_t{0}
                                    : code_of_linear(static_cast<std::uint32_t>(divide_rounding(sum, total.alpha)));
        };
        pixel[order.red] = code(total.red);
        pixel[order.green] = code(total.green);
        pixel[order.blue] = code(total.blue);
        if (order.has_alpha) pixel[order.alpha] = static_cast<std::uint8_t>(divide_rounding(total.alpha, area));
    }
}

}  // namespace

qlx_status resample(const PixelView& source, std::size_t width, std::size_t height, std::uint8_t* out) {
    AxisWeights columns, rows;
    Result<std::unique_ptr<Sums[]>> totals = allocate_array<Sums>(width);
    Result<std::unique_ptr<Sums[]>> row_sums = allocate_array<Sums>(width);
    if (!columns.make(source.width, width) || !rows.make(source.height, height) || !totals || !row_sums) {
        return QLX_OUT_OF_MEMORY;
    }
    const std::uint64_t area = std::uint64_t{source.width} * source.height;
    const std::size_t pixel_bytes = pixel_order(source.format).bytes;
    std::size_t summed_row = SIZE_MAX;  // none yet
    for (std::size_t y = 0; y < height; ++y) {
        sum_result_row(source, y, columns, rows, width, totals->get(), row_sums->get(), summed_row);
        write_averages(totals->get(), width, area, source.format, out + y * width * pixel_bytes);
    }
    return QLX_OK;
}

}  // namespace qlx
