#include "conversion.hpp"

#include <algorithm>

#include "messages.hpp"
#include "nearest_colour.hpp"
#include "palette.hpp"

namespace pal {
namespace {

// Below this many pixels filling table cells costs more than it saves.
constexpr std::size_t table_min_pixels = std::size_t{1} << 20;

template <class Search>
void quantise_rows(std::span<const std::uint8_t> file, const BmpLayout& layout, std::span<std::uint8_t> indices,
                   Search& search) {
    for (std::size_t row = 0; row < layout.height; ++row) {
        const std::uint8_t* pixels = file.data() + layout.pixel_offset + row * layout.row_stride;
        const std::size_t qlx_row = layout.top_down ? row : flipped_row(row, layout.height);
        search.quantise_row(pixels, layout.width, indices.data() + qlx_row * layout.width);
    }
}

}  // namespace

void quantise_bmp(std::span<const std::uint8_t> file, const BmpLayout& layout, std::span<std::uint8_t> indices) {
    // A picture of width 0 may still claim two billion empty rows.
    if (layout.width == 0) return;
    if (layout.width * layout.height >= table_min_pixels) {
        if (std::optional<NearestColourTable> table = NearestColourTable::create()) {
            quantise_rows(file, layout, indices, *table);
            return;
        }
    }
    NearestColourGrid grid;
    quantise_rows(file, layout, indices, grid);
}

void expand_qlx(std::span<const std::uint8_t, qlx_size> indices, std::span<std::uint8_t, expanded_bmp_size> bmp) {
    const auto headers = expanded_bmp_headers();
    std::copy(headers.begin(), headers.end(), bmp.begin());
    std::uint8_t* out = bmp.data() + bmp_headers_size;
    for (std::size_t row = 0; row < qlx_height; ++row) {
        const std::uint8_t* index = indices.data() + flipped_row(row, qlx_height) * qlx_width;
        for (std::size_t column = 0; column < qlx_width; ++column) {
            const Colour colour = palette_colour(index[column]);
            *out++ = colour.blue;
            *out++ = colour.green;
            *out++ = colour.red;
        }
    }
}

const char* bmp_error_message(BmpError error) {
    switch (error) {
        case BmpError::none: break;
        case BmpError::headers_cut_short: return messages::bmp_headers_cut_short;
        case BmpError::not_24_bit: return messages::not_24_bit;
        case BmpError::negative_width: return messages::bmp_negative_width;
        case BmpError::height_out_of_range: return messages::bmp_height_out_of_range;
        case BmpError::compressed: return messages::bmp_compressed;
        case BmpError::pixel_offset_out_of_range: return messages::bmp_pixel_offset_out_of_range;
        case BmpError::pixel_data_cut_short: return messages::bmp_pixel_data_cut_short;
    }
    return "";
}

}  // namespace pal
