#pragma once
// The fixed 256-colour palette that gives QLX bytes their meaning, and its two
// mappings: index to colour, and colour to the index of the nearest entry.
//
// Nearest means the smallest city-block distance |dr| + |dg| + |db| in RGB,
// unweighted; among entries at the same distance the lowest index wins. The
// table holds 235 distinct colours: black stands at 0, 80, 136, 144, 152, 160,
// 168, 176, 184, 192-199 and 232, white at 47 and 255, yellow at 63, 71 and
// 247, and 006B6B at 172 and 235, so the later copies are never chosen.

#include <array>
#include <bit>
#include <cstdint>

namespace qlx {

struct Colour {
    std::uint8_t red;
    std::uint8_t green;
    std::uint8_t blue;
    friend bool operator==(const Colour&, const Colour&) = default;
};

inline constexpr int palette_size = 256;

// Written as 0xRRGGBB, eight entries (one ramp) per line.
inline constexpr std::array<std::uint32_t, palette_size> palette_rgb = {
    0x000000, 0x00009B, 0x172FAB, 0x3763BB, 0x5B93CB, 0x83BFDB, 0xB3E3EB, 0xE7FFFF,  // 0-7
    0xB70000, 0xBF1717, 0xCB3333, 0xD35353, 0xDF7777, 0xE79B9B, 0xF3C3C3, 0xFFEFEF,  // 8-15
    0x003723, 0x07533B, 0x176F53, 0x2F8B73, 0x4FA78F, 0x73C3B3, 0x9FDFD3, 0xD3FFF7,  // 16-23
    0xFF4B00, 0xFF771F, 0xFF9F3F, 0xFFBF63, 0xFFDB83, 0xFFEBA7, 0xFFF7C7, 0xFFFFEB,  // 24-31
    0x672B00, 0x7B3B0B, 0x8F4F23, 0xA7673B, 0xBB835B, 0xD39F7F, 0xE7BFA7, 0xFFE7D7,  // 32-39
    0x7F004B, 0x8F135B, 0xA32B73, 0xB34B8B, 0xC76FA3, 0xD79BBF, 0xEBCBDF, 0xFFFFFF,  // 40-47
    0x0B2373, 0x1B3387, 0x2F479B, 0x4B63AF, 0x677FC3, 0x8B9FD7, 0xB3BFEB, 0xDFE7FF,  // 48-55
    0x337F23, 0x438F1F, 0x53A31F, 0x6BB31B, 0x87C717, 0xABD70F, 0xCFEB07, 0xFFFF00,  // 56-63
    0xC30000, 0xAF1700, 0xBB3300, 0xC75300, 0xD77B00, 0xE3A300, 0xEFCF00, 0xFFFF00,  // 64-71
    0x4B4B33, 0x636347, 0x7B7B5B, 0x979773, 0xAFAF8B, 0xCBCBA3, 0xE3E3BF, 0xFFFFDB,  // 72-79
    0x000000, 0x434343, 0x636363, 0x7F7F7F, 0x9F9F9F, 0xBBBBBB, 0xDBDBDB, 0xFBFBFB,  // 80-87
    0xA36F57, 0xAF7F63, 0xBB8F6F, 0xC7A37B, 0xD7B78B, 0xE3C79B, 0xEFDBAB, 0xFFEFBB,  // 88-95
    0x00ABCB, 0x17B3CF, 0x33BBD7, 0x4FC7DF, 0x6BCFE3, 0x8BDBEB, 0xAFE7F3, 0xD3F3FB,  // 96-103
    0x00D300, 0x17D717, 0x2FDF2F, 0x4BE34B, 0x67EB67, 0x83EF83, 0xA3F7A3, 0xC3FFC3,  // 104-111
    0x4F4F67, 0x5F5F7B, 0x73738F, 0x8B8BA7, 0x9F9FBB, 0xB7B7D3, 0xCBCBE7, 0xE7E7FF,  // 112-119
    0x8B8300, 0x9B930F, 0xABA323, 0xBBB33B, 0xCBC353, 0xDBD773, 0xEBE793, 0xFFFBBB,  // 120-127
    0x375757, 0x3B6F6F, 0x3B8787, 0x3B9F9F, 0x33B7B7, 0x27CFCF, 0x17E7E7, 0x07FFFF,  // 128-135
    0x000000, 0x00001B, 0x000037, 0x00004F, 0x00006B, 0x000087, 0x0000A3, 0x0000BF,  // 136-143
    0x000000, 0x1B0000, 0x370000, 0x4F0000, 0x6B0000, 0x870000, 0xA30000, 0xBF0000,  // 144-151
    0x000000, 0x1B001B, 0x370037, 0x4F004F, 0x6B006B, 0x870087, 0xA300A3, 0xBF00BF,  // 152-159
    0x000000, 0x001B00, 0x003700, 0x004F00, 0x006B00, 0x008700, 0x00A300, 0x00BF00,  // 160-167
    0x000000, 0x001B1B, 0x003737, 0x004F4F, 0x006B6B, 0x008787, 0x00A3A3, 0x00BFBF,  // 168-175
    0x000000, 0x1B1B00, 0x373700, 0x4F4F00, 0x6B6B00, 0x878700, 0xA3A300, 0xBFBF00,  // 176-183
    0x000000, 0x1B1B1B, 0x373737, 0x4F4F4F, 0x6B6B6B, 0x878787, 0xA3A3A3, 0xBFBFBF,  // 184-191
    0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000, 0x000000,  // 192-199
    0x00003F, 0x000057, 0x000073, 0x00008F, 0x0000AB, 0x0000C7, 0x0000E3, 0x0000FF,  // 200-207
    0x3F0000, 0x570000, 0x730000, 0x8F0000, 0xAB0000, 0xC70000, 0xE30000, 0xFF0000,  // 208-215
    0x3F003F, 0x570057, 0x730073, 0x8F008F, 0xAB00AB, 0xC700C7, 0xE300E3, 0xFF00FF,  // 216-223
    0x003F00, 0x005700, 0x007300, 0x008F00, 0x00AB00, 0x00C700, 0x00E300, 0x00FF00,  // 224-231
    0x000000, 0x002323, 0x004747, 0x006B6B, 0x008F8F, 0x00B3B3, 0x00DBDB, 0x00FFFF,  // 232-239
    0x3F3F00, 0x575700, 0x737300, 0x8F8F00, 0xABAB00, 0xC7C700, 0xE3E300, 0xFFFF00,  // 240-247
    0x3F3F3F, 0x575757, 0x737373, 0x8F8F8F, 0xABABAB, 0xC7C7C7, 0xE3E3E3, 0xFFFFFF,  // 248-255
};

// Three parallel component tables, indexed by palette index: every byte is a
// valid index, so a lookup needs no bounds check.
struct Palette {
    std::array<std::uint8_t, palette_size> red;
    std::array<std::uint8_t, palette_size> green;
    std::array<std::uint8_t, palette_size> blue;
};

inline constexpr Palette palette = [] {
    Palette split{};
    for (std::size_t i = 0; i < palette_rgb.size(); ++i) {
        split.red[i] = static_cast<std::uint8_t>(palette_rgb[i] >> 16);
        split.green[i] = static_cast<std::uint8_t>(palette_rgb[i] >> 8);
        split.blue[i] = static_cast<std::uint8_t>(palette_rgb[i]);
    }
    return split;
}();

// Each entry's blue, green and red as the first three bytes of a 32-bit word,
// in memory order on any machine: expanding a pixel is one load and one store.
inline constexpr std::array<std::uint32_t, palette_size> palette_bgr_words = [] {
    std::array<std::uint32_t, palette_size> words{};
    for (std::size_t i = 0; i < palette_size; ++i) {
        const std::uint32_t blue = palette.blue[i], green = palette.green[i], red = palette.red[i];
        words[i] = std::endian::native == std::endian::little ? blue | green << 8 | red << 16
                                                              : blue << 24 | green << 16 | red << 8;
    }
    return words;
}();

// Largest possible city-block distance between two colours: 3 * 255.
inline constexpr int max_colour_distance = 765;

constexpr Colour palette_colour(std::uint8_t index) {
    return {palette.red[index], palette.green[index], palette.blue[index]};
}

constexpr int colour_distance(int red, int green, int blue, std::uint8_t index) {
    const auto difference = [](int a, int b) { return a > b ? a - b : b - a; };
    return difference(red, palette.red[index]) + difference(green, palette.green[index]) +
           difference(blue, palette.blue[index]);
}

// The defining search: every entry in index order, replaced only on a strictly
// smaller distance, so ties keep the lowest index. Every faster search in the
// project must agree with it on all 2^24 colours.
constexpr std::uint8_t nearest_palette_index(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    int best_index = 0;
    int best_distance = max_colour_distance + 1;
    for (int i = 0; i < palette_size; ++i) {
        const int distance = colour_distance(red, green, blue, static_cast<std::uint8_t>(i));
        if (distance < best_distance) {
            best_distance = distance;
            best_index = i;
        }
    }
    return static_cast<std::uint8_t>(best_index);
}

}  // namespace qlx
