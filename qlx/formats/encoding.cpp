#include "encoding.hpp"

#include "formats.hpp"

namespace qlxcmd {

Outcome<> write_bytes(sys::OutputFile& file, const void* data, std::size_t size) {
    if (!file.write({static_cast<const std::uint8_t*>(data), size})) return refusal("cannot write the output");
    return {};
}

std::array<std::uint8_t, 3> rgb_of(unsigned index) {
    const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(index));
    return {static_cast<std::uint8_t>(colour >> 16), static_cast<std::uint8_t>(colour >> 8),
            static_cast<std::uint8_t>(colour)};
}

Outcome<> write_picture(Indices indices, const PictureOutput& output, sys::OutputFile& file) {
    return format_entry(output.format).write(indices, output, file);
}

Outcome<> write_palette(FileFormat format, sys::OutputFile& file) { return format_entry(format).write_palette(file); }

}  // namespace qlxcmd
