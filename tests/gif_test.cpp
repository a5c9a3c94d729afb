// GIF in the library: animations written in our palette come back exactly,
// and any GIF's frames are composed as browsers compose them. giflib is the
// independent source: it writes the test files and decodes ours, and a
// plain composition here stands beside the library's.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "qlx.h"
#include "test_support.hpp"

namespace {

using qlx::test::Bytes;

// ---- Test files through giflib ----

struct Memory {
    Bytes bytes;
    std::size_t read = 0;
};
int write_memory(GifFileType* gif, const GifByteType* data, int size) {
    auto& memory = *static_cast<Memory*>(gif->UserData);
    memory.bytes.insert(memory.bytes.end(), data, data + size);
    return size;
}
int read_memory(GifFileType* gif, GifByteType* out, int size) {
    auto& memory = *static_cast<Memory*>(gif->UserData);
    const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(size), memory.bytes.size() - memory.read);
    std::memcpy(out, memory.bytes.data() + memory.read, count);
    memory.read += count;
    return static_cast<int>(count);
}

using Table = std::vector<std::array<std::uint8_t, 3>>;
Table our_table(std::size_t entries = 256) {
    Table table;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint32_t c = qlx_palette_colour(static_cast<std::uint8_t>(i));
        table.push_back(
            {static_cast<std::uint8_t>(c >> 16), static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)});
    }
    return table;
}
Table grey_table(std::size_t entries) {
    Table table;
    for (std::size_t i = 0; i < entries; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 255 / (entries - 1));
        table.push_back({v, static_cast<std::uint8_t>(255 - v), v});
    }
    return table;
}

struct FrameRecipe {
    int left = 0, top = 0, width = 0, height = 0;
    Bytes pixels;  // width * height, rows in picture order
    Table local;   // empty: the global table
    bool interlaced = false;
    int disposal = 0, delay = 0, transparent = -1;
};

ColorMapObject* colour_map(const Table& table) {
    ColorMapObject* map = GifMakeMapObject(static_cast<int>(table.size()), nullptr);
    for (std::size_t i = 0; i < table.size(); ++i) map->Colors[i] = {table[i][0], table[i][1], table[i][2]};
    return map;
}

Bytes giflib_gif(int width, int height, const Table& global, const std::vector<FrameRecipe>& frames) {
    Memory memory;
    int error = 0;
    GifFileType* gif = EGifOpen(&memory, write_memory, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = global.empty() ? nullptr : colour_map(global);
    EGifPutScreenDesc(gif, width, height, 8, 0, map);
    for (const FrameRecipe& frame : frames) {
        GraphicsControlBlock control{frame.disposal, false, frame.delay, frame.transparent};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
        ColorMapObject* local = frame.local.empty() ? nullptr : colour_map(frame.local);
        EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced, local);
        // giflib takes the lines in the order they are stored.
        std::vector<int> order;
        if (frame.interlaced) {
            for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
                for (int y = start; y < frame.height; y += step) order.push_back(y);
            }
        } else {
            for (int y = 0; y < frame.height; ++y) order.push_back(y);
        }
        for (const int y : order) {
            Bytes line(frame.pixels.begin() + y * frame.width, frame.pixels.begin() + (y + 1) * frame.width);
            EGifPutLine(gif, line.data(), frame.width);
        }
        if (local != nullptr) GifFreeMapObject(local);
        // giflib keeps its own copy of a local table, and never frees it.
        if (gif->Image.ColorMap != nullptr) {
            GifFreeMapObject(gif->Image.ColorMap);
            gif->Image.ColorMap = nullptr;
        }
    }
    EGifCloseFile(gif, &error);
    if (map != nullptr) GifFreeMapObject(map);
    return memory.bytes;
}

// Every frame of a GIF as browsers compose it, stated plainly over giflib's
// decoded rasters: RGBA, and the indices where a pixel has one.
struct Composed {
    std::vector<Bytes> rgba, indices;
};
Composed giflib_composition(const Bytes& file) {
    Memory memory{file, 0};
    int error = 0;
    GifFileType* gif = DGifOpen(&memory, read_memory, &error);
    EXPECT_EQ(DGifSlurp(gif), GIF_OK);
    const auto width = static_cast<std::size_t>(gif->SWidth), height = static_cast<std::size_t>(gif->SHeight);
    Bytes rgba(4 * width * height, 0), indices(width * height, 0), saved_rgba, saved_indices;
    Composed composed;
    int last_disposal = 0;
    GifImageDesc last{};
    for (int f = 0; f < gif->ImageCount; ++f) {
        const SavedImage& image = gif->SavedImages[f];
        GraphicsControlBlock control{0, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(gif, f, &control);
        if (last_disposal == 2) {
            for (int y = last.Top; y < last.Top + last.Height; ++y) {
                for (int x = last.Left; x < last.Left + last.Width; ++x) {
                    if (x >= static_cast<int>(width) || y >= static_cast<int>(height)) continue;
                    const std::size_t at = static_cast<std::size_t>(y) * width + static_cast<std::size_t>(x);
                    std::fill_n(rgba.begin() + static_cast<std::ptrdiff_t>(4 * at), 4, 0);
                    indices[at] = 0;
                }
            }
        }
        if (last_disposal == 3) rgba = saved_rgba, indices = saved_indices;
        if (control.DisposalMode == 3) saved_rgba = rgba, saved_indices = indices;
        const ColorMapObject* map = image.ImageDesc.ColorMap != nullptr ? image.ImageDesc.ColorMap : gif->SColorMap;
        const GifImageDesc& place = image.ImageDesc;
        for (int y = 0; y < place.Height; ++y) {
            for (int x = 0; x < place.Width; ++x) {
                const int cx = place.Left + x, cy = place.Top + y;
                if (cx >= static_cast<int>(width) || cy >= static_cast<int>(height)) continue;
                const int index = image.RasterBits[y * place.Width + x];
                if (index == control.TransparentColor) continue;
                const std::size_t at = static_cast<std::size_t>(cy) * width + static_cast<std::size_t>(cx);
                // Past the table: opaque black, as Chromium draws it.
                const GifColorType c = index < map->ColorCount ? map->Colors[index] : GifColorType{0, 0, 0};
                rgba[4 * at] = c.Red, rgba[4 * at + 1] = c.Green, rgba[4 * at + 2] = c.Blue, rgba[4 * at + 3] = 255;
                indices[at] = static_cast<std::uint8_t>(index < map->ColorCount ? index : 0);
            }
        }
        composed.rgba.push_back(rgba);
        composed.indices.push_back(indices);
        last_disposal = control.DisposalMode;
        last = place;
    }
    DGifCloseFile(gif, &error);
    return composed;
}

// ---- The library's side ----

struct Read {
    qlx_status status = QLX_OK;
    qlx_gif_info info{};
    std::vector<Bytes> rgba, indices;  // indices only while the canvas is ours
    std::vector<int> delays;
};
Read library_read(const Bytes& file) {
    Read read;
    qlx_gif_reader* reader = nullptr;
    read.status = qlx_gif_reader_create(file.data(), file.size(), &reader);
    if (read.status != QLX_OK) return read;
    read.info = qlx_gif_reader_info(reader);
    qlx_gif_frame_view view{};
    while ((read.status = qlx_gif_read_frame(reader, &view)) == QLX_OK) {
        const qlx_picture& p = view.picture;
        Bytes rgba(4 * p.width * p.height);
        if (p.palette != nullptr) {
            read.indices.emplace_back(p.pixels, p.pixels + p.width * p.height);
            for (std::size_t i = 0; i < p.width * p.height; ++i) {
                if (p.stored[i] != 0) std::memcpy(&rgba[4 * i], p.palette + 4 * p.pixels[i], 4);
            }
        } else {
            std::memcpy(rgba.data(), p.pixels, rgba.size());
        }
        read.rgba.push_back(rgba);
        read.delays.push_back(view.delay);
    }
    if (read.status == QLX_NO_MORE_FRAMES) read.status = QLX_OK;
    qlx_gif_reader_destroy(reader);
    return read;
}

Bytes library_gif(std::size_t width, std::size_t height, const std::vector<Bytes>& frames, int delay, int loop,
                  int transparent) {
    Bytes out(QLX_GIF_START_SIZE);
    std::size_t written = 0;
    EXPECT_EQ(qlx_gif_start(width, height, loop, out.data(), out.size(), &written), QLX_OK);
    out.resize(written);
    const std::uint8_t* previous = nullptr;
    for (const Bytes& frame : frames) {
        const std::size_t at = out.size(), bound = qlx_gif_frame_bound(width, height);
        out.resize(at + bound);
        EXPECT_EQ(
            qlx_gif_frame(frame.data(), previous, width, height, delay, transparent, out.data() + at, bound, &written),
            QLX_OK);
        out.resize(at + written);
        previous = frame.data();
    }
    out.push_back(QLX_GIF_TRAILER);
    return out;
}

// Animations with every index, duplicates of other entries among them:
// still frames, a pixel changed, a block moved, everything changed.
std::vector<Bytes> animation(std::size_t width, std::size_t height, unsigned seed) {
    std::mt19937 random(seed);
    Bytes frame(width * height);
    for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint8_t>(i % 7 == 0 ? random() : i / 13);
    std::vector<Bytes> frames{frame, frame};
    frame[width * height / 2] = 255;
    frames.push_back(frame);
    for (std::size_t y = 1; y < height / 2; ++y) {
        for (std::size_t x = 2; x < width / 3; ++x) frame[y * width + x] = 80;
    }
    frames.push_back(frame);
    for (auto& pixel : frame) pixel = static_cast<std::uint8_t>(random());
    frames.push_back(frame);
    frames.push_back(frame);
    return frames;
}

TEST(GifWriter, FramesComeBackAsTheirIndicesInEveryReader) {
    for (const auto& [width, height] : {std::pair<std::size_t, std::size_t>{1, 1}, {37, 23}, {300, 70}}) {
        const std::vector<Bytes> frames = animation(width, height, static_cast<unsigned>(width));
        for (const int transparent : {-1, 0, 80}) {
            const Bytes gif = library_gif(width, height, frames, 12, 3, transparent);
            const Read read = library_read(gif);
            ASSERT_EQ(read.status, QLX_OK);
            EXPECT_EQ(read.info.loop, 3);
            ASSERT_EQ(read.indices.size(), frames.size()) << "every frame read as indices";
            const Composed plain = giflib_composition(gif);
            ASSERT_EQ(plain.indices.size(), frames.size());
            for (std::size_t f = 0; f < frames.size(); ++f) {
                EXPECT_EQ(read.delays[f], 12);
                if (transparent < 0) {
                    EXPECT_EQ(read.indices[f], frames[f]) << width << "x" << height << " frame " << f;
                    EXPECT_EQ(plain.indices[f], frames[f]) << width << "x" << height << " frame " << f;
                } else {
                    // Transparent pixels leave the canvas clear; every other is its index.
                    for (std::size_t i = 0; i < frames[f].size(); ++i) {
                        const bool clear = frames[f][i] == transparent;
                        ASSERT_EQ(read.rgba[f][4 * i + 3], clear ? 0 : 255) << "frame " << f << " pixel " << i;
                        ASSERT_EQ(plain.rgba[f][4 * i + 3], clear ? 0 : 255) << "frame " << f << " pixel " << i;
                        if (!clear) {
                            ASSERT_EQ(read.indices[f][i], frames[f][i]);
                        }
                    }
                }
            }
        }
    }
}

// The start is our palette in order; a still frame costs a pixel, a small
// change its rectangle, in codes no wider than its indices need; -1 writes
// no loop extension.
TEST(GifWriter, StoresOnlyWhatChanged) {
    Bytes start(QLX_GIF_START_SIZE);
    std::size_t written = 0;
    ASSERT_EQ(qlx_gif_start(320, 200, -1, start.data(), start.size(), &written), QLX_OK);
    EXPECT_EQ(written, static_cast<std::size_t>(QLX_GIF_START_SIZE_ONCE));
    EXPECT_EQ(Bytes(start.begin(), start.begin() + 13),
              (Bytes{'G', 'I', 'F', '8', '9', 'a', 64, 1, 200, 0, 0xF7, 0, 0}));
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint32_t c = qlx_palette_colour(static_cast<std::uint8_t>(i));
        EXPECT_EQ(start[13 + 3 * i] << 16 | start[14 + 3 * i] << 8 | start[15 + 3 * i], static_cast<int>(c)) << i;
    }
    Bytes first(320 * 200, 5), second = first;
    for (std::size_t y = 50; y < 60; ++y) second[y * 320 + 100] = 9, second[y * 320 + 130] = 9;
    const std::size_t bound = qlx_gif_frame_bound(320, 200);
    Bytes out(bound);
    ASSERT_EQ(qlx_gif_frame(second.data(), first.data(), 320, 200, 4, -1, out.data(), bound, &written), QLX_OK);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 18), (Bytes{0x2C, 100, 0, 50, 0, 31, 0, 10, 0, 0}));
    EXPECT_EQ(out[3] >> 2, 1) << "the canvas is kept";
    EXPECT_EQ(out[18], 4) << "indices below 16 take codes of 4-bit roots";
    ASSERT_EQ(qlx_gif_frame(second.data(), second.data(), 320, 200, 4, -1, out.data(), bound, &written), QLX_OK);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 18), (Bytes{0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0}));
    EXPECT_LT(written, 30u);
    // Refusals, with nothing written.
    EXPECT_EQ(qlx_gif_frame(second.data(), nullptr, 320, 200, 65536, -1, out.data(), bound, &written),
              QLX_DELAY_OUT_OF_RANGE);
    EXPECT_EQ(qlx_gif_frame(second.data(), nullptr, 320, 200, 0, -1, out.data(), bound - 1, &written),
              QLX_CAPACITY_TOO_SMALL);
    EXPECT_EQ(qlx_gif_start(320, 200, 65536, start.data(), start.size(), &written), QLX_LOOP_OUT_OF_RANGE);
    EXPECT_EQ(qlx_gif_frame_bound(0, 5), 0u);
}

// Frames at offsets (one reaching off the canvas), local tables ours and
// not, indices past a table, interlacing, a transparent index 0, and each
// disposal, against the plain composition.
TEST(GifReader, ComposesFramesAsBrowsersDo) {
    std::mt19937 random(8);
    const auto pixels = [&](int w, int h, int top) {
        Bytes p(static_cast<std::size_t>(w * h));
        for (auto& v : p) v = static_cast<std::uint8_t>(random() % static_cast<unsigned>(top));
        return p;
    };
    for (int disposal = 0; disposal <= 3; ++disposal) {
        for (const bool ours : {true, false}) {
            const Table global = ours ? our_table() : grey_table(256);
            std::vector<FrameRecipe> frames = {
                {0, 0, 30, 20, pixels(30, 20, 256), {}, false, 1, 5, -1},
                {4, 3, 10, 9, pixels(10, 9, 16), grey_table(16), true, disposal, 7, 0},
                {20, 15, 15, 9, pixels(15, 9, 70), our_table(64), false, disposal, 0, 3},
                {2, 2, 9, 17, pixels(9, 17, 256), {}, true, 1, 2, -1},
            };
            const Bytes gif = giflib_gif(30, 20, global, frames);
            const Read read = library_read(gif);
            ASSERT_EQ(read.status, QLX_OK);
            const Composed plain = giflib_composition(gif);
            ASSERT_EQ(read.rgba.size(), 4u);
            for (std::size_t f = 0; f < 4; ++f) {
                EXPECT_EQ(read.rgba[f], plain.rgba[f]) << "disposal " << disposal << " frame " << f;
                EXPECT_EQ(read.delays[f], frames[f].delay);
            }
            // The canvas is ours until the grey frame draws; the grey pixels
            // of frame 1 are gone again after disposal 2 or 3.
            EXPECT_EQ(read.indices.size(), !ours ? 0u : disposal >= 2 ? 4u - 1u : 1u) << "disposal " << disposal;
            if (ours) {
                EXPECT_EQ(read.indices[0], plain.indices[0]);
            }
            EXPECT_EQ(read.info.loop, -1);
        }
    }
}

// Every refusal has its status, and no cut of a good file is read as one.
TEST(GifReader, RefusesDamagedFiles) {
    const Bytes good = library_gif(9, 7, animation(9, 7, 4), 3, 0, -1);
    for (std::size_t size = 0; size < good.size(); ++size) {
        const Read read = library_read(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)));
        EXPECT_EQ(read.status, size < 6 ? QLX_NOT_GIF : QLX_GIF_CUT_SHORT) << "cut at " << size;
    }
    Bytes unknown = good;
    unknown[QLX_GIF_START_SIZE] = 0x99;
    EXPECT_EQ(library_read(unknown).status, QLX_GIF_UNKNOWN_BLOCK);
    Bytes code_size = good;
    code_size[QLX_GIF_START_SIZE + 18] = 9;
    EXPECT_EQ(library_read(code_size).status, QLX_GIF_BAD_CODE_SIZE);
    // 2 x 1 in codes of 3 bits: clear (4), 1, 0, end (5); 7 is past the table.
    const auto two_pixels = [](std::initializer_list<unsigned> codes, bool table) {
        Bytes gif = {'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, static_cast<std::uint8_t>(table ? 0x80 : 0), 0, 0};
        if (table) gif.insert(gif.end(), {0, 0, 0, 255, 255, 255});
        gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, 0, 2});
        unsigned bits = 0, filled = 0;
        Bytes data;
        for (const unsigned code : codes) {
            bits |= code << filled;
            for (filled += 3; filled >= 8; filled -= 8, bits >>= 8) data.push_back(static_cast<std::uint8_t>(bits));
        }
        if (filled > 0) data.push_back(static_cast<std::uint8_t>(bits));
        gif.push_back(static_cast<std::uint8_t>(data.size()));
        gif.insert(gif.end(), data.begin(), data.end());
        gif.insert(gif.end(), {0, QLX_GIF_TRAILER});
        return gif;
    };
    const Read two = library_read(two_pixels({4, 1, 0, 5}, true));
    ASSERT_EQ(two.status, QLX_OK);
    EXPECT_EQ(two.rgba[0], (Bytes{255, 255, 255, 255, 0, 0, 0, 255}));
    EXPECT_EQ(library_read(two_pixels({4, 7, 0, 5}, true)).status, QLX_GIF_BAD_CODE);
    EXPECT_EQ(library_read(two_pixels({4, 1, 5}, true)).status, QLX_GIF_PIXELS_CUT_SHORT);
    EXPECT_EQ(library_read(two_pixels({4, 1, 0, 5}, false)).status, QLX_GIF_NO_COLOUR_TABLE);
    EXPECT_EQ(library_read({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, QLX_GIF_TRAILER}).status,
              QLX_GIF_NO_PICTURE);
}

}  // namespace
