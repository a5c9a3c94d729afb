#pragma once
// Writing what qlx makes: QLX, PNG and BMP pictures of indices, and the
// palette files that editors load.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "file_io.hpp"
#include "formats.hpp"
#include "picture.hpp"

namespace qlxcmd {

// width x height indices, top row first.
struct Indices {
    const std::uint8_t* data;
    std::size_t width;
    std::size_t height;
};

struct PictureOutput {
    FileFormat format = FileFormat::qlx;  // qlx, png or bmp
    bool truecolour = false;              // palette colours instead of indices
    int transparent_index = -1;           // made transparent in an indexed PNG
    unsigned threads = 1;                 // compressing a PNG
};

// Every byte written, or "cannot write the output".
Outcome<> write_bytes(sys::OutputFile& file, const void* data, std::size_t size);

// Palette entry `index` as red, green, blue.
std::array<std::uint8_t, 3> rgb_of(unsigned index);

// Writes the picture in the output's format, through the table of formats.
// A refusal names the format's limit that the picture passes.
Outcome<> write_picture(Indices indices, const PictureOutput& output, sys::OutputFile& file);

// The 256 palette entries in order, duplicates included, in a format of
// palette_outputs().
Outcome<> write_palette(FileFormat format, sys::OutputFile& file);

// The writers of the table of formats.
Outcome<> write_qlx(Indices indices, const PictureOutput& output, sys::OutputFile& file);
Outcome<> write_png(Indices indices, const PictureOutput& output, sys::OutputFile& file);
Outcome<> write_bmp(Indices indices, const PictureOutput& output, sys::OutputFile& file);
Outcome<> write_gif(Indices indices, const PictureOutput& output, sys::OutputFile& file);  // one frame
Outcome<> write_palette_png(sys::OutputFile& file);  // 16 x 16, index 16y + x at column x, row y
Outcome<> write_gpl(sys::OutputFile& file);
Outcome<> write_jasc_pal(sys::OutputFile& file);
Outcome<> write_act(sys::OutputFile& file);
Outcome<> write_hex(sys::OutputFile& file);

// PNG, compressed with libdeflate: only IHDR, PLTE, tRNS, IDAT and IEND,
// so that the same picture always gives the same bytes, whatever the
// number of threads that compress it.
Outcome<sys::Buffer> indexed_png(Indices indices, int transparent_index, unsigned threads);
Outcome<sys::Buffer> truecolour_png(Indices indices, unsigned threads);

}  // namespace qlxcmd
