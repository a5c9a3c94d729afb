// The palette as files that editors load: .gpl, .pal (JASC, CRLF), .act
// and .hex. The 16 x 16 .png is the PNG writer's.

#include <cstdio>
#include <cstring>
#include <string>

#include "encoding.hpp"

namespace qlxcmd {
namespace {

// One line an entry, after a header.
template <class Line>
Outcome<> write_palette_text(sys::OutputFile& file, std::string text, Line line) {
    char entry[64];
    for (unsigned i = 0; i < 256; ++i) {
        const auto [red, green, blue] = rgb_of(i);
        line(entry, sizeof entry, red, green, blue, i);
        text += entry;
    }
    return write_bytes(file, text.data(), text.size());
}

}  // namespace

Outcome<> write_act(sys::OutputFile& file) {
    std::uint8_t table[768];
    for (unsigned i = 0; i < 256; ++i) {
        const auto colour = rgb_of(i);
        std::memcpy(table + 3 * i, colour.data(), 3);
    }
    return write_bytes(file, table, sizeof table);
}

Outcome<> write_gpl(sys::OutputFile& file) {
    return write_palette_text(file, "GIMP Palette\nName: QLX\nColumns: 16\n#\n",
                              [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned i) {
                                  std::snprintf(line, size, "%3u %3u %3u\tIndex %u\n", r, g, b, i);
                              });
}

Outcome<> write_jasc_pal(sys::OutputFile& file) {
    return write_palette_text(file, "JASC-PAL\r\n0100\r\n256\r\n",
                              [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned) {
                                  std::snprintf(line, size, "%u %u %u\r\n", r, g, b);
                              });
}

Outcome<> write_hex(sys::OutputFile& file) {
    return write_palette_text(file, "", [](char* line, std::size_t size, unsigned r, unsigned g, unsigned b, unsigned) {
        std::snprintf(line, size, "%02x%02x%02x\n", r, g, b);
    });
}

}  // namespace qlxcmd
