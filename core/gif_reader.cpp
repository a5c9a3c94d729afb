// The C API: checks everything it is given, then hands it to the core.
// Nothing throws past here; running out of memory is QLX_OUT_OF_MEMORY.
// Reading a GIF's frames as a browser composes them; qlx.h states the rules.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <span>

#include "api_checks.hpp"
#include "lzw.hpp"
#include "memory.hpp"
#include "qlx.h"

using qlx::api::guarded;

namespace qlx {
namespace {

constexpr std::size_t screen_end = 13;  // signature and logical screen descriptor
constexpr std::uint8_t extension_introducer = 0x21, image_separator = 0x2C;
constexpr std::uint8_t control_label = 0xF9, application_label = 0xFF;

unsigned get16(const std::uint8_t* at) { return at[0] | unsigned{at[1]} << 8; }

// What a pixel of the canvas holds.
enum Kind : std::uint8_t {
    empty = 0,       // transparent
    ours = 1,        // an index of a table that is ours
    colour_only = 2  // a colour of another table
};

// What the graphic control extension before a frame says of it.
struct Control {
    int disposal = 0;
    int delay = 0;
    int transparent = -1;
};

struct Place {
    std::size_t left = 0, top = 0, width = 0, height = 0;
};

// The bytes of a GIF, read forward, every read checked against the end.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> bytes, std::size_t at) : bytes_(bytes), at_(at) {}
    std::size_t at() const { return at_; }
    bool take(std::size_t count, const std::uint8_t*& out) {
        if (count > bytes_.size() - at_) return false;
        out = bytes_.data() + at_;
        at_ += count;
        return true;
    }
    bool byte(std::uint8_t& out) {
        const std::uint8_t* at = nullptr;
        if (!take(1, at)) return false;
        out = *at;
        return true;
    }
    // A chain of sub-blocks up to its terminator; its bytes when asked.
    bool sub_blocks(std::span<const std::uint8_t>* chain = nullptr) {
        const std::size_t start = at_;
        for (;;) {
            std::uint8_t length = 0;
            const std::uint8_t* skipped = nullptr;
            if (!byte(length) || !take(length, skipped)) return false;
            if (length == 0) break;
        }
        if (chain != nullptr) *chain = bytes_.subspan(start, at_ - start);
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_;
};

// A frame's descriptor and colour table, up to its image data.
struct FrameHeader {
    Place place;
    bool interlaced = false;
    const std::uint8_t* table = nullptr;  // red, green, blue
    std::size_t table_entries = 0;
    unsigned min_code_size = 0;
    std::span<const std::uint8_t> data;
};

}  // namespace
}  // namespace qlx

struct qlx_gif_reader {
    std::span<const std::uint8_t> bytes;
    qlx_gif_info info{};
    const std::uint8_t* global_table = nullptr;
    std::size_t global_entries = 0;
    std::size_t next_block = 0;  // where the next frame's blocks start
    std::size_t frames_read = 0;
    qlx_status failed = QLX_OK;  // once a frame is refused, every later call is
    // The canvas: RGBA, indices, kinds; and the copy that disposal 3 restores.
    std::unique_ptr<std::uint8_t[]> planes;
    std::uint8_t *rgba = nullptr, *indices = nullptr, *kinds = nullptr, *saved = nullptr;
    qlx::Place last_place;
    int last_disposal = 0;
    std::array<std::uint8_t, 1024> our_rgba{};
    std::unique_ptr<std::uint8_t[]> row;  // a row of the frame's indices
};

namespace qlx {
namespace {

// The descriptor, colour table and image data from after the separator.
qlx_status read_frame_header(Cursor& cursor, const qlx_gif_reader& reader, FrameHeader& frame) {
    const std::uint8_t* descriptor = nullptr;
    if (!cursor.take(9, descriptor)) return QLX_GIF_CUT_SHORT;
    frame.place = {get16(descriptor), get16(descriptor + 2), get16(descriptor + 4), get16(descriptor + 6)};
    const std::uint8_t flags = descriptor[8];
    frame.interlaced = (flags & 0x40) != 0;
    frame.table = reader.global_table;
    frame.table_entries = reader.global_entries;
    if ((flags & 0x80) != 0) {
        frame.table_entries = std::size_t{2} << (flags & 7);
        if (!cursor.take(3 * frame.table_entries, frame.table)) return QLX_GIF_CUT_SHORT;
    }
    std::uint8_t code_size = 0;
    if (!cursor.byte(code_size) || !cursor.sub_blocks(&frame.data)) return QLX_GIF_CUT_SHORT;
    frame.min_code_size = code_size;
    if (frame.table == nullptr) return QLX_GIF_NO_COLOUR_TABLE;
    if (frame.place.width == 0 || frame.place.height == 0) return QLX_GIF_EMPTY_FRAME;
    return QLX_OK;
}

// An extension, after its introducer: a graphic control extension fills
// `control`, a loop extension `loop`; any other is skipped.
qlx_status read_extension(Cursor& cursor, Control& control, int& loop) {
    std::uint8_t label = 0;
    if (!cursor.byte(label)) return QLX_GIF_CUT_SHORT;
    std::span<const std::uint8_t> chain;
    if (!cursor.sub_blocks(&chain)) return QLX_GIF_CUT_SHORT;
    if (label == control_label && chain.size() >= 5 && chain[0] >= 4) {
        control.disposal = chain[1] >> 2 & 7;
        control.delay = static_cast<int>(get16(&chain[2]));
        control.transparent = (chain[1] & 1) != 0 ? chain[4] : -1;
    } else if (label == application_label && chain.size() >= 12 + 4 && chain[0] == 11 &&
               (std::memcmp(&chain[1], "NETSCAPE2.0", 11) == 0 || std::memcmp(&chain[1], "ANIMEXTS1.0", 11) == 0) &&
               chain[12] >= 3 && chain[13] == 1) {
        loop = static_cast<int>(get16(&chain[14]));
    }
    return QLX_OK;
}

// Reads the blocks up to the next frame's image data. QLX_NO_MORE_FRAMES at the trailer.
qlx_status next_frame(Cursor& cursor, const qlx_gif_reader& reader, Control& control, int& loop, FrameHeader& frame) {
    control = {};
    for (;;) {
        std::uint8_t introducer = 0;
        if (!cursor.byte(introducer)) return QLX_GIF_CUT_SHORT;
        if (introducer == QLX_GIF_TRAILER) return QLX_NO_MORE_FRAMES;
        if (introducer == image_separator) return read_frame_header(cursor, reader, frame);
        if (introducer != extension_introducer) return QLX_GIF_UNKNOWN_BLOCK;
        if (const qlx_status status = read_extension(cursor, control, loop); status != QLX_OK) return status;
    }
}

// Clears the frame's part of the canvas to transparent.
void clear_place(qlx_gif_reader& reader, const Place& place) {
    const std::size_t width = reader.info.width;
    for (std::size_t y = place.top; y < std::min(reader.info.height, place.top + place.height); ++y) {
        if (place.left >= width) break;
        const std::size_t count = std::min(width - place.left, place.width);
        const std::size_t at = y * width + place.left;
        std::memset(reader.rgba + 4 * at, 0, 4 * count);
        std::memset(reader.indices + at, 0, count);
        std::memset(reader.kinds + at, empty, count);
    }
}

qlx_status make_canvas(qlx_gif_reader& reader) {
    std::size_t pixels = 0, bytes = 0;
    if (!api::multiply_fits(reader.info.width, reader.info.height, pixels) || !api::multiply_fits(pixels, 12, bytes)) {
        return QLX_SIZE_OVERFLOW;
    }
    Result<std::unique_ptr<std::uint8_t[]>> planes = allocate_array<std::uint8_t>(bytes);
    Result<std::unique_ptr<std::uint8_t[]>> row = allocate_array<std::uint8_t>(65535);
    if (!planes || !row) return QLX_OUT_OF_MEMORY;
    reader.planes = std::move(*planes);
    reader.row = std::move(*row);
    reader.rgba = reader.planes.get();
    reader.indices = reader.rgba + 4 * pixels;
    reader.kinds = reader.indices + pixels;
    reader.saved = reader.kinds + pixels;
    return QLX_OK;
}

// Draws a frame's pixels on the canvas, row by row as its data comes.
qlx_status draw(qlx_gif_reader& reader, const FrameHeader& frame, const Control& control) {
    LzwDecoder decoder;
    if (const qlx_status status = decoder.start(frame.data, frame.min_code_size); status != QLX_OK) {
        return status;
    }
    std::array<std::uint8_t, 1024> palette{};
    for (std::size_t i = 0; i < frame.table_entries; ++i) {
        palette[4 * i] = frame.table[3 * i], palette[4 * i + 1] = frame.table[3 * i + 1];
        palette[4 * i + 2] = frame.table[3 * i + 2], palette[4 * i + 3] = 255;
    }
    const Kind kind = qlx_palette_is_ours(palette.data(), frame.table_entries) != 0 ? ours : colour_only;
    static constexpr std::uint8_t black[4] = {0, 0, 0, 255};
    const std::size_t width = reader.info.width, height = reader.info.height;
    const Place& place = frame.place;
    const std::size_t visible = place.left < width ? std::min(width - place.left, place.width) : 0;
    // Interlaced rows come in four passes.
    constexpr std::size_t starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
    const int passes = frame.interlaced ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const std::size_t first = frame.interlaced ? starts[pass] : 0, step = frame.interlaced ? steps[pass] : 1;
        for (std::size_t y = first; y < place.height; y += step) {
            std::uint8_t* const row = reader.row.get();
            if (const qlx_status status = decoder.read(row, place.width); status != QLX_OK) return status;
            if (place.top + y >= height) continue;
            const std::size_t at = (place.top + y) * width + place.left;
            for (std::size_t x = 0; x < visible; ++x) {
                const std::uint8_t index = row[x];
                if (index == control.transparent) continue;
                // An index past the table is opaque black, as Chromium draws it: our index 0.
                const bool in_table = index < frame.table_entries;
                std::memcpy(reader.rgba + 4 * (at + x), in_table ? &palette[4 * std::size_t{index}] : black, 4);
                reader.indices[at + x] = in_table ? index : 0;
                reader.kinds[at + x] = kind;
            }
        }
    }
    return QLX_OK;
}

// The canvas as a picture: indices into our palette while every pixel on it
// is ours or transparent, else colours.
qlx_picture canvas_picture(const qlx_gif_reader& reader) {
    const std::size_t width = reader.info.width, pixels = width * reader.info.height;
    const bool indexed =
        std::none_of(reader.kinds, reader.kinds + pixels, [](std::uint8_t k) { return k == colour_only; });
    if (indexed)
        return {reader.indices, width, reader.info.height, width, QLX_RGBA, reader.our_rgba.data(), 256, reader.kinds};
    return {reader.rgba, width, reader.info.height, 4 * width, QLX_RGBA, nullptr, 0, nullptr};
}

qlx_status read_frame(qlx_gif_reader& reader, qlx_gif_frame_view& view) {
    if (reader.frames_read == reader.info.frame_count) return QLX_NO_MORE_FRAMES;
    if (!reader.planes) {
        if (const qlx_status status = make_canvas(reader); status != QLX_OK) return status;
    }
    Cursor cursor(reader.bytes, reader.next_block);
    Control control;
    FrameHeader frame;
    int loop = 0;
    if (const qlx_status status = next_frame(cursor, reader, control, loop, frame); status != QLX_OK) return status;
    const std::size_t pixels = reader.info.width * reader.info.height;
    // The last frame's disposal, then this one's copy to restore.
    if (reader.last_disposal == 2) clear_place(reader, reader.last_place);
    if (reader.last_disposal == 3 || reader.last_disposal == 4) std::memcpy(reader.rgba, reader.saved, 6 * pixels);
    if (control.disposal == 3 || control.disposal == 4) std::memcpy(reader.saved, reader.rgba, 6 * pixels);
    if (const qlx_status status = draw(reader, frame, control); status != QLX_OK) return status;
    reader.last_disposal = control.disposal;
    reader.last_place = frame.place;
    reader.next_block = cursor.at();
    ++reader.frames_read;
    view.picture = canvas_picture(reader);
    view.delay = control.delay;
    return QLX_OK;
}

// Checks every block from the screen descriptor to the trailer, and counts the frames.
qlx_status scan(qlx_gif_reader& reader) {
    const std::span<const std::uint8_t> bytes = reader.bytes;
    if (bytes.size() < 6 ||
        (std::memcmp(bytes.data(), "GIF87a", 6) != 0 && std::memcmp(bytes.data(), "GIF89a", 6) != 0)) {
        return QLX_NOT_GIF;
    }
    Cursor cursor(bytes, 6);
    const std::uint8_t* screen = nullptr;
    if (!cursor.take(screen_end - 6, screen)) return QLX_GIF_CUT_SHORT;
    if ((screen[4] & 0x80) != 0) {
        reader.global_entries = std::size_t{2} << (screen[4] & 7);
        if (!cursor.take(3 * reader.global_entries, reader.global_table)) return QLX_GIF_CUT_SHORT;
    }
    reader.next_block = cursor.at();
    reader.info.loop = -1;
    Place first;
    for (;;) {
        Control control;
        FrameHeader frame;
        const qlx_status status = next_frame(cursor, reader, control, reader.info.loop, frame);
        if (status == QLX_NO_MORE_FRAMES) break;
        if (status != QLX_OK) return status;
        if (reader.info.frame_count++ == 0) first = frame.place;
        if (frame.min_code_size < 2 || frame.min_code_size > 8) return QLX_GIF_BAD_CODE_SIZE;
    }
    if (reader.info.frame_count == 0) return QLX_GIF_NO_PICTURE;
    // A canvas of no size is the first frame's extent, as browsers take it.
    reader.info.width = get16(screen) > 0 ? get16(screen) : first.left + first.width;
    reader.info.height = get16(screen + 2) > 0 ? get16(screen + 2) : first.top + first.height;
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint32_t colour = qlx_palette_colour(static_cast<std::uint8_t>(i));
        reader.our_rgba[4 * i] = static_cast<std::uint8_t>(colour >> 16);
        reader.our_rgba[4 * i + 1] = static_cast<std::uint8_t>(colour >> 8);
        reader.our_rgba[4 * i + 2] = static_cast<std::uint8_t>(colour);
        reader.our_rgba[4 * i + 3] = 255;
    }
    return QLX_OK;
}

}  // namespace
}  // namespace qlx

extern "C" {

QLX_API qlx_status qlx_gif_reader_create(const uint8_t* gif, size_t gif_size, qlx_gif_reader** reader) {
    return guarded([&] {
        if (reader == nullptr || (gif == nullptr && gif_size > 0)) return QLX_NULL_POINTER;
        qlx::Result<std::unique_ptr<qlx_gif_reader>> made = qlx::allocate_object<qlx_gif_reader>();
        if (!made) return made.error();
        (*made)->bytes = {gif, gif_size};
        if (const qlx_status status = qlx::scan(**made); status != QLX_OK) return status;
        *reader = made->release();
        return QLX_OK;
    });
}

QLX_API qlx_gif_info qlx_gif_reader_info(const qlx_gif_reader* reader) {
    return reader != nullptr ? reader->info : qlx_gif_info{};
}

QLX_API qlx_status qlx_gif_read_frame(qlx_gif_reader* reader, qlx_gif_frame_view* frame) {
    return guarded([&] {
        if (reader == nullptr || frame == nullptr) return QLX_NULL_POINTER;
        if (reader->failed != QLX_OK) return reader->failed;
        const qlx_status status = qlx::read_frame(*reader, *frame);
        if (status != QLX_OK && status != QLX_NO_MORE_FRAMES) reader->failed = status;
        return status;
    });
}

QLX_API void qlx_gif_reader_destroy(qlx_gif_reader* reader) { delete reader; }

}  // extern "C"
